#include "mail/Wildcard.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <vector>

namespace mail {

namespace {

constexpr QChar kStar = u'*';
constexpr QChar kAny = u'?';
// Stands for "?" among the code points of a piece; no code point is this large.
constexpr char32_t kAnyCodePoint = 0xFFFFFFFF;

struct CodePoint
{
    char32_t value;
    qsizetype length; // in UTF-16 units
};

// A lone surrogate counts as a code point of its own, so it never matches half of a pair.
CodePoint codePointAt(QStringView text, qsizetype at)
{
    const QChar c = text[at];
    if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return {QChar::surrogateToUcs4(c, text[at + 1]), 2};
    return {c.unicode(), 1};
}

// The code points of the pattern between two stars, "?" as kAnyCodePoint.
using Piece = std::vector<char32_t>;

std::vector<Piece> splitAtStars(QStringView pattern)
{
    std::vector<Piece> pieces(1);
    for (qsizetype i = 0; i < pattern.size();) {
        if (pattern[i] == kStar) {
            pieces.emplace_back();
            ++i;
        } else if (pattern[i] == kAny) {
            pieces.back().push_back(kAnyCodePoint);
            ++i;
        } else {
            const CodePoint c = codePointAt(pattern, i);
            pieces.back().push_back(c.value);
            i += c.length;
        }
    }
    return pieces;
}

// Where the piece ends when it matches at `at`, or -1.
qsizetype matchPieceAt(QStringView text, qsizetype at, const Piece &piece)
{
    qsizetype t = at;
    for (const char32_t wanted : piece) {
        if (t >= text.size())
            return -1;
        const CodePoint c = codePointAt(text, t);
        if (wanted != kAnyCodePoint && wanted != c.value)
            return -1;
        t += c.length;
    }
    return t;
}

// Where the last `count` code points of the text begin, or -1 when it has fewer.
qsizetype startOfLast(QStringView text, qsizetype count)
{
    qsizetype t = text.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (t == 0)
            return -1;
        t -= (t >= 2 && text[t - 1].isLowSurrogate() && text[t - 2].isHighSurrogate()) ? 2 : 1;
    }
    return t;
}

// Finds the leftmost match of a piece by shift-and over code points: bit j of the state is set
// when the piece's first j + 1 code points match the text just read. One pass over the text
// whatever the piece, so "a?a?a?b" against "aaaa..." costs no more than a plain word.
class PieceSearcher
{
public:
    explicit PieceSearcher(const Piece &piece)
        : m_words((qsizetype(piece.size()) + 63) / 64)
        , m_lastBit(quint64(1) << ((piece.size() - 1) % 64))
    {
        for (const char32_t c : piece) {
            if (c != kAnyCodePoint)
                m_codes.push_back(c);
        }
        std::sort(m_codes.begin(), m_codes.end());
        m_codes.erase(std::unique(m_codes.begin(), m_codes.end()), m_codes.end());

        // Row 0 is for code points that are not in the piece: only "?" takes them.
        m_masks.assign((m_codes.size() + 1) * m_words, 0);
        for (size_t j = 0; j < piece.size(); ++j) {
            const quint64 bit = quint64(1) << (j % 64);
            if (piece[j] == kAnyCodePoint) {
                for (size_t row = 0; row <= m_codes.size(); ++row)
                    m_masks[row * m_words + j / 64] |= bit;
            } else {
                m_masks[rowOf(piece[j]) * m_words + j / 64] |= bit;
            }
        }
        m_latin1Rows.fill(0);
        for (size_t i = 0; i < m_codes.size() && m_codes[i] < m_latin1Rows.size(); ++i)
            m_latin1Rows[m_codes[i]] = quint32(i + 1);

        // With nothing partly matched, the next match can only begin where its first code point
        // is, and indexOf finds that much faster than reading code point by code point.
        const char32_t first = piece.front();
        if (first != kAnyCodePoint && (first > 0xFFFF || !QChar::isSurrogate(first)))
            m_first = QString::fromUcs4(&first, 1);
    }

    // The end of the leftmost match that begins at or after `from`, or -1.
    qsizetype findEnd(QStringView text, qsizetype from) const
    {
        std::vector<quint64> state(m_words, 0);
        const qsizetype lastWord = m_words - 1;
        bool idle = true;
        for (qsizetype t = from; t < text.size();) {
            if (idle && !m_first.isEmpty()) {
                t = text.indexOf(m_first, t);
                if (t < 0)
                    return -1;
            }
            const CodePoint c = codePointAt(text, t);
            const quint64 *mask = m_masks.data() + row(c.value) * m_words;
            quint64 carry = 1; // a match may begin at every code point
            quint64 any = 0;
            for (qsizetype w = 0; w < m_words; ++w) {
                const quint64 next = ((state[w] << 1) | carry) & mask[w];
                carry = state[w] >> 63;
                state[w] = next;
                any |= next;
            }
            t += c.length;
            if (state[lastWord] & m_lastBit)
                return t;
            idle = any == 0;
        }
        return -1;
    }

private:
    size_t rowOf(char32_t c) const
    {
        const auto found = std::lower_bound(m_codes.begin(), m_codes.end(), c);
        return found != m_codes.end() && *found == c ? size_t(found - m_codes.begin()) + 1 : 0;
    }
    size_t row(char32_t c) const { return c < m_latin1Rows.size() ? m_latin1Rows[c] : rowOf(c); }

    qsizetype m_words;
    quint64 m_lastBit;
    std::vector<char32_t> m_codes; // the piece's distinct code points, sorted; row = index + 1
    std::vector<quint64> m_masks;  // per row, the piece positions that take its code point
    std::array<quint32, 256> m_latin1Rows;
    QString m_first;
};

// The end of the leftmost match of the piece at or after `from`, or -1. Pieces match a fixed
// number of code points, so the leftmost match also ends first and leaves the most text to
// the pieces after it.
qsizetype findPieceEnd(QStringView text, qsizetype from, const Piece &piece)
{
    if (std::all_of(piece.begin(), piece.end(), [](char32_t c) { return c == kAnyCodePoint; }))
        return matchPieceAt(text, from, piece);
    return PieceSearcher(piece).findEnd(text, from);
}

bool matches(QStringView text, QStringView pattern, bool anchoredStart, bool anchoredEnd)
{
    const std::vector<Piece> pieces = splitAtStars(pattern);
    if (pieces.size() == 1 && anchoredStart && anchoredEnd)
        return matchPieceAt(text, 0, pieces.front()) == text.size();

    qsizetype position = 0;
    size_t first = 0;
    if (anchoredStart) {
        position = matchPieceAt(text, 0, pieces.front());
        if (position < 0)
            return false;
        first = 1;
    }
    const size_t last = anchoredEnd ? pieces.size() - 1 : pieces.size();
    for (size_t i = first; i < last; ++i) {
        position = findPieceEnd(text, position, pieces[i]);
        if (position < 0)
            return false;
    }
    if (!anchoredEnd)
        return true;
    // The last piece ends with the text, so where it starts is fixed; it may not reach back
    // into what the pieces before it took.
    const qsizetype start = startOfLast(text, qsizetype(pieces.back().size()));
    return start >= position && matchPieceAt(text, start, pieces.back()) == text.size();
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
