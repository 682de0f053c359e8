// OstroveConf's configuration page driven as a person would, offscreen, for the tests that run
// inside a container with a real systemd: clicks the controls named on the command line, in
// order, and prints after each what the page shows (which service buttons are enabled, the
// status line) and the text of any message box, which it then closes. It lives beside
// OstroveService, so that the page finds the monitor where the installed program would.
#include "app/Form_Ostrove.h"
#include "app/RealSystem.h"
#include "configuration/ConfigurationPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    RealSystem::setUpApplication();
    RealSystem parts;
    TfrmOstrove frmOstrove(parts.system());
    frmOstrove.show();
    ConfigurationPage *page = frmOstrove.tsConfiguration();
    frmOstrove.PageControl1->setCurrentWidget(page);
    QApplication::processEvents();

    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("message: %s\n", qPrintable(box->text()));
            box->accept();
        }
    });
    boxes.start(50);

    const auto report = [page] {
        for (QAbstractButton *button : page->findChildren<QAbstractButton *>()) {
            if (button->objectName().startsWith(QLatin1String("btn")))
                std::printf("%s %s\n", qPrintable(button->objectName()),
                            button->isEnabled() ? "enabled" : "disabled");
        }
        if (auto *status = page->findChild<QLabel *>(QStringLiteral("lblServiceStatus")))
            std::printf("status: %s\n", qPrintable(status->text()));
        std::fflush(stdout);
    };
    for (int i = 1; i < argc; ++i) {
        auto *control = page->findChild<QAbstractButton *>(QString::fromLocal8Bit(argv[i]));
        if (!control) {
            std::printf("no control %s\n", argv[i]);
            return 2;
        }
        std::printf("click %s\n", argv[i]);
        control->click();
        QApplication::processEvents();
        report();
    }
    return 0;
}
