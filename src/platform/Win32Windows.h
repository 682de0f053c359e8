#pragma once

#include "platform/TopLevelWindows.h"

namespace platform {

// Top-level windows of the desktop, found with FindWindow by title alone (no class), as the
// system compares titles: without regard to letter case.
class Win32Windows : public TopLevelWindows
{
public:
    bool exists(const QString &title) override;
    // Posts WM_QUIT to the window: its program's message loop ends.
    bool requestClose(const QString &title) override;
};

} // namespace platform
