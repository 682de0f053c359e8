#include "tray/MessageWindow.h"

#include "mail/MessageFacts.h"
#include "tray/MessageText.h"
#include "tray/PreviewWindow.h"

#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tray {

namespace {

constexpr int kInitialWidth = 760;
constexpr int kInitialHeight = 560;
// A copy is at most what the monitor keeps whole; more than this is not read into the window.
constexpr qint64 kMaxShownBytes = 64 * 1024 * 1024;

QPlainTextEdit *readOnlyText(QWidget *parent, const char *name)
{
    auto *edit = new QPlainTextEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setReadOnly(true);
    // Tab moves on: nothing here is typed.
    edit->setTabChangesFocus(true);
    edit->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    return edit;
}

} // namespace

MessageWindow::MessageWindow(QWidget *parent)
    : QDialog(parent)
    , lbFrom(new QLabel(this))
    , lbSubject(new QLabel(this))
    , edText(readOnlyText(this, "edText"))
    , lbAttachments(new QListWidget(this))
    , edHeader(readOnlyText(this, "edHeader"))
    , btnClose(new QPushButton(QStringLiteral("&Close"), this))
{
    setObjectName(QStringLiteral("frmMessage"));
    setWindowTitle(QStringLiteral("Removed message"));
    setWindowIcon(programIcon());
    lbFrom->setObjectName(QStringLiteral("lbFrom"));
    lbSubject->setObjectName(QStringLiteral("lbSubject"));
    for (QLabel *label : {lbFrom, lbSubject}) {
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setWordWrap(true);
    }
    lbAttachments->setObjectName(QStringLiteral("lbAttachments"));
    lbAttachments->setMaximumHeight(lbAttachments->fontMetrics().height() * 5);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    auto *textLabel = new QLabel(QStringLiteral("&Text:"), this);
    textLabel->setBuddy(edText);
    auto *attachmentsLabel = new QLabel(QStringLiteral("&Attachments:"), this);
    attachmentsLabel->setBuddy(lbAttachments);
    auto *headerLabel = new QLabel(QStringLiteral("&Header:"), this);
    headerLabel->setBuddy(edHeader);

    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("From:"), lbFrom);
    fields->addRow(QStringLiteral("Subject:"), lbSubject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(textLabel);
    layout->addWidget(edText, 3);
    layout->addWidget(attachmentsLabel);
    layout->addWidget(lbAttachments);
    layout->addWidget(headerLabel);
    layout->addWidget(edHeader, 2);
    layout->addLayout(buttons);
    resize(kInitialWidth, kInitialHeight);
    setTabOrder(edText, lbAttachments);
    setTabOrder(lbAttachments, edHeader);
    setTabOrder(edHeader, btnClose);

    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

bool MessageWindow::showFile(const QString &path)
{
    lbAttachments->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        lbFrom->clear();
        lbSubject->clear();
        edHeader->clear();
        edText->setPlainText(
            QStringLiteral("The kept copy cannot be read: %1").arg(file.errorString()));
        return false;
    }
    const QByteArray message = file.read(kMaxShownBytes);
    const mail::MessageFacts facts = mail::readMessageFacts(message, true);
    const MessageText text = readMessageText(message);
    lbFrom->setText(facts.fromText);
    lbSubject->setText(facts.subject);
    QStringList shown = text.texts;
    for (const QString &part : text.notShown)
        shown.append(QStringLiteral("[%1]").arg(part));
    edText->setPlainText(shown.join(QStringLiteral("\n\n")));
    edHeader->setPlainText(text.header);
    const QLocale locale;
    for (const mail::AttachmentFact &attachment : facts.attachments) {
        lbAttachments->addItem(
            attachment.decodedBytes < 0
                ? QStringLiteral("%1 (size unknown)").arg(attachment.name)
                : QStringLiteral("%1 (%2 bytes)")
                      .arg(attachment.name, locale.toString(attachment.decodedBytes)));
    }
    if (lbAttachments->count() == 0)
        lbAttachments->addItem(QStringLiteral("none"));
    edText->moveCursor(QTextCursor::Start);
    edText->setFocus();
    return true;
}

} // namespace tray
