#pragma once

#include <QByteArray>

namespace store {

// Registry names compare without regard to letter case. The folded form maps every character to
// its simple upper-case form; bytes that are not UTF-8 fold only their ASCII letters.
QByteArray foldName(const QByteArray &name);

inline bool sameName(const QByteArray &a, const QByteArray &b)
{
    return foldName(a) == foldName(b);
}

} // namespace store
