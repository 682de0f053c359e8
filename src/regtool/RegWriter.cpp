#include "regtool/RegWriter.h"

#include "regtool/TextCodec.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"

#include <QString>

#include <cstring>

namespace regtool {

namespace {

// Windows wraps hex lists so that no line, its trailing backslash included, passes 80 columns.
constexpr qsizetype kHexLineLimit = 79;
constexpr char kHexDigits[] = "0123456789abcdef";

void appendEscaped(QByteArray &out, QByteArrayView text)
{
    // Most texts need no escape: copy them whole rather than byte by byte.
    qsizetype done = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' || text[i] == '"') {
            out.append(text.sliced(done, i - done)).append('\\');
            done = i;
        }
    }
    out.append(text.sliced(done));
}

bool hasLineBreak(QByteArrayView text)
{
    return text.contains('\n') || text.contains('\r');
}

bool isTextType(quint32 type)
{
    return type == store::RegSz || type == store::RegExpandSz || type == store::RegMultiSz;
}

} // namespace

RegWriter::RegWriter(RegFormat format)
    : m_format(format)
{
    m_text = format == RegFormat::Version5 ? kVersion5Header : kRegedit4Header;
    m_text.append("\r\n");
}

bool RegWriter::refuse(const QString &reason)
{
    m_error = reason;
    return false;
}

bool RegWriter::carriesText(QByteArrayView text) const
{
    return m_format == RegFormat::Regedit4 || isStoreText(text);
}

bool RegWriter::key(const QByteArray &path)
{
    const auto shown = [&path] {
        return QString::fromLocal8Bit(path);
    };
    if (hasLineBreak(path))
        return refuse(QStringLiteral("the key name \"%1\" holds a line break").arg(shown()));
    if (!carriesText(path))
        return refuse(QStringLiteral("the key name \"%1\" is not text in the system's encoding; "
                                     "the REGEDIT4 form keeps it as it is")
                          .arg(shown()));
    m_text.append("\r\n[").append(kRootName);
    if (!path.isEmpty())
        m_text.append('\\').append(path);
    m_text.append("]\r\n");
    return true;
}

bool RegWriter::value(const QByteArray &name, quint32 type, const QByteArray &data)
{
    m_holdsPassword = m_holdsPassword || name.compare(store::kPassword, Qt::CaseInsensitive) == 0;
    // Only for messages: building it for every value would cost more than writing it.
    const auto shown = [&name] {
        return QString::fromLocal8Bit(name);
    };
    if (hasLineBreak(name))
        return refuse(QStringLiteral("the value name \"%1\" holds a line break").arg(shown()));
    if (!carriesText(name))
        return refuse(QStringLiteral("the value name \"%1\" is not text in the system's encoding; "
                                     "the REGEDIT4 form keeps it as it is")
                          .arg(shown()));

    m_lineStart = m_text.size();
    if (name.isEmpty()) {
        m_text.append('@');
    } else {
        m_text.append('"');
        appendEscaped(m_text, name);
        m_text.append('"');
    }
    m_text.append('=');

    // A string that ends in its one zero and fits on a line is written as text; anything else
    // (no terminator, inner zeros, line breaks) only survives as bytes.
    const qsizetype zero = data.indexOf('\0');
    const QByteArrayView text = QByteArrayView(data).first(zero < 0 ? data.size() : zero);
    if (type == store::RegSz && zero == data.size() - 1 && zero >= 0 && !hasLineBreak(text)
        && carriesText(text)) {
        m_text.append('"');
        appendEscaped(m_text, text);
        m_text.append("\"\r\n");
        return true;
    }
    if (type == store::RegDword && data.size() == 4) {
        quint32 number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(data[i]);
        char digits[] = "dword:00000000\r\n";
        for (int i = 13; i >= 6; --i, number >>= 4)
            digits[i] = kHexDigits[number & 0xF];
        m_text.append(digits, sizeof digits - 1);
        return true;
    }

    QByteArray bytes = data;
    if (m_format == RegFormat::Version5 && isTextType(type)) {
        const auto wide = storeTextToUtf16le(data);
        if (!wide) {
            m_text.truncate(m_lineStart);
            return refuse(QStringLiteral("the data of \"%1\" is not text in the system's encoding; "
                                         "the REGEDIT4 form keeps it as it is")
                              .arg(shown()));
        }
        bytes = *wide;
    }
    if (type == store::RegBinary)
        m_text.append("hex:");
    else
        m_text.append("hex(").append(QByteArray::number(type, 16)).append("):");
    appendHex(bytes);
    m_text.append("\r\n");
    return true;
}

void RegWriter::appendHex(const QByteArray &bytes)
{
    // Written straight into the buffer: large binary values make this the writer's inner loop.
    // Three characters a byte, and a break of five at most every 25 bytes after the first.
    const qsizetype start = m_text.size();
    m_text.resize(start + bytes.size() * 3 + (bytes.size() / 25 + 2) * 5);
    char *const begin = m_text.data() + start;
    char *out = begin;
    qsizetype column = start - m_lineStart;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0 && column + 3 > kHexLineLimit) {
            std::memcpy(out, "\\\r\n  ", 5);
            out += 5;
            column = 2;
        }
        const auto byte = static_cast<unsigned char>(bytes[i]);
        *out++ = kHexDigits[byte >> 4];
        *out++ = kHexDigits[byte & 0xF];
        column += 2;
        if (i + 1 < bytes.size()) {
            *out++ = ',';
            ++column;
        }
    }
    m_text.truncate(start + (out - begin));
}

QByteArray RegWriter::finish() const
{
    QByteArray text = m_text + "\r\n";
    if (m_format == RegFormat::Regedit4)
        return text;
    // Every piece was checked on the way in; checking the whole again would only cost time.
    return QByteArray("\xFF\xFE", 2) + checkedStoreTextToUtf16le(text);
}

} // namespace regtool
