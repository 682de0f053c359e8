#pragma once

#include <QByteArray>

namespace mail {

// GMime builds an object tree for a message, about two kilobytes a part: 100,000 parts of a few
// bytes each would take hundreds of megabytes. No real mail comes near this many.
constexpr qsizetype kMaxParts = 2000;

// A character allowed in a MIME token (a field name, a type, a parameter).
bool isTokenChar(char c);

// Drops, in place, the fields of a message's own header that reading it does not need.
void dropFieldsNotRead(QByteArray &message);

// Whether a message has more than kMaxParts parts, counted without parsing it.
bool hasTooManyParts(const QByteArray &message);

} // namespace mail
