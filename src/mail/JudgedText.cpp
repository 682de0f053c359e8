#include "mail/JudgedText.h"

#include <QCryptographicHash>

#include <algorithm>

namespace mail {

QByteArray headerDigest(QByteArrayView text)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(at, end - at);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break; // the blank line that ends the header
        hash.addData(line);
        hash.addData(QByteArrayView("\n"));
        at = end + 1;
    }
    return hash.result();
}

bool lengthFitsListedSize(QByteArrayView text, qint64 listedSize)
{
    const qint64 lineEnds = std::count(text.begin(), text.end(), '\n');
    return std::abs(qint64(text.size()) - listedSize) <= lineEnds + 2;
}

} // namespace mail
