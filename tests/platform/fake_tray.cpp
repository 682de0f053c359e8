// Stands in for the tray monitor in tests: owns a top-level window titled as given (OstroveTray
// by default) and exits when the window manager's close request reaches it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const char *title = argc > 1 ? argv[1] : "OstroveTray";
    Display *display = nullptr;
    // A loaded server may drop new connections for a moment.
    for (int attempt = 0; attempt < 250 && !display; ++attempt) {
        display = XOpenDisplay(nullptr);
        if (!display)
            usleep(20000);
    }
    if (!display)
        return 2;
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 100, 40, 0, 0, 0);
    XStoreName(display, window, title);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(title),
                    static_cast<int>(std::strlen(title)));
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XMapWindow(display, window);
    XFlush(display);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage
            && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
            XDestroyWindow(display, window);
            XCloseDisplay(display);
            return 0;
        }
    }
}
