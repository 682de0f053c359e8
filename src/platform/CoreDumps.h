#pragma once

namespace platform {

// For programs that hold the account passwords in memory: no core file of this process, and
// no debugger of the same user attached to it. False when the system refused.
bool forbidCoreDumps();

} // namespace platform
