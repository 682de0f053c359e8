#pragma once

#include "store/Store.h"

namespace store {

// The settings tree in the Windows registry itself, below HKEY_LOCAL_MACHINE, through the
// registry's 8-bit (ANSI code page) calls. The registry has no transactions: every write is
// made at once, so an access cannot be abandoned and finishing it has nothing left to do.
class RegistryStore : public Store
{
public:
    struct Options
    {
        bool readOnly = false; // opens keys for reading only and creates none
    };

    RegistryStore() = default;
    explicit RegistryStore(Options options);

    std::unique_ptr<Access> beginAccess() override;

private:
    Options m_options;
};

} // namespace store
