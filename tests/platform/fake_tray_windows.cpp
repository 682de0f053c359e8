// A window of the tests' own titled as the tray program's, never shown: it runs its message loop
// until WM_QUIT ends it, and exits 0 then. Exits 2 if nothing ends it within a minute.
#include <windows.h>

int main()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OstroveTestTray";
    if (!RegisterClassA(&windowClass))
        return 1;
    const HWND window = CreateWindowA("OstroveTestTray", "OstroveTray", WS_OVERLAPPED, 0, 0, 10, 10,
                                      nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window)
        return 1;
    SetTimer(window, 1, 60000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER)
            return 2;
        DispatchMessageA(&message);
    }
    return message.message == WM_QUIT ? 0 : 1;
}
