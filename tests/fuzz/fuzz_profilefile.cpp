// The language file reader on arbitrary bytes: no crash, and lookups agree with the listing.
#include "platform/ProfileFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto file = platform::ProfileFile::fromBytes(
        QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    for (const QByteArray &section : file.sectionNames()) {
        file.readString(section, "Add", "default");
        file.readString(section.toUpper(), "MAILACCOUNTS", QByteArray());
    }
    file.readString("English", "Add", "Add");
    return 0;
}
