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

    // Opens a document in the desktop's viewer for its kind (the log in a text viewer).
    virtual bool openDocument(const QString &path) = 0;
};

// The real thing: QProcess for programs, the desktop's opener for documents.
class SystemProcesses : public Processes
{
public:
    bool startDetached(const QString &program, const QStringList &arguments) override;
    bool openDocument(const QString &path) override;
};

} // namespace platform
