#include "tray/PreviewWindow.h"

#include "mail/MailCheck.h"
#include "mail/Rules.h"
#include "mail/SeenState.h"
#include "store/StoreError.h"
#include "tray/TraySettings.h"

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

// What a row stands for: a held rule (its account's identity, list and pattern) or a message
// (its sender).
constexpr int kIdentityRole = Qt::UserRole + 1;
constexpr int kListRole = Qt::UserRole + 2;
constexpr int kPatternRole = Qt::UserRole + 3;
constexpr int kSenderRole = Qt::UserRole + 4;

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
    QString line = mail::countOf(account.messages, "message", "messages");
    if (account.matched.isEmpty())
        line += QStringLiteral(", nothing would be removed");
    else
        line += QStringLiteral(", %1 would be removed").arg(account.matched.size());
    if (!account.held.isEmpty())
        line += QStringLiteral(", %1 held").arg(account.held.size());
    if (!account.allowed.isEmpty())
        line += QStringLiteral(", %1 kept: sender allowed").arg(account.allowed.size());
    return line;
}

QTreeWidgetItem *messageItem(QTreeWidgetItem *parent, const mail::MatchedMessage &message,
                             const QString &rule)
{
    const QLocale locale;
    auto *item = new QTreeWidgetItem(parent);
    setCellText(item, kSenderColumn, message.sender);
    setCellText(item, kSubjectColumn, message.subject);
    item->setText(kSizeColumn, QStringLiteral("%1 kB").arg(
                                   locale.toString(mail::sizeInKilobytes(message.size))));
    item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    setCellText(item, kRuleColumn, rule);
    item->setData(kSenderColumn, kSenderRole, message.sender);
    return item;
}

// One row per held rule, its messages below it: each rule is released on its own.
void addHeld(QTreeWidgetItem *accountItem, const mail::AccountOutcome &account)
{
    QList<QTreeWidgetItem *> rules;
    for (const mail::MatchedMessage &message : account.held) {
        const QString rule = ruleText(message.rule.list, message.rule.pattern);
        auto it = std::find_if(rules.begin(), rules.end(), [&rule](const QTreeWidgetItem *item) {
            return item->text(kRuleColumn) == rule;
        });
        QTreeWidgetItem *ruleItem = it == rules.end() ? nullptr : *it;
        if (!ruleItem) {
            ruleItem = new QTreeWidgetItem(accountItem);
            ruleItem->setText(kRuleColumn, rule);
            ruleItem->setData(kSenderColumn, kIdentityRole, account.identity);
            ruleItem->setData(kSenderColumn, kListRole, message.rule.list);
            ruleItem->setData(kSenderColumn, kPatternRole, message.rule.pattern);
            rules.append(ruleItem);
        }
        messageItem(ruleItem, message, QStringLiteral("held: %1").arg(rule));
    }
    for (QTreeWidgetItem *ruleItem : rules) {
        ruleItem->setText(kSenderColumn,
                          QStringLiteral("held: %1")
                              .arg(mail::countOf(ruleItem->childCount(), "message", "messages")));
        setCellText(ruleItem, kSubjectColumn,
                    QStringLiteral("this rule would remove more than half of the mailbox: kept "
                                   "until you remove them"));
    }
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

PreviewWindow::PreviewWindow(QString storePath, QWidget *parent)
    : QDialog(parent)
    , lbSummary(new QLabel(this))
    , tvPreview(new QTreeWidget(this))
    , lbAction(new QLabel(this))
    , btnRemoveHeld(new QPushButton(QStringLiteral("Remove &them"), this))
    , btnAllowSender(new QPushButton(QStringLiteral("&Never remove mail from this sender"), this))
    , btnCheckAgain(new QPushButton(QStringLiteral("Check &again"), this))
    , btnClose(new QPushButton(QStringLiteral("&Close"), this))
    , m_storePath(std::move(storePath))
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
    lbAction->setObjectName(QStringLiteral("lbAction"));
    lbAction->setWordWrap(true);
    btnRemoveHeld->setObjectName(QStringLiteral("btnRemoveHeld"));
    btnAllowSender->setObjectName(QStringLiteral("btnAllowSender"));
    btnCheckAgain->setObjectName(QStringLiteral("btnCheckAgain"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnRemoveHeld);
    buttons->addWidget(btnAllowSender);
    buttons->addStretch();
    buttons->addWidget(btnCheckAgain);
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbSummary);
    layout->addWidget(caption);
    layout->addWidget(tvPreview, 1);
    layout->addWidget(lbAction);
    layout->addLayout(buttons);
    resize(kInitialWidth, kInitialHeight);
    setTabOrder(tvPreview, btnRemoveHeld);
    setTabOrder(btnRemoveHeld, btnAllowSender);
    setTabOrder(btnAllowSender, btnCheckAgain);
    setTabOrder(btnCheckAgain, btnClose);

    connect(btnCheckAgain, &QPushButton::clicked, this, &PreviewWindow::checkAgainRequested);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnRemoveHeld, &QPushButton::clicked, this, &PreviewWindow::releaseHeld);
    connect(btnAllowSender, &QPushButton::clicked, this, &PreviewWindow::allowSender);
    connect(tvPreview, &QTreeWidget::currentItemChanged, this, &PreviewWindow::selectionChanged);
    selectionChanged();
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
    lbAction->clear();
    for (const mail::AccountOutcome &account : report.accounts) {
        auto *accountItem = new QTreeWidgetItem(tvPreview);
        accountItem->setText(kSenderColumn, account.address);
        setCellText(accountItem, kSubjectColumn, accountLine(account));
        for (const mail::MatchedMessage &message : account.matched)
            messageItem(accountItem, message, ruleText(message.rule.list, message.rule.pattern));
        addHeld(accountItem, account);
        for (const mail::MatchedMessage &message : account.allowed) {
            messageItem(accountItem, message,
                        QStringLiteral("kept: sender allowed (%1)")
                            .arg(ruleText(message.rule.list, message.rule.pattern)));
        }
    }
    tvPreview->expandAll();
    // A held rule matched many messages: its row tells the count, its list waits to be opened.
    for (QTreeWidgetItemIterator it(tvPreview); *it; ++it) {
        if (!(*it)->data(kSenderColumn, kListRole).isNull())
            (*it)->setExpanded(false);
    }
    fitColumns(tvPreview);
    if (QTreeWidgetItem *first = tvPreview->topLevelItem(0))
        tvPreview->setCurrentItem(first);
    tvPreview->setFocus();
}

void PreviewWindow::selectionChanged()
{
    const QTreeWidgetItem *item = tvPreview->currentItem();
    btnRemoveHeld->setEnabled(item && !item->data(kSenderColumn, kListRole).isNull());
    btnAllowSender->setEnabled(item && !item->data(kSenderColumn, kSenderRole).isNull());
}

void PreviewWindow::releaseHeld()
{
    QTreeWidgetItem *item = tvPreview->currentItem();
    if (!item || item->data(kSenderColumn, kListRole).isNull())
        return;
    const mail::SeenState::HeldRule rule{item->data(kSenderColumn, kIdentityRole).toByteArray(),
                                         item->data(kSenderColumn, kListRole).toString(),
                                         item->data(kSenderColumn, kPatternRole).toString(), 0};
    mail::SeenState seen(mail::seenStatePathFor(m_storePath));
    if (seen.release(rule).isEmpty()) {
        lbAction->setText(QStringLiteral("%1 holds nothing now; a check runs to see again.")
                              .arg(ruleText(rule.list, rule.pattern)));
    } else {
        lbAction->setText(QStringLiteral("%1 may remove what it matched now; a check runs.")
                              .arg(ruleText(rule.list, rule.pattern)));
    }
    // What this preview found about the rule is no longer so.
    delete item;
    selectionChanged();
    emit checkNowRequested();
}

void PreviewWindow::allowSender()
{
    const QTreeWidgetItem *item = tvPreview->currentItem();
    if (!item || item->data(kSenderColumn, kSenderRole).isNull())
        return;
    const QString address = senderAddress(item->data(kSenderColumn, kSenderRole).toString());
    if (!allowedSenderProblem(address).isEmpty()) {
        lbAction->setText(QStringLiteral("This sender has no address that can be allowed."));
        return;
    }
    try {
        TraySettings(m_storePath).allowSender(address);
    } catch (const store::StoreError &failure) {
        lbAction->setText(QStringLiteral("The settings cannot be changed: %1")
                              .arg(QString::fromLocal8Bit(failure.what())));
        return;
    }
    lbAction->setText(QStringLiteral("Mail from %1 is never removed now.").arg(address));
}

QString ruleText(const QString &list, const QString &pattern)
{
    return QStringLiteral("%1: %2").arg(list, pattern);
}

void setCellText(QTreeWidgetItem *item, int column, const QString &text)
{
    // A spammer's subject may be hundreds of kilobytes: laid out whole as a tooltip it costs
    // a hundred megabytes and shows nothing a person can read.
    constexpr qsizetype kMaxCellChars = 1000;
    QString shown = text;
    if (shown.size() > kMaxCellChars) {
        shown.truncate(shown.at(kMaxCellChars - 1).isHighSurrogate() ? kMaxCellChars - 1
                                                                     : kMaxCellChars);
        shown += QChar(0x2026);
    }
    item->setText(column, shown);
    item->setToolTip(column, shown);
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
