#pragma once

#include <QByteArray>

#include <optional>

namespace store {
class Access;
}

namespace regtool {

// What Windows' reg query prints for a key (its values, then its subkeys) or for one value of
// it. `path` is spelt as stored; nothing when the value does not exist.
std::optional<QByteArray> queryKey(store::Access &access, const QByteArray &path,
                                   const std::optional<QByteArray> &name);

// The registry's name of a value type, as reg query shows it.
QByteArray typeName(int type);

} // namespace regtool
