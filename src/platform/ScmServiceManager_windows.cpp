#include "platform/ScmServiceManager.h"

#include <vector>
#include <windows.h>

namespace platform {

namespace {

SC_HANDLE scHandle(ServiceManager::Handle handle)
{
    return reinterpret_cast<SC_HANDLE>(handle);
}

ServiceManager::Handle handleOf(SC_HANDLE handle)
{
    return reinterpret_cast<ServiceManager::Handle>(handle);
}

ServiceStatus statusOf(const SERVICE_STATUS &status)
{
    return {quint32(status.dwCurrentState), quint32(status.dwCheckPoint),
            quint32(status.dwWaitHint)};
}

} // namespace

ServiceManager::Handle ScmServiceManager::openManager(quint32 access)
{
    return handleOf(OpenSCManagerA(nullptr, nullptr, access));
}

std::optional<QList<ServiceEntry>> ScmServiceManager::enumerateServices(Handle manager,
                                                                        quint32 type, quint32 state,
                                                                        qsizetype bufferBytes)
{
    // Whole records, so the buffer is aligned for them; the names go in its rest.
    std::vector<ENUM_SERVICE_STATUSA> buffer(size_t(bufferBytes) / sizeof(ENUM_SERVICE_STATUSA)
                                             + 1);
    DWORD needed = 0;
    DWORD returned = 0;
    DWORD resume = 0;
    const BOOL ok = EnumServicesStatusA(scHandle(manager), type, state, buffer.data(),
                                        DWORD(bufferBytes), &needed, &returned, &resume);
    // A buffer too small still holds the entries that fitted.
    if (!ok && GetLastError() != ERROR_MORE_DATA)
        return std::nullopt;
    QList<ServiceEntry> entries;
    for (DWORD i = 0; i < returned; ++i)
        entries.append({QByteArray(buffer[i].lpServiceName), QByteArray(buffer[i].lpDisplayName)});
    return entries;
}

ServiceManager::Handle ScmServiceManager::openService(Handle manager, const QByteArray &name,
                                                      quint32 access)
{
    return handleOf(OpenServiceA(scHandle(manager), name.constData(), access));
}

bool ScmServiceManager::queryStatus(Handle service, ServiceStatus &status)
{
    SERVICE_STATUS reported{};
    if (!QueryServiceStatus(scHandle(service), &reported))
        return false;
    status = statusOf(reported);
    return true;
}

bool ScmServiceManager::startService(Handle service)
{
    return StartServiceA(scHandle(service), 0, nullptr) != FALSE;
}

ServiceManager::ControlResult ScmServiceManager::controlService(Handle service, quint32 control)
{
    SERVICE_STATUS reported{};
    if (ControlService(scHandle(service), control, &reported))
        return {true, statusOf(reported)};
    // Only these refusals fill in the status; after any other it holds nothing.
    switch (GetLastError()) {
    case ERROR_INVALID_SERVICE_CONTROL:
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
    case ERROR_SERVICE_NOT_ACTIVE:
        return {false, statusOf(reported)};
    default:
        return {false, std::nullopt};
    }
}

void ScmServiceManager::closeHandle(Handle handle)
{
    CloseServiceHandle(scHandle(handle));
}

void ScmServiceManager::sleep(quint32 milliseconds)
{
    Sleep(milliseconds);
}

bool ScmServiceManager::isServiceCapable()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return false;
    return version.dwMajorVersion == 4
           || (version.dwMajorVersion == 5 && version.dwMinorVersion <= 1);
}

} // namespace platform
