#pragma once

#include "store/Store.h"

#include <memory>

namespace store {

struct RegistryJournal;

// The settings tree in the Windows registry itself, below HKEY_LOCAL_MACHINE, through the
// registry's 8-bit (ANSI code page) calls. The registry has no transactions: every write is
// made at once, and an access that is abandoned puts back what it changed, one change at a time.
// Another program may see the changes meanwhile.
class RegistryStore : public Store
{
public:
    struct Options
    {
        bool readOnly = false; // opens keys for reading only and creates none
    };

    RegistryStore() = default;
    explicit RegistryStore(Options options);
    ~RegistryStore() override;

    std::unique_ptr<Access> beginAccess() override;

private:
    Options m_options;
    std::shared_ptr<RegistryJournal> m_current; // the innermost running access's
};

} // namespace store
