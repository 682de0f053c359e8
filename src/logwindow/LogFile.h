#pragma once

#include <QByteArray>
#include <QString>

// The end of the log, at most maxBytes of it, from a regular file only; `cut` tells whether its
// start was left out (and with it the line the cut fell in).
QByteArray logTail(const QString &path, qint64 maxBytes, bool *cut);

// Creates an empty log, owner-only and never through a link, so that a viewer has a file to
// open before the monitor's first check. True when the file exists now.
bool createLogIfMissing(const QString &path);
