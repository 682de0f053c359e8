#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace mail {

// What ties the text a message was judged by to the message a DELE names. A server that answers
// pipelined commands out of order, slips in a reply no command asked for or sends text without
// dot-stuffing hands one message's text over as another's; its header, read again alone just
// before the DELE, and its listed size tell.

// The header as it was read, line ends aside: the same for a whole message and for TOP n 0.
QByteArray headerDigest(QByteArrayView text);

// Whether a whole message's length fits the size the server listed for it: a server may count
// each line end as one byte or two, and may add one to a last line without it.
bool lengthFitsListedSize(QByteArrayView text, qint64 listedSize);

} // namespace mail
