// The registry file reader on arbitrary bytes: no crash or hang, and whatever it accepts the
// writer puts back into a file that reads to the same keys and values.
#include "regtool/RegParser.h"
#include "regtool/RegWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using regtool::RegOperation;

bool hasLineBreak(const QByteArray &text)
{
    return text.contains('\r') || text.contains('\n');
}

// Keys created and values set, without line numbers: what a file written back can repeat.
QList<RegOperation> writable(const QList<RegOperation> &operations)
{
    QList<RegOperation> result;
    for (RegOperation operation : operations) {
        if (operation.kind != RegOperation::Kind::CreateKey
            && operation.kind != RegOperation::Kind::SetValue)
            continue;
        operation.line = 0;
        result.append(operation);
    }
    return result;
}

void roundTrip(const QList<RegOperation> &expected, regtool::RegFormat format)
{
    regtool::RegWriter writer(format);
    for (const RegOperation &operation : expected) {
        const bool written = operation.kind == RegOperation::Kind::CreateKey
                                 ? writer.key(operation.keyPath)
                                 : writer.value(operation.name, operation.type, operation.data);
        if (!written) {
            // The 8-bit form refuses nothing but names with line breaks.
            if (format == regtool::RegFormat::Regedit4 && !hasLineBreak(operation.keyPath)
                && !hasLineBreak(operation.name))
                std::abort();
            return;
        }
    }
    const auto again = regtool::parseRegFile(writer.finish());
    if (again.error || writable(again.file.operations) != expected)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto parsed = regtool::parseRegFile(bytes);
    if (parsed.error) {
        if (parsed.error->line < 1 || parsed.error->reason.isEmpty())
            std::abort();
        return 0;
    }
    const auto expected = writable(parsed.file.operations);
    roundTrip(expected, regtool::RegFormat::Regedit4);
    roundTrip(expected, regtool::RegFormat::Version5);
    return 0;
}
