#include "platform/X11Windows.h"

#include <QtGlobal>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

namespace platform {

namespace {

// Windows may vanish while we look at them; X's default handler would end the program.
int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

struct DisplayCloser
{
    void operator()(Display *display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

QByteArray windowTitle(Display *display, Window window)
{
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data)
            == Success
        && data) {
        QByteArray title(reinterpret_cast<const char *>(data), static_cast<qsizetype>(count));
        XFree(data);
        if (type == utf8)
            return title;
    }
    char *name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        QByteArray title(name);
        XFree(name);
        return title;
    }
    return {};
}

// The programs' own windows as the window manager lists them, where it publishes a list. Under a
// reparenting manager these are the clients inside the frames, at whatever depth.
std::vector<Window> clientList(Display *display)
{
    std::vector<Window> windows;
    const Atom property = XInternAtom(display, "_NET_CLIENT_LIST", True);
    if (property == None)
        return windows;
    long offset = 0;
    for (;;) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(display, DefaultRootWindow(display), property, offset, 1024, False,
                               XA_WINDOW, &type, &format, &count, &after, &data)
            != Success)
            break;
        const bool windowList = data && type == XA_WINDOW && format == 32;
        if (windowList) {
            // Xlib hands 32-bit items over as longs.
            const auto *ids = reinterpret_cast<const unsigned long *>(data);
            windows.insert(windows.end(), ids, ids + count);
            offset += static_cast<long>(count);
        }
        if (data)
            XFree(data);
        if (!windowList || after == 0)
            break;
    }
    return windows;
}

// The whole tree, nearer the root first. A window that was never shown is in no manager's list,
// and one without a manager, or nested in a program's own windows, may lie at any depth.
Window searchTree(Display *display, const QByteArray &title)
{
    std::deque<Window> pending{DefaultRootWindow(display)};
    while (!pending.empty()) {
        const Window parent = pending.front();
        pending.pop_front();
        Window root = 0;
        Window parentOut = 0;
        Window *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
            continue;
        const std::unique_ptr<Window, int (*)(void *)> owned(children, XFree);
        for (unsigned int i = 0; i < count; ++i) {
            if (windowTitle(display, children[i]) == title)
                return children[i];
            pending.push_back(children[i]);
        }
    }
    return 0;
}

Window findByTitle(Display *display, const QByteArray &title)
{
    for (const Window window : clientList(display)) {
        if (windowTitle(display, window) == title)
            return window;
    }
    return searchTree(display, title);
}

DisplayPtr openDisplay()
{
    XSetErrorHandler(ignoreErrors);
    // A busy server may drop a new connection at once; a second or third try gets through.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Display *display = XOpenDisplay(nullptr))
            return DisplayPtr(display);
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
}

} // namespace

bool X11Windows::exists(const QString &title)
{
    const DisplayPtr display = openDisplay();
    return display && findByTitle(display.get(), title.toUtf8()) != 0;
}

bool X11Windows::requestClose(const QString &title)
{
    const DisplayPtr display = openDisplay();
    if (!display)
        return false;
    const Window window = findByTitle(display.get(), title.toUtf8());
    if (!window)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] =
        static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display.get(), window, False, NoEventMask, &event);
    XFlush(display.get());
    return true;
}

bool X11Windows::activate(const QString &title)
{
    const DisplayPtr display = openDisplay();
    if (!display)
        return false;
    Display *x = display.get();
    const QByteArray wanted = title.toUtf8();
    // A managed window first: Qt also gives a program's hidden leader window its name.
    Window window = 0;
    for (const Window candidate : clientList(x)) {
        if (windowTitle(x, candidate) == wanted) {
            window = candidate;
            break;
        }
    }
    XWindowAttributes attributes{};
    if (!window) {
        window = searchTree(x, wanted);
        if (!window || !XGetWindowAttributes(x, window, &attributes)
            || attributes.map_state != IsViewable)
            return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(x, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // asked for by the user through another program
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, DefaultRootWindow(x), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    // Without a window manager nobody answers that message.
    XMapRaised(x, window);
    XFlush(x);
    return true;
}

} // namespace platform
