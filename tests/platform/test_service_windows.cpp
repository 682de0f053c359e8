// A service of the tests' own, run by the service control manager: reports its start in
// checkpoints as a real one does, and then behaves as its one argument says:
//   good   runs until asked to stop
//   fails  gives up during its start and reports itself stopped
//   hangs  stays "start pending" for good, its checkpoint never moving
// Started as the service program is, with "/install /silent" or "/uninstall /silent", it adds
// itself as OstroveSvc (in the "good" behaviour) or removes that service, and ends.
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

// What the service program's two switches do; 0 when it was done.
int installOrUninstall(bool install)
{
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return 1;
    bool done = false;
    if (install) {
        char program[MAX_PATH + 1] = {};
        GetModuleFileNameA(nullptr, program, MAX_PATH);
        char commandLine[MAX_PATH + 16];
        wsprintfA(commandLine, "\"%s\" good", program);
        const SC_HANDLE service =
            CreateServiceA(manager, "OstroveSvc", "Ostrove test service", SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                           commandLine, nullptr, nullptr, nullptr, nullptr, nullptr);
        done = service != nullptr;
        CloseServiceHandle(service);
    } else if (const SC_HANDLE service = OpenServiceA(manager, "OstroveSvc", DELETE)) {
        done = DeleteService(service) != FALSE;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return done ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1
        && (std::strcmp(argv[1], "/install") == 0 || std::strcmp(argv[1], "/uninstall") == 0))
        return installOrUninstall(std::strcmp(argv[1], "/install") == 0);
    if (argc > 1)
        gMode = argv[1];
    gStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char name[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
