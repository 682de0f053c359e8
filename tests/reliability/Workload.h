#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace store {
class Access;
}

// A repeatable sequence of registry accesses of every kind the program makes (adds, edits with
// four values, removals, deletions of keys with subkeys), each also storing its own number, so
// that a file can be checked against what the first n accesses must have left.
namespace workload {

inline constexpr char kRoot[] = "\\Software\\Ostrove Workload";

// Key path to value name to "type:hex of the stored bytes".
using Tree = QMap<QByteArray, QMap<QByteArray, QByteArray>>;

// Access number i, run through the store inside one registry access.
void apply(int i, store::Access &access);

// What accesses 0 to last leave below the workload's root.
Tree expected(int last);

// What the file holds below the workload's root, read with plain SQLite inside one read
// transaction, as the monitor reads; the access number it holds comes back in generation (-1
// for none). Returns false when the file could not be read.
bool read(const QString &path, Tree &tree, int &generation, int busyTimeoutMs = 5000);

} // namespace workload
