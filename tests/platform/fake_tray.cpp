// Stands in for the tray monitor in tests: owns a window titled as given (OstroveTray by default)
// and exits when the window manager's close request reaches it. Prints "ready" and the titled
// window's id once the window exists.
//   --unmapped   never shows the window, so no window manager manages it
//   --inside N   puts the titled window inside N plain windows of its own
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const char *title = "OstroveTray";
    bool mapped = true;
    int wrappers = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--unmapped") == 0)
            mapped = false;
        else if (std::strcmp(argv[i], "--inside") == 0 && i + 1 < argc)
            wrappers = std::atoi(argv[++i]);
        else
            title = argv[i];
    }
    Display *display = nullptr;
    // A loaded server may drop new connections for a moment.
    for (int attempt = 0; attempt < 250 && !display; ++attempt) {
        display = XOpenDisplay(nullptr);
        if (!display)
            usleep(20000);
    }
    if (!display)
        return 2;
    Window parent = DefaultRootWindow(display);
    for (int level = 0; level < wrappers; ++level) {
        const Window wrapper = XCreateSimpleWindow(display, parent, 0, 0, 120, 60, 0, 0, 0);
        if (mapped)
            XMapWindow(display, wrapper);
        parent = wrapper;
    }
    const Window window = XCreateSimpleWindow(display, parent, 0, 0, 100, 40, 0, 0, 0);
    XStoreName(display, window, title);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(title),
                    static_cast<int>(std::strlen(title)));
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    if (mapped)
        XMapWindow(display, window);
    XSync(display, False);
    std::printf("ready %lu\n", window);
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        // As toolkits take it: a protocol message in 32-bit items, anything else is ignored.
        if (event.type == ClientMessage && event.xclient.window == window
            && event.xclient.message_type == protocols && event.xclient.format == 32
            && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
            XDestroyWindow(display, window);
            XCloseDisplay(display);
            return 0;
        }
    }
}
