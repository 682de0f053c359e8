#include "app/Form_Ostrove.h"
#include "app/MessageBoxPrompts.h"
#include "platform/Processes.h"
#include "platform/System.h"
#include "platform/SystemdServiceManager.h"
#include "platform/X11Windows.h"
#include "store/SqliteStore.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrove Configuration"));
    QApplication::setDesktopFileName(QStringLiteral("ostrove-configuration"));
    QIcon icon(QStringLiteral(":/icons/app.png"));
    icon.addFile(QStringLiteral(":/icons/app16.png"));
    QApplication::setWindowIcon(icon);
    // The windows are laid out for an 8-point font, as designed.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);

    store::SqliteStore settings(store::SqliteStore::defaultPath());
    MessageBoxPrompts prompts;
    platform::SystemProcesses processes;
    platform::X11Windows windows;
    platform::SystemdServiceManager services;
    platform::System system{settings,
                            prompts,
                            processes,
                            windows,
                            services,
                            QCoreApplication::applicationDirPath(),
                            [](QDialog &dialog) {
                                return dialog.exec();
                            }};

    TfrmOstrove frmOstrove(system);
    frmOstrove.show();
    return QApplication::exec();
}
