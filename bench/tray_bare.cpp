// The yardstick for the tray program: a bare Qt program with a tray icon, its menu and a hidden
// top-level window, and nothing else.
#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QWidget window;
    window.setWindowTitle(QStringLiteral("BareTray"));
    window.setGeometry(-100, -100, 1, 1);
    window.setWindowState(Qt::WindowMinimized);
    window.show();
    QMenu menu;
    for (const char *caption : {"Check now", "Preview", "Open log", "Settings"})
        menu.addAction(QString::fromLatin1(caption));
    QObject::connect(menu.addAction(QStringLiteral("Quit")), &QAction::triggered,
                     &QApplication::quit);
    QSystemTrayIcon icon;
    icon.setIcon(QIcon(QStringLiteral(ICON_FILE)));
    icon.setContextMenu(&menu);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        icon.show();
    return QApplication::exec();
}
