#include "tray/TrayWindow.h"

#include "monitor/MonitorNames.h"

#include <QCloseEvent>

namespace tray {

TrayWindow::TrayWindow(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("trayWindow"));
    setWindowTitle(QLatin1String(monitor::kTrayWindowTitle));
    // Another program finds the window by its title, so it must exist on the display while
    // hidden: create it now instead of at a first show that never comes.
    (void)winId();
}

void TrayWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit closeRequested();
}

} // namespace tray
