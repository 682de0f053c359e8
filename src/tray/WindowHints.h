#pragma once

class QWidget;

namespace tray {

// Asks the window manager to leave a window out of task bars and pagers. Does nothing where
// the display is not X11 (the offscreen platform of the tests).
void keepOutOfTaskbars(QWidget &window);

} // namespace tray
