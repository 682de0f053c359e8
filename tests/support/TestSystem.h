#pragma once

#include "QuietWrite.h"
#include "RecordingPrompts.h"
#include "platform/Processes.h"
#include "platform/ServiceManager.h"
#include "platform/System.h"
#include "platform/TopLevelWindows.h"
#include "platform/UserPrompts.h"
#include "store/SqliteStore.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <optional>

class QDialog;

class FakeProcesses : public platform::Processes
{
public:
    bool startDetached(const QString &program, const QStringList &arguments) override;
    void openDocument(const QString &path, QObject *context,
                      std::function<void(bool opened)> done) override;

    QList<QStringList> started; // program, then its arguments
    QStringList opened;
    bool viewerOpens = true; // what the desktop's viewer answers
};

class FakeWindows : public platform::TopLevelWindows
{
public:
    bool exists(const QString &title) override;
    bool requestClose(const QString &title) override;

    QStringList titles;
    QStringList closeRequests;
    int lookups = 0;
};

// What a service manager reports, named by what it says; a pending state carries how far the
// service has come and how long to wait before asking again.
inline platform::ServiceStatus serviceStopped()
{
    return {platform::ServiceManager::kStopped, 0, 0};
}
inline platform::ServiceStatus serviceRunning()
{
    return {platform::ServiceManager::kRunning, 0, 0};
}
inline platform::ServiceStatus serviceStartPending(quint32 checkPoint, quint32 waitHintMs)
{
    return {platform::ServiceManager::kStartPending, checkPoint, waitHintMs};
}
inline platform::ServiceStatus serviceStopPending(quint32 checkPoint, quint32 waitHintMs)
{
    return {platform::ServiceManager::kStopPending, checkPoint, waitHintMs};
}

// A service manager that plays back what a test scripted and counts what it was asked.
class FakeServiceManager : public platform::ServiceManager
{
public:
    Handle openManager(quint32 access) override;
    std::optional<QList<platform::ServiceEntry>>
    enumerateServices(Handle manager, quint32 type, quint32 state, qsizetype bufferBytes) override;
    Handle openService(Handle manager, const QByteArray &name, quint32 access) override;
    bool queryStatus(Handle service, platform::ServiceStatus &status) override;
    bool startService(Handle service) override;
    ControlResult controlService(Handle service, quint32 control) override;
    void closeHandle(Handle handle) override;
    void sleep(quint32 milliseconds) override;
    bool isServiceCapable() override { return capable; }
    QString unavailableReason() override { return reason; }
    QString startFailureHint(const QByteArray &name) override
    {
        return QStringLiteral("see the journal of ") + QString::fromLatin1(name);
    }
    QString lifetimeNote() override { return note; }

    bool adminRights = true;
    bool managerOpens = true;
    bool enumerationFails = false;
    bool capable = true;
    QString reason = QStringLiteral("no systemd here");
    QString note;
    QList<platform::ServiceEntry> services;
    // Successive answers to status queries; the last one repeats.
    QList<platform::ServiceStatus> statusScript;
    bool startSucceeds = true;
    ControlResult stopAnswer{true, std::nullopt};

    QList<quint32> sleeps;
    int enumerations = 0;
    int queries = 0;
    int openHandles = 0;
    QStringList calls;

    // How `calls` records opening the manager or a service with the given access rights.
    static QString openManagerCall(quint32 access);
    static QString openServiceCall(const QByteArray &name, quint32 access);

private:
    Handle m_next = 0;
};

// The system's parts for one test: a fresh store file in a temporary folder, fakes for the rest.
// A modal dialog has no one to answer it here; WidgetTestSystem scripts them.
class TestSystem
{
public:
    TestSystem();
    virtual ~TestSystem() = default;
    TestSystem(const TestSystem &) = delete;
    TestSystem &operator=(const TestSystem &) = delete;

    // Something that went against the script, for the end-of-test check to report.
    void noteSurprise(const QString &what);
    // Everything that did not go as scripted: answers never used, questions nothing scripted,
    // prompts never taken, and what was noted as a surprise. Empty when the test went as it
    // said it would.
    virtual QStringList unfinishedScript() const;

    QTemporaryDir folder;
    QString storePath;
    store::SqliteStore store;
    RecordingPrompts prompts;
    FakeProcesses processes;
    FakeWindows windows;
    FakeServiceManager services;
    platform::System system;

protected:
    // Shows a modal dialog the code under test opened and returns its result.
    virtual int runDialog(QDialog &dialog);

private:
    QStringList m_surprises;
};

// Reads the store file with plain SQLite, independently of the program's own store code.
class StoreReader
{
public:
    explicit StoreReader(const QString &path);

    struct Value
    {
        int type = 0;
        QByteArray data;
    };

    std::optional<Value> value(const QByteArray &keyPath, const QByteArray &name) const;
    QList<QByteArray> valueNames(const QByteArray &keyPath) const;
    QList<QByteArray> subkeys(const QByteArray &keyPath) const;
    bool keyExists(const QByteArray &keyPath) const;
    QByteArray string(const QByteArray &keyPath, const QByteArray &name) const;
    std::optional<qint32> dword(const QByteArray &keyPath, const QByteArray &name) const;

    // Runs SQL against the file directly, as another program would.
    void exec(const QByteArray &sql) const;

    // Whether SQLite's own integrity check passes.
    bool integrityOk() const;

    // Whether another program could take the file for writing at once: no transaction, not
    // even a read, holds it.
    bool unlocked() const;

private:
    std::optional<qint64> keyId(const QByteArray &keyPath) const;
    QString m_path;
};

// Counts, by triggers in the file itself, every change made to the store's keys and values while
// it lives. Writing a value exactly as it is stored leaves the file's bytes as they were, since
// SQLite does not rewrite an unchanged row; only this tells that the write was made at all.
class StoreWriteCounter
{
public:
    explicit StoreWriteCounter(const QString &path);
    ~StoreWriteCounter();
    StoreWriteCounter(const StoreWriteCounter &) = delete;
    StoreWriteCounter &operator=(const StoreWriteCounter &) = delete;

    int writes() const;

private:
    QString m_path;
};

// Another program in the middle of a read while it lives: nothing can be committed to the file
// until it ends.
class ReaderInTheWay
{
public:
    explicit ReaderInTheWay(const QString &path);
    ~ReaderInTheWay();
    ReaderInTheWay(const ReaderInTheWay &) = delete;
    ReaderInTheWay &operator=(const ReaderInTheWay &) = delete;

private:
    struct sqlite3 *m_db = nullptr;
};

// Test shorthand: the same text as the store's 8-bit form.
inline QByteArray bytes(const char *text)
{
    return QByteArray(text);
}
