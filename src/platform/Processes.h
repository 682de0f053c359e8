#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Starting other programs. Nothing here goes through a shell, and nothing waits.
class Processes
{
public:
    virtual ~Processes() = default;

    // Starts a program with its arguments, detached; false when it could not be started.
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;

    // Starts a program as the desktop's shell opens it, with no arguments.
    virtual bool openProgram(const QString &program) { return startDetached(program, {}); }

    // Opens a document in the desktop's viewer for its kind (the log in a text viewer).
    virtual bool openDocument(const QString &path) = 0;
};

// The real thing: on Windows WinExec and the shell; elsewhere QProcess and the desktop's opener.
class SystemProcesses : public Processes
{
public:
    bool startDetached(const QString &program, const QStringList &arguments) override;
    bool openProgram(const QString &program) override;
    bool openDocument(const QString &path) override;
};

} // namespace platform
