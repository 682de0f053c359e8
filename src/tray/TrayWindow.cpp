#include "tray/TrayWindow.h"

#include "contract/MonitorContract.h"
#include "tray/WindowHints.h"

#include <QCloseEvent>

namespace tray {

namespace {

constexpr int kOffScreen = -100;

} // namespace

TrayWindow::TrayWindow(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("trayWindow"));
    setWindowTitle(QLatin1String(contract::kTrayWindowTitle));
    // Another program finds the window by its title, and a window manager lists only the
    // windows that are mapped: so it is mapped, but iconic, tiny, off the screen and out of the
    // task bars, which keeps it out of sight with a window manager and without one.
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    setGeometry(kOffScreen, kOffScreen, 1, 1);
    setWindowState(Qt::WindowMinimized);
    keepOutOfTaskbars(*this);
    show();
}

void TrayWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit closeRequested();
}

} // namespace tray
