#include "app/RealSystem.h"

#include "windows/PngImage.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QIcon>

RealSystem::RealSystem()
    : m_storePath(store::SqliteStore::defaultPath())
    , m_settings(m_storePath)
    , m_system{m_settings,
               m_prompts,
               m_processes,
               m_windows,
               m_services,
               QCoreApplication::applicationDirPath(),
               [](QDialog &dialog) { return dialog.exec(); },
               m_storePath}
{}

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
