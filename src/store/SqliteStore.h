#pragma once

#include "store/Store.h"

#include <QString>

#include <memory>

namespace store {

class SqliteConnection;

// Which file a path names, and whether we may write it: an open file is used again only while
// both stay the same.
struct FileIdentity
{
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    bool writable = false;

    static FileIdentity of(const QString &path);
    bool operator==(const FileIdentity &) const = default;
};

// The settings tree kept in one SQLite file, for systems without a registry. Every access is
// one transaction; between two user actions the file stays open but unlocked, so the monitor
// can read at any moment, and nothing read from the tree is kept.
class SqliteStore : public Store
{
public:
    struct Options
    {
        int busyTimeoutMs = 5000;
        QString vfsName;       // tests put a fault-injecting file layer here
        bool readOnly = false; // as a user who may only read the file
    };

    explicit SqliteStore(QString path);
    SqliteStore(QString path, Options options);
    ~SqliteStore() override;

    std::unique_ptr<Access> beginAccess() override;

    // OSTROVE_REGISTRY when set and not empty; else for root the machine-wide file, and for
    // any other user their own under $XDG_CONFIG_HOME (~/.config). Every program asks here.
    static QString defaultPath();
    static QString defaultPath(bool administrator);

private:
    std::shared_ptr<SqliteConnection> openConnection(const FileIdentity &identity);

    QString m_path;
    Options m_options;
    std::shared_ptr<SqliteConnection> m_connection;
    bool m_openedReadOnly = false;
};

} // namespace store
