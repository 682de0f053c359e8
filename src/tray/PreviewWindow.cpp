#include "tray/PreviewWindow.h"

#include "mail/MailCheck.h"
#include "mail/Rules.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <algorithm>

namespace tray {

namespace {

constexpr int kInitialWidth = 820;
constexpr int kInitialHeight = 420;
constexpr qsizetype kNamedAccounts = 3;
// Where a window is too narrow for all its columns, a sender or subject is cut, down to so
// many average characters: a long subject would push the size and the rule out of sight.
constexpr int kLeastColumnChars = 20;
constexpr int kCellMargins = 16;

enum Column
{
    kSenderColumn,
    kSubjectColumn,
    kSizeColumn,
    kRuleColumn,
};

QString accountLine(const mail::AccountOutcome &account)
{
    if (!account.checked)
        return QStringLiteral("not checked: %1").arg(account.failure);
    const QString messages = mail::countOf(account.messages, "message", "messages");
    if (account.matched.isEmpty())
        return QStringLiteral("%1, nothing would be removed").arg(messages);
    return QStringLiteral("%1, %2 would be removed").arg(messages).arg(account.matched.size());
}

// "a@x, b@y and 3 more": a long list of accounts would push the window's list away.
QString accountNames(const QStringList &accounts)
{
    if (accounts.size() <= kNamedAccounts)
        return accounts.join(QStringLiteral(", "));
    return QStringLiteral("%1 and %2 more")
        .arg(accounts.mid(0, kNamedAccounts).join(QStringLiteral(", ")))
        .arg(accounts.size() - kNamedAccounts);
}

} // namespace

PreviewWindow::PreviewWindow(QWidget *parent)
    : QDialog(parent)
    , lbSummary(new QLabel(this))
    , tvPreview(new QTreeWidget(this))
    , btnCheckAgain(new QPushButton(QStringLiteral("Check &again"), this))
    , btnClose(new QPushButton(QStringLiteral("&Close"), this))
{
    setObjectName(QStringLiteral("frmPreview"));
    setWindowTitle(QStringLiteral("Preview: mail the filters would remove"));
    setWindowIcon(programIcon());
    lbSummary->setObjectName(QStringLiteral("lbSummary"));
    lbSummary->setWordWrap(true);
    auto *caption = new QLabel(QStringLiteral("&Messages the filters would remove:"), this);
    caption->setBuddy(tvPreview);

    tvPreview->setObjectName(QStringLiteral("tvPreview"));
    tvPreview->setHeaderLabels({QStringLiteral("Sender"), QStringLiteral("Subject"),
                                QStringLiteral("Size"), QStringLiteral("Rule")});
    tvPreview->setAccessibleName(QStringLiteral("Messages the filters would remove"));
    tvPreview->setRootIsDecorated(true);
    tvPreview->setUniformRowHeights(true);
    tvPreview->header()->setStretchLastSection(true);
    btnCheckAgain->setObjectName(QStringLiteral("btnCheckAgain"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCheckAgain);
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbSummary);
    layout->addWidget(caption);
    layout->addWidget(tvPreview, 1);
    layout->addLayout(buttons);
    resize(kInitialWidth, kInitialHeight);
    setTabOrder(tvPreview, btnCheckAgain);
    setTabOrder(btnCheckAgain, btnClose);

    connect(btnCheckAgain, &QPushButton::clicked, this, &PreviewWindow::checkAgainRequested);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void PreviewWindow::showChecking(const QStringList &accounts)
{
    QString text = QStringLiteral("Checking the mailboxes; nothing is removed.");
    if (!accounts.isEmpty())
        text += QStringLiteral(" Still checking %1.").arg(accountNames(accounts));
    lbSummary->setText(text);
    // What an earlier preview found is not what this one will.
    tvPreview->clear();
    btnCheckAgain->setEnabled(false);
}

void PreviewWindow::showWaiting(const QStringList &accounts)
{
    if (accounts.isEmpty()) {
        lbSummary->setText(QStringLiteral(
            "Waits for the check under way; then checks the mailboxes, removing nothing."));
    } else {
        lbSummary->setText(QStringLiteral("Waits for the check under way, which is still "
                                          "checking %1; then checks the mailboxes, removing "
                                          "nothing.")
                               .arg(accountNames(accounts)));
    }
    tvPreview->clear();
    btnCheckAgain->setEnabled(false);
}

void PreviewWindow::showReport(const mail::CheckReport &report)
{
    btnCheckAgain->setEnabled(true);
    lbSummary->setText(QStringLiteral("Preview, nothing was removed: %1").arg(report.summary()));
    tvPreview->clear();
    const QLocale locale;
    for (const mail::AccountOutcome &account : report.accounts) {
        auto *accountItem = new QTreeWidgetItem(tvPreview);
        accountItem->setText(kSenderColumn, account.address);
        accountItem->setText(kSubjectColumn, accountLine(account));
        for (const mail::MatchedMessage &message : account.matched) {
            auto *item = new QTreeWidgetItem(accountItem);
            setCellText(item, kSenderColumn, message.sender);
            setCellText(item, kSubjectColumn, message.subject);
            item->setText(kSizeColumn, QStringLiteral("%1 kB").arg(
                                           locale.toString(mail::sizeInKilobytes(message.size))));
            item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
            item->setText(kRuleColumn, ruleText(message.rule.list, message.rule.pattern));
        }
    }
    tvPreview->expandAll();
    fitColumns(tvPreview);
    if (QTreeWidgetItem *first = tvPreview->topLevelItem(0))
        tvPreview->setCurrentItem(first);
    tvPreview->setFocus();
}

QString ruleText(const QString &list, const QString &pattern)
{
    return QStringLiteral("%1: %2").arg(list, pattern);
}

void setCellText(QTreeWidgetItem *item, int column, const QString &text)
{
    item->setText(column, text);
    item->setToolTip(column, text);
}

void fitColumns(QTreeWidget *tree)
{
    const int last = tree->columnCount() - 1;
    if (last < 1)
        return;
    // The last column, which takes the rest, as wide as its widest text and the cell's margins.
    int lastWidth = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        lastWidth = std::max(lastWidth, tree->fontMetrics().horizontalAdvance((*it)->text(last)));
    lastWidth += kCellMargins;
    QList<int> widths;
    for (int column = 0; column < last; ++column) {
        tree->resizeColumnToContents(column);
        widths.append(tree->columnWidth(column));
    }
    // Where not all fits, the widest columns give way first, down to a least width.
    const int room = tree->viewport()->width() - lastWidth;
    const int enough = tree->fontMetrics().averageCharWidth() * kLeastColumnChars;
    const auto needed = [&widths](int limit) {
        int sum = 0;
        for (const int width : widths)
            sum += std::min(width, limit);
        return sum;
    };
    int limit = *std::max_element(widths.cbegin(), widths.cend());
    while (limit > enough && needed(limit) > room)
        --limit;
    for (int column = 0; column < last; ++column)
        tree->setColumnWidth(column, std::min(widths[column], limit));
}

QIcon programIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/tray/icons/app16.png"));
    icon.addFile(QStringLiteral(":/tray/icons/app.png"));
    return icon;
}

} // namespace tray
