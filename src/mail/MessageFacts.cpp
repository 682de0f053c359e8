#include "mail/MessageFacts.h"

#include "mail/GMimeSupport.h"
#include "mail/HeaderText.h"
#include "mail/HtmlText.h"

#include <gmime/gmime.h>
#include <memory>

namespace mail {

namespace {

struct GObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GOwned = std::unique_ptr<T, GObjectUnref>;

// Deeper nesting than any real mail; a hostile message gets no deeper.
constexpr int kMaxDepth = 32;

QString collapseBlanks(const QString &text)
{
    QString out;
    out.reserve(text.size());
    bool pendingBlank = false;
    for (QChar c : text) {
        if (c.isSpace() || c == QChar(0xA0)) {
            pendingBlank = !out.isEmpty();
            continue;
        }
        if (pendingBlank) {
            out += u' ';
            pendingBlank = false;
        }
        out += c;
    }
    return out;
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

qint64 decodedSize(GMimePart *part)
{
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (!content)
        return 0;
    GOwned<GMimeStream> sink(g_mime_stream_null_new());
    const ssize_t written = g_mime_data_wrapper_write_to_stream(content, sink.get());
    return written < 0 ? -1 : qint64(written);
}

QString partText(GMimePart *part)
{
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GOwned<GMimeStream> decoded(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, decoded.get()) < 0)
        return {};
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(decoded.get()));
    const QByteArray data(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len));
    const char *charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    return textFromCharset(data, charset ? QByteArray(charset) : QByteArray("UTF-8"));
}

class Walker
{
public:
    explicit Walker(MessageFacts &facts)
        : m_facts(facts)
    {}

    void walk(GMimeObject *object, bool insideAttachedMessage, int depth)
    {
        if (!object || depth > kMaxDepth)
            return;
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart *multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i)
                walk(g_mime_multipart_get_part(multipart, i), insideAttachedMessage, depth + 1);
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            const char *name = g_mime_object_get_content_disposition_parameter(object, "filename");
            if (!name)
                name = g_mime_object_get_content_type_parameter(object, "name");
            if (name && *name && inner) {
                GOwned<GMimeStream> sink(g_mime_stream_null_new());
                const ssize_t size =
                    g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, sink.get());
                m_facts.attachments.append(
                    {QString::fromUtf8(name), qint64(std::max<ssize_t>(size, 0))});
            }
            // An attached message is an attachment: its text is not this message's text.
            if (inner)
                walk(g_mime_message_get_mime_part(inner), true, depth + 1);
        } else if (GMIME_IS_PART(object)) {
            GMimePart *part = GMIME_PART(object);
            const char *name = g_mime_part_get_filename(part);
            if (!isWholeBase64(part)) {
                m_problem = name && *name
                                ? QStringLiteral("the attachment \"%1\" cannot be decoded")
                                      .arg(QString::fromUtf8(name))
                                : QStringLiteral("a part cannot be decoded");
                return;
            }
            if (name && *name) {
                const qint64 size = decodedSize(part);
                if (size < 0) {
                    m_problem = QStringLiteral("an attachment cannot be decoded");
                    return;
                }
                m_facts.attachments.append({QString::fromUtf8(name), size});
                return;
            }
            if (insideAttachedMessage || g_mime_part_is_attachment(part))
                return;
            GMimeContentType *type = g_mime_object_get_content_type(object);
            if (g_mime_content_type_is_type(type, "text", "plain")) {
                appendText(partText(part));
            } else if (g_mime_content_type_is_type(type, "text", "html")) {
                appendText(htmlToText(partText(part)));
            }
        }
    }

    QString problem() const { return m_problem; }

private:
    void appendText(const QString &text)
    {
        const QString collapsed = collapseBlanks(text);
        if (collapsed.isEmpty())
            return;
        if (!m_facts.bodyText.isEmpty())
            m_facts.bodyText += u' ';
        m_facts.bodyText += collapsed;
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
        InternetAddressList *from = internet_address_list_parse(nullptr, fields.from.constData());
        if (from) {
            addMailboxes(from, facts.senders);
            g_object_unref(from);
        }
    }
    facts.fromText = collapseBlanks(decodeHeaderText(fields.from));
    facts.subject = collapseBlanks(decodeHeaderText(fields.subject));
    facts.judgeable = true;
    return facts;
}

} // namespace

MessageFacts readMessageFacts(const QByteArray &message, bool withBody)
{
    ensureGMime();
    if (!withBody)
        return readHeaderFacts(message);
    std::lock_guard lock(gmimeMutex());
    MessageFacts facts;

    GOwned<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(message.constData(), size_t(message.size())));
    GOwned<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GOwned<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!parsed) {
        facts.problem = QStringLiteral("the message cannot be parsed");
        return facts;
    }
    GMimeObject *root = GMIME_OBJECT(parsed.get());

    addMailboxes(g_mime_message_get_from(parsed.get()), facts.senders);
    facts.fromText = collapseBlanks(decodeHeaderText(rawHeader(root, "From")));
    facts.subject = collapseBlanks(decodeHeaderText(rawHeader(root, "Subject")));

    Walker walker(facts);
    walker.walk(g_mime_message_get_mime_part(parsed.get()), false, 0);
    facts.bodyProblem = walker.problem();
    facts.judgeable = true;
    return facts;
}

} // namespace mail
