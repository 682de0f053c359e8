#pragma once

#include <QByteArray>

#include <optional>

namespace store {
class Access;
}

namespace regtool {

// A key as typed on the command line: "\Software\X", "Software\X", "HKEY_LOCAL_MACHINE\Software\X"
// or "HKLM\Software\X". Gives the path below the root without outer separators, or nothing for a
// key under another root.
std::optional<QByteArray> keyArgument(const QByteArray &argument);

// Whether a lone argument names a key rather than a file.
bool looksLikeKey(const QByteArray &argument);

// The key's path with each name spelt as stored, or nothing when the key does not exist.
// Creates nothing.
std::optional<QByteArray> storedPath(store::Access &access, const QByteArray &path);

// The path as registry files and Windows' tools show it.
QByteArray fullKeyName(const QByteArray &path);

} // namespace regtool
