#pragma once

#include <QByteArray>

namespace mail {

// Splits what a POP3 server sends into replies, without trusting it: status lines are bounded,
// multi-line data is bounded, the terminating "." is required and dot-stuffing is undone.
// A multi-line reply ends only at CRLF "." CRLF: a bare LF inside a message ends no line of the
// protocol, so a "." after one is the message's own text, whatever the server did with it.
// Bytes go in with append(); each take... call either completes one item or asks for more.
class Pop3ReplyReader
{
public:
    enum class Result
    {
        NeedMore,
        Ready,
        Bad, // the server broke the protocol or a limit; the session must end
    };

    struct Status
    {
        bool ok = false;
        QByteArray text; // after "+OK " or "-ERR "
    };

    // A status line is at most this long (RFC 2449 allows 512; servers send a little more).
    static constexpr qsizetype kMaxStatusLine = 4096;

    void append(const QByteArray &bytes);
    Result takeStatus(Status *status);
    // The data of a multi-line reply whose "+OK" was taken; lines end as they came (CRLF, or a
    // bare LF inside a line). Data beyond maxBytes is a Bad reply.
    Result takeData(QByteArray *data, qint64 maxBytes);
    // Bytes held that no call has taken yet.
    qsizetype pendingBytes() const { return m_buffer.size() - m_position; }
    // The data taken so far holds a "." line that ends in a bare LF: what a server that ends its
    // lines without CR sends as the end of a reply, which therefore never ends.
    bool sawBareLfEnd() const { return m_sawBareLfEnd; }

private:
    // The next line without its end, or false when no whole line is there yet; `crlf` tells
    // whether it ended in CRLF rather than a bare LF.
    bool nextLine(QByteArrayView *line, qsizetype *next, bool *crlf = nullptr) const;
    void consumeTo(qsizetype position);

    QByteArray m_buffer;
    qsizetype m_position = 0;
    // Up to here the buffer holds no line end: a long line arriving in pieces is scanned once,
    // not again with every piece.
    mutable qsizetype m_searched = 0;
    QByteArray m_partialData;  // data of a multi-line reply taken so far
    bool m_atLineStart = true; // the data taken so far ends in CRLF (or is none)
    bool m_sawBareLfEnd = false;
};

} // namespace mail
