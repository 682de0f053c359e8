#include "tray/AllowedSendersWindow.h"

#include "store/StoreError.h"
#include "tray/PreviewWindow.h"
#include "tray/TraySettings.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tray {

namespace {

constexpr int kInitialWidth = 480;
constexpr int kInitialHeight = 360;

QString storeProblem(const store::StoreError &failure)
{
    return QStringLiteral("The settings cannot be changed: %1")
        .arg(QString::fromLocal8Bit(failure.what()));
}

} // namespace

AllowedSendersWindow::AllowedSendersWindow(QString storePath, QWidget *parent)
    : QDialog(parent)
    , lbAllowed(new QListWidget(this))
    , edPattern(new QLineEdit(this))
    , btnAdd(new QPushButton(QStringLiteral("&Add"), this))
    , btnRemove(new QPushButton(QStringLiteral("&Remove"), this))
    , btnClose(new QPushButton(QStringLiteral("&Close"), this))
    , lbProblem(new QLabel(this))
    , m_storePath(std::move(storePath))
{
    setObjectName(QStringLiteral("frmAllowedSenders"));
    setWindowTitle(QStringLiteral("Allowed senders"));
    setWindowIcon(programIcon());
    auto *caption = new QLabel(QStringLiteral("&Senders whose mail is never removed:"), this);
    caption->setBuddy(lbAllowed);
    lbAllowed->setObjectName(QStringLiteral("lbAllowed"));
    lbAllowed->setSelectionMode(QAbstractItemView::SingleSelection);
    auto *patternLabel =
        new QLabel(QStringLiteral("&New sender (* and ? as in the filters):"), this);
    patternLabel->setBuddy(edPattern);
    edPattern->setObjectName(QStringLiteral("edPattern"));
    edPattern->setMaxLength(kMaxAllowedSenderLength);
    btnAdd->setObjectName(QStringLiteral("btnAdd"));
    btnRemove->setObjectName(QStringLiteral("btnRemove"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    lbProblem->setObjectName(QStringLiteral("lbProblem"));
    lbProblem->setWordWrap(true);
    // Enter in the field adds; elsewhere it must not close the window by surprise.
    btnAdd->setAutoDefault(false);
    btnRemove->setAutoDefault(false);
    btnClose->setAutoDefault(false);

    auto *entry = new QHBoxLayout;
    entry->addWidget(edPattern, 1);
    entry->addWidget(btnAdd);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnRemove);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addWidget(lbAllowed, 1);
    layout->addWidget(patternLabel);
    layout->addLayout(entry);
    layout->addWidget(lbProblem);
    layout->addLayout(buttons);
    resize(kInitialWidth, kInitialHeight);
    setTabOrder(lbAllowed, btnRemove);
    setTabOrder(btnRemove, edPattern);
    setTabOrder(edPattern, btnAdd);
    setTabOrder(btnAdd, btnClose);

    connect(btnAdd, &QPushButton::clicked, this, &AllowedSendersWindow::addPattern);
    connect(edPattern, &QLineEdit::returnPressed, this, &AllowedSendersWindow::addPattern);
    connect(btnRemove, &QPushButton::clicked, this, &AllowedSendersWindow::removeSelected);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(edPattern, &QLineEdit::textChanged, this, &AllowedSendersWindow::updateButtons);
    connect(lbAllowed, &QListWidget::itemSelectionChanged, this,
            &AllowedSendersWindow::updateButtons);
    updateButtons();
}

void AllowedSendersWindow::reload()
{
    lbAllowed->clear();
    try {
        lbAllowed->addItems(TraySettings(m_storePath).allowedSenders());
    } catch (const store::StoreError &failure) {
        lbProblem->setText(QStringLiteral("The settings cannot be read: %1")
                               .arg(QString::fromLocal8Bit(failure.what())));
    }
    updateButtons();
}

void AllowedSendersWindow::addPattern()
{
    const QString pattern = edPattern->text().trimmed();
    const QString problem = allowedSenderProblem(pattern);
    if (!problem.isEmpty()) {
        lbProblem->setText(problem);
        return;
    }
    try {
        TraySettings(m_storePath).allowSender(pattern);
    } catch (const store::StoreError &failure) {
        lbProblem->setText(storeProblem(failure));
        return;
    }
    lbProblem->clear();
    edPattern->clear();
    reload();
    // Names ignore case in the store: the row may show the letters an earlier entry had.
    const QList<QListWidgetItem *> rows = lbAllowed->findItems(pattern, Qt::MatchFixedString);
    if (!rows.isEmpty())
        lbAllowed->setCurrentItem(rows.first());
}

void AllowedSendersWindow::removeSelected()
{
    const QList<QListWidgetItem *> selected = lbAllowed->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = lbAllowed->row(selected.first());
    try {
        TraySettings(m_storePath).forgetAllowedSender(selected.first()->text());
    } catch (const store::StoreError &failure) {
        lbProblem->setText(storeProblem(failure));
        return;
    }
    lbProblem->clear();
    reload();
    // The next row, so that several go one after the other from the keyboard.
    if (lbAllowed->count() > 0)
        lbAllowed->setCurrentRow(std::min(row, lbAllowed->count() - 1));
}

void AllowedSendersWindow::updateButtons()
{
    btnAdd->setEnabled(!edPattern->text().trimmed().isEmpty());
    btnRemove->setEnabled(!lbAllowed->selectedItems().isEmpty());
}

} // namespace tray
