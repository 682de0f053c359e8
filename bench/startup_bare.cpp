// The yardstick for start-up: a bare Qt window with a list and six empty pages.
#include "StartupReport.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QStackedWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    auto *list = new QListWidget(&window);
    auto *pages = new QStackedWidget(&window);
    for (int i = 0; i < 7; ++i)
        list->addItem(QStringLiteral("Item %1").arg(i));
    for (int i = 0; i < 6; ++i)
        pages->addWidget(new QWidget);
    auto *layout = new QHBoxLayout(&window);
    layout->addWidget(list);
    layout->addWidget(pages);
    window.resize(399, 347);
    window.show();
    return reportWhenShown(window);
}
