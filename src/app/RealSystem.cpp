#include "app/RealSystem.h"

#include "platform/ServiceManager.h"
#include "platform/TopLevelWindows.h"
#include "store/Store.h"
#include "windows/PngImage.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

RealSystem::~RealSystem() = default;

void RealSystem::setUpApplication()
{
    QApplication::setApplicationName(QStringLiteral("Ostrove Configuration"));
    QApplication::setDesktopFileName(QStringLiteral("ostrove-configuration"));
    QIcon icon(pngPixmap(QStringLiteral(":/icons/app.png")));
    icon.addPixmap(pngPixmap(QStringLiteral(":/icons/app16.png")));
    QApplication::setWindowIcon(icon);
    // The windows are laid out for an 8-point font, as designed.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
}
