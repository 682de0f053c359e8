#include "platform/VersionInfo.h"

#include <QByteArray>

#include <cstdio>
#include <windows.h>

namespace platform {

QString companyName()
{
    char program[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(program, &ignored);
    if (size == 0)
        return {};
    QByteArray info(qsizetype(size), '\0');
    if (!GetFileVersionInfoA(program, 0, size, info.data()))
        return {};
    // The strings of the resource's first translation: language and code page.
    struct Translation
    {
        WORD language;
        WORD codePage;
    };
    void *found = nullptr;
    UINT foundLength = 0;
    if (!VerQueryValueA(info.constData(), "\\VarFileInfo\\Translation", &found, &foundLength)
        || foundLength < sizeof(Translation))
        return {};
    const auto *first = static_cast<const Translation *>(found);
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\CompanyName",
                  unsigned(first->language), unsigned(first->codePage));
    if (!VerQueryValueA(info.constData(), query, &found, &foundLength) || foundLength == 0)
        return {};
    return QString::fromLocal8Bit(static_cast<const char *>(found));
}

} // namespace platform
