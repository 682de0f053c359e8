#pragma once

#include "regtool/RegFile.h"

#include <QByteArray>

#include <optional>

namespace regtool {

struct RegParseResult
{
    RegFile file;
    std::optional<RegError> error; // set: the file is refused whole, `file` means nothing
};

// Reads a registry file in either form and either encoding (UTF-16LE with its byte-order mark,
// or 8-bit), lines ended by CRLF or LF. Only keys under HKEY_LOCAL_MACHINE are taken. The first
// fault refuses the whole file.
RegParseResult parseRegFile(const QByteArray &bytes);

} // namespace regtool
