#include "tray/RemovedMailWindow.h"

#include "mail/MessageFacts.h"
#include "mail/RemovedCopies.h"
#include "mail/Rules.h"
#include "store/StoreError.h"
#include "tray/MessageWindow.h"
#include "tray/PreviewWindow.h"
#include "tray/TraySettings.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tray {

namespace {

constexpr int kInitialWidth = 1000;
constexpr int kInitialHeight = 480;
constexpr qint64 kBytesPerMegabyte = 1024 * 1024;
constexpr int kEntryRole = Qt::UserRole + 1;

enum Column
{
    kTimeColumn,
    kAccountColumn,
    kSenderColumn,
    kSubjectColumn,
    kSizeColumn,
    kRuleColumn,
};

QString storeProblem(const store::StoreError &failure)
{
    return QStringLiteral("The settings cannot be changed: %1")
        .arg(QString::fromLocal8Bit(failure.what()));
}

// The copy written whole or not at all would need a rename; a person saving over a file of
// their own expects that file, so it is written in place, owner-only, never through a link.
bool writePrivately(const QString &path, const QByteArray &data, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    bool written = ::fchmod(fd, 0600) == 0;
    for (qsizetype done = 0; written && done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += n > 0 ? n : 0;
    }
    if (!written)
        *error = qt_error_string(errno);
    return ::close(fd) == 0 && written;
}

} // namespace

RemovedMailWindow::RemovedMailWindow(QString storePath, QWidget *parent)
    : QDialog(parent)
    , lbSummary(new QLabel(this))
    , tvRemoved(new QTreeWidget(this))
    , lbCopy(new QLabel(this))
    , btnOpen(new QPushButton(QStringLiteral("&Open"), this))
    , btnSaveAs(new QPushButton(QStringLiteral("&Save as..."), this))
    , btnOpenInMail(new QPushButton(QStringLiteral("Open in mail &program"), this))
    , btnAllowSender(new QPushButton(QStringLiteral("&Never remove mail from this sender"), this))
    , sbKeepDays(new QSpinBox(this))
    , sbKeepMB(new QSpinBox(this))
    , btnRefresh(new QPushButton(QStringLiteral("&Refresh"), this))
    , btnClose(new QPushButton(QStringLiteral("&Close"), this))
    , m_storePath(std::move(storePath))
{
    setObjectName(QStringLiteral("frmRemovedMail"));
    setWindowTitle(QStringLiteral("Removed mail"));
    setWindowIcon(programIcon());
    lbSummary->setObjectName(QStringLiteral("lbSummary"));
    lbSummary->setWordWrap(true);
    auto *caption = new QLabel(QStringLiteral("&Messages the checks removed, newest first:"), this);
    caption->setBuddy(tvRemoved);

    tvRemoved->setObjectName(QStringLiteral("tvRemoved"));
    tvRemoved->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Account"),
                                QStringLiteral("Sender"), QStringLiteral("Subject"),
                                QStringLiteral("Size"), QStringLiteral("Rule")});
    tvRemoved->setAccessibleName(QStringLiteral("Messages the checks removed"));
    tvRemoved->setRootIsDecorated(false);
    tvRemoved->setUniformRowHeights(true);
    tvRemoved->header()->setStretchLastSection(true);
    lbCopy->setObjectName(QStringLiteral("lbCopy"));
    lbCopy->setWordWrap(true);
    btnOpen->setObjectName(QStringLiteral("btnOpen"));
    btnSaveAs->setObjectName(QStringLiteral("btnSaveAs"));
    btnOpenInMail->setObjectName(QStringLiteral("btnOpenInMail"));
    btnAllowSender->setObjectName(QStringLiteral("btnAllowSender"));
    btnRefresh->setObjectName(QStringLiteral("btnRefresh"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    sbKeepDays->setObjectName(QStringLiteral("sbKeepDays"));
    sbKeepDays->setRange(0, TraySettings::kMaxKeepDays);
    sbKeepDays->setAccessibleDescription(QStringLiteral("0 keeps none"));
    sbKeepMB->setObjectName(QStringLiteral("sbKeepMB"));
    sbKeepMB->setRange(0, TraySettings::kMaxKeepMegabytes);
    // Written once a value is chosen, not at each digit typed.
    sbKeepDays->setKeyboardTracking(false);
    sbKeepMB->setKeyboardTracking(false);
    auto *keepFor = new QLabel(QStringLiteral("&Keep removed mail for"), this);
    keepFor->setBuddy(sbKeepDays);
    auto *upTo = new QLabel(QStringLiteral("days, &up to"), this);
    upTo->setBuddy(sbKeepMB);

    auto *copyButtons = new QHBoxLayout;
    copyButtons->addWidget(btnOpen);
    copyButtons->addWidget(btnSaveAs);
    copyButtons->addWidget(btnOpenInMail);
    copyButtons->addWidget(btnAllowSender);
    copyButtons->addStretch();
    auto *keep = new QHBoxLayout;
    keep->addWidget(keepFor);
    keep->addWidget(sbKeepDays);
    keep->addWidget(upTo);
    keep->addWidget(sbKeepMB);
    keep->addWidget(new QLabel(QStringLiteral("MB"), this));
    keep->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnRefresh);
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbSummary);
    layout->addWidget(caption);
    layout->addWidget(tvRemoved, 1);
    layout->addWidget(lbCopy);
    layout->addLayout(copyButtons);
    layout->addLayout(keep);
    layout->addLayout(buttons);
    resize(kInitialWidth, kInitialHeight);
    setTabOrder(tvRemoved, btnOpen);
    setTabOrder(btnOpen, btnSaveAs);
    setTabOrder(btnSaveAs, btnOpenInMail);
    setTabOrder(btnOpenInMail, btnAllowSender);
    setTabOrder(btnAllowSender, sbKeepDays);
    setTabOrder(sbKeepDays, sbKeepMB);
    setTabOrder(sbKeepMB, btnRefresh);
    setTabOrder(btnRefresh, btnClose);

    connect(tvRemoved, &QTreeWidget::currentItemChanged, this,
            &RemovedMailWindow::selectionChanged);
    connect(tvRemoved, &QTreeWidget::itemActivated, this, &RemovedMailWindow::openCopy);
    connect(btnOpen, &QPushButton::clicked, this, &RemovedMailWindow::openCopy);
    connect(btnSaveAs, &QPushButton::clicked, this, &RemovedMailWindow::saveCopy);
    connect(btnOpenInMail, &QPushButton::clicked, this, &RemovedMailWindow::openInMailProgram);
    connect(btnAllowSender, &QPushButton::clicked, this, &RemovedMailWindow::allowSender);
    connect(sbKeepDays, &QSpinBox::valueChanged, this, &RemovedMailWindow::keepDaysChanged);
    connect(sbKeepMB, &QSpinBox::valueChanged, this, &RemovedMailWindow::keepMegabytesChanged);
    connect(btnRefresh, &QPushButton::clicked, this, &RemovedMailWindow::reload);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    selectionChanged();
}

void RemovedMailWindow::reload()
{
    {
        const QSignalBlocker days(sbKeepDays);
        const QSignalBlocker megabytes(sbKeepMB);
        try {
            TraySettings settings(m_storePath);
            sbKeepDays->setValue(settings.keepRemovedDays());
            sbKeepMB->setValue(settings.keepRemovedMegabytes());
        } catch (const store::StoreError &) {
            sbKeepDays->setValue(mail::RemovedCopies::kDefaultDays);
            sbKeepMB->setValue(mail::RemovedCopies::kDefaultMegabytes);
        }
    }
    m_entries = mail::RemovedRecord(mail::removedRecordPathFor(m_storePath)).read();
    tvRemoved->clear();
    const QLocale locale;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const mail::RemovedEntry &entry = m_entries[i];
        auto *item = new QTreeWidgetItem(tvRemoved);
        item->setData(kTimeColumn, kEntryRole, int(i));
        item->setText(kTimeColumn, entry.at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setText(kAccountColumn, entry.account);
        setCellText(item, kSenderColumn, entry.sender);
        setCellText(item, kSubjectColumn, entry.subject);
        item->setText(kSizeColumn, QStringLiteral("%1 kB").arg(
                                       locale.toString(mail::sizeInKilobytes(entry.size))));
        item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(kRuleColumn, ruleText(entry.list, entry.pattern));
    }
    lbSummary->setText(m_entries.isEmpty()
                           ? QStringLiteral("No removed mail is recorded yet.")
                           : QStringLiteral("%1 removed %2 recorded.")
                                 .arg(m_entries.size())
                                 .arg(m_entries.size() == 1 ? QStringLiteral("message is")
                                                            : QStringLiteral("messages are")));
    fitColumns(tvRemoved);
    if (QTreeWidgetItem *first = tvRemoved->topLevelItem(0))
        tvRemoved->setCurrentItem(first);
    selectionChanged();
    tvRemoved->setFocus();
}

const mail::RemovedEntry *RemovedMailWindow::selectedEntry() const
{
    const QTreeWidgetItem *item = tvRemoved->currentItem();
    if (!item)
        return nullptr;
    const int index = item->data(kTimeColumn, kEntryRole).toInt();
    return index >= 0 && index < m_entries.size() ? &m_entries[index] : nullptr;
}

QString RemovedMailWindow::selectedCopy() const
{
    const mail::RemovedEntry *entry = selectedEntry();
    if (!entry || entry->copy.isEmpty())
        return {};
    return mail::RemovedCopies(mail::removedCopiesFolderFor(m_storePath), sbKeepDays->value(),
                               qint64(sbKeepMB->value()) * kBytesPerMegabyte)
        .pathOf(entry->copy);
}

void RemovedMailWindow::selectionChanged()
{
    const mail::RemovedEntry *entry = selectedEntry();
    const QString copy = selectedCopy();
    const bool whole = !copy.isEmpty() && !entry->headerOnly;
    if (!entry)
        lbCopy->setText(QStringLiteral("No message is selected."));
    else if (whole)
        lbCopy->setText(QStringLiteral("A copy of this message is kept."));
    else if (!copy.isEmpty())
        lbCopy->setText(QStringLiteral("Only the header of this message was kept: it was too "
                                       "large to keep whole."));
    else if (entry->copy.isEmpty())
        lbCopy->setText(QStringLiteral("No copy of this message was kept."));
    else
        lbCopy->setText(QStringLiteral("The copy of this message has expired."));
    // A header alone can be read, but saved or opened elsewhere it would pass for the message.
    btnOpen->setEnabled(!copy.isEmpty());
    btnSaveAs->setEnabled(whole);
    btnOpenInMail->setEnabled(whole);
    btnAllowSender->setEnabled(entry != nullptr);
}

void RemovedMailWindow::openCopy()
{
    const QString copy = selectedCopy();
    if (copy.isEmpty())
        return;
    if (!m_message)
        m_message = new MessageWindow(this);
    m_message->showFile(copy);
    m_message->show();
    m_message->raise();
    m_message->activateWindow();
}

void RemovedMailWindow::saveCopy()
{
    if (!btnSaveAs->isEnabled())
        return;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save message"), QDir::home().filePath(QStringLiteral("message.eml")),
        QStringLiteral("Mail messages (*.eml)"));
    if (!path.isEmpty())
        saveCopyTo(path.endsWith(QLatin1String(".eml"), Qt::CaseInsensitive)
                       ? path
                       : path + QStringLiteral(".eml"));
}

bool RemovedMailWindow::saveCopyTo(const QString &path)
{
    QFile copy(selectedCopy());
    if (copy.fileName().isEmpty() || !copy.open(QIODevice::ReadOnly)) {
        lbCopy->setText(QStringLiteral("The kept copy cannot be read."));
        return false;
    }
    QString error;
    if (!writePrivately(path, copy.readAll(), &error)) {
        lbCopy->setText(QStringLiteral("The message cannot be saved to %1: %2").arg(path, error));
        return false;
    }
    lbCopy->setText(QStringLiteral("Saved to %1.").arg(path));
    return true;
}

void RemovedMailWindow::openInMailProgram()
{
    if (!btnOpenInMail->isEnabled())
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(selectedCopy())))
        lbCopy->setText(QStringLiteral("No program of this desktop opens mail messages."));
}

void RemovedMailWindow::allowSender()
{
    const mail::RemovedEntry *entry = selectedEntry();
    if (!entry)
        return;
    // The copy's own From is exact; the record's text is a person's reading of it.
    QString address;
    QFile copy(selectedCopy());
    if (!copy.fileName().isEmpty() && copy.open(QIODevice::ReadOnly)) {
        const QStringList senders = mail::readMessageFacts(copy.read(64 * 1024), false).senders;
        if (!senders.isEmpty())
            address = senders.first();
    }
    if (address.isEmpty())
        address = senderAddress(entry->sender);
    const QString problem = allowedSenderProblem(address);
    if (!problem.isEmpty()) {
        lbCopy->setText(QStringLiteral("This sender has no address that can be allowed."));
        return;
    }
    try {
        TraySettings(m_storePath).allowSender(address);
    } catch (const store::StoreError &failure) {
        lbCopy->setText(storeProblem(failure));
        return;
    }
    lbCopy->setText(QStringLiteral("Mail from %1 is never removed now.").arg(address));
}

void RemovedMailWindow::keepDaysChanged(int days)
{
    try {
        TraySettings(m_storePath).setKeepRemovedDays(days);
    } catch (const store::StoreError &failure) {
        lbCopy->setText(storeProblem(failure));
    }
}

void RemovedMailWindow::keepMegabytesChanged(int megabytes)
{
    try {
        TraySettings(m_storePath).setKeepRemovedMegabytes(megabytes);
    } catch (const store::StoreError &failure) {
        lbCopy->setText(storeProblem(failure));
    }
}

} // namespace tray
