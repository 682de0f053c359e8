#pragma once

#include <functional>

namespace platform {
class UserPrompts;
}

namespace store {

class Access;
class Store;

// Runs one registry access: opens the store, runs the work in one transaction, keeps what was
// written even when a step fails, always releases, and reports any failure with the one
// message. Returns true when the work ran to its end.
bool registryAccess(Store &store, platform::UserPrompts &prompts,
                    const std::function<void(Access &)> &work);

// The one report of a failed registry access.
void showStoreError(platform::UserPrompts &prompts);

} // namespace store
