#pragma once

#include "regtool/RegFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace regtool {

// Writes a registry file the way Windows' registry editor does: header, one section per key,
// values as strings, dwords or hex lists wrapped with continuations. Sections are written in
// the order given. Whatever the file cannot carry without loss is refused, with a reason.
class RegWriter
{
public:
    explicit RegWriter(RegFormat format);

    // Starts the section of a key below HKEY_LOCAL_MACHINE; the empty path is the root itself.
    bool key(const QByteArray &path);
    // Adds a value, in the store's form, to the current section.
    bool value(const QByteArray &name, quint32 type, const QByteArray &data);

    QString error() const { return m_error; }
    // A value named Password was written: the file holds enciphered account passwords.
    bool holdsPassword() const { return m_holdsPassword; }

    // The whole file, encoded for its form.
    QByteArray finish() const;

private:
    bool refuse(const QString &reason);
    bool carriesText(QByteArrayView text) const;
    void appendHex(const QByteArray &bytes);

    RegFormat m_format;
    QByteArray m_text; // 8-bit, lines ended by CRLF
    qsizetype m_lineStart = 0;
    QString m_error;
    bool m_holdsPassword = false;
};

} // namespace regtool
