#include "app/Form_Ostrove.h"
#include "app/RealSystem.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    RealSystem::setUpApplication();
    RealSystem parts;
    TfrmOstrove frmOstrove(parts.system());
    frmOstrove.show();
    return QApplication::exec();
}
