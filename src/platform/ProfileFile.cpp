#include "platform/ProfileFile.h"

#include <QFile>

namespace platform {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

QByteArray trimmed(const char *begin, const char *end)
{
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
    return QByteArray(begin, end - begin);
}

bool sameIgnoringCase(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() && qstrnicmp(a.constData(), b.constData(), a.size()) == 0;
}

QByteArray withoutQuotes(QByteArray text)
{
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'')
        && text.back() == text.front())
        return text.mid(1, text.size() - 2);
    return text;
}

} // namespace

ProfileFile::ProfileFile(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        parse(file.readAll());
}

ProfileFile ProfileFile::fromBytes(const QByteArray &contents)
{
    ProfileFile profile;
    profile.parse(contents);
    return profile;
}

void ProfileFile::parse(const QByteArray &contents)
{
    const char *position = contents.constData();
    const char *const end = position + contents.size();
    if (contents.startsWith("\xEF\xBB\xBF"))
        position += 3;

    Section *current = nullptr; // keys before the first section belong to none
    while (position < end) {
        const char *lineEnd = position;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r')
            ++lineEnd;
        const char *begin = position;
        while (begin < lineEnd && isBlank(*begin))
            ++begin;
        position = lineEnd;
        while (position < end && (*position == '\n' || *position == '\r'))
            ++position;

        if (begin == lineEnd || *begin == ';')
            continue;
        if (*begin == '[') {
            const char *close = lineEnd;
            while (close > begin && close[-1] != ']')
                --close;
            const char *nameEnd = close > begin + 1 ? close - 1 : lineEnd;
            m_sections.append({trimmed(begin + 1, nameEnd), {}});
            current = &m_sections.last();
            continue;
        }
        if (!current)
            continue;
        const char *equals = begin;
        while (equals < lineEnd && *equals != '=')
            ++equals;
        if (equals == lineEnd)
            current->entries.append({trimmed(begin, lineEnd), QByteArray()});
        else
            current->entries.append(
                {trimmed(begin, equals), withoutQuotes(trimmed(equals + 1, lineEnd))});
    }
}

QList<QByteArray> ProfileFile::sectionNames() const
{
    QList<QByteArray> names;
    names.reserve(m_sections.size());
    for (const Section &section : m_sections)
        names.append(section.name);
    return names;
}

QByteArray ProfileFile::readString(const QByteArray &section, const QByteArray &key,
                                   const QByteArray &defaultText) const
{
    for (const Section &candidate : m_sections) {
        if (!sameIgnoringCase(candidate.name, section))
            continue;
        // Only the first section of a name counts, as with the system's reader.
        for (const Entry &entry : candidate.entries) {
            if (sameIgnoringCase(entry.key, key))
                return entry.text;
        }
        return defaultText;
    }
    return defaultText;
}

} // namespace platform
