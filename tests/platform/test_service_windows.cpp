// A service of the tests' own, run by the service control manager: reports its start in
// checkpoints as a real one does, and then behaves as its one argument says:
//   good   runs until asked to stop
//   fails  gives up during its start and reports itself stopped
//   hangs  stays "start pending" for good, its checkpoint never moving
#include <cstring>
#include <windows.h>

namespace {

const char *gMode = "good";
SERVICE_STATUS_HANDLE gHandle = nullptr;
HANDLE gStop = nullptr;

void report(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD exitCode = NO_ERROR)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    SetServiceStatus(gHandle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void *, void *)
{
    if (code != SERVICE_CONTROL_STOP)
        return ERROR_CALL_NOT_IMPLEMENTED;
    report(SERVICE_STOP_PENDING, 1, 200);
    SetEvent(gStop);
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, char **)
{
    gHandle = RegisterServiceCtrlHandlerExA("", control, nullptr);
    if (!gHandle)
        return;
    for (DWORD checkPoint = 1; checkPoint <= 3; ++checkPoint) {
        report(SERVICE_START_PENDING, checkPoint, 150);
        Sleep(60);
    }
    if (std::strcmp(gMode, "fails") == 0) {
        report(SERVICE_STOPPED, 0, 0, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    if (std::strcmp(gMode, "hangs") == 0) {
        for (;;) {
            report(SERVICE_START_PENDING, 4, 100);
            Sleep(100);
        }
    }
    report(SERVICE_RUNNING, 0, 0);
    WaitForSingleObject(gStop, INFINITE);
    // Stopping takes a moment, as it would for a monitor finishing a check.
    report(SERVICE_STOP_PENDING, 2, 200);
    Sleep(100);
    report(SERVICE_STOPPED, 0, 0);
}

// "/install /silent" (or "/install MODE"): adds itself as OstroveSvc behaving as MODE says,
// "good" for the service program's switch. "/uninstall": ends the service's process if it runs,
// as a hung one does for good, and removes the service. 0 when it was done.
int installOrUninstall(bool install, const char *mode)
{
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    bool done = false;
    if (install) {
        char program[MAX_PATH + 1] = {};
        GetModuleFileNameA(nullptr, program, MAX_PATH);
        char commandLine[MAX_PATH + 32];
        wsprintfA(commandLine, "\"%s\" %s", program, mode);
        const SC_HANDLE service =
            CreateServiceA(manager, "OstroveSvc", "Ostrove test service", SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                           commandLine, nullptr, nullptr, nullptr, nullptr, nullptr);
        done = service != nullptr;
        CloseServiceHandle(service);
    } else if (const SC_HANDLE service = OpenServiceA(manager, "OstroveSvc", SERVICE_ALL_ACCESS)) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status),
                                 sizeof status, &needed)
            && status.dwProcessId != 0) {
            const HANDLE process =
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId);
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        done = DeleteService(service) != FALSE;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return done ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const bool install = argc > 1 && std::strcmp(argv[1], "/install") == 0;
    if (install || (argc > 1 && std::strcmp(argv[1], "/uninstall") == 0))
        return installOrUninstall(install, argc > 2 && argv[2][0] != '/' ? argv[2] : "good");
    if (argc > 1)
        gMode = argv[1];
    gStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char name[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
