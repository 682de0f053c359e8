#include "platform/X11Windows.h"

#include <QtGlobal>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

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

// The top-level windows: the root's children, and theirs, since a window manager puts each
// program's window inside a frame of its own.
Window findByTitle(Display *display, const QByteArray &title)
{
    const std::function<Window(Window, int)> search = [&](Window parent, int depth) -> Window {
        Window root = 0;
        Window parentOut = 0;
        Window *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
            return 0;
        Window found = 0;
        for (unsigned int i = 0; i < count && !found; ++i) {
            if (windowTitle(display, children[i]) == title)
                found = children[i];
            else if (depth > 1)
                found = search(children[i], depth - 1);
        }
        if (children)
            XFree(children);
        return found;
    };
    return search(DefaultRootWindow(display), 2);
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

} // namespace platform
