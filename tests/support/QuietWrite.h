#pragma once

#include <QString>

#include <functional>

namespace store {
class Access;
class Store;
} // namespace store

// Writes a test's starting values straight into the store, as another program would have left
// them: no window, no message box, one access committed whole. A write that fails fails the
// running test with the store's own reason, since every check after it would be meaningless.
void writeQuietly(store::Store &store, const std::function<void(store::Access &)> &work);
// The same for a store the test does not hold open itself.
void writeQuietly(const QString &storePath, const std::function<void(store::Access &)> &work);
