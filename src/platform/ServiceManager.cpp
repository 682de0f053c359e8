#include "platform/ServiceManager.h"

namespace platform {

namespace {

constexpr qsizetype kRecordBytes = 36;

} // namespace

QList<ServiceEntry> entriesThatFit(const QList<ServiceEntry> &entries, qsizetype bufferBytes)
{
    QList<ServiceEntry> fitting;
    qsizetype used = 0;
    for (const ServiceEntry &entry : entries) {
        used += kRecordBytes + entry.name.size() + 1 + entry.displayName.size() + 1;
        if (used > bufferBytes)
            break;
        fitting.append(entry);
    }
    return fitting;
}

} // namespace platform
