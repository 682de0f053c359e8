#include "filters/FilterEntryDialog.h"

#include "windows/DialogKeys.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

namespace {

constexpr int kPatternLimit = 100;
constexpr int kButtonStripHeight = 28;
constexpr QSize kButtonSize(75, 25);
constexpr int kOkFromRight = 163;
constexpr int kCancelFromRight = 81;
constexpr QRect kPicture(13, 12, 32, 32);
constexpr QRect kField(72, 25, 184, 21);
constexpr int kNoteHeight = 46;

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
    setFixedSize(layout.clientSize);

    const int upperHeight = layout.clientSize.height() - kButtonStripHeight;
    m_upper->setGeometry(0, 0, layout.clientSize.width(), upperHeight);
    m_upper->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);

    auto *picture = new QLabel(m_upper);
    picture->setGeometry(kPicture);
    picture->setPixmap(QPixmap(QStringLiteral(":/icons/filter.png")));

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
        note->setPlainText(QStringLiteral("You can use asterisk (*) or question mark (?) to \n"
                                          "customize your string.\n")
                           + QLatin1String(layout.noteExample));
        note->setEnabled(false);
        note->setLineWrapMode(QPlainTextEdit::NoWrap);
        note->document()->setDocumentMargin(1);
        note->setFrameStyle(QFrame::NoFrame);
        note->setFocusPolicy(Qt::NoFocus);
        note->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        note->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        note->setBackgroundRole(QPalette::Button);
        note->setGeometry(4, upperHeight - kNoteHeight - 4, layout.clientSize.width() - 8,
                          kNoteHeight);
    }

    const int buttonTop = upperHeight + 1;
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(
        QRect(QPoint(layout.clientSize.width() - kOkFromRight, buttonTop), kButtonSize));
    btnOK->setDefault(true);
    btnOK->setEnabled(false);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(
        QRect(QPoint(layout.clientSize.width() - kCancelFromRight, buttonTop), kButtonSize));

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
