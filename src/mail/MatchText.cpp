#include "mail/MatchText.h"

#include <QStringView>

#include <algorithm>
#include <array>

namespace mail {

namespace {

struct Range
{
    char32_t first;
    char32_t last;
};

// Default_Ignorable_Code_Point of Unicode's DerivedCoreProperties.txt, in order.
constexpr std::array<Range, 17> kIgnorable{{
    {0x00AD, 0x00AD},
    {0x034F, 0x034F},
    {0x061C, 0x061C},
    {0x115F, 0x1160},
    {0x17B4, 0x17B5},
    {0x180B, 0x180F},
    {0x200B, 0x200F},
    {0x202A, 0x202E},
    {0x2060, 0x206F},
    {0x3164, 0x3164},
    {0xFE00, 0xFE0F},
    {0xFEFF, 0xFEFF},
    {0xFFA0, 0xFFA0},
    {0xFFF0, 0xFFF8},
    {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A},
    {0xE0000, 0xE0FFF},
}};

// The longest run of non-ASCII text normalised at once, so that a text in a script without
// ASCII blanks is not copied whole.
constexpr qsizetype kMaxRun = 16 * 1024;

bool isBlank(QChar c)
{
    // Outside U+2000..U+3000 only a few code points are blanks; asking Qt costs a call.
    const char16_t u = c.unicode();
    if (u >= 0x80 && u != 0x85 && u != 0xA0 && u != 0x1680 && (u < 0x2000 || u > 0x3000))
        return false;
    return c.isSpace();
}

// Whether normalisation may join the code point at `at` to the one before it: a combining
// mark, a Hangul vowel or final consonant, a half-width voicing mark. Text is only cut before
// a code point that starts afresh.
bool startsAfresh(QStringView text, qsizetype at)
{
    if (text[at].isLowSurrogate())
        return false;
    const char32_t c = codePointAt(text, at).value;
    if ((c >= 0x1100 && c <= 0x11FF) || (c >= 0xA960 && c <= 0xA97F) || (c >= 0xD7B0 && c <= 0xD7FF)
        || c == 0xFF9E || c == 0xFF9F)
        return false;
    const QChar::Category category = QChar::category(c);
    return category != QChar::Mark_NonSpacing && category != QChar::Mark_SpacingCombining
           && category != QChar::Mark_Enclosing;
}

// Appends the text without its ignorable code points.
void appendReadable(QStringView text, QString &out)
{
    qsizetype done = 0;
    for (qsizetype i = 0; i < text.size();) {
        const CodePoint c = codePointAt(text, i);
        if (isDefaultIgnorable(c.value)) {
            out.append(text.sliced(done, i - done));
            done = i + c.length;
        }
        i += c.length;
    }
    out.append(text.sliced(done));
}

void appendCodePoint(QString &out, char32_t c)
{
    if (QChar::requiresSurrogates(c)) {
        out.append(QChar(QChar::highSurrogate(c)));
        out.append(QChar(QChar::lowSurrogate(c)));
    } else {
        out.append(QChar(char16_t(c)));
    }
}

// Full case folding of NFKC text. Qt's own folding is the simple one; the foldings into more
// than one character that survive NFKC are done here. The dotted and the dotless i are one
// letter: a Turkish "KIZ" and "kız" read alike, and "vıagra" is read as it is meant.
// Returns whether anything changed.
bool appendFolded(QStringView text, QString &out)
{
    bool changed = false;
    for (qsizetype i = 0; i < text.size();) {
        const CodePoint c = codePointAt(text, i);
        i += c.length;
        switch (c.value) {
        case 0x00DF: // ß
        case 0x1E9E: // ẞ
            out.append(QLatin1StringView("ss"));
            changed = true;
            continue;
        case 0x0130: // İ
        case 0x0131: // ı
            out.append(u'i');
            changed = true;
            continue;
        case 0x0307: // a dot above on a letter that has its own adds nothing
            if (out.endsWith(u'i') || out.endsWith(u'j')) {
                changed = true;
                continue;
            }
            break;
        default:
            break;
        }
        // Greek letters with the iota subscript fold to the letter and an iota.
        if (c.value >= 0x1F80 && c.value <= 0x1FFC) {
            const QString parts = QChar::decomposition(c.value);
            if (parts.contains(QChar(0x0345))) {
                appendFolded(parts, out);
                changed = true;
                continue;
            }
        }
        // Kana, Han and Hangul syllables have no case: no need to ask Qt about each.
        const bool caseless =
            (c.value >= 0x3040 && c.value <= 0x9FFF) || (c.value >= 0xAC00 && c.value <= 0xD7A3);
        const char32_t folded = caseless ? c.value : QChar::toCaseFolded(c.value);
        changed = changed || folded != c.value;
        appendCodePoint(out, folded);
    }
    return changed;
}

// Writes the result over the text it reads while it stays behind the reading, and into a
// string of its own from the first expansion that would overtake it.
class FoldWriter
{
public:
    FoldWriter(QString &text, Blanks blanks)
        : m_text(text)
        , m_chars(text.data())
        , m_collapse(blanks == Blanks::Collapse)
    {}

    // `unread` is where the text not yet read begins.
    void put(QChar c, qsizetype unread)
    {
        if (m_collapse && isBlank(c)) {
            m_pendingBlank = written() > 0;
            return;
        }
        if (m_pendingBlank) {
            m_pendingBlank = false;
            write(u' ', unread);
        }
        write(c, unread);
    }

    QString finish()
    {
        if (m_spilled)
            return std::move(m_spill);
        m_text.truncate(m_out);
        return std::move(m_text);
    }

private:
    qsizetype written() const { return m_spilled ? m_spill.size() : m_out; }

    void write(QChar c, qsizetype unread)
    {
        if (!m_spilled) {
            if (m_out < unread) {
                m_chars[m_out++] = c;
                return;
            }
            m_spill.reserve(m_text.size() + m_text.size() / 8 + 16);
            m_spill.append(m_chars, m_out);
            m_spilled = true;
        }
        m_spill.append(c);
    }

    QString &m_text;
    QChar *m_chars;
    const bool m_collapse;
    bool m_pendingBlank = false;
    qsizetype m_out = 0;
    bool m_spilled = false;
    QString m_spill;
};

} // namespace

bool isDefaultIgnorable(char32_t c)
{
    // Most text is in the long stretches between the ranges.
    if (c < 0x115F)
        return c == 0x00AD || c == 0x034F || c == 0x061C;
    if (c < 0x200B)
        return c <= 0x1160 || c == 0x17B4 || c == 0x17B5 || (c >= 0x180B && c <= 0x180F);
    if ((c > 0x206F && c < 0x3164) || (c > 0x3164 && c < 0xFE00))
        return false;
    const auto after =
        std::upper_bound(kIgnorable.begin(), kIgnorable.end(), c,
                         [](char32_t value, const Range &r) { return value < r.first; });
    return after != kIgnorable.begin() && c <= std::prev(after)->last;
}

QString withoutIgnorables(QString text)
{
    const bool any = std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() >= 0xAD && (c.isSurrogate() || isDefaultIgnorable(c.unicode()));
    });
    if (!any)
        return text;
    QString readable;
    readable.reserve(text.size());
    appendReadable(text, readable);
    return readable;
}

QString collapseBlanks(QString text)
{
    QChar *chars = text.data();
    qsizetype out = 0;
    bool pendingBlank = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = chars[i];
        if (isBlank(c)) {
            pendingBlank = out > 0;
            continue;
        }
        if (pendingBlank) {
            chars[out++] = u' ';
            pendingBlank = false;
        }
        chars[out++] = c;
    }
    text.truncate(out);
    return text;
}

QString foldedForMatching(QString text, Blanks blanks)
{
    FoldWriter out(text, blanks);
    const QStringView view(text);
    const qsizetype size = view.size();
    QString run;
    QString folded;
    for (qsizetype i = 0; i < size;) {
        const char16_t c = view[i].unicode();
        if (c < 0x80 && (i + 1 == size || view[i + 1].unicode() < 0x80)) {
            out.put(QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c), i + 1);
            ++i;
            continue;
        }
        // A run of non-ASCII text with the character before it, which an accent may join.
        // Nothing in it reaches across the ASCII character after it.
        qsizetype end = i + 1;
        while (end < size && view[end].unicode() >= 0x80
               && (end - i < kMaxRun || !startsAfresh(view, end)))
            ++end;
        run.truncate(0);
        appendReadable(view.sliced(i, end - i), run);
        folded.truncate(0);
        // Folding may leave a letter and a mark that NFKC writes as one: then once more.
        if (appendFolded(run.normalized(QString::NormalizationForm_KC), folded))
            folded = folded.normalized(QString::NormalizationForm_KC);
        for (const QChar f : std::as_const(folded))
            out.put(f, end);
        i = end;
    }
    return out.finish();
}

} // namespace mail
