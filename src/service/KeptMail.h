#pragma once

#include <QString>

namespace service {

// The command-line side of what the monitor keeps for the person: the removed messages whose
// copies are kept, one of them saved as a file, and the rules whose removals are held. Each
// returns the exit status and prints to standard output (or, for a problem, standard error).
int listRemoved(const QString &storePath);
int saveRemoved(const QString &storePath, const QString &id, const QString &file);
int releaseHeld(const QString &storePath);

} // namespace service
