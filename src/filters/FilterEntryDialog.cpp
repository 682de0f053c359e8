#include "filters/FilterEntryDialog.h"

#include "windows/DialogKeys.h"
#include "windows/PngImage.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTextOption>

namespace {

constexpr int kPatternLimit = 100;
constexpr int kButtonStripHeight = 28;
constexpr QSize kButtonSize(75, 25);
constexpr int kOkFromRight = 163;
constexpr int kCancelFromRight = 81;
constexpr QRect kPicture(13, 12, 32, 32);
constexpr QRect kField(72, 25, 184, 21);
constexpr int kNoteHeight = 46;
constexpr int kNoteMargin = 1;

QString noteText(const char *example)
{
    return QStringLiteral("You can use asterisk (*) or question mark (?) to \n"
                          "customize your string.\n")
           + QLatin1String(example);
}

// The note's height for its text wrapped to its width: in a font wider than the designed one a
// line wraps rather than being cut, and the dialog grows to show it whole.
int noteHeight(const QFont &font, const QString &text, int width)
{
    const QFontMetrics metrics(font);
    const int textWidth = width - 2 * kNoteMargin;
    int lines = 0;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QRect wrapped = metrics.boundingRect(QRect(0, 0, textWidth, 1 << 16),
                                                   Qt::TextWordWrap | Qt::TextWrapAnywhere, line);
        lines += qMax(1, (wrapped.height() + metrics.lineSpacing() - 1) / metrics.lineSpacing());
    }
    return qMax(kNoteHeight, lines * metrics.lineSpacing() + 2 * kNoteMargin + 2);
}

} // namespace

FilterEntryDialog::FilterEntryDialog(const Layout &layout, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
    , btnOK(new QPushButton(QStringLiteral("&OK"), this))
    , btnCancel(new QPushButton(QStringLiteral("&Cancel"), this))
    , m_upper(new QFrame(this))
{
    setObjectName(QLatin1String(layout.objectName));
    setWindowTitle(QLatin1String(layout.caption));
    const int noteWidth = layout.clientSize.width() - 8;
    const int noteTall =
        layout.noteExample ? noteHeight(font(), noteText(layout.noteExample), noteWidth) : 0;
    const QSize clientSize =
        layout.clientSize + QSize(0, layout.noteExample ? noteTall - kNoteHeight : 0);
    setFixedSize(clientSize);

    const int upperHeight = clientSize.height() - kButtonStripHeight;
    m_upper->setGeometry(0, 0, clientSize.width(), upperHeight);
    m_upper->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);

    auto *picture = new QLabel(m_upper);
    picture->setGeometry(kPicture);
    picture->setPixmap(pngPixmap(QStringLiteral(":/icons/filter.png")));

    m_field = new QLineEdit(m_upper);
    m_field->setObjectName(QLatin1String(layout.fieldName));
    m_field->setGeometry(kField);
    m_field->setMaxLength(kPatternLimit);
    auto *label = new QLabel(QLatin1String(layout.fieldLabel), m_upper);
    label->setBuddy(m_field);
    label->adjustSize();
    label->move(kField.left(), kField.top() - 3 - label->height());

    if (layout.noteExample) {
        auto *noteLabel = new QLabel(QStringLiteral("Note:"), m_upper);
        QFont bold = noteLabel->font();
        bold.setBold(true);
        noteLabel->setFont(bold);
        noteLabel->adjustSize();
        noteLabel->move(7, layout.noteTop);
        auto *note = new QPlainTextEdit(m_upper);
        note->setObjectName(QStringLiteral("note"));
        note->setPlainText(noteText(layout.noteExample));
        note->setEnabled(false);
        note->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        note->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        note->document()->setDocumentMargin(kNoteMargin);
        note->setFrameStyle(QFrame::NoFrame);
        note->setFocusPolicy(Qt::NoFocus);
        note->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        note->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        note->setBackgroundRole(QPalette::Button);
        note->setGeometry(4, upperHeight - noteTall - 4, noteWidth, noteTall);
    }

    const int buttonTop = upperHeight + 1;
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(QRect(QPoint(clientSize.width() - kOkFromRight, buttonTop), kButtonSize));
    btnOK->setDefault(true);
    btnOK->setEnabled(false);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(
        QRect(QPoint(clientSize.width() - kCancelFromRight, buttonTop), kButtonSize));

    connect(m_field, &QLineEdit::textChanged, this, &FilterEntryDialog::fieldChange);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void FilterEntryDialog::finishLayout(const QList<QWidget *> &tabOrderAfterField)
{
    QWidget *previous = m_field;
    for (QWidget *next : tabOrderAfterField) {
        setTabOrder(previous, next);
        previous = next;
    }
    setTabOrder(previous, btnOK);
    setTabOrder(btnOK, btnCancel);
    m_field->setFocus();
    new EscapeCancels(this);
}

QString FilterEntryDialog::text() const
{
    return m_field->text();
}

void FilterEntryDialog::fieldChange()
{
    btnOK->setEnabled(!m_field->text().isEmpty());
}
