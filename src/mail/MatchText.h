#pragma once

#include <QString>
#include <QStringView>

namespace mail {

struct CodePoint
{
    char32_t value;
    qsizetype length; // in UTF-16 units
};

// The code point at `at`. A lone surrogate counts as a code point of its own, so it never
// matches half of a pair.
inline CodePoint codePointAt(QStringView text, qsizetype at)
{
    const QChar c = text[at];
    if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return {QChar::surrogateToUcs4(c, text[at + 1]), 2};
    return {c.unicode(), 1};
}

// Code points that show nothing and hide nothing a person reads: the soft hyphen, zero-width
// spaces and joiners, bidi controls, variation selectors, the byte-order mark, tags. Unicode
// calls them default-ignorable.
bool isDefaultIgnorable(char32_t c);

// Text as a person reads it, for the log and the facts: ignorable code points removed.
QString withoutIgnorables(QString text);

// Runs of blanks become one blank, none at the ends.
QString collapseBlanks(QString text);

enum class Blanks
{
    Keep,
    Collapse,
};

// Text as the rules compare it: ignorable code points removed, NFKC (full-width letters,
// ligatures, composed accents), full case folding ("ß" and "SS" alike, dotted and dotless i
// alike), and with Blanks::Collapse runs of blanks made one. Patterns and the texts they are
// matched against both go through here. Done over the text itself where the result fits, as a
// message's text may be tens of megabytes.
QString foldedForMatching(QString text, Blanks blanks);

} // namespace mail
