#include "mail/MessageFacts.h"

#include "mail/GMimeSupport.h"
#include "mail/HeaderText.h"
#include "mail/HtmlText.h"
#include "mail/MatchText.h"
#include "mail/MessageShape.h"
#include "mail/PartText.h"

#include <algorithm>
#include <cstring>
#include <gmime/gmime.h>
#include <memory>
#include <optional>

namespace mail {

namespace {

// Deeper nesting than any real mail; a hostile message gets no deeper.
constexpr int kMaxDepth = 32;

QString readableHeader(const QByteArray &raw)
{
    return collapseBlanks(withoutIgnorables(decodeHeaderText(raw)));
}

void addMailboxes(InternetAddressList *list, QStringList &out, int depth = 0)
{
    if (!list || depth > kMaxDepth)
        return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const char *addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
            if (addr && *addr)
                out.append(QString::fromUtf8(addr));
        } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
            addMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out,
                         depth + 1);
        }
    }
}

bool isAddressSpecial(char c)
{
    return c != 0 && std::strchr("()<>@,;:\\\".[]", c) != nullptr;
}

// An encoded word in a display name may hold characters that delimit addresses (";", "]",
// "<"); GMime then cuts the mailbox apart there and loses the address in angle brackets. Such a
// word is quoted first: it is only a name, and the name is not what the rules look at.
QByteArray quoteEncodedWords(const QByteArray &from)
{
    QByteArray out;
    out.reserve(from.size() + 8);
    int commentDepth = 0;
    bool inQuotes = false;
    bool inAngles = false;
    for (qsizetype i = 0; i < from.size(); ++i) {
        const char c = from[i];
        if (inQuotes || commentDepth > 0) {
            out.append(c);
            if (c == '\\' && i + 1 < from.size()) {
                out.append(from[++i]);
            } else if (inQuotes) {
                inQuotes = c != '"';
            } else if (c == '(') {
                ++commentDepth;
            } else if (c == ')') {
                --commentDepth;
            }
            continue;
        }
        if (c == '"' && !inAngles) {
            inQuotes = true;
        } else if (c == '(') {
            commentDepth = 1;
        } else if (c == '<') {
            inAngles = true;
        } else if (c == '>') {
            inAngles = false;
        } else if (c == '=' && !inAngles && from.mid(i, 2) == "=?") {
            // =?charset?X?text?= with no blank: find its end, then see what it holds.
            const qsizetype charsetEnd = from.indexOf('?', i + 2);
            const qsizetype textStart = charsetEnd + 3;
            const qsizetype end = charsetEnd < 0 ? -1 : from.indexOf("?=", textStart);
            const QByteArray word = end < 0 ? QByteArray() : from.mid(i, end + 2 - i);
            const bool partOfAddress = (i > 0 && (from[i - 1] == '@' || from[i - 1] == '.'))
                                       || (end >= 0 && end + 2 < from.size()
                                           && (from[end + 2] == '@' || from[end + 2] == '.'));
            const bool blank = std::any_of(word.cbegin(), word.cend(), [](char w) {
                return w == ' ' || w == '\t' || w == '\r' || w == '\n';
            });
            if (!word.isEmpty() && !blank && !partOfAddress
                && std::any_of(word.cbegin() + 2, word.cend() - 2, isAddressSpecial)) {
                out.append('"');
                for (char w : word) {
                    if (w == '"' || w == '\\')
                        out.append('\\');
                    out.append(w);
                }
                out.append('"');
                i = end + 1;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

// The addresses of the mailboxes in a raw From value. Both ways of reading a message go through
// here, so a header read alone gives the same senders as the whole message.
QStringList sendersOf(const QByteArray &from)
{
    QStringList senders;
    InternetAddressList *list =
        internet_address_list_parse(nullptr, quoteEncodedWords(from).constData());
    if (list) {
        addMailboxes(list, senders);
        g_object_unref(list);
    }
    return senders;
}

QByteArray rawHeader(GMimeObject *object, const char *name)
{
    GMimeHeaderList *headers = g_mime_object_get_header_list(object);
    GMimeHeader *header = headers ? g_mime_header_list_get_header(headers, name) : nullptr;
    const char *raw = header ? g_mime_header_get_raw_value(header) : nullptr;
    return raw ? QByteArray(raw) : QByteArray();
}

// Lenient decoders make something of any base64; a part whose base64 is not whole (cut off,
// or with bytes outside the alphabet) is one we cannot claim to have read.
bool isWholeBase64(GMimePart *part)
{
    if (g_mime_part_get_content_encoding(part) != GMIME_CONTENT_ENCODING_BASE64)
        return true;
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    GMimeStream *raw = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (!raw)
        return true;
    g_mime_stream_reset(raw);
    qint64 symbols = 0;
    int padding = 0;
    char buffer[4096];
    bool whole = true;
    for (;;) {
        const ssize_t got = g_mime_stream_read(raw, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t i = 0; i < got && whole; ++i) {
            const char c = buffer[i];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                continue;
            if (c == '=') {
                ++padding;
                ++symbols;
                whole = padding <= 2;
            } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
                       || c == '+' || c == '/') {
                ++symbols;
                whole = padding == 0; // nothing after the padding
            } else {
                whole = false;
            }
        }
        if (!whole)
            break;
    }
    g_mime_stream_reset(raw);
    return whole && symbols % 4 == 0;
}

// How much of a base64 text part mail programs read: the encoded lines up to the first line
// that is not base64, such as a gateway's footer ("-- " and a line of text) added after them.
// -1 when those lines are not whole base64, or when there are none before such a line.
qint64 readableBase64Length(GMimePart *part)
{
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    GMimeStream *raw = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (!raw)
        return -1;
    g_mime_stream_reset(raw);
    qint64 offset = 0;
    qint64 lineStart = 0;
    qint64 lineSymbols = 0; // padding included
    int linePadding = 0;
    bool lineInOrder = true; // no data after padding on the line
    bool foreign = false;    // the line holds something that is not base64
    qint64 symbols = 0;
    int padding = 0;
    bool whole = true;
    bool stopped = false;
    // Takes the line that ends at `end` into the data, unless it is where the data ends.
    const auto endLine = [&](qint64 end) {
        if (foreign) {
            stopped = true;
            return;
        }
        const bool dataAfterPadding = padding > 0 && lineSymbols > linePadding;
        whole = whole && lineInOrder && !dataAfterPadding && padding + linePadding <= 2;
        symbols += lineSymbols;
        padding += linePadding;
        lineSymbols = 0;
        linePadding = 0;
        lineInOrder = true;
        lineStart = end;
    };
    char buffer[4096];
    while (!stopped) {
        const ssize_t got = g_mime_stream_read(raw, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t i = 0; i < got && !stopped; ++i, ++offset) {
            const char c = buffer[i];
            if (c == '\n') {
                endLine(offset + 1);
            } else if (c == ' ' || c == '\t' || c == '\r') {
                continue;
            } else if (c == '=') {
                ++linePadding;
                ++lineSymbols;
            } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
                       || c == '+' || c == '/') {
                ++lineSymbols;
                lineInOrder = lineInOrder && linePadding == 0;
            } else {
                foreign = true;
            }
        }
    }
    if (!stopped)
        endLine(offset);
    g_mime_stream_reset(raw);
    if (!whole || symbols % 4 != 0 || (stopped && symbols == 0))
        return -1;
    return lineStart;
}

qint64 decodedSize(GMimePart *part)
{
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (!content)
        return 0;
    GOwned<GMimeStream> sink(g_mime_stream_null_new());
    const ssize_t written = g_mime_data_wrapper_write_to_stream(content, sink.get());
    return written < 0 ? -1 : qint64(written);
}

// The size of a file uuencoded in the lines between "begin" and "end", or -1 when a line is
// cut short or holds what uuencoding does not write.
qint64 uudecodedSize(QStringView lines)
{
    QByteArray encoded;
    encoded.reserve(lines.size());
    for (QStringView line : lines.split(u'\n')) {
        while (!line.isEmpty() && (line.back() == u'\r' || line.back() == u' '))
            line.chop(1);
        if (line.isEmpty())
            continue;
        for (const QChar c : line) {
            if (c.unicode() < 0x20 || c.unicode() > 0x60)
                return -1;
        }
        // The first character gives the line's length in bytes, four characters for three.
        const int bytes = (line.front().unicode() - 0x20) & 0x3F;
        if (line.size() - 1 < (bytes + 2) / 3 * 4)
            return -1;
        encoded.append(line.toLatin1()).append('\n');
    }
    QByteArray decoded(encoded.size(), '\0');
    int state = GMIME_UUDECODE_STATE_BEGIN;
    guint32 save = 0;
    return qint64(g_mime_encoding_uudecode_step(
        reinterpret_cast<const unsigned char *>(encoded.constData()), size_t(encoded.size()),
        reinterpret_cast<unsigned char *>(decoded.data()), &state, &save));
}

// A Content-Type that is not type/subtype ("text; charset=us-ascii", or garbage). GMime makes
// such a part application/octet-stream; a careful reader takes it as plain text instead.
bool hasDamagedType(GMimeObject *object)
{
    const QByteArray raw = rawHeader(object, "Content-Type");
    if (raw.isNull())
        return false;
    qsizetype at = 0;
    const auto skipBlanks = [&] {
        while (at < raw.size()
               && (raw[at] == ' ' || raw[at] == '\t' || raw[at] == '\r' || raw[at] == '\n'))
            ++at;
    };
    const auto token = [&] {
        const qsizetype start = at;
        while (at < raw.size() && isTokenChar(raw[at]))
            ++at;
        return at > start;
    };
    skipBlanks();
    if (!token())
        return true;
    skipBlanks();
    if (at >= raw.size() || raw[at] != '/')
        return true;
    ++at;
    skipBlanks();
    return !token();
}

QString attachmentName(GMimeObject *object)
{
    const char *name = g_mime_object_get_content_disposition_parameter(object, "filename");
    if (!name || !*name)
        name = g_mime_object_get_content_type_parameter(object, "name");
    return name ? withoutIgnorables(QString::fromUtf8(name)) : QString();
}

// Collects the text and attachments of a message, and the first reason a part the rules would
// look at could not be read.
class Walker
{
public:
    explicit Walker(MessageFacts &facts)
        : m_facts(facts)
    {}

    // An attachment is a part with a file name; the text of an attached message without one (a
    // forward, a digest) is this message's text, while a named one is an attachment throughout.
    void walk(GMimeObject *object, bool insideNamedMessage, int depth)
    {
        if (!object)
            return;
        if (depth > kMaxDepth) {
            noteProblem(QStringLiteral("its parts are nested too deeply to be read"));
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart *multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i)
                walk(g_mime_multipart_get_part(multipart, i), insideNamedMessage, depth + 1);
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            const QString name = attachmentName(object);
            if (!name.isEmpty()) {
                qint64 size = -1;
                if (inner) {
                    GOwned<GMimeStream> sink(g_mime_stream_null_new());
                    size = g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, sink.get());
                }
                m_facts.attachments.append({name, size < 0 ? -1 : size});
            }
            if (!inner) {
                noteProblem(QStringLiteral("an attached message cannot be read"));
                return;
            }
            walk(g_mime_message_get_mime_part(inner), insideNamedMessage || !name.isEmpty(),
                 depth + 1);
        } else if (GMIME_IS_PART(object)) {
            walkPart(GMIME_PART(object), insideNamedMessage);
        }
    }

    QString problem() const { return m_problem; }

private:
    void walkPart(GMimePart *part, bool insideNamedMessage)
    {
        GMimeObject *object = GMIME_OBJECT(part);
        GMimeContentType *type = g_mime_object_get_content_type(object);
        const char *rawName = g_mime_part_get_filename(part);
        const QString name = rawName ? withoutIgnorables(QString::fromUtf8(rawName)) : QString();
        if (g_mime_content_type_is_type(type, "message", "external-body")) {
            // Only a pointer to a file kept elsewhere: its name is known, its size is not.
            if (!name.isEmpty())
                m_facts.attachments.append({name, -1});
            return;
        }
        if (g_mime_content_type_is_type(type, "message", "partial")) {
            noteProblem(QStringLiteral("it is only a fragment of a larger message"));
            return;
        }
        if (!name.isEmpty()) {
            const qint64 size = isWholeBase64(part) ? decodedSize(part) : -1;
            m_facts.attachments.append({name, size});
            if (size < 0)
                noteProblem(QStringLiteral("the attachment \"%1\" cannot be decoded").arg(name));
            return;
        }
        if (insideNamedMessage)
            return;
        const bool damagedType = hasDamagedType(object);
        const bool plain = damagedType || g_mime_content_type_is_type(type, "text", "plain");
        const bool html = !damagedType && g_mime_content_type_is_type(type, "text", "html");
        if (!plain && !html)
            return; // neither text nor an attachment: no rule looks at it
        std::optional<QString> text;
        if (g_mime_part_get_content_encoding(part) != GMIME_CONTENT_ENCODING_BASE64) {
            text = partText(part);
        } else if (const qint64 length = readableBase64Length(part); length >= 0) {
            text = partText(part, length);
        }
        if (!text) {
            noteProblem(QStringLiteral("a part cannot be decoded"));
            return;
        }
        if (html) {
            appendText(htmlToText(std::move(*text)));
        } else {
            takeUuencoded(*text);
            appendText(std::move(*text));
        }
    }

    // Files uuencoded into a text ("begin 644 name" ... "end"), as mail was sent before MIME and
    // some programs still send it. Mail programs show each as an attachment, so it is one here,
    // and its lines are not text.
    void takeUuencoded(QString &text)
    {
        const QLatin1StringView begin("begin ");
        for (qsizetype from = 0;;) {
            const qsizetype start = text.indexOf(begin, from);
            if (start < 0)
                return;
            from = start + begin.size();
            if (start > 0 && text[start - 1] != u'\n')
                continue;
            qsizetype headerEnd = text.indexOf(u'\n', start);
            if (headerEnd < 0)
                headerEnd = text.size();
            const QStringView header = QStringView(text).sliced(from, headerEnd - from).trimmed();
            qsizetype digits = 0;
            while (digits < header.size() && header[digits] >= u'0' && header[digits] <= u'7')
                ++digits;
            if (digits < 3 || digits > 4 || digits >= header.size() || !header[digits].isSpace())
                continue;
            const QString name = withoutIgnorables(header.sliced(digits).trimmed().toString());
            if (name.isEmpty())
                continue;

            qsizetype end = -1;
            qsizetype blockEnd = text.size();
            for (qsizetype line = headerEnd + 1; line < text.size();) {
                qsizetype next = text.indexOf(u'\n', line);
                if (next < 0)
                    next = text.size();
                if (QStringView(text).sliced(line, next - line).trimmed() == u"end") {
                    end = line;
                    blockEnd = std::min(next + 1, text.size());
                    break;
                }
                line = next + 1;
            }
            const qint64 size =
                end < 0
                    ? -1
                    : uudecodedSize(QStringView(text).sliced(
                        std::min(headerEnd + 1, end), std::max<qsizetype>(0, end - headerEnd - 1)));
            m_facts.attachments.append({name, size});
            if (size < 0)
                noteProblem(QStringLiteral("the attachment \"%1\" cannot be decoded").arg(name));
            text.remove(start, blockEnd - start);
            from = start;
        }
    }

    void noteProblem(const QString &problem)
    {
        if (m_problem.isEmpty())
            m_problem = problem;
    }

    void appendText(QString text)
    {
        const QString folded = foldedForMatching(std::move(text), Blanks::Collapse);
        if (folded.isEmpty())
            return;
        if (!m_facts.bodyText.isEmpty())
            m_facts.bodyText += u' ';
        m_facts.bodyText += folded;
    }

    MessageFacts &m_facts;
    QString m_problem;
};

// The raw values of the first From and Subject fields of a message's header, folding kept.
struct HeaderFields
{
    QByteArray from;
    QByteArray subject;
};

HeaderFields headerFields(const QByteArray &message)
{
    HeaderFields fields;
    QByteArray *current = nullptr; // the field whose continuation lines follow
    bool haveFrom = false;
    bool haveSubject = false;
    qsizetype at = 0;
    while (at < message.size()) {
        qsizetype end = message.indexOf('\n', at);
        if (end < 0)
            end = message.size();
        QByteArrayView line(message.constData() + at, end - at);
        if (line.endsWith('\r'))
            line.chop(1);
        at = end + 1;
        if (line.isEmpty())
            break; // the header ends at the first empty line
        if (line[0] == ' ' || line[0] == '\t') {
            if (current)
                current->append("\r\n").append(line.data(), line.size());
            continue;
        }
        current = nullptr;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArrayView name = line.first(colon).trimmed();
        const QByteArrayView value = line.sliced(colon + 1);
        if (!haveFrom && name.compare("From", Qt::CaseInsensitive) == 0) {
            fields.from = value.toByteArray();
            current = &fields.from;
            haveFrom = true;
        } else if (!haveSubject && name.compare("Subject", Qt::CaseInsensitive) == 0) {
            fields.subject = value.toByteArray();
            current = &fields.subject;
            haveSubject = true;
        }
    }
    return fields;
}

// Sender and subject from the header alone: what rules on them need, without building the
// whole message (which costs GMime ten times as much).
MessageFacts readHeaderFacts(const QByteArray &message)
{
    MessageFacts facts;
    const HeaderFields fields = headerFields(message);
    {
        std::lock_guard lock(gmimeMutex());
        facts.senders = sendersOf(fields.from);
    }
    facts.fromText = readableHeader(fields.from);
    facts.subject = readableHeader(fields.subject);
    facts.judgeable = true;
    return facts;
}

} // namespace

MessageFacts readMessageFacts(QByteArray message, bool withBody)
{
    ensureGMime();
    if (!withBody)
        return readHeaderFacts(message);
    if (hasTooManyParts(message)) {
        MessageFacts facts = readHeaderFacts(message);
        facts.bodyProblem = QStringLiteral("it has more than %1 parts").arg(kMaxParts);
        return facts;
    }
    dropFieldsNotRead(message);
    std::lock_guard lock(gmimeMutex());
    MessageFacts facts;

    GOwned<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(message.constData(), size_t(message.size())));
    message = QByteArray(); // GMime has its own copy: one less of a large message
    GOwned<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GOwned<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!parsed) {
        facts.problem = QStringLiteral("the message cannot be parsed");
        return facts;
    }
    GMimeObject *root = GMIME_OBJECT(parsed.get());

    const QByteArray from = rawHeader(root, "From");
    facts.senders = sendersOf(from);
    facts.fromText = readableHeader(from);
    facts.subject = readableHeader(rawHeader(root, "Subject"));

    Walker walker(facts);
    walker.walk(g_mime_message_get_mime_part(parsed.get()), false, 0);
    facts.bodyProblem = walker.problem();
    facts.judgeable = true;
    return facts;
}

} // namespace mail
