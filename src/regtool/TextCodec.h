#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace regtool {

// The store keeps text 8-bit in the system's encoding, which is UTF-8 here; Unicode registry
// files carry UTF-16LE. These convert between the two without loss or refuse.

// Whether the bytes are UTF-8 that converts to UTF-16 and back unchanged.
bool isUtf8(QByteArrayView text);

// Nothing when the text is not UTF-8.
std::optional<QByteArray> utf8ToUtf16le(const QByteArray &text);

// The same for text already checked with isUtf8, without checking it again.
QByteArray checkedUtf8ToUtf16le(const QByteArray &text);

// Nothing for an odd number of bytes or a surrogate without its partner.
std::optional<QByteArray> utf16leToUtf8(const QByteArray &data);

} // namespace regtool
