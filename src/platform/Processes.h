#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

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

    // Opens a document in the desktop's viewer for its kind (the log in a text viewer). Later,
    // from the event loop, `done` learns whether a viewer took it; not at all once `context`
    // is gone.
    virtual void openDocument(const QString &path, QObject *context,
                              std::function<void(bool opened)> done) = 0;
};

// The real thing: on Windows WinExec and the shell; elsewhere QProcess and the desktop's opener.
class SystemProcesses : public Processes
{
public:
    // Tests name a program that stands for the desktop's opener.
    explicit SystemProcesses(QString opener = QStringLiteral("xdg-open"));

    bool startDetached(const QString &program, const QStringList &arguments) override;
    bool openProgram(const QString &program) override;
    void openDocument(const QString &path, QObject *context,
                      std::function<void(bool opened)> done) override;

private:
    QString m_opener; // unused on Windows, where Notepad opens the log
};

} // namespace platform
