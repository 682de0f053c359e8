#pragma once

namespace platform {

// For programs that briefly hold messages of tens of megabytes: every large block is given
// back to the system when it is freed. The C library otherwise raises its threshold after the
// first large block and keeps later ones in its heaps, where a long check leaves them behind,
// so that a check's memory grew with each large message it judged.
void returnLargeAllocationsWhenFreed();

} // namespace platform
