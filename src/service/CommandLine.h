#pragma once

#include <QString>
#include <QStringList>

namespace service {

// What OstroveService was asked to do. The switches with a slash are the ones the
// configuration program sends; the others are for people.
struct CommandLine
{
    enum class Mode
    {
        Daemon,
        CheckOnce,
        Install,
        Uninstall,
        ListRemoved,
        SaveRemoved,
        ReleaseHeld,
        Help,
        Invalid,
    };

    Mode mode = Mode::Daemon;
    bool dryRun = false;
    bool silent = false;
    QString copyId;   // for SaveRemoved
    QString saveFile; // for SaveRemoved
    QString problem;  // for Invalid

    static CommandLine parse(const QStringList &arguments); // without the program's name
};

QString usageText();

} // namespace service
