#include "FaultyVfs.h"

#include <cstring>
#include <sqlite3.h>
#include <utility>

namespace faulty {

namespace {

Plan g_plan;
int g_writes = 0;
int g_syncs = 0;
bool g_struck = false;
std::function<void()> g_onRelease;
sqlite3_vfs *g_real = nullptr;

struct File
{
    sqlite3_file base;
    sqlite3_file *real; // the system layer's file, stored right behind this struct
};

sqlite3_file *real(sqlite3_file *file)
{
    return reinterpret_cast<File *>(file)->real;
}

int failure()
{
    g_struck = true;
    return g_plan.diskFull ? SQLITE_FULL : SQLITE_IOERR_WRITE;
}

int xClose(sqlite3_file *file)
{
    return real(file)->pMethods->xClose(real(file));
}
int xRead(sqlite3_file *file, void *buffer, int amount, sqlite3_int64 offset)
{
    return real(file)->pMethods->xRead(real(file), buffer, amount, offset);
}
int xWrite(sqlite3_file *file, const void *buffer, int amount, sqlite3_int64 offset)
{
    if (g_plan.readOnly || (g_plan.failWriteAt > 0 && ++g_writes == g_plan.failWriteAt))
        return failure();
    return real(file)->pMethods->xWrite(real(file), buffer, amount, offset);
}
int xTruncate(sqlite3_file *file, sqlite3_int64 size)
{
    if (g_plan.readOnly)
        return failure();
    return real(file)->pMethods->xTruncate(real(file), size);
}
int xSync(sqlite3_file *file, int flags)
{
    if (g_plan.failSyncAt > 0 && ++g_syncs == g_plan.failSyncAt) {
        g_struck = true;
        return SQLITE_IOERR_FSYNC;
    }
    return real(file)->pMethods->xSync(real(file), flags);
}
int xFileSize(sqlite3_file *file, sqlite3_int64 *size)
{
    return real(file)->pMethods->xFileSize(real(file), size);
}
int xLock(sqlite3_file *file, int level)
{
    return real(file)->pMethods->xLock(real(file), level);
}
int xUnlock(sqlite3_file *file, int level)
{
    const int rc = real(file)->pMethods->xUnlock(real(file), level);
    if (rc == SQLITE_OK && level == SQLITE_LOCK_NONE && g_onRelease)
        std::exchange(g_onRelease, {})();
    return rc;
}
int xCheckReservedLock(sqlite3_file *file, int *out)
{
    return real(file)->pMethods->xCheckReservedLock(real(file), out);
}
int xFileControl(sqlite3_file *file, int op, void *argument)
{
    return real(file)->pMethods->xFileControl(real(file), op, argument);
}
int xSectorSize(sqlite3_file *file)
{
    return real(file)->pMethods->xSectorSize(real(file));
}
int xDeviceCharacteristics(sqlite3_file *file)
{
    return real(file)->pMethods->xDeviceCharacteristics(real(file));
}

// Version 1: no shared memory and no memory mapping, so every write passes through here.
const sqlite3_io_methods kMethods = {1,
                                     xClose,
                                     xRead,
                                     xWrite,
                                     xTruncate,
                                     xSync,
                                     xFileSize,
                                     xLock,
                                     xUnlock,
                                     xCheckReservedLock,
                                     xFileControl,
                                     xSectorSize,
                                     xDeviceCharacteristics,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr};

int xOpen(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *outFlags)
{
    auto *wrapper = reinterpret_cast<File *>(file);
    wrapper->base.pMethods = nullptr;
    wrapper->real = reinterpret_cast<sqlite3_file *>(wrapper + 1);
    if (g_plan.readOnly && (flags & SQLITE_OPEN_MAIN_JOURNAL)) {
        g_struck = true;
        return SQLITE_CANTOPEN;
    }
    const int rc = g_real->xOpen(g_real, name, wrapper->real, flags, outFlags);
    if (rc == SQLITE_OK && wrapper->real->pMethods)
        wrapper->base.pMethods = &kMethods;
    return rc;
}

int xDelete(sqlite3_vfs *, const char *name, int syncDirectory)
{
    return g_real->xDelete(g_real, name, syncDirectory);
}
int xAccess(sqlite3_vfs *, const char *name, int flags, int *out)
{
    return g_real->xAccess(g_real, name, flags, out);
}
int xFullPathname(sqlite3_vfs *, const char *name, int size, char *out)
{
    return g_real->xFullPathname(g_real, name, size, out);
}
void *xDlOpen(sqlite3_vfs *, const char *name)
{
    return g_real->xDlOpen(g_real, name);
}
void xDlError(sqlite3_vfs *, int size, char *message)
{
    g_real->xDlError(g_real, size, message);
}
void (*xDlSym(sqlite3_vfs *, void *handle, const char *symbol))(void)
{
    return g_real->xDlSym(g_real, handle, symbol);
}
void xDlClose(sqlite3_vfs *, void *handle)
{
    g_real->xDlClose(g_real, handle);
}
int xRandomness(sqlite3_vfs *, int size, char *out)
{
    return g_real->xRandomness(g_real, size, out);
}
int xSleep(sqlite3_vfs *, int microseconds)
{
    return g_real->xSleep(g_real, microseconds);
}
int xCurrentTime(sqlite3_vfs *, double *now)
{
    return g_real->xCurrentTime(g_real, now);
}
int xGetLastError(sqlite3_vfs *, int size, char *out)
{
    return g_real->xGetLastError ? g_real->xGetLastError(g_real, size, out) : 0;
}

sqlite3_vfs g_vfs;

void registerOnce()
{
    if (g_real)
        return;
    g_real = sqlite3_vfs_find(nullptr);
    g_vfs = sqlite3_vfs{};
    g_vfs.iVersion = 1;
    g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
    g_vfs.mxPathname = g_real->mxPathname;
    g_vfs.zName = kName;
    g_vfs.xOpen = xOpen;
    g_vfs.xDelete = xDelete;
    g_vfs.xAccess = xAccess;
    g_vfs.xFullPathname = xFullPathname;
    g_vfs.xDlOpen = xDlOpen;
    g_vfs.xDlError = xDlError;
    g_vfs.xDlSym = xDlSym;
    g_vfs.xDlClose = xDlClose;
    g_vfs.xRandomness = xRandomness;
    g_vfs.xSleep = xSleep;
    g_vfs.xCurrentTime = xCurrentTime;
    g_vfs.xGetLastError = xGetLastError;
    sqlite3_vfs_register(&g_vfs, 0);
}

} // namespace

void arm(const Plan &plan)
{
    registerOnce();
    g_plan = plan;
    g_writes = 0;
    g_syncs = 0;
    g_struck = false;
    g_onRelease = {};
}

void disarm()
{
    arm(Plan());
}

bool struck()
{
    return g_struck;
}

void onNextRelease(std::function<void()> hook)
{
    registerOnce();
    g_onRelease = std::move(hook);
}

} // namespace faulty
