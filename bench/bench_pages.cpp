// Loading the pages from the store against a raw SQLite scan of the same rows that fills the
// same kind of widget, in one run.
#include "BenchSupport.h"
#include "accounts/AccountsPage.h"
#include "filters/AttachmentFilterPage.h"
#include "filters/PatternFilterPage.h"
#include "platform/Processes.h"
#include "platform/ServiceManager.h"
#include "platform/System.h"
#include "platform/TopLevelWindows.h"
#include "platform/UserPrompts.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"
#include "store/Store.h"
#include "windows/ListHelpers.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtEndian>

#include <sqlite3.h>

namespace {

class Quiet : public platform::UserPrompts,
              public platform::Processes,
              public platform::TopLevelWindows
{
public:
    platform::Answer show(const platform::Prompt &prompt) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(prompt.text));
        return platform::Answer::Ok;
    }
    bool startDetached(const QString &, const QStringList &) override { return false; }
    bool openDocument(const QString &) override { return false; }
    bool exists(const QString &) override { return false; }
    bool requestClose(const QString &) override { return false; }
};

class NoServices : public platform::ServiceManager
{
public:
    Handle openManager(quint32) override { return 0; }
    std::optional<QList<platform::ServiceEntry>> enumerateServices(Handle, quint32, quint32,
                                                                   qsizetype) override
    {
        return std::nullopt;
    }
    Handle openService(Handle, const QByteArray &, quint32) override { return 0; }
    bool queryStatus(Handle, platform::ServiceStatus &) override { return false; }
    bool startService(Handle) override { return false; }
    ControlResult controlService(Handle, quint32) override { return {}; }
    void closeHandle(Handle) override {}
    void sleep(quint32) override {}
    bool isServiceCapable() override { return false; }
};

struct Raw
{
    explicit Raw(const QString &path) { sqlite3_open(QFile::encodeName(path).constData(), &db); }
    ~Raw() { sqlite3_close(db); }
    // Rows of one query: each column as bytes.
    template <typename Row>
    void each(const char *sql, const Row &row) const
    {
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW)
            row(s);
        sqlite3_finalize(s);
    }
    sqlite3 *db = nullptr;
};

QByteArray column(sqlite3_stmt *s, int i)
{
    return QByteArray(static_cast<const char *>(sqlite3_column_blob(s, i)),
                      sqlite3_column_bytes(s, i));
}

// Rows of a report list from a join that yields (key name, value fold, value data) ordered by
// key: one row per key, each value put into the column `place` gives it.
template <typename Place>
QList<QTreeWidgetItem *> rowsFromJoin(const Raw &raw, const char *sql, const Place &place)
{
    QList<QTreeWidgetItem *> rows;
    QTreeWidgetItem *row = nullptr;
    raw.each(sql, [&](sqlite3_stmt *s) {
        const QString name = QString::fromLocal8Bit(column(s, 0));
        if (!row || row->text(0) != name) {
            row = new QTreeWidgetItem({name});
            row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
            rows.append(row);
        }
        if (sqlite3_column_type(s, 1) != SQLITE_NULL)
            place(*row, column(s, 1), column(s, 2));
    });
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("registry.db"));
    store::SqliteStore settings(path);
    Quiet quiet;
    NoServices services;
    platform::System system{
        settings, quiet, quiet, quiet, services, folder.path(), [](QDialog &dialog) {
            return dialog.exec();
        }};
    QAction add, edit, remove;
    add.setObjectName(QStringLiteral("acAdd"));
    edit.setObjectName(QStringLiteral("acEdit"));
    remove.setObjectName(QStringLiteral("acRemove"));

    std::printf(
        "Page loads (median of runs; ratio = page / raw scan + same widget, target <= 1.3)\n");
    int accounts = 0;
    for (const int count : {1000, 10000}) {
        store::registryAccess(settings, quiet, [&](store::Access &access) {
            for (; accounts < count; ++accounts) {
                const QByteArray n = QByteArray::number(accounts);
                const auto key = access.openOrCreate(QByteArray(store::kAccountsKey) + "user" + n
                                                     + "@example.com");
                key->writeString(store::kPop3, "pop.example.com");
                key->writeString(store::kLogin, "user" + n);
                key->writeString(store::kPassword, "00112233445566778899AABBCCDDEEFF");
                key->writeBool(store::kSsl, true);
            }
        });
        AccountsPage page(system, {&add, &edit, &remove});
        const double ours = medianMicroseconds(7, [&] { page.tsAccountsShow(); });
        QTreeWidget list;
        setUpReportList(&list, {"email", "User Name", "pop3 server"}, {85, 65, 110});
        Raw raw(path);
        const double baseline = medianMicroseconds(7, [&] {
            list.clear();
            list.addTopLevelItems(rowsFromJoin(
                raw,
                "SELECT k.name, v.fold, v.data FROM keys k JOIN keys p ON k.parent = p.id "
                "LEFT JOIN vals v ON v.key = k.id AND v.fold IN ('LOGIN', 'POP3') "
                "WHERE p.name = 'Accounts' ORDER BY k.fold",
                [](QTreeWidgetItem &row, const QByteArray &fold, const QByteArray &data) {
                    row.setText(fold == "LOGIN" ? 1 : 2, QString::fromLocal8Bit(data.chopped(1)));
                }));
        });
        char what[64];
        std::snprintf(what, sizeof what, "accounts page, %d accounts", count);
        printComparison(what, ours / 1000, "raw scan + list", baseline / 1000, "ms");
    }

    int patterns = 0;
    for (const int count : {10000, 100000}) {
        store::registryAccess(settings, quiet, [&](store::Access &access) {
            const auto key = access.openOrCreate(store::kSubjectFilterKey);
            for (; patterns < count; ++patterns)
                key->writeString("*word number " + QByteArray::number(patterns) + "*", {});
        });
        PatternFilterPage page(system, PatternFilterPage::subjectFilter(), &add, &remove);
        const double ours = medianMicroseconds(5, [&] { page.load(); });
        QListWidget list;
        list.setUniformItemSizes(true);
        Raw raw(path);
        const double baseline = medianMicroseconds(5, [&] {
            list.clear();
            raw.each("SELECT v.name FROM vals v JOIN keys k ON v.key = k.id "
                     "WHERE k.name = 'SubjectFilter' ORDER BY v.seq",
                     [&](sqlite3_stmt *s) {
                         list.addItem(new QListWidgetItem(QString::fromLocal8Bit(column(s, 0))));
                     });
        });
        char what[64];
        std::snprintf(what, sizeof what, "subject filter page, %d patterns", count);
        printComparison(what, ours / 1000, "raw scan + list", baseline / 1000, "ms");
    }

    store::registryAccess(settings, quiet, [&](store::Access &access) {
        for (int i = 0; i < 10000; ++i) {
            const auto key = access.openOrCreate(QByteArray(store::kAttachmentsKey) + "*.ext"
                                                 + QByteArray::number(i));
            key->writeInteger(store::kSizeFrom, i);
            key->writeInteger(store::kSizeTo, i * 2);
        }
    });
    AttachmentFilterPage page(system, {&add, &edit, &remove});
    const double ours = medianMicroseconds(7, [&] { page.tsIgnoreAttachShow(); });
    QTreeWidget list;
    setUpReportList(&list, {"File name", "Size from", "Size to"}, {120, 65, 65});
    Raw raw(path);
    const double baseline = medianMicroseconds(7, [&] {
        list.clear();
        list.addTopLevelItems(rowsFromJoin(
            raw,
            "SELECT k.name, v.fold, v.data FROM keys k JOIN keys p ON k.parent = p.id "
            "LEFT JOIN vals v ON v.key = k.id WHERE p.name = 'Attachments' "
            "ORDER BY k.fold, v.seq",
            [](QTreeWidgetItem &row, const QByteArray &fold, const QByteArray &data) {
                row.setText(fold == "SIZEFROM" ? 1 : 2,
                            QString::number(qFromLittleEndian<qint32>(data.constData()))
                                + QStringLiteral(" kB"));
            }));
    });
    printComparison("attachment page, 10000 patterns with sizes", ours / 1000, "raw scan + list",
                    baseline / 1000, "ms");
    return 0;
}
