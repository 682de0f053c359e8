#include "store/RegistryAccess.h"

#include "platform/UserPrompts.h"
#include "store/Store.h"
#include "store/StoreError.h"

#include <utility>

namespace store {

bool registryAccess(Store &store, platform::UserPrompts &prompts,
                    const std::function<void(Access &)> &work)
{
    MessageHold hold(store, prompts);
    try {
        const std::unique_ptr<Access> access = store.beginAccess();
        try {
            work(*access);
        } catch (const StoreError &) {
            access->finish(); // writes before the failing step stay, as the registry keeps them
            throw;
        }
        access->finish();
        return true;
    } catch (const StoreError &) {
        showStoreError(hold);
        return false;
    }
}

void showStoreError(platform::UserPrompts &prompts)
{
    prompts.show({QStringLiteral("Error"), QStringLiteral("Error reading/writing to registry"),
                  platform::Prompt::Icon::Exclamation, platform::Prompt::Buttons::Ok});
}

MessageHold::MessageHold(Store &store, platform::UserPrompts &prompts)
    : m_store(store)
    , m_prompts(prompts)
{
    ++m_store.heldMessages().holds;
}

MessageHold::~MessageHold()
{
    Store::HeldMessages &held = m_store.heldMessages();
    if (--held.holds > 0)
        return;
    const QList<platform::Prompt> waiting = std::exchange(held.prompts, {});
    for (const platform::Prompt &prompt : waiting)
        m_prompts.show(prompt);
}

platform::Answer MessageHold::show(const platform::Prompt &prompt)
{
    if (prompt.buttons != platform::Prompt::Buttons::Ok)
        return m_prompts.show(prompt);
    QList<platform::Prompt> &waiting = m_store.heldMessages().prompts;
    // A reload that fails after its change failed says the same again; once is enough.
    for (const platform::Prompt &queued : std::as_const(waiting)) {
        if (queued.caption == prompt.caption && queued.text == prompt.text
            && queued.icon == prompt.icon)
            return platform::Answer::Ok;
    }
    waiting.append(prompt);
    return platform::Answer::Ok;
}

} // namespace store
