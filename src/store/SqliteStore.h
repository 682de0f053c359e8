#pragma once

#include "store/Store.h"

#include <QString>

#include <memory>

namespace store {

class SqliteConnection;

// The settings tree kept in one SQLite file, for systems without a registry. Every outermost
// access opens the file, runs in one transaction and closes it again, so nothing is held
// between two user actions and the monitor can read at any moment.
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

    const QString &path() const { return m_path; }

    // OSTROVE_REGISTRY when set and not empty, else the machine-wide file.
    static QString defaultPath();

private:
    QString m_path;
    Options m_options;
    std::weak_ptr<SqliteConnection> m_current; // the outermost access still running, if any
};

} // namespace store
