#include "tray/RemovedMailWindow.h"

#include "mail/RemovedRecord.h"
#include "mail/Rules.h"
#include "tray/PreviewWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tray {

namespace {

constexpr int kInitialWidth = 1000;
constexpr int kInitialHeight = 420;

enum Column
{
    kTimeColumn,
    kAccountColumn,
    kSenderColumn,
    kSubjectColumn,
    kSizeColumn,
    kRuleColumn,
};

} // namespace

RemovedMailWindow::RemovedMailWindow(QString recordPath, QWidget *parent)
    : QDialog(parent)
    , lbSummary(new QLabel(this))
    , tvRemoved(new QTreeWidget(this))
    , btnRefresh(new QPushButton(QStringLiteral("&Refresh"), this))
    , btnClose(new QPushButton(QStringLiteral("&Close"), this))
    , m_recordPath(std::move(recordPath))
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
    btnRefresh->setObjectName(QStringLiteral("btnRefresh"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnRefresh);
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbSummary);
    layout->addWidget(caption);
    layout->addWidget(tvRemoved, 1);
    layout->addLayout(buttons);
    resize(kInitialWidth, kInitialHeight);
    setTabOrder(tvRemoved, btnRefresh);
    setTabOrder(btnRefresh, btnClose);

    connect(btnRefresh, &QPushButton::clicked, this, &RemovedMailWindow::reload);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void RemovedMailWindow::reload()
{
    const QList<mail::RemovedEntry> entries = mail::RemovedRecord(m_recordPath).read();
    tvRemoved->clear();
    const QLocale locale;
    for (const mail::RemovedEntry &entry : entries) {
        auto *item = new QTreeWidgetItem(tvRemoved);
        item->setText(kTimeColumn, entry.at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setText(kAccountColumn, entry.account);
        setCellText(item, kSenderColumn, entry.sender);
        setCellText(item, kSubjectColumn, entry.subject);
        item->setText(kSizeColumn, QStringLiteral("%1 kB").arg(
                                       locale.toString(mail::sizeInKilobytes(entry.size))));
        item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(kRuleColumn, ruleText(entry.list, entry.pattern));
    }
    lbSummary->setText(entries.isEmpty()
                           ? QStringLiteral("No removed mail is recorded yet.")
                           : QStringLiteral("%1 removed %2 recorded.")
                                 .arg(entries.size())
                                 .arg(entries.size() == 1 ? QStringLiteral("message is")
                                                          : QStringLiteral("messages are")));
    fitColumns(tvRemoved);
    if (QTreeWidgetItem *first = tvRemoved->topLevelItem(0))
        tvRemoved->setCurrentItem(first);
    tvRemoved->setFocus();
}

} // namespace tray
