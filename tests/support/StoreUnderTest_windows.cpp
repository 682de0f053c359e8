#include "StoreUnderTest.h"
#include "store/RegistryStore.h"

#include <windows.h>

namespace {

// Opens a key for reading past the program's own store code; null when there is none.
HKEY openForReading(QByteArray path)
{
    while (path.startsWith('\\'))
        path.remove(0, 1);
    while (path.endsWith('\\'))
        path.chop(1);
    HKEY key = nullptr;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.constData(), 0, KEY_READ, &key) == ERROR_SUCCESS
               ? key
               : nullptr;
}

void removeTestSettings()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Zel Software");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Zel Software");
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                       "OstroveTray");
}

} // namespace

struct StoreUnderTest::State
{
    store::RegistryStore settings;
};

StoreUnderTest::StoreUnderTest()
    : m(std::make_unique<State>())
{
    removeTestSettings();
}

StoreUnderTest::~StoreUnderTest()
{
    removeTestSettings();
}

store::Store &StoreUnderTest::store()
{
    return m->settings;
}

std::optional<store::RawValue> StoreUnderTest::value(const QByteArray &keyPath,
                                                     const QByteArray &name) const
{
    const HKEY key = openForReading(keyPath);
    if (!key)
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

QList<QByteArray> StoreUnderTest::subkeys(const QByteArray &keyPath) const
{
    QList<QByteArray> names;
    const HKEY key = openForReading(keyPath);
    char name[1024];
    for (DWORD i = 0; key; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            break;
        names.append(QByteArray(name, qsizetype(length)));
    }
    if (key)
        RegCloseKey(key);
    return names;
}

bool StoreUnderTest::keyExists(const QByteArray &keyPath) const
{
    const HKEY key = openForReading(keyPath);
    if (key)
        RegCloseKey(key);
    return key != nullptr;
}
