#pragma once

#include "platform/TopLevelWindows.h"

namespace platform {

// Top-level windows on an X11 display (DISPLAY). Without a display there are no windows.
class X11Windows : public TopLevelWindows
{
public:
    bool exists(const QString &title) override;
    // Sends the window the window manager's close request (WM_DELETE_WINDOW).
    bool requestClose(const QString &title) override;
    // Raises a shown window with this title and asks the window manager to give it the focus
    // (restoring it when minimised); false when no such window is shown.
    bool activate(const QString &title);
};

} // namespace platform
