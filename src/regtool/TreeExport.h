#pragma once

#include <QByteArray>

namespace store {
class Access;
}

namespace regtool {

class RegWriter;

// Writes a key and everything below it: keys in the store's enumeration order, each key's values
// in creation order. `path` is spelt as stored. False when the writer refused something; its
// error() says what.
bool exportTree(store::Access &access, const QByteArray &path, RegWriter &writer);

} // namespace regtool
