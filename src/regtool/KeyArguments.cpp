#include "regtool/KeyArguments.h"

#include "regtool/RegFile.h"
#include "store/NameFolding.h"
#include "store/Store.h"

namespace regtool {

namespace {

constexpr char kShortRootName[] = "HKLM";

bool hasRootPrefix(const QByteArray &argument, const char *root)
{
    const QByteArray name(root);
    return argument.left(name.size()).compare(name, Qt::CaseInsensitive) == 0
           && (argument.size() == name.size() || argument[name.size()] == '\\');
}

} // namespace

std::optional<QByteArray> keyArgument(const QByteArray &argument)
{
    QByteArray path = argument;
    if (hasRootPrefix(path, kRootName))
        path.remove(0, qsizetype(sizeof kRootName) - 1);
    else if (hasRootPrefix(path, kShortRootName))
        path.remove(0, qsizetype(sizeof kShortRootName) - 1);
    else if (path.left(2).compare("HK", Qt::CaseInsensitive) == 0)
        return std::nullopt; // HKEY_CURRENT_USER, HKCU and the other roots

    while (path.startsWith('\\'))
        path.remove(0, 1);
    while (path.endsWith('\\'))
        path.chop(1);
    return path;
}

bool looksLikeKey(const QByteArray &argument)
{
    return argument.startsWith('\\') || argument.left(2).compare("HK", Qt::CaseInsensitive) == 0;
}

std::optional<QByteArray> storedPath(store::Access &access, const QByteArray &path)
{
    if (path.isEmpty())
        return access.openExisting(QByteArray())->isOpen() ? std::optional(QByteArray())
                                                           : std::nullopt;
    // Walked name by name so that each comes back as stored; a settings path is a few names.
    QByteArray result;
    for (const QByteArray &name : path.split('\\')) {
        const auto parent = access.openExisting(result);
        std::optional<QByteArray> found;
        for (const QByteArray &child : parent->subkeyNamesOnly()) {
            if (store::sameName(child, name)) {
                found = child;
                break;
            }
        }
        if (!found)
            return std::nullopt;
        result = result.isEmpty() ? *found : result + '\\' + *found;
    }
    return result;
}

QByteArray fullKeyName(const QByteArray &path)
{
    QByteArray name(kRootName);
    if (!path.isEmpty())
        name.append('\\').append(path);
    return name;
}

} // namespace regtool
