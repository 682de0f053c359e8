#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

// What the configuration program and the monitor agree on: the monitor's programs beside the
// configuration program, their switches, the service's name, the tray window's title, the
// interval's range and where the log is.
namespace contract {

#ifdef Q_OS_WIN
inline constexpr char kServiceProgram[] = "OstroveService.exe";
inline constexpr char kTrayProgram[] = "OstroveTray.exe";
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kServiceProgram[] = "OstroveService";
inline constexpr char kTrayProgram[] = "OstroveTray";
inline constexpr char kPathSeparator = '/';
#endif
inline constexpr char kLogFile[] = "Ostrove.log";
inline constexpr char kServiceName[] = "OstroveSvc";
inline constexpr char kTrayWindowTitle[] = "OstroveTray";

// The check interval in minutes: stored as ScanEvery, and clamped to this range by both.
inline constexpr int kDefaultScanEvery = 15;
inline constexpr int kMinScanEvery = 1;
inline constexpr int kMaxScanEvery = 200;

inline const QStringList kInstallSwitches{QStringLiteral("/install"), QStringLiteral("/silent")};
inline const QStringList kUninstallSwitches{QStringLiteral("/uninstall"),
                                            QStringLiteral("/silent")};

// A file beside the program: the folder, a separator, the name.
inline QString besideProgram(const QString &programFolder, const char *fileName)
{
    return programFolder + QLatin1Char(kPathSeparator) + QLatin1String(fileName);
}

inline QString serviceProgramPath(const QString &folder)
{
    return besideProgram(folder, kServiceProgram);
}
inline QString trayProgramPath(const QString &folder)
{
    return besideProgram(folder, kTrayProgram);
}
// The monitor keeps its log beside the settings store, since the program folder may not be
// writable. Made absolute as the monitor makes it, so that both name the same file.
inline QString logPathFor(const QString &storePath)
{
    return QDir(QFileInfo(storePath).absolutePath()).filePath(QLatin1String(kLogFile));
}

} // namespace contract
