#pragma once

#include <stdexcept>

namespace store {

// The one failure of a registry access; whoever runs the access reports it to the user.
class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace store
