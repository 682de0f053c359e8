#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace platform {

// A read-only INI file with the rules of the system's profile reader: sections in file order,
// section and key names matched without regard to case, the text after the first "=" with
// blanks trimmed and one pair of enclosing quotes removed. A missing or unreadable file is a
// file without sections.
class ProfileFile
{
public:
    explicit ProfileFile(const QString &path);
    static ProfileFile fromBytes(const QByteArray &contents);

    QList<QByteArray> sectionNames() const;
    // The text of a key in the first section of that name, or the default when either is missing.
    QByteArray readString(const QByteArray &section, const QByteArray &key,
                          const QByteArray &defaultText) const;

private:
    ProfileFile() = default;
    void parse(const QByteArray &contents);

    struct Entry
    {
        QByteArray key;
        QByteArray text;
    };
    struct Section
    {
        QByteArray name;
        QList<Entry> entries;
    };
    QList<Section> m_sections;
};

} // namespace platform
