#include "mail/MessageShape.h"

#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <cstring>

namespace mail {

bool isTokenChar(char c)
{
    return c > ' ' && c < 127 && !std::strchr("()<>@,;:\\\"/[]?=", c);
}

namespace {

bool isToken(QByteArrayView name)
{
    return !name.isEmpty() && std::all_of(name.cbegin(), name.cend(), isTokenChar);
}

} // namespace

// The fields of a message's own header that reading it needs: sender, subject and what says
// how the body is made. The others (Received, DKIM, or a hostile server's megabytes of X- lines)
// are dropped in place before GMime builds an object for each. Lines that are not plainly a
// field, and everything from the first blank line on, stay as they were.
void dropFieldsNotRead(QByteArray &message)
{
    const auto isRead = [](QByteArrayView name) {
        return name.compare("From", Qt::CaseInsensitive) == 0
               || name.compare("Subject", Qt::CaseInsensitive) == 0
               || name.compare("MIME-Version", Qt::CaseInsensitive) == 0
               || name.first(std::min<qsizetype>(8, name.size()))
                          .compare("Content-", Qt::CaseInsensitive)
                      == 0;
    };
    char *data = message.data();
    const qsizetype size = message.size();
    qsizetype at = 0;
    qsizetype out = 0;
    bool keeping = true; // whether the field the next continuation line belongs to is kept
    while (at < size) {
        const qsizetype newline = message.indexOf('\n', at);
        const qsizetype next = newline < 0 ? size : newline + 1;
        const QByteArrayView line(data + at, next - at);
        if (line.trimmed().isEmpty())
            break;
        if (line[0] != ' ' && line[0] != '\t') {
            const qsizetype colon = line.indexOf(':');
            keeping = colon <= 0 || !isToken(line.first(colon).trimmed())
                      || isRead(line.first(colon).trimmed());
        }
        if (keeping) {
            std::memmove(data + out, data + at, size_t(next - at));
            out += next - at;
        }
        at = next;
    }
    if (out == at)
        return;
    std::memmove(data + out, data + at, size_t(size - at));
    message.truncate(out + size - at);
}

// GMime builds an object tree for a message, about two kilobytes a part: 100,000 parts of a few
// bytes each would take hundreds of megabytes. No real mail comes near this many.

// Whether a message has more parts than are read: the lines that start a part ("--" and a
// boundary some Content-Type declares) are counted before GMime is given the message. A
// boundary quoted in a text only makes the count larger, and the message is then kept.
bool hasTooManyParts(const QByteArray &message)
{
    QList<QByteArray> boundaries;
    for (qsizetype found = 0; (found = message.indexOf("oundary=", found)) >= 0; found += 8) {
        if (found == 0 || (message[found - 1] | 0x20) != 'b')
            continue;
        const qsizetype at = found + 8;
        const bool quoted = at < message.size() && message[at] == '"';
        const qsizetype start = at + (quoted ? 1 : 0);
        qsizetype end = start;
        while (end < message.size() && message[end] != '\r' && message[end] != '\n'
               && (quoted ? message[end] != '"' : isTokenChar(message[end])))
            ++end;
        const QByteArray boundary = message.mid(start, end - start);
        if (!boundary.isEmpty() && !boundaries.contains(boundary))
            boundaries.append(boundary);
        if (boundaries.size() > kMaxParts)
            return true; // each declares a multipart, which has a part at least
    }
    qsizetype parts = 0;
    for (qsizetype line = 0; !boundaries.isEmpty() && line < message.size();) {
        const QByteArrayView rest = QByteArrayView(message).sliced(line);
        if (rest.startsWith("--")) {
            for (const QByteArray &boundary : std::as_const(boundaries)) {
                const QByteArrayView after = rest.sliced(2);
                if (!after.startsWith(boundary))
                    continue;
                // Only blanks may follow a boundary; the closing line ("--" after it) starts
                // no part.
                QByteArrayView tail = after.sliced(boundary.size());
                const qsizetype lineEnd = tail.indexOf('\n');
                tail = (lineEnd < 0 ? tail : tail.first(lineEnd)).trimmed();
                if (tail.isEmpty() && ++parts > kMaxParts)
                    return true;
            }
        }
        const qsizetype newline = message.indexOf('\n', line);
        line = newline < 0 ? message.size() : newline + 1;
    }
    return false;
}

} // namespace mail
