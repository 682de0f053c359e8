#include "store/RegistryAccess.h"

#include "platform/UserPrompts.h"
#include "store/Store.h"
#include "store/StoreError.h"

namespace store {

bool registryAccess(Store &store, platform::UserPrompts &prompts,
                    const std::function<void(Access &)> &work)
{
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
        showStoreError(prompts);
        return false;
    }
}

void showStoreError(platform::UserPrompts &prompts)
{
    prompts.show({QStringLiteral("Error"), QStringLiteral("Error reading/writing to registry"),
                  platform::Prompt::Icon::Exclamation, platform::Prompt::Buttons::Ok});
}

} // namespace store
