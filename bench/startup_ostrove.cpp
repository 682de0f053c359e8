// Starts the real main window on a fresh store and ends as soon as it is shown; bench/startup.sh
// times whole runs of this next to startup_bare.
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
#include <QTest>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QFont font = QApplication::font(); // as main does
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
    TfrmOstrove window(system);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", usage.ru_maxrss);
    std::fflush(stdout);
    _exit(0);
}
