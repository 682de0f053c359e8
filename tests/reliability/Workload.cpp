#include "Workload.h"

#include "store/PasswordCipher.h"
#include "store/Store.h"

#include <QFile>
#include <QtEndian>

#include <sqlite3.h>

namespace workload {

namespace {

QByteArray path(const QByteArray &relative)
{
    return QByteArray(kRoot) + '\\' + relative;
}

QByteArray account(int i)
{
    return "Accounts\\acct" + QByteArray::number(i * 7 % 20);
}

QByteArray removedAccount(int i)
{
    return "acct" + QByteArray::number(i * 3 % 20);
}

QByteArray attachment(int i)
{
    return "att" + QByteArray::number(i % 10);
}

QByteArray removedAttachment(int i)
{
    return "att" + QByteArray::number(i / 4 % 10);
}

QByteArray stringValue(const QByteArray &text)
{
    return "1:" + (text + '\0').toHex();
}

QByteArray dwordValue(qint32 number)
{
    QByteArray data(4, '\0');
    qToLittleEndian(number, data.data());
    return "4:" + data.toHex();
}

// The same sequence, written once, for the store and for the expected tree.
template <typename Writer>
void run(int i, Writer &&writer)
{
    const QByteArray n = QByteArray::number(i);
    switch (i % 4) {
    case 0:
        writer.string(account(i), "Pop3", "pop" + n + ".example.com");
        writer.string(account(i), "Login", "login" + n);
        writer.string(account(i), "Password", store::EncryptPassword("pw" + n));
        writer.dword(account(i), "SSL", i % 2);
        break;
    case 1:
        writer.removeKey("Accounts", removedAccount(i));
        break;
    case 2:
        writer.string("Attachments\\" + attachment(i) + "\\deep" + QByteArray::number(i % 3)
                          + "\\deeper",
                      "v", n);
        writer.dword("Attachments\\" + attachment(i), "SizeFrom", i);
        writer.dword("Attachments\\" + attachment(i), "SizeTo", -i);
        break;
    default:
        writer.removeKey("Attachments", removedAttachment(i));
        break;
    }
    writer.dword("", "Generation", i);
}

struct StoreWriter
{
    store::Access &access;
    void string(const QByteArray &key, const QByteArray &name, const QByteArray &text)
    {
        access.openOrCreate(path(key))->writeString(name, text);
    }
    void dword(const QByteArray &key, const QByteArray &name, qint32 number)
    {
        access.openOrCreate(key.isEmpty() ? QByteArray(kRoot) : path(key))
            ->writeInteger(name, number);
    }
    void removeKey(const QByteArray &parent, const QByteArray &name)
    {
        access.openOrCreate(path(parent))->deleteKey(name);
    }
};

struct ModelWriter
{
    Tree &tree;
    // Creating a key creates its parents, as opening with create does.
    void touch(const QByteArray &key)
    {
        QByteArray walked(kRoot);
        tree[walked];
        for (const QByteArray &segment : key.split('\\')) {
            if (segment.isEmpty())
                continue;
            walked += '\\' + segment;
            tree[walked];
        }
    }
    void string(const QByteArray &key, const QByteArray &name, const QByteArray &text)
    {
        touch(key);
        tree[path(key)][name] = stringValue(text);
    }
    void dword(const QByteArray &key, const QByteArray &name, qint32 number)
    {
        touch(key);
        tree[key.isEmpty() ? QByteArray(kRoot) : path(key)][name] = dwordValue(number);
    }
    void removeKey(const QByteArray &parent, const QByteArray &name)
    {
        touch(parent);
        const QByteArray gone = path(parent) + '\\' + name;
        for (auto it = tree.begin(); it != tree.end();) {
            if (it.key() == gone || it.key().startsWith(gone + '\\'))
                it = tree.erase(it);
            else
                ++it;
        }
    }
};

} // namespace

void apply(int i, store::Access &access)
{
    run(i, StoreWriter{access});
}

Tree expected(int last)
{
    Tree tree;
    for (int i = 0; i <= last; ++i)
        run(i, ModelWriter{tree});
    return tree;
}

bool read(const QString &file, Tree &tree, int &generation, int busyTimeoutMs)
{
    tree.clear();
    generation = -1;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
        != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    bool ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    // Every key below the root with its path, then every value of those keys.
    sqlite3_stmt *keys = nullptr;
    ok = ok
         && sqlite3_prepare_v2(db,
                               "WITH RECURSIVE walk(id, path) AS ("
                               " SELECT k3.id, '\\Software\\Ostrove Workload' FROM keys r"
                               " JOIN keys k1 ON k1.parent = r.id AND k1.fold = 'SOFTWARE'"
                               " JOIN keys k3 ON k3.parent = k1.id AND k3.fold = 'OSTROVE WORKLOAD'"
                               " WHERE r.parent IS NULL"
                               " UNION ALL SELECT k.id, walk.path || '\\' || k.name FROM keys k"
                               " JOIN walk ON k.parent = walk.id)"
                               " SELECT walk.path, v.name, v.type, v.data FROM walk"
                               " LEFT JOIN vals v ON v.key = walk.id",
                               -1, &keys, nullptr)
                == SQLITE_OK;
    int rc = SQLITE_DONE;
    while (ok && (rc = sqlite3_step(keys)) == SQLITE_ROW) {
        const QByteArray key(reinterpret_cast<const char *>(sqlite3_column_text(keys, 0)));
        auto &values = tree[key];
        if (sqlite3_column_type(keys, 1) == SQLITE_NULL)
            continue;
        const QByteArray name(reinterpret_cast<const char *>(sqlite3_column_text(keys, 1)));
        const QByteArray data(static_cast<const char *>(sqlite3_column_blob(keys, 3)),
                              sqlite3_column_bytes(keys, 3));
        values[name] = QByteArray::number(sqlite3_column_int(keys, 2)) + ':' + data.toHex();
        if (key == kRoot && name == "Generation" && data.size() == 4)
            generation = qFromLittleEndian<qint32>(data.constData());
    }
    ok = ok && rc == SQLITE_DONE;
    sqlite3_finalize(keys);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return ok;
}

} // namespace workload
