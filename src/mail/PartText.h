#pragma once

#include <QString>

#include <gmime/gmime.h>
#include <optional>

namespace mail {

// The decoded text of a text part in its declared charset (undeclared or doubtful 8-bit text
// as UTF-8 when it is valid, else a legacy charset), or nothing when its data cannot be read.
// Called with GMime's lock held.
std::optional<QString> partText(GMimePart *part);

} // namespace mail
