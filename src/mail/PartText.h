#pragma once

#include <QString>

#include <gmime/gmime.h>
#include <optional>

namespace mail {

// The decoded text of a text part in its declared charset (undeclared or doubtful 8-bit text
// as UTF-8 when it is valid, else a legacy charset), or nothing when its data cannot be read.
// With `encodedLength` given, only that many bytes of the encoded data are read.
// Called with GMime's lock held.
std::optional<QString> partText(GMimePart *part, qint64 encodedLength = -1);

} // namespace mail
