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

bool Pop3ReplyReader::nextLine(QByteArrayView *line, qsizetype *next) const
{
    const qsizetype end = m_buffer.indexOf('\n', std::max(m_position, m_searched));
    if (end < 0) {
        m_searched = m_buffer.size();
        return false;
    }
    qsizetype length = end - m_position;
    if (length > 0 && m_buffer[end - 1] == '\r')
        --length;
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
        if (!nextLine(&line, &next)) {
            if (m_partialData.size() + pendingBytes() > maxBytes)
                return Result::Bad;
            return Result::NeedMore;
        }
        if (line == ".") {
            consumeTo(next);
            *data = std::move(m_partialData);
            m_partialData = QByteArray();
            return Result::Ready;
        }
        if (line.startsWith('.'))
            line = line.sliced(1);
        if (m_partialData.size() + line.size() + 2 > maxBytes) {
            consumeTo(next);
            m_partialData.clear();
            return Result::Bad;
        }
        m_partialData.append(line.data(), line.size());
        m_partialData.append("\r\n", 2);
        consumeTo(next); // the line points into the buffer until here
    }
}

} // namespace mail
