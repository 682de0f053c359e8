#include "mail/HtmlText.h"

#include <QHash>
#include <QStringList>

namespace mail {

namespace {

// The named references mail actually uses; an unknown name is left as written.
const QHash<QString, char32_t> &namedReferences()
{
    static const QHash<QString, char32_t> names = [] {
        QHash<QString, char32_t> table{
            {QStringLiteral("amp"), U'&'},       {QStringLiteral("lt"), U'<'},
            {QStringLiteral("gt"), U'>'},        {QStringLiteral("quot"), U'"'},
            {QStringLiteral("apos"), U'\''},     {QStringLiteral("nbsp"), U' '},
            {QStringLiteral("ndash"), U'–'},     {QStringLiteral("mdash"), U'—'},
            {QStringLiteral("lsquo"), U'‘'},     {QStringLiteral("rsquo"), U'’'},
            {QStringLiteral("ldquo"), U'“'},     {QStringLiteral("rdquo"), U'”'},
            {QStringLiteral("bdquo"), U'„'},     {QStringLiteral("sbquo"), U'‚'},
            {QStringLiteral("hellip"), U'…'},    {QStringLiteral("euro"), U'€'},
            {QStringLiteral("bull"), U'•'},      {QStringLiteral("trade"), U'™'},
            {QStringLiteral("zwnj"), U'\u200C'}, {QStringLiteral("zwj"), U'\u200D'},
            {QStringLiteral("shy"), U'\u00AD'},  {QStringLiteral("OElig"), U'Œ'},
            {QStringLiteral("oelig"), U'œ'},     {QStringLiteral("Scaron"), U'Š'},
            {QStringLiteral("scaron"), U'š'},    {QStringLiteral("Yuml"), U'Ÿ'},
            {QStringLiteral("dagger"), U'†'},    {QStringLiteral("permil"), U'‰'},
        };
        // Latin-1's named references, in code point order from U+00A1.
        static const char *const latin1[] = {
            "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
            "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",
            "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",
            "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
            "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave",
            "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",
            "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash",
            "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave",
            "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave",
            "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
            "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash",
            "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
        char32_t code = 0xA1;
        for (const char *name : latin1)
            table.insert(QString::fromLatin1(name), code++);
        return table;
    }();
    return names;
}

// The text is written over the markup it comes from: nothing read yields more than it took, so
// the writing never overtakes the reading, and a large part needs no second buffer.
struct TextWriter
{
    QChar *chars;
    qsizetype size = 0;

    void put(QChar c) { chars[size++] = c; }
    void putCodePoint(char32_t code)
    {
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            code = 0xFFFD;
        if (code == 0xA0)
            code = U' ';
        if (QChar::requiresSurrogates(code)) {
            put(QChar(QChar::highSurrogate(code)));
            put(QChar(QChar::lowSurrogate(code)));
        } else {
            put(QChar(char16_t(code)));
        }
    }
};

// Decodes the reference starting at `at` (the "&"); returns where the text goes on, or -1.
// The shortest reference that yields two UTF-16 units, "&#65536", is seven long.
qsizetype decodeReference(QStringView html, qsizetype at, TextWriter &out)
{
    const qsizetype limit = std::min(html.size(), at + 40);
    qsizetype i = at + 1;
    if (i < limit && html[i] == u'#') {
        ++i;
        int base = 10;
        if (i < limit && (html[i] == u'x' || html[i] == u'X')) {
            base = 16;
            ++i;
        }
        const qsizetype digits = i;
        char32_t code = 0;
        while (i < limit) {
            const char16_t ch = html[i].unicode();
            int digit = -1;
            if (ch >= u'0' && ch <= u'9')
                digit = ch - u'0';
            else if (base == 16 && ch >= u'a' && ch <= u'f')
                digit = ch - u'a' + 10;
            else if (base == 16 && ch >= u'A' && ch <= u'F')
                digit = ch - u'A' + 10;
            if (digit < 0)
                break;
            code = std::min<char32_t>(code * char32_t(base) + char32_t(digit), 0x110000);
            ++i;
        }
        if (i == digits)
            return -1;
        out.putCodePoint(code);
        return (i < html.size() && html[i] == u';') ? i + 1 : i;
    }
    const qsizetype nameStart = i;
    while (i < limit && html[i].isLetterOrNumber())
        ++i;
    const auto found = namedReferences().constFind(html.mid(nameStart, i - nameStart).toString());
    if (found == namedReferences().constEnd())
        return -1;
    out.putCodePoint(found.value());
    return (i < html.size() && html[i] == u';') ? i + 1 : i;
}

bool startsWithTag(QStringView html, qsizetype at, QLatin1StringView name)
{
    const qsizetype end = at + 1 + name.size();
    return html.mid(at + 1, name.size()).compare(name, Qt::CaseInsensitive) == 0
           && (end >= html.size() || !html[end].isLetterOrNumber());
}

// Where the element whose content is not text (script, style) ends.
qsizetype skipRawElement(QStringView html, qsizetype at, QLatin1StringView name)
{
    const QString closing = QLatin1String("</") + name;
    const qsizetype end = html.indexOf(closing, at, Qt::CaseInsensitive);
    if (end < 0)
        return html.size();
    const qsizetype close = html.indexOf(u'>', end);
    return close < 0 ? html.size() : close + 1;
}

// Whether a tag parts the words around it. Elements that make a block, a line, a cell or a
// control do; every other (b, span, img, wbr, and names no browser knows) is read inline, so
// "vi<img src=x>agra" and "vi<span></span>agra" read as one word, as they look.
bool partsWords(QStringView html, qsizetype at)
{
    static const QStringList blockNames{
        QStringLiteral("address"),    QStringLiteral("article"),    QStringLiteral("aside"),
        QStringLiteral("audio"),      QStringLiteral("blockquote"), QStringLiteral("body"),
        QStringLiteral("br"),         QStringLiteral("canvas"),     QStringLiteral("caption"),
        QStringLiteral("center"),     QStringLiteral("col"),        QStringLiteral("colgroup"),
        QStringLiteral("dd"),         QStringLiteral("details"),    QStringLiteral("dialog"),
        QStringLiteral("dir"),        QStringLiteral("div"),        QStringLiteral("dl"),
        QStringLiteral("dt"),         QStringLiteral("embed"),      QStringLiteral("fieldset"),
        QStringLiteral("figcaption"), QStringLiteral("figure"),     QStringLiteral("footer"),
        QStringLiteral("form"),       QStringLiteral("frame"),      QStringLiteral("frameset"),
        QStringLiteral("h1"),         QStringLiteral("h2"),         QStringLiteral("h3"),
        QStringLiteral("h4"),         QStringLiteral("h5"),         QStringLiteral("h6"),
        QStringLiteral("head"),       QStringLiteral("header"),     QStringLiteral("hgroup"),
        QStringLiteral("hr"),         QStringLiteral("html"),       QStringLiteral("iframe"),
        QStringLiteral("input"),      QStringLiteral("legend"),     QStringLiteral("li"),
        QStringLiteral("main"),       QStringLiteral("menu"),       QStringLiteral("nav"),
        QStringLiteral("object"),     QStringLiteral("ol"),         QStringLiteral("optgroup"),
        QStringLiteral("option"),     QStringLiteral("p"),          QStringLiteral("pre"),
        QStringLiteral("section"),    QStringLiteral("select"),     QStringLiteral("summary"),
        QStringLiteral("table"),      QStringLiteral("tbody"),      QStringLiteral("td"),
        QStringLiteral("textarea"),   QStringLiteral("tfoot"),      QStringLiteral("th"),
        QStringLiteral("thead"),      QStringLiteral("title"),      QStringLiteral("tr"),
        QStringLiteral("ul"),         QStringLiteral("video"),
    };
    qsizetype i = at + 1;
    if (i < html.size() && (html[i] == u'!' || html[i] == u'?'))
        return true; // a declaration or processing instruction
    if (i < html.size() && html[i] == u'/')
        ++i;
    const qsizetype start = i;
    while (i < html.size() && html[i].isLetterOrNumber())
        ++i;
    return blockNames.contains(html.mid(start, i - start).toString().toLower());
}

// Where the tag that starts at `at` ends (its ">", or the end of the markup). As in browsers, a
// quote opens a quoted value only right after "=": the apostrophe of an unquoted title=it's is
// only a letter, and does not hide the rest of the message.
qsizetype tagEnd(QStringView html, qsizetype at)
{
    bool afterEquals = false;
    for (qsizetype j = at + 1; j < html.size(); ++j) {
        const QChar c = html[j];
        if (c == u'>')
            return j;
        if (afterEquals && (c == u'"' || c == u'\'')) {
            const qsizetype close = html.indexOf(c, j + 1);
            if (close < 0)
                return html.size();
            j = close;
            afterEquals = false;
        } else if (c == u'=') {
            afterEquals = true;
        } else if (!c.isSpace()) {
            afterEquals = false;
        }
    }
    return html.size();
}

} // namespace

QString htmlToText(QString markup)
{
    const QStringView html(markup.data(), markup.size()); // read ahead of what is written
    TextWriter out{markup.data()};
    bool pendingBlank = false;
    const auto blank = [&] {
        pendingBlank = out.size > 0;
    };
    for (qsizetype i = 0; i < html.size();) {
        const QChar c = html[i];
        if (c == u'<') {
            if (html.mid(i, 4) == QLatin1String("<!--")) {
                const qsizetype end = html.indexOf(QLatin1String("-->"), i + 4);
                i = end < 0 ? html.size() : end + 3;
                continue;
            }
            if (startsWithTag(html, i, QLatin1StringView("script"))) {
                i = skipRawElement(html, i, QLatin1StringView("script"));
                continue;
            }
            if (startsWithTag(html, i, QLatin1StringView("style"))) {
                i = skipRawElement(html, i, QLatin1StringView("style"));
                continue;
            }
            if (i + 1 < html.size()
                && (html[i + 1].isLetter() || html[i + 1] == u'/' || html[i + 1] == u'!'
                    || html[i + 1] == u'?')) {
                const qsizetype j = tagEnd(html, i);
                if (partsWords(html, i))
                    blank();
                i = j + 1;
                continue;
            }
            // Any other "<" is text.
        } else if (c.isSpace()) {
            blank();
            ++i;
            continue;
        }
        // A pending blank stands for at least one character read and not written.
        if (pendingBlank) {
            out.put(u' ');
            pendingBlank = false;
        }
        if (c == u'&') {
            const qsizetype next = decodeReference(html, i, out);
            if (next > 0) {
                i = next;
                continue;
            }
        }
        out.put(c);
        ++i;
    }
    markup.truncate(out.size);
    return markup;
}

} // namespace mail
