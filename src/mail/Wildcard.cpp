#include "mail/Wildcard.h"

#include "mail/MatchText.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace mail {

namespace {

constexpr QChar kStar = u'*';
constexpr QChar kAny = u'?';
// Stands for "?" among the code points of a piece; no code point is this large.
constexpr char32_t kAnyCodePoint = 0xFFFFFFFF;

// Rows of the masks: code points the piece does not name (marks apart), then each it names.
constexpr size_t kOtherRow = 0;
constexpr size_t kOtherMarkRow = 1;
constexpr size_t kFirstCodeRow = 2;

bool isMark(char32_t c)
{
    if (c < 0x300)
        return false;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
           || category == QChar::Mark_Enclosing;
}

// The run of a pattern between two stars, found by shift-and over code points: a bit of the
// state is set when the piece up to that bit matches the text just read. One pass over the
// text whatever the piece, so "a?a?a?b" against "aaaa..." costs no more than a plain word.
//
// A literal takes one bit. A "?" takes two: the second is reached from the bit before the "?"
// by one code point that is not a mark, then stays set over the marks that follow it (a letter
// and its accents are one character); the first is half of "ss", which is what "ß" folds to.
class Piece
{
public:
    explicit Piece(const std::vector<char32_t> &elements);

    bool isEmpty() const { return m_bits == 0; }

    // The end of the earliest-ending match that begins at `from`, or anywhere after it unless
    // `onlyAtFrom`; -1 when there is none. Ending first leaves the most text to the pieces after.
    qsizetype earliestEnd(QStringView text, qsizetype from, bool onlyAtFrom) const;
    // Whether a match that begins there ends with the text.
    bool reachesEnd(QStringView text, qsizetype from, bool onlyAtFrom) const;

private:
    // Reads one code point; false when nothing is partly matched any more.
    bool step(std::vector<quint64> &state, char32_t c, bool mayStart) const;
    bool matched(const std::vector<quint64> &state) const
    {
        return (state[size_t(m_words) - 1] >> ((m_bits - 1) % 64)) & 1;
    }
    size_t rowOf(char32_t c) const
    {
        const auto found = std::lower_bound(m_codes.begin(), m_codes.end(), c);
        if (found != m_codes.end() && *found == c)
            return size_t(found - m_codes.begin()) + kFirstCodeRow;
        return isMark(c) ? kOtherMarkRow : kOtherRow;
    }
    size_t row(char32_t c) const { return c < m_latin1Rows.size() ? m_latin1Rows[c] : rowOf(c); }

    qsizetype m_bits = 0;
    qsizetype m_words = 0;
    bool m_anyWildcard = false;
    std::vector<char32_t> m_codes;  // the piece's distinct code points, sorted
    std::vector<quint64> m_byOne;   // per row, the bits it enters from the bit before
    std::vector<quint64> m_byTwo;   // per row, the bits it enters from two bits before
    std::vector<quint64> m_staying; // per row, the bits that stay set when it is read
    std::array<quint32, 256> m_latin1Rows{};
    QString m_first; // the code point every match begins with, when the piece has one
};

Piece::Piece(const std::vector<char32_t> &elements)
{
    for (const char32_t c : elements) {
        if (c == kAnyCodePoint) {
            m_bits += 2;
            m_anyWildcard = true;
        } else {
            ++m_bits;
            m_codes.push_back(c);
        }
    }
    if (m_bits == 0)
        return;
    if (m_anyWildcard)
        m_codes.push_back(U's');
    std::sort(m_codes.begin(), m_codes.end());
    m_codes.erase(std::unique(m_codes.begin(), m_codes.end()), m_codes.end());

    m_words = (m_bits + 63) / 64;
    const size_t rows = kFirstCodeRow + m_codes.size();
    m_byOne.assign(rows * size_t(m_words), 0);
    m_byTwo.assign(rows * size_t(m_words), 0);
    m_staying.assign(rows * size_t(m_words), 0);
    const auto set = [this](std::vector<quint64> &masks, size_t row, qsizetype bit) {
        masks[row * size_t(m_words) + size_t(bit / 64)] |= quint64(1) << (bit % 64);
    };
    qsizetype bit = 0;
    for (const char32_t c : elements) {
        if (c != kAnyCodePoint) {
            set(m_byOne, rowOf(c), bit++);
            continue;
        }
        const qsizetype half = bit;
        const qsizetype whole = bit + 1;
        set(m_byOne, rowOf(U's'), half);
        set(m_byOne, rowOf(U's'), whole);
        for (size_t row = 0; row < rows; ++row) {
            const bool mark = row == kOtherMarkRow
                              || (row >= kFirstCodeRow && isMark(m_codes[row - kFirstCodeRow]));
            set(mark ? m_staying : m_byTwo, row, whole);
        }
        bit += 2;
    }
    for (size_t i = 0; i < m_codes.size() && m_codes[i] < m_latin1Rows.size(); ++i)
        m_latin1Rows[m_codes[i]] = quint32(i + kFirstCodeRow);

    // With nothing partly matched, the next match can only begin where its first code point
    // is, and indexOf finds that much faster than reading code point by code point.
    const char32_t first = elements.front();
    if (first != kAnyCodePoint && (first > 0xFFFF || !QChar::isSurrogate(first)))
        m_first = QString::fromUcs4(&first, 1);
}

bool Piece::step(std::vector<quint64> &state, char32_t c, bool mayStart) const
{
    const size_t base = row(c) * size_t(m_words);
    // A match may begin here: as if the bits before the first were set.
    quint64 carryOne = mayStart ? 1 : 0;
    quint64 any = 0;
    if (!m_anyWildcard) {
        for (size_t w = 0; w < size_t(m_words); ++w) {
            const quint64 old = state[w];
            state[w] = ((old << 1) | carryOne) & m_byOne[base + w];
            carryOne = old >> 63;
            any |= state[w];
        }
        return any != 0;
    }
    quint64 carryTwo = mayStart ? 2 : 0;
    for (size_t w = 0; w < size_t(m_words); ++w) {
        const quint64 old = state[w];
        const quint64 next = (((old << 1) | carryOne) & m_byOne[base + w])
                             | (((old << 2) | carryTwo) & m_byTwo[base + w])
                             | (old & m_staying[base + w]);
        carryOne = old >> 63;
        carryTwo = old >> 62;
        state[w] = next;
        any |= next;
    }
    return any != 0;
}

qsizetype Piece::earliestEnd(QStringView text, qsizetype from, bool onlyAtFrom) const
{
    std::vector<quint64> state(size_t(m_words), 0);
    bool idle = true;
    for (qsizetype t = from; t < text.size();) {
        if (idle && onlyAtFrom && t != from)
            return -1;
        if (idle && !onlyAtFrom && !m_first.isEmpty()) {
            t = text.indexOf(m_first, t);
            if (t < 0)
                return -1;
        }
        const CodePoint c = codePointAt(text, t);
        idle = !step(state, c.value, !onlyAtFrom || t == from);
        t += c.length;
        if (matched(state))
            return t;
    }
    return -1;
}

bool Piece::reachesEnd(QStringView text, qsizetype from, bool onlyAtFrom) const
{
    if (!onlyAtFrom) {
        // A literal takes one character, a "?" at most two that are not marks: a match that
        // ends with the text begins no further back than that, so the rest need not be read.
        qsizetype start = text.size();
        for (qsizetype taken = 0; start > from && taken <= m_bits;) {
            start -= (start >= 2 && text[start - 1].isLowSurrogate()
                      && text[start - 2].isHighSurrogate())
                         ? 2
                         : 1;
            if (!isMark(codePointAt(text, start).value))
                ++taken;
        }
        from = std::max(from, start);
    }
    std::vector<quint64> state(size_t(m_words), 0);
    bool idle = true;
    for (qsizetype t = from; t < text.size();) {
        if (idle && onlyAtFrom && t != from)
            return false;
        if (idle && !onlyAtFrom && !m_first.isEmpty()) {
            t = text.indexOf(m_first, t);
            if (t < 0)
                return false;
        }
        const CodePoint c = codePointAt(text, t);
        idle = !step(state, c.value, !onlyAtFrom || t == from);
        t += c.length;
    }
    return matched(state);
}

} // namespace

class WildcardPattern::Compiled
{
public:
    std::vector<Piece> pieces; // split at the stars; the first and the last may be empty

    bool matches(QStringView text, bool whole) const
    {
        qsizetype position = 0;
        size_t first = 0;
        size_t last = pieces.size();
        if (whole) {
            if (pieces.size() == 1)
                return pieces.front().isEmpty() ? text.isEmpty()
                                                : pieces.front().reachesEnd(text, 0, true);
            if (!pieces.front().isEmpty()) {
                position = pieces.front().earliestEnd(text, 0, true);
                if (position < 0)
                    return false;
            }
            first = 1;
            --last;
        }
        for (size_t i = first; i < last; ++i) {
            if (pieces[i].isEmpty())
                continue;
            position = pieces[i].earliestEnd(text, position, false);
            if (position < 0)
                return false;
        }
        return !whole || pieces.back().isEmpty() || pieces.back().reachesEnd(text, position, false);
    }
};

WildcardPattern::WildcardPattern(QStringView pattern)
{
    auto compiled = std::make_shared<Compiled>();
    std::vector<char32_t> elements;
    QString literal;
    // The text between wildcards is folded as the text it is matched against; a "?" or "*"
    // that folding makes (from a full-width one) stands for itself.
    const auto takeLiteral = [&] {
        const QString folded = foldedForMatching(std::exchange(literal, QString()), Blanks::Keep);
        for (qsizetype i = 0; i < folded.size();) {
            const CodePoint c = codePointAt(folded, i);
            elements.push_back(c.value);
            i += c.length;
        }
    };
    for (const QChar c : pattern) {
        if (c == kStar || c == kAny) {
            takeLiteral();
            if (c == kAny) {
                elements.push_back(kAnyCodePoint);
            } else {
                compiled->pieces.emplace_back(elements);
                elements.clear();
            }
        } else {
            literal.append(c);
        }
    }
    takeLiteral();
    compiled->pieces.emplace_back(elements);
    m_compiled = std::move(compiled);
}

bool WildcardPattern::matchesWhole(QStringView folded) const
{
    return m_compiled->matches(folded, true);
}

bool WildcardPattern::matchesPart(QStringView folded) const
{
    return m_compiled->matches(folded, false);
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
