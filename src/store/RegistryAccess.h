#pragma once

#include "platform/UserPrompts.h"

#include <functional>

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

// Messages wait while one lives: nobody keeps the store locked while waiting for the user, and a
// page shows what it read before it says what went wrong. Every registry access holds its
// messages this way; when the outermost hold on a store ends, it shows what waited, in order,
// and the same message only once. Questions are not held.
class MessageHold : public platform::UserPrompts
{
public:
    MessageHold(Store &store, platform::UserPrompts &prompts);
    ~MessageHold() override;
    MessageHold(const MessageHold &) = delete;
    MessageHold &operator=(const MessageHold &) = delete;

    platform::Answer show(const platform::Prompt &prompt) override;

private:
    Store &m_store;
    platform::UserPrompts &m_prompts;
};

} // namespace store
