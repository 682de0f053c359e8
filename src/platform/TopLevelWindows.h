#pragma once

#include <QString>

namespace platform {

// Top-level windows of other programs, found by their exact title.
class TopLevelWindows
{
public:
    virtual ~TopLevelWindows() = default;

    virtual bool exists(const QString &title) = 0;

    // Asks the window with this title to close; false when there is none. Does not wait.
    virtual bool requestClose(const QString &title) = 0;
};

} // namespace platform
