#include "StoreUnderTest.h"
#include "store/RegistryStore.h"

#include <QSet>

#include <windows.h>

namespace {

// Paths as the store takes them, without the outer separators the registry refuses.
QByteArray trimmed(QByteArray path)
{
    while (path.startsWith('\\'))
        path.remove(0, 1);
    while (path.endsWith('\\'))
        path.chop(1);
    return path;
}

QList<QByteArray> subkeysOf(HKEY parent, const QByteArray &path)
{
    QList<QByteArray> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, trimmed(path).constData(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            break;
        names.append(QByteArray(name, qsizetype(length)));
    }
    RegCloseKey(key);
    return names;
}

// What a test may have added: keys under these two, and the autorun value.
constexpr const char *kWatched[] = {"", "Software"};

void removeAddedKeys(const QList<QSet<QByteArray>> &before)
{
    for (size_t i = 0; i < std::size(kWatched); ++i) {
        const QByteArray parent = kWatched[i];
        for (const QByteArray &name : subkeysOf(HKEY_LOCAL_MACHINE, parent)) {
            if (!before[qsizetype(i)].contains(name.toLower())) {
                const QByteArray path = parent.isEmpty() ? name : parent + '\\' + name;
                RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.constData());
                RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.constData());
            }
        }
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Zel Software");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Zel Software");
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                       "OstroveTray");
}

} // namespace

struct StoreUnderTest::State
{
    QList<QSet<QByteArray>> before;
    store::RegistryStore settings;
};

StoreUnderTest::StoreUnderTest()
    : m(std::make_unique<State>())
{
    for (const char *parent : kWatched) {
        QSet<QByteArray> names;
        for (const QByteArray &name : subkeysOf(HKEY_LOCAL_MACHINE, parent))
            names.insert(name.toLower());
        m->before.append(names);
    }
    removeAddedKeys(m->before);
}

StoreUnderTest::~StoreUnderTest()
{
    removeAddedKeys(m->before);
}

store::Store &StoreUnderTest::store()
{
    return m->settings;
}

std::optional<store::RawValue> StoreUnderTest::value(const QByteArray &keyPath,
                                                     const QByteArray &name) const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, trimmed(keyPath).constData(), 0, KEY_READ, &key)
        != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    std::optional<store::RawValue> result;
    if (RegQueryValueExA(key, name.constData(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        QByteArray data(qsizetype(size), '\0');
        if (RegQueryValueExA(key, name.constData(), nullptr, &type,
                             reinterpret_cast<BYTE *>(data.data()), &size)
            == ERROR_SUCCESS)
            result = store::RawValue{name, int(type), data.left(qsizetype(size))};
    }
    RegCloseKey(key);
    return result;
}

QList<QByteArray> StoreUnderTest::valueNames(const QByteArray &keyPath) const
{
    QList<QByteArray> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, trimmed(keyPath).constData(), 0, KEY_READ, &key)
        != ERROR_SUCCESS)
        return names;
    std::vector<char> name(32768);
    for (DWORD i = 0;; ++i) {
        auto length = DWORD(name.size());
        if (RegEnumValueA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            break;
        names.append(QByteArray(name.data(), qsizetype(length)));
    }
    RegCloseKey(key);
    return names;
}

QList<QByteArray> StoreUnderTest::subkeys(const QByteArray &keyPath) const
{
    return subkeysOf(HKEY_LOCAL_MACHINE, keyPath);
}

bool StoreUnderTest::keyExists(const QByteArray &keyPath) const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, trimmed(keyPath).constData(), 0, KEY_READ, &key)
        != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
