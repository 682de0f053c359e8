// What a POP3 server could send, fed to the reply reader in pieces whose sizes the input chooses:
// every call ends in a reply, a request for more or a refusal, never a crash, a hang or data
// beyond the limit; and a reply fed whole or in pieces comes out the same.
#include "mail/Pop3ReplyReader.h"

#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using mail::Pop3ReplyReader;

constexpr qint64 kLimit = 4096;

// Alternates status lines and multi-line data, as a session asks for them.
QList<QByteArray> readAll(const QByteArray &wire, qsizetype piece)
{
    Pop3ReplyReader reader;
    QList<QByteArray> out;
    bool wantData = false;
    for (qsizetype at = 0; at <= wire.size(); at += piece) {
        reader.append(wire.mid(at, piece));
        for (;;) {
            Pop3ReplyReader::Result result;
            if (wantData) {
                QByteArray data;
                result = reader.takeData(&data, kLimit);
                if (result == Pop3ReplyReader::Result::Ready) {
                    if (data.size() > kLimit)
                        std::abort();
                    out.append(data);
                }
            } else {
                Pop3ReplyReader::Status status;
                result = reader.takeStatus(&status);
                if (result == Pop3ReplyReader::Result::Ready)
                    out.append((status.ok ? "+" : "-") + status.text);
            }
            if (result == Pop3ReplyReader::Result::Bad)
                return out << QByteArray("BAD");
            if (result == Pop3ReplyReader::Result::NeedMore)
                break;
            wantData = !wantData;
        }
        if (piece == 0)
            break;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qsizetype piece = 1 + data[0] % 64;
    const QByteArray wire(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QList<QByteArray> whole = readAll(wire, wire.size() + 1);
    const QList<QByteArray> pieces = readAll(wire, piece);
    // Fed in pieces, a refusal may come earlier (a line not yet whole may already be too long)
    // but never a different reply.
    for (qsizetype i = 0; i < std::min(whole.size(), pieces.size()); ++i) {
        if (whole[i] != pieces[i] && whole[i] != "BAD" && pieces[i] != "BAD")
            std::abort();
    }
    return 0;
}
