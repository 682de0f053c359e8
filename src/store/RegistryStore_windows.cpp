#include "store/RegistryStore.h"
#include "store/StoreError.h"

#include <QString>
#include <QtEndian>

#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace store {

namespace {

// The registry's own limits, in characters; checked here too so that both stores refuse the
// same names whatever the registry underneath lets through.
constexpr qsizetype kMaxKeyNameLength = 255;
constexpr qsizetype kMaxValueNameLength = 16383;

bool longerThan(const QByteArray &name, qsizetype limit)
{
    return name.size() > limit && QString::fromLocal8Bit(name).size() > limit;
}

[[noreturn]] void fail(const char *what, LSTATUS status)
{
    throw StoreError(std::string(what) + " (Windows error " + std::to_string(status) + ")");
}

// A name as the registry calls want it: zero-terminated, with no zero inside.
std::string cName(QByteArrayView name)
{
    return std::string(name.data(), size_t(name.size()));
}

struct ValueData
{
    DWORD type = 0;
    QByteArray data;
};

// Reads one value whole; nothing when the key holds no such value. The value may grow between
// asking its size and reading it, so a short buffer is simply asked for again.
std::optional<ValueData> queryValue(HKEY key, QByteArrayView name)
{
    const std::string cname = cName(name);
    ValueData value;
    DWORD size = 0;
    for (;;) {
        LSTATUS status = RegQueryValueExA(key, cname.c_str(), nullptr, &value.type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND)
            return std::nullopt;
        if (status != ERROR_SUCCESS)
            fail("cannot read a value", status);
        value.data.resize(qsizetype(size));
        status = RegQueryValueExA(key, cname.c_str(), nullptr, &value.type,
                                  reinterpret_cast<BYTE *>(value.data.data()), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status == ERROR_FILE_NOT_FOUND)
            return std::nullopt;
        if (status != ERROR_SUCCESS)
            fail("cannot read a value", status);
        value.data.resize(qsizetype(size));
        return value;
    }
}

bool isString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// A string value's text: its bytes up to the first zero, which the registry does not promise.
QByteArray textOf(const QByteArray &data)
{
    const qsizetype end = data.indexOf('\0');
    return end < 0 ? data : data.left(end);
}

// A key with every value in it, as a deleted tree is put back.
struct KeyContents
{
    QByteArray path;
    QList<RawValue> values;
};

// What puts back one change of an access: a value as it was (or its absence), a key that was not
// there, or a tree as it was before it was deleted.
struct Undo
{
    enum class Kind
    {
        Value,
        NewKey,
        Tree,
    };
    Kind kind = Kind::Value;
    QByteArray path; // below HKEY_LOCAL_MACHINE, without outer separators
    QByteArray name;
    std::optional<ValueData> before;
    QList<KeyContents> tree; // parents before their subkeys
};

} // namespace

// The changes of one access that abandon() takes back, newest last. A nested access hands its
// own to the one around it when it finishes, so that abandoning the outer one takes them too.
struct RegistryJournal
{
    std::shared_ptr<RegistryJournal> outer;
    QList<Undo> undos;
    bool open = true;

    void record(Undo undo)
    {
        if (open)
            undos.append(std::move(undo));
    }
};

namespace {

// Opens (or creates) a key one name at a time: Wine's 8-bit calls refuse a whole path of more
// than 260 characters, though each of its names may have 255. Null when it failed; `created`
// gets the outermost key that the walk made, if it made any.
HKEY walk(const QList<QByteArray> &names, bool create, REGSAM access, QByteArray *created = nullptr)
{
    HKEY parent = HKEY_LOCAL_MACHINE;
    QByteArray path;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        // The keys on the way are only passed through, or have a subkey added.
        const REGSAM wanted = last ? access : (create ? KEY_CREATE_SUB_KEY : KEY_QUERY_VALUE);
        const std::string name = cName(names[i]);
        path += (i == 0 ? QByteArray() : QByteArray("\\")) + names[i];
        HKEY child = nullptr;
        DWORD disposition = 0;
        const LSTATUS status =
            create ? RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     wanted, nullptr, &child, &disposition)
                   : RegOpenKeyExA(parent, name.c_str(), 0, wanted, &child);
        if (parent != HKEY_LOCAL_MACHINE)
            RegCloseKey(parent);
        if (status != ERROR_SUCCESS)
            return nullptr;
        if (created && disposition == REG_CREATED_NEW_KEY && created->isEmpty())
            *created = path;
        parent = child;
    }
    return parent;
}

HKEY walk(const QByteArray &path, bool create, REGSAM access)
{
    return path.isEmpty() ? HKEY_LOCAL_MACHINE : walk(path.split('\\'), create, access);
}

void closeKey(HKEY key)
{
    if (key && key != HKEY_LOCAL_MACHINE)
        RegCloseKey(key);
}

QList<RawValue> valuesOf(HKEY key);

// The tree at a path, parents first; empty when there is no such key.
void readTree(const QByteArray &path, QList<KeyContents> &tree)
{
    const HKEY key = walk(path, false, KEY_READ);
    if (!key)
        return;
    tree.append({path, valuesOf(key)});
    char name[kMaxKeyNameLength * 2 + 2];
    QList<QByteArray> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            break;
        subkeys.append(QByteArray(name, qsizetype(length)));
    }
    closeKey(key);
    for (const QByteArray &subkey : subkeys)
        readTree(path + '\\' + subkey, tree);
}

void setValue(HKEY key, const QByteArray &name, DWORD type, const QByteArray &data)
{
    RegSetValueExA(key, cName(name).c_str(), 0, type,
                   reinterpret_cast<const BYTE *>(data.constData()), DWORD(data.size()));
}

// Puts back what one change altered, as far as the registry lets it.
void takeBack(const Undo &undo)
{
    switch (undo.kind) {
    case Undo::Kind::Value:
        if (const HKEY key = walk(undo.path, true, KEY_SET_VALUE)) {
            if (undo.before)
                setValue(key, undo.name, undo.before->type, undo.before->data);
            else
                RegDeleteValueA(key, cName(undo.name).c_str());
            closeKey(key);
        }
        break;
    case Undo::Kind::NewKey:
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, cName(undo.path).c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, cName(undo.path).c_str());
        break;
    case Undo::Kind::Tree:
        for (const KeyContents &contents : undo.tree) {
            if (const HKEY key = walk(contents.path, true, KEY_SET_VALUE)) {
                for (const RawValue &value : contents.values)
                    setValue(key, value.name, DWORD(value.type), value.data);
                closeKey(key);
            }
        }
        break;
    }
}

class WindowsRegistryKey final : public RegistryKey
{
public:
    WindowsRegistryKey(HKEY key, bool writable, QByteArray path = {},
                       std::shared_ptr<RegistryJournal> journal = {})
        : m_key(key)
        , m_writable(writable)
        , m_path(std::move(path))
        , m_journal(std::move(journal))
    {}

    ~WindowsRegistryKey() override
    {
        // The root is the system's own handle, never ours to close.
        if (m_key && m_key != HKEY_LOCAL_MACHINE)
            RegCloseKey(m_key);
    }
    WindowsRegistryKey(const WindowsRegistryKey &) = delete;
    WindowsRegistryKey &operator=(const WindowsRegistryKey &) = delete;

    // Leaves the handle to whoever lent it.
    void release() { m_key = nullptr; }

    bool isOpen() const override { return m_key != nullptr; }

    void requireWritable() const override
    {
        if (!isOpen())
            throw StoreError("key not open");
        if (!m_writable)
            throw StoreError("settings may only be read");
    }

    void writeString(const QByteArray &name, const QByteArray &text) override
    {
        QByteArray data(text);
        data.append('\0');
        writeValue(name, REG_SZ, data);
    }

    QByteArray readString(QByteArrayView name) override
    {
        if (!isOpen())
            return {};
        const auto value = queryValue(m_key, name);
        if (!value)
            return {};
        // A short string also "reads" into a number's buffer: the type decides, never the call.
        if (!isString(value->type))
            throw StoreError("value is not a string");
        return textOf(value->data);
    }

    void writeInteger(const QByteArray &name, qint32 number) override
    {
        QByteArray data(4, '\0');
        qToLittleEndian(static_cast<quint32>(number), data.data());
        writeValue(name, REG_DWORD, data);
    }

    qint32 readInteger(QByteArrayView name) override
    {
        if (!isOpen())
            throw StoreError("key not open");
        const auto value = queryValue(m_key, name);
        if (!value)
            throw StoreError("value absent");
        if (value->type != REG_DWORD || value->data.size() != 4)
            throw StoreError("value is not a REG_DWORD");
        return qFromLittleEndian<qint32>(value->data.constData());
    }

    bool valueExists(QByteArrayView name) override
    {
        if (!isOpen())
            return false;
        const std::string cname = cName(name);
        return RegQueryValueExA(m_key, cname.c_str(), nullptr, nullptr, nullptr, nullptr)
               == ERROR_SUCCESS;
    }

    void deleteValue(const QByteArray &name) override
    {
        requireWritable();
        if (auto before = queryValue(m_key, name))
            record({Undo::Kind::Value, m_path, name, std::move(before), {}});
        const LSTATUS status = RegDeleteValueA(m_key, cName(name).c_str());
        // Gone already is what was asked for.
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            fail("cannot delete a value", status);
    }

    void deleteKey(const QByteArray &name) override
    {
        requireWritable();
        // An empty name would make RegDeleteTree empty this key itself.
        if (name.isEmpty())
            return;
        QList<KeyContents> tree;
        readTree(childPath(name), tree);
        if (!tree.isEmpty())
            record({Undo::Kind::Tree, childPath(name), {}, std::nullopt, std::move(tree)});
        const LSTATUS status = RegDeleteTreeA(m_key, cName(name).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            fail("cannot delete a key", status);
        // RegDeleteTree empties the key before it removes it; a key it could not remove is
        // left empty, and that is still a failure.
        HKEY left = nullptr;
        if (RegOpenKeyExA(m_key, cName(name).c_str(), 0, KEY_READ, &left) == ERROR_SUCCESS) {
            RegCloseKey(left);
            throw StoreError("cannot delete a key");
        }
    }

    QList<QByteArray> subkeyNames() override
    {
        QList<QByteArray> names;
        if (!isOpen())
            return names;
        std::vector<char> buffer(kMaxKeyNameLength * 2 + 2);
        for (DWORD index = 0;; ++index) {
            auto length = DWORD(buffer.size());
            const LSTATUS status = RegEnumKeyExA(m_key, index, buffer.data(), &length, nullptr,
                                                 nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            if (status != ERROR_SUCCESS)
                fail("cannot list the subkeys", status);
            names.append(QByteArray(buffer.data(), qsizetype(length)));
        }
        return names;
    }

    QList<QByteArray> valueNames() override
    {
        QList<QByteArray> names;
        for (const RawValue &value : enumerate(false))
            names.append(value.name);
        return names;
    }

    void writeRaw(const QByteArray &name, int type, const QByteArray &data) override
    {
        writeValue(name, DWORD(type), data);
    }

    std::optional<RawValue> readRaw(const QByteArray &name) override
    {
        if (!isOpen())
            return std::nullopt;
        const auto value = queryValue(m_key, name);
        if (!value)
            return std::nullopt;
        // The name as stored, which may differ from the one asked for in letter case.
        QByteArray stored = name;
        for (const RawValue &listed : enumerate(false)) {
            if (lstrcmpiA(listed.name.constData(), name.constData()) == 0) {
                stored = listed.name;
                break;
            }
        }
        return RawValue{stored, int(value->type), value->data};
    }

    QList<RawValue> rawValues() override { return enumerate(true); }

    QList<QByteArray> subkeyNamesOnly() override { return subkeyNames(); }

private:
    QList<RawValue> enumerate(bool withData)
    {
        QList<RawValue> values;
        if (!isOpen())
            return values;
        DWORD maxName = 0;
        DWORD maxData = 0;
        LSTATUS status = RegQueryInfoKeyA(m_key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, &maxName, &maxData, nullptr, nullptr);
        if (status != ERROR_SUCCESS)
            fail("cannot list the values", status);
        // Generous buffers: the sizes are counted in characters, and the 8-bit form of a
        // character may take two bytes.
        std::vector<char> name(size_t(maxName) * 2 + 2);
        std::vector<BYTE> data(size_t(maxData) + 1);
        for (DWORD index = 0;;) {
            auto nameLength = DWORD(name.size());
            auto dataLength = DWORD(data.size());
            DWORD type = 0;
            status =
                RegEnumValueA(m_key, index, name.data(), &nameLength, nullptr, &type,
                              withData ? data.data() : nullptr, withData ? &dataLength : nullptr);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            if (status == ERROR_MORE_DATA) {
                // Something grew meanwhile: larger buffers, and the same index again.
                name.resize(name.size() * 2);
                data.resize(data.size() * 2);
                continue;
            }
            if (status != ERROR_SUCCESS)
                fail("cannot list the values", status);
            RawValue value{QByteArray(name.data(), qsizetype(nameLength)), int(type), {}};
            if (withData)
                value.data =
                    QByteArray(reinterpret_cast<const char *>(data.data()), qsizetype(dataLength));
            values.append(value);
            ++index;
        }
        return values;
    }

    void writeValue(const QByteArray &name, DWORD type, const QByteArray &data)
    {
        requireWritable();
        if (longerThan(name, kMaxValueNameLength))
            throw StoreError("value name too long");
        // The registry's 8-bit calls end a name at its first zero byte.
        if (name.contains('\0'))
            throw StoreError("value name holds a zero byte");
        record({Undo::Kind::Value, m_path, name, queryValue(m_key, name), {}});
        const LSTATUS status =
            RegSetValueExA(m_key, cName(name).c_str(), 0, type,
                           reinterpret_cast<const BYTE *>(data.constData()), DWORD(data.size()));
        if (status != ERROR_SUCCESS)
            fail("cannot write a value", status);
    }

    void record(Undo undo)
    {
        if (m_journal)
            m_journal->record(std::move(undo));
    }

    QByteArray childPath(const QByteArray &name) const
    {
        return m_path.isEmpty() ? name : m_path + '\\' + name;
    }

    HKEY m_key;
    bool m_writable;
    QByteArray m_path;
    std::shared_ptr<RegistryJournal> m_journal;
};

QList<RawValue> valuesOf(HKEY key)
{
    WindowsRegistryKey borrowed(key, false);
    QList<RawValue> values = borrowed.rawValues();
    borrowed.release();
    return values;
}

class WindowsRegistryAccess final : public Access
{
public:
    WindowsRegistryAccess(bool readOnly, std::shared_ptr<RegistryJournal> &current)
        : m_readOnly(readOnly)
        , m_current(current)
        , m_journal(std::make_shared<RegistryJournal>())
    {
        m_journal->outer = m_current;
        m_current = m_journal;
    }

    ~WindowsRegistryAccess() override
    {
        finish();
        m_current = m_journal->outer;
    }
    WindowsRegistryAccess(const WindowsRegistryAccess &) = delete;
    WindowsRegistryAccess &operator=(const WindowsRegistryAccess &) = delete;

    std::unique_ptr<RegistryKey> openOrCreate(const QByteArray &path) override
    {
        return open(path, !m_readOnly);
    }

    std::unique_ptr<RegistryKey> openExisting(const QByteArray &path) override
    {
        return open(path, false);
    }

    // Each write was made when it was asked for; what is kept is only what may be taken back.
    void finish() override
    {
        if (!m_journal->open)
            return;
        m_journal->open = false;
        if (m_journal->outer)
            m_journal->outer->undos.append(m_journal->undos);
        m_journal->undos.clear();
    }

    // The registry has no transactions: the writes are taken back one by one, newest first.
    void abandon() override
    {
        if (!m_journal->open)
            return;
        m_journal->open = false;
        for (auto undo = m_journal->undos.crbegin(); undo != m_journal->undos.crend(); ++undo)
            takeBack(*undo);
        m_journal->undos.clear();
    }

private:
    std::unique_ptr<RegistryKey> open(const QByteArray &path, bool create)
    {
        qsizetype begin = 0;
        qsizetype end = path.size();
        while (begin < end && path[begin] == '\\')
            ++begin;
        while (end > begin && path[end - 1] == '\\')
            --end;
        const QByteArray trimmed = path.sliced(begin, end - begin);
        if (!validPath(trimmed))
            return std::make_unique<WindowsRegistryKey>(nullptr, false);
        // The root itself: opening it by an empty path may hand back the root's own handle.
        if (trimmed.isEmpty())
            return std::make_unique<WindowsRegistryKey>(HKEY_LOCAL_MACHINE, !m_readOnly, trimmed,
                                                        m_journal);
        const QList<QByteArray> names = trimmed.split('\\');
        if (!m_readOnly) {
            QByteArray created;
            if (const HKEY key = walk(names, create, KEY_READ | KEY_WRITE, &created)) {
                if (!created.isEmpty())
                    m_journal->record({Undo::Kind::NewKey, created, {}, std::nullopt, {}});
                return std::make_unique<WindowsRegistryKey>(key, true, trimmed, m_journal);
            }
        }
        // Without the right to write (not an administrator), what is there may still be read.
        return std::make_unique<WindowsRegistryKey>(walk(names, false, KEY_READ), false);
    }

    // No empty name between two separators, none longer than a key name may be, and no zero
    // byte, which would end the name early.
    static bool validPath(const QByteArray &path)
    {
        if (path.isEmpty())
            return true;
        for (const QByteArray &segment : path.split('\\')) {
            if (segment.isEmpty() || longerThan(segment, kMaxKeyNameLength)
                || segment.contains('\0'))
                return false;
        }
        return true;
    }

    bool m_readOnly;
    std::shared_ptr<RegistryJournal> &m_current;
    std::shared_ptr<RegistryJournal> m_journal;
};

} // namespace

RegistryStore::RegistryStore(Options options)
    : m_options(options)
{}

RegistryStore::~RegistryStore() = default;

std::unique_ptr<Access> RegistryStore::beginAccess()
{
    return std::make_unique<WindowsRegistryAccess>(m_options.readOnly, m_current);
}

} // namespace store
