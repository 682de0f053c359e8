#include "platform/Win32Windows.h"

#include <windows.h>

namespace platform {

namespace {

HWND findByTitle(const QString &title)
{
    return FindWindowA(nullptr, title.toLocal8Bit().constData());
}

} // namespace

bool Win32Windows::exists(const QString &title)
{
    return findByTitle(title) != nullptr;
}

bool Win32Windows::requestClose(const QString &title)
{
    const HWND window = findByTitle(title);
    return window && PostMessageA(window, WM_QUIT, 0, 0);
}

} // namespace platform
