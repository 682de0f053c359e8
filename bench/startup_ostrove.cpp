// Starts the real main window as main does and ends as soon as it is shown; bench/startup.sh
// times whole runs of this next to startup_bare.
#include "StartupReport.h"
#include "app/Form_Ostrove.h"
#include "app/RealSystem.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    RealSystem::setUpApplication();
    RealSystem parts;
    TfrmOstrove window(parts.system());
    window.show();
    return reportWhenShown(window);
}
