#pragma once

#include <QByteArray>
#include <QString>

// A text written as Windows' registry editor saves it in the Unicode form: byte-order mark,
// UTF-16LE, lines ended by CRLF.
inline QByteArray unicodeFile(const QString &text)
{
    QString crlf = text;
    crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : crlf) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}
