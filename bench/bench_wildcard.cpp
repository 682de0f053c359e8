// Wildcard patterns against a large message body, the worst ones we know of, each next to a
// plain substring search (QStringView::indexOf) of the same text. Optional argument: megabytes.
#include "BenchSupport.h"
#include "mail/MatchText.h"
#include "mail/Wildcard.h"

#include <QList>
#include <QString>

#include <cstdlib>
#include <utility>

namespace {

volatile bool sink;

QString repeated(QStringView unit, qsizetype units)
{
    QString text;
    text.reserve(units + unit.size());
    while (text.size() < units)
        text.append(unit);
    return text;
}

// Every code point from `first` on, `count` of them, in turn.
QString run(char32_t first, int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text.append(QChar(char16_t(first + i)));
    return text;
}

QString times(QStringView piece, int count)
{
    return repeated(piece, piece.size() * count);
}

struct Case
{
    const char *what;
    QString text;
    QString pattern;
    bool whole = false;
};

} // namespace

int main(int argc, char **argv)
{
    const qsizetype megabytes = argc > 1 ? std::atoi(argv[1]) : 20;
    const qsizetype units = megabytes << 20;
    const QString as = repeated(u"a", units);
    const QString emoji = repeated(u"\U0001F600", units);
    const QString cyrillic = repeated(u"\u0436", units);
    const QString chinese = repeated(run(0x4E00, 256), units);
    QString manyCodes = QStringLiteral("?");
    for (const QChar c : run(0x4E00, 126))
        manyCodes += c + QStringLiteral("?");
    manyCodes += QChar(0x9FA5);
    const QString prose = repeated(u"Dear customer, your parcel could not be delivered today. "
                                   u"Please confirm the address at our office. \u0106ao! ",
                                   units);

    const QList<Case> cases = {
        {"a?a?...b, text aaa...", as, times(u"a?", 127) + u'b'},
        {"a x128 ? a x125 b (four words), text aaa...", as,
         times(u"a", 128) + u'?' + times(u"a", 125) + u'b'},
        {"? x254 b, text aaa...", as, times(u"?", 254) + u'b'},
        {"b a x254 (literal), text aaa...", as, u'b' + times(u"a", 254)},
        {"a x254 b (literal), text aaa...", as, times(u"a", 254) + u'b'},
        {"a?b* x64 pieces, text aaa...", as, times(u"a?b*", 63) + QString::fromUtf16(u"a?b")},
        {"whole: a*?a?a...b, text aaa...", as, QString::fromUtf16(u"a*") + times(u"?a", 126) + u'b',
         true},
        {"emoji ? emoji ?...x, text of emoji", emoji, times(u"\U0001F600?", 84) + u'x'},
        {"zh?zh?...ya, Cyrillic text", cyrillic,
         times(u"\u0436?", 127) + QString::fromUtf16(u"\u044f")},
        {"? then 126 different Han characters and ?, Han text", chinese, manyCodes},
        {"cheap p?lls, prose", prose, QStringLiteral("cheap p?lls")},
        {"cheap pills (literal), prose", prose, QStringLiteral("cheap pills")},
    };

    std::printf("Wildcard match against %lld Mi characters (median of 3; ratio = wildcard / "
                "indexOf)\n",
                static_cast<long long>(megabytes));
    for (const Case &c : cases) {
        const mail::WildcardPattern pattern(c.pattern);
        const QString text = mail::foldedForMatching(c.text, mail::Blanks::Keep);
        const double ours = medianMicroseconds(
            3, [&] { sink = c.whole ? pattern.matchesWhole(text) : pattern.matchesPart(text); });
        // The baseline reads the same text looking for a word that is not in it.
        const double plain = medianMicroseconds(
            3, [&] { sink = QStringView(c.text).indexOf(u"cheap pills now") >= 0; });
        char what[96];
        std::snprintf(what, sizeof what, "%s (%lld)", c.what,
                      static_cast<long long>(c.pattern.size()));
        printComparison(what, ours / 1000.0, "QStringView::indexOf", plain / 1000.0, "ms");
    }

    // A message's text is folded once as it is read; the yardstick is Qt's simple folding.
    std::printf("\nText folded as the rules compare it (NFKC, full folding, blanks collapsed)\n");
    const QString german =
        repeated(u"Die Stra\u00dfe ist gro\u00df, GR\u00dcSSE aus K\u00f6ln.\r\n", units);
    const std::pair<const char *, const QString *> texts[] = {
        {"English prose", &prose}, {"German prose with sharp s", &german},
        {"Cyrillic", &cyrillic},   {"Han", &chinese},
        {"emoji", &emoji},
    };
    for (const auto &entry : texts) {
        const QString *text = entry.second;
        const double ours = medianMicroseconds(
            3, [&] { sink = mail::foldedForMatching(*text, mail::Blanks::Collapse).isEmpty(); });
        const double plain = medianMicroseconds(3, [&] { sink = text->toCaseFolded().isEmpty(); });
        printComparison(entry.first, ours / 1000.0, "QString::toCaseFolded", plain / 1000.0, "ms");
    }
    return 0;
}
