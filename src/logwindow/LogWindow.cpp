#include "logwindow/LogWindow.h"

#include "logwindow/LogFile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kInitialWidth = 820;
constexpr int kInitialHeight = 480;

} // namespace

LogWindow::LogWindow(QString path, QWidget *parent)
    : QDialog(parent)
    , lbCut(new QLabel(this))
    , edLog(new QPlainTextEdit(this))
    , btnClose(new QPushButton(QStringLiteral("&Close"), this))
    , m_path(std::move(path))
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Ostrove.log"));
    lbCut->setObjectName(QStringLiteral("lbCut"));
    edLog->setObjectName(QStringLiteral("edLog"));
    edLog->setReadOnly(true);
    edLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    edLog->setAccessibleName(QStringLiteral("Log"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbCut);
    layout->addWidget(edLog, 1);
    layout->addLayout(buttons);
    resize(kInitialWidth, kInitialHeight);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    reload();
}

void LogWindow::reload()
{
    bool cut = false;
    edLog->setPlainText(QString::fromUtf8(logTail(m_path, kMaxShownBytes, &cut)));
    lbCut->setText(cut ? QStringLiteral("The log is long: only its last megabyte is shown.")
                       : QString());
    lbCut->setVisible(cut);
    // The newest lines are the ones looked for.
    edLog->moveCursor(QTextCursor::End);
    edLog->ensureCursorVisible();
}
