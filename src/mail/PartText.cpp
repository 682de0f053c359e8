#include "mail/PartText.h"

#include "mail/GMimeSupport.h"
#include "mail/HeaderText.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>

namespace mail {

namespace {

// Whether bytes that were valid UTF-8 so far stop inside a character: a stream decoder holds
// such bytes back without calling them an error.
bool endsInsideUtf8Character(QByteArrayView tail)
{
    for (qsizetype back = 1; back <= std::min<qsizetype>(3, tail.size()); ++back) {
        const auto byte = static_cast<unsigned char>(tail[tail.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: its lead is further back
        const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back;
    }
    return false;
}

// The part's data decoded as it is read.
GOwned<GMimeStream> decodingStream(GMimeStream *encoded, GMimeContentEncoding encoding)
{
    g_mime_stream_reset(encoded);
    GOwned<GMimeStream> decoded(g_mime_stream_filter_new(encoded));
    if (encoding == GMIME_CONTENT_ENCODING_BASE64
        || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE
        || encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
        GOwned<GMimeFilter> decoder(g_mime_filter_basic_new(encoding, FALSE));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(decoded.get()), decoder.get());
    }
    return decoded;
}

// The decoded bytes of a part whole, for the rare text that is neither what it declares nor
// UTF-8: only a look at all of it tells which legacy charset it is in.
std::optional<QString> partTextWhole(GMimeStream *encoded, GMimeContentEncoding encoding,
                                     const QByteArray &charset)
{
    GOwned<GMimeStream> decoded(g_mime_stream_mem_new());
    if (g_mime_stream_write_to_stream(decodingStream(encoded, encoding).get(), decoded.get()) < 0)
        return std::nullopt;
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(decoded.get()));
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len));
    return textFromCharset(data, charset);
}

// Text arriving in pieces, converted to UTF-16 as it comes: from its declared charset through
// iconv first, unless it is declared UTF-8. Any doubt (bytes the charset does not have, UTF-8
// that is not) is reported, so that the caller can read the text whole as before.
class PieceConverter
{
public:
    explicit PieceConverter(const QByteArray &charset)
    {
        if (!isUtf8Charset(charset)) {
            m_iconv = g_mime_iconv_open("UTF-8", charset.constData());
            m_doubt = m_iconv == iconv_t(-1); // a charset iconv does not know
        }
    }
    ~PieceConverter()
    {
        if (m_iconv != iconv_t(-1))
            g_mime_iconv_close(m_iconv);
    }
    PieceConverter(const PieceConverter &) = delete;
    PieceConverter &operator=(const PieceConverter &) = delete;

    bool inDoubt() const { return m_doubt; }

    void add(QByteArrayView bytes, QString &text)
    {
        if (m_doubt)
            return;
        if (m_iconv == iconv_t(-1)) {
            addUtf8(bytes, text);
            return;
        }
        m_pending.append(bytes.data(), bytes.size());
        char *in = m_pending.data();
        size_t inLeft = size_t(m_pending.size());
        std::array<char, 64 * 1024> out{};
        while (inLeft > 0) {
            char *outAt = out.data();
            size_t outLeft = out.size();
            const size_t done = iconv(m_iconv, &in, &inLeft, &outAt, &outLeft);
            addUtf8(QByteArrayView(out.data(), outAt - out.data()), text);
            if (done != size_t(-1) || errno == E2BIG)
                continue;
            if (errno != EINVAL)
                m_doubt = true; // bytes the charset does not have
            break;              // EINVAL: a character continues in the next piece
        }
        m_pending.remove(0, m_pending.size() - qsizetype(inLeft));
    }

    // After the last piece: true when the text came through whole.
    bool finish(QString &text)
    {
        if (m_iconv != iconv_t(-1) && !m_doubt) {
            std::array<char, 64> out{};
            char *outAt = out.data();
            size_t outLeft = out.size();
            iconv(m_iconv, nullptr, nullptr, &outAt, &outLeft); // the end of a stateful charset
            addUtf8(QByteArrayView(out.data(), outAt - out.data()), text);
        }
        return !m_doubt && !m_utf8.hasError() && !endsInsideUtf8Character(m_tail);
    }

private:
    void addUtf8(QByteArrayView bytes, QString &text)
    {
        if (bytes.isEmpty())
            return;
        text += m_utf8.decode(bytes);
        m_doubt = m_doubt || m_utf8.hasError();
        m_tail.append(bytes.last(std::min<qsizetype>(3, bytes.size())));
        m_tail.remove(0, std::max<qsizetype>(0, m_tail.size() - 3));
    }

    iconv_t m_iconv = iconv_t(-1);
    bool m_doubt = false;
    QByteArray m_pending; // bytes of a character that continues in the next piece
    QStringDecoder m_utf8{QStringDecoder::Utf8};
    QByteArray m_tail; // the last bytes of UTF-8 so far
};

// The decoded text of a part, or nothing when its data cannot be read. The part is decoded and
// converted piece by piece, straight into the text: a part of tens of megabytes is never held
// decoded and converted beside it.
} // namespace

std::optional<QString> partText(GMimePart *part, qint64 encodedLength)
{
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    GMimeStream *whole = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (!whole)
        return QString();
    const char *declared = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    const QByteArray charset = declared ? QByteArray(declared) : QByteArray("UTF-8");
    GOwned<GMimeStream> limited;
    if (encodedLength >= 0) {
        g_mime_stream_reset(whole);
        limited.reset(
            g_mime_stream_substream(whole, whole->bound_start, whole->bound_start + encodedLength));
    }
    GMimeStream *encoded = limited ? limited.get() : whole;
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    GOwned<GMimeStream> decoded = decodingStream(encoded, encoding);

    QString text;
    // A character never takes fewer bytes than UTF-16 units, however it was encoded.
    gint64 room = g_mime_stream_length(encoded);
    if (encoding == GMIME_CONTENT_ENCODING_BASE64)
        room = room / 4 * 3;
    if (room > 0)
        text.reserve(qsizetype(room));
    PieceConverter converter(charset);
    std::array<char, 64 * 1024> buffer{};
    for (;;) {
        const ssize_t got = g_mime_stream_read(decoded.get(), buffer.data(), buffer.size());
        if (got < 0)
            return std::nullopt;
        if (got == 0 || converter.inDoubt())
            break;
        converter.add(QByteArrayView(buffer.data(), got), text);
    }
    g_mime_stream_reset(whole);
    if (converter.finish(text))
        return text;
    text = QString();
    std::optional<QString> read = partTextWhole(encoded, encoding, charset);
    g_mime_stream_reset(whole);
    return read;
}

} // namespace mail
