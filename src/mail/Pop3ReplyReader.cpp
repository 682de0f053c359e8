#include "mail/Pop3ReplyReader.h"

namespace mail {

void Pop3ReplyReader::append(const QByteArray &bytes)
{
    // Drop what was taken before growing, so a long session does not keep its history.
    if (m_position > 0 && m_position >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_position);
        m_searched = std::max<qsizetype>(0, m_searched - m_position);
        m_position = 0;
    }
    m_buffer.append(bytes);
}

bool Pop3ReplyReader::nextLine(QByteArrayView *line, qsizetype *next, bool *crlf) const
{
    const qsizetype end = m_buffer.indexOf('\n', std::max(m_position, m_searched));
    if (end < 0) {
        m_searched = m_buffer.size();
        return false;
    }
    qsizetype length = end - m_position;
    const bool endsInCrlf = length > 0 && m_buffer[end - 1] == '\r';
    if (endsInCrlf)
        --length;
    if (crlf)
        *crlf = endsInCrlf;
    *line = QByteArrayView(m_buffer.constData() + m_position, length);
    *next = end + 1;
    return true;
}

void Pop3ReplyReader::consumeTo(qsizetype position)
{
    m_position = position;
    if (m_position == m_buffer.size()) {
        m_buffer.clear();
        m_position = 0;
        m_searched = 0;
    }
}

Pop3ReplyReader::Result Pop3ReplyReader::takeStatus(Status *status)
{
    QByteArrayView line;
    qsizetype next = 0;
    if (!nextLine(&line, &next))
        return pendingBytes() > kMaxStatusLine ? Result::Bad : Result::NeedMore;
    if (line.size() > kMaxStatusLine)
        return Result::Bad;
    Result result = Result::Ready;
    if (line.startsWith("+OK")) {
        status->ok = true;
        line = line.sliced(3);
    } else if (line.startsWith("-ERR")) {
        status->ok = false;
        line = line.sliced(4);
    } else {
        result = Result::Bad;
    }
    if (!line.isEmpty() && line[0] != ' ')
        result = Result::Bad;
    if (result == Result::Ready)
        status->text = line.trimmed().toByteArray();
    consumeTo(next); // the line points into the buffer until here
    return result;
}

Pop3ReplyReader::Result Pop3ReplyReader::takeData(QByteArray *data, qint64 maxBytes)
{
    for (;;) {
        QByteArrayView line;
        qsizetype next = 0;
        bool crlf = false;
        if (!nextLine(&line, &next, &crlf)) {
            if (m_partialData.size() + pendingBytes() > maxBytes) {
                m_partialData.clear();
                m_atLineStart = true;
                return Result::Bad;
            }
            return Result::NeedMore;
        }
        // Only a line of the protocol (one that follows CRLF) can end the reply or be
        // dot-stuffed; after a bare LF the text is the message's own.
        const bool protocolLine = m_atLineStart;
        m_atLineStart = crlf;
        if (protocolLine && crlf && line == ".") {
            consumeTo(next);
            *data = std::move(m_partialData);
            m_partialData = QByteArray();
            m_atLineStart = true;
            m_sawBareLfEnd = false;
            return Result::Ready;
        }
        m_sawBareLfEnd = m_sawBareLfEnd || (!crlf && line == ".");
        if (protocolLine && line.startsWith('.'))
            line = line.sliced(1);
        if (m_partialData.size() + line.size() + 2 > maxBytes) {
            consumeTo(next);
            m_partialData.clear();
            m_atLineStart = true;
            return Result::Bad;
        }
        m_partialData.append(line.data(), line.size());
        m_partialData.append(crlf ? QByteArrayView("\r\n") : QByteArrayView("\n"));
        consumeTo(next); // the line points into the buffer until here
    }
}

} // namespace mail
