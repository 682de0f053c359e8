#include "mail/Wildcard.h"

#include <QList>

namespace mail {

namespace {

constexpr QChar kStar = u'*';
constexpr QChar kAny = u'?';

qsizetype codePointLength(QStringView text, qsizetype at)
{
    return (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
               ? 2
               : 1;
}

// Where a star-free piece of pattern matching at `at` ends, or -1.
qsizetype matchPieceAt(QStringView text, qsizetype at, QStringView piece)
{
    qsizetype t = at;
    for (qsizetype p = 0; p < piece.size();) {
        if (t >= text.size())
            return -1;
        if (piece[p] == kAny) {
            t += codePointLength(text, t);
            ++p;
            continue;
        }
        const qsizetype length = codePointLength(piece, p);
        if (text.mid(t, length) != piece.mid(p, length))
            return -1;
        t += length;
        p += length;
    }
    return t;
}

// The leftmost place at or after `from` where the piece matches: {start, end} or {-1, -1}.
std::pair<qsizetype, qsizetype> findPiece(QStringView text, qsizetype from, QStringView piece)
{
    if (!piece.contains(kAny)) {
        const qsizetype start = text.indexOf(piece, from);
        return start < 0 ? std::pair<qsizetype, qsizetype>{-1, -1}
                         : std::pair<qsizetype, qsizetype>{start, start + piece.size()};
    }
    for (qsizetype start = from; start <= text.size();) {
        const qsizetype end = matchPieceAt(text, start, piece);
        if (end >= 0)
            return {start, end};
        if (start == text.size())
            break;
        start += codePointLength(text, start);
    }
    return {-1, -1};
}

// Pieces of a pattern between its stars are matched leftmost, one after the other: with
// pieces of fixed length that is as good as any other choice, and linear in their number.
bool matches(QStringView text, QStringView pattern, bool anchoredStart, bool anchoredEnd)
{
    QList<QStringView> pieces;
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= pattern.size(); ++i) {
        if (i == pattern.size() || pattern[i] == kStar) {
            pieces.append(pattern.mid(begin, i - begin));
            begin = i + 1;
        }
    }
    if (pieces.size() == 1 && anchoredStart && anchoredEnd)
        return matchPieceAt(text, 0, pieces.first()) == text.size();

    qsizetype position = 0;
    qsizetype first = 0;
    if (anchoredStart) {
        position = matchPieceAt(text, 0, pieces.first());
        if (position < 0)
            return false;
        first = 1;
    }
    const qsizetype last = anchoredEnd ? pieces.size() - 1 : pieces.size();
    for (qsizetype i = first; i < last; ++i) {
        const auto [start, end] = findPiece(text, position, pieces[i]);
        if (start < 0)
            return false;
        position = end;
    }
    if (!anchoredEnd)
        return true;
    // The last piece must end exactly where the text ends.
    const QStringView tail = pieces.last();
    for (qsizetype start = position; start <= text.size();) {
        if (matchPieceAt(text, start, tail) == text.size())
            return true;
        if (start == text.size())
            break;
        start += codePointLength(text, start);
    }
    return false;
}

} // namespace

bool wildcardMatchesWhole(QStringView text, QStringView pattern)
{
    return matches(text, pattern, true, true);
}

bool wildcardMatchesPart(QStringView text, QStringView pattern)
{
    return matches(text, pattern, false, false);
}

bool hasLetterOrDigit(QStringView pattern)
{
    for (const char32_t c : pattern.toUcs4()) {
        if (QChar::isLetter(c) || QChar::isDigit(c))
            return true;
    }
    return false;
}

} // namespace mail
