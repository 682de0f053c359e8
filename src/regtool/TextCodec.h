#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace regtool {

// The store keeps text 8-bit in the system's encoding: UTF-8 on Linux, the ANSI code page on
// Windows. Unicode registry files carry UTF-16LE. These convert between the two without loss or
// refuse.

// Whether the bytes are text in the store's encoding that converts to UTF-16 and back unchanged.
bool isStoreText(QByteArrayView text);

// Nothing when the bytes are not such text.
std::optional<QByteArray> storeTextToUtf16le(const QByteArray &text);

// The same for text already checked with isStoreText, without checking it again.
QByteArray checkedStoreTextToUtf16le(const QByteArray &text);

// Text in the Windows ANSI code page (Windows-1252), which REGEDIT4 files from Windows are
// written in, as store text. On Windows that code page is the store's encoding already.
QByteArray ansiToStoreText(const QByteArray &text);

// Nothing for an odd number of bytes, a surrogate without its partner, or a character the
// store's encoding cannot hold.
std::optional<QByteArray> utf16leToStoreText(const QByteArray &data);

} // namespace regtool
