// Loading the pages from the store against a raw SQLite scan of the same rows that fills the
// same kind of widget, in one run.
#include "BenchSupport.h"
#include "accounts/AccountsPage.h"
#include "app/Form_Ostrove.h"
#include "app/RealSystem.h"
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
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QListWidget>
#include <QProcess>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
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
    void openDocument(const QString &, QObject *, std::function<void(bool)>) override {}
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
    void each(const QByteArray &sql, const Row &row) const
    {
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db, sql.constData(), -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW)
            row(s);
        sqlite3_finalize(s);
    }
    sqlite3 *db = nullptr;
};

// The id of a key below Software\\Zel Software\\Ostrove, found through the index by its path as
// any reader must, written into the query as a number.
QByteArray under(const char *fold)
{
    return "(SELECT id FROM keys WHERE fold = '" + QByteArray(fold)
           + "' AND parent = (SELECT id FROM keys WHERE fold = 'OSTROVE' AND parent = "
             "(SELECT id FROM keys WHERE fold = 'ZEL SOFTWARE' AND parent = "
             "(SELECT id FROM keys WHERE fold = 'SOFTWARE' AND parent = "
             "(SELECT id FROM keys WHERE fold = 'HKEY_LOCAL_MACHINE' AND parent IS NULL)))))";
}

QByteArray column(sqlite3_stmt *s, int i)
{
    return QByteArray(static_cast<const char *>(sqlite3_column_blob(s, i)),
                      sqlite3_column_bytes(s, i));
}

// Rows of a report list from a join that yields (key name, value fold, value data) ordered by
// key: one row per key, each value put into the column `place` gives it.
template <typename Place>
QList<QTreeWidgetItem *> rowsFromJoin(const Raw &raw, const QByteArray &sql, const Place &place)
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

// ---- Large stores, each start in a process of its own, so that peak memory can be compared.

long residentKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(qstrlen(field)))
                .trimmed()
                .split(' ')
                .value(0)
                .toLong();
    }
    return 0;
}

// Called once the page is on screen: says so at once (the parent's clock stops there), then, a
// second later, the peak and the resident memory.
int reportShown(QWidget &window)
{
    window.repaint();
    std::printf("shown\n");
    std::fflush(stdout);
    QTest::qWait(1000);
    std::printf("%ld %ld\n", residentKilobytes("VmHWM:"), residentKilobytes("VmRSS:"));
    std::fflush(stdout);
    return 0;
}

// OstroveConf's own window, started on the store; for patterns the user then picks the
// address filter page.
int startOurs(const QString &kind)
{
    RealSystem::setUpApplication();
    RealSystem parts;
    TfrmOstrove window(parts.system());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    if (kind == QLatin1String("patterns")) {
        window.lvDodatki->setCurrentRow(window.PageControl1->indexOf(window.tsIgnoreMail()));
        window.lvDodatkiClick();
    }
    return reportShown(window);
}

// The floor: the rows read by one raw query and put into the same widget the same way.
int startRaw(const QString &kind, const QString &path)
{
    RealSystem::setUpApplication();
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    window.resize(399, 347);
    Raw raw(path);
    sqlite3_exec(raw.db, "BEGIN", nullptr, nullptr, nullptr);
    if (kind == QLatin1String("accounts")) {
        auto *list = new QTreeWidget(&window);
        setUpReportList(list, {"email", "User Name", "pop3 server"}, {85, 65, 110});
        layout->addWidget(list);
        QList<QTreeWidgetItem *> rows;
        QByteArray current;
        raw.each("SELECT k.name, v.fold, v.data FROM keys k "
                 "LEFT JOIN vals v ON v.key = k.id AND v.fold IN ('LOGIN', 'POP3') "
                 "WHERE k.parent = "
                     + under("ACCOUNTS") + " ORDER BY k.fold",
                 [&](sqlite3_stmt *s) {
                     const QByteArray name = column(s, 0);
                     if (rows.isEmpty() || current != name) {
                         current = name;
                         auto *row = new QTreeWidgetItem({QString::fromLocal8Bit(name)});
                         row->setData(0, kStoredNameRole, name);
                         rows.append(row);
                     }
                     if (sqlite3_column_type(s, 1) != SQLITE_NULL) {
                         rows.last()->setText(column(s, 1) == "LOGIN" ? 1 : 2,
                                              QString::fromLocal8Bit(column(s, 2).chopped(1)));
                     }
                 });
        list->addTopLevelItems(rows);
    } else {
        auto *list = new QListWidget(&window);
        list->setUniformItemSizes(true);
        layout->addWidget(list);
        QList<QByteArray> names;
        raw.each("SELECT name FROM vals WHERE key = " + under("MAILFILTER") + " ORDER BY seq",
                 [&](sqlite3_stmt *s) { names.append(column(s, 0)); });
        QStringList lines;
        for (const QByteArray &name : std::as_const(names))
            lines.append(QString::fromLocal8Bit(name));
        list->addItems(lines);
        const QSignalBlocker quiet(list->model());
        for (int i = 0; i < names.size(); ++i)
            list->item(i)->setData(kStoredNameRole, names[i]);
    }
    sqlite3_exec(raw.db, "COMMIT", nullptr, nullptr, nullptr);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    return reportShown(window);
}

struct StartFigures
{
    double milliseconds = 0;
    long peakKb = 0;
    long settledKb = 0;
};

StartFigures runStart(const QString &kind, const QString &variant, const QString &path)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OSTROVE_REGISTRY"), path);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    StartFigures figures;
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--start"), kind, variant, path});
    while (!child.canReadLine() && child.waitForReadyRead(60000)) {
    }
    figures.milliseconds = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    child.readLine();
    child.waitForFinished(60000);
    const QList<QByteArray> memory = child.readAll().trimmed().split(' ');
    figures.peakKb = memory.value(0).toLong();
    figures.settledKb = memory.value(1).toLong();
    return figures;
}

double medianOf(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void compareStarts(const char *what, const QString &kind, const QString &path)
{
    QList<double> ours[3];
    QList<double> raw[3];
    for (int run = 0; run < 5; ++run) {
        for (const bool isOurs : {true, false}) {
            const StartFigures f =
                runStart(kind, isOurs ? QStringLiteral("ours") : QStringLiteral("raw"), path);
            QList<double> *into = isOurs ? ours : raw;
            into[0].append(f.milliseconds);
            into[1].append(static_cast<double>(f.peakKb) / 1024.0);
            into[2].append(static_cast<double>(f.settledKb) / 1024.0);
        }
    }
    char line[96];
    std::snprintf(line, sizeof line, "%s: start to shown page", what);
    printComparison(line, medianOf(ours[0]), "raw scan + same widget", medianOf(raw[0]), "ms");
    std::snprintf(line, sizeof line, "%s: peak memory", what);
    printComparison(line, medianOf(ours[1]), "raw scan + same widget", medianOf(raw[1]), "MB");
    std::snprintf(line, sizeof line, "%s: memory a second after", what);
    printComparison(line, medianOf(ours[2]), "raw peak", medianOf(raw[1]), "MB");
}

void fillLargeStores(const QString &accountsPath, const QString &patternsPath,
                     platform::UserPrompts &quiet)
{
    store::SqliteStore accounts(accountsPath);
    store::registryAccess(accounts, quiet, [&](store::Access &access) {
        for (int i = 0; i < 100000; ++i) {
            const QByteArray n = QByteArray::number(i);
            const auto key = access.openOrCreate(store::accountPath("user" + n + "@example.com"));
            key->writeString(store::kPop3, "pop.example.com");
            key->writeString(store::kLogin, "user" + n);
            key->writeString(store::kPassword, "00112233445566778899AABBCCDDEEFF");
            key->writeBool(store::kSsl, true);
        }
    });
    store::SqliteStore patterns(patternsPath);
    store::registryAccess(patterns, quiet, [&](store::Access &access) {
        const auto key = access.openOrCreate(store::kMailFilterKey);
        for (int i = 0; i < 100000; ++i)
            key->writeString("*@sender" + QByteArray::number(i) + ".example.com", {});
    });
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--start") == 0) {
        const QString kind = QString::fromLocal8Bit(argv[2]);
        return qstrcmp(argv[3], "ours") == 0 ? startOurs(kind)
                                             : startRaw(kind, QString::fromLocal8Bit(argv[4]));
    }
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
                "SELECT k.name, v.fold, v.data FROM keys k "
                "LEFT JOIN vals v ON v.key = k.id AND v.fold IN ('LOGIN', 'POP3') "
                "WHERE k.parent = "
                    + under("ACCOUNTS") + " ORDER BY k.fold",
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
            QList<QByteArray> names;
            raw.each("SELECT name FROM vals WHERE key = " + under("SUBJECTFILTER")
                         + " ORDER BY seq",
                     [&](sqlite3_stmt *s) { names.append(column(s, 0)); });
            QStringList lines;
            for (const QByteArray &name : std::as_const(names))
                lines.append(QString::fromLocal8Bit(name));
            list.addItems(lines);
            const QSignalBlocker silent(list.model());
            for (int i = 0; i < names.size(); ++i)
                list.item(i)->setData(kStoredNameRole, names[i]);
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
            "SELECT k.name, v.fold, v.data FROM keys k LEFT JOIN vals v ON v.key = k.id "
            "WHERE k.parent = "
                + under("ATTACHMENTS") + " ORDER BY k.fold, v.seq",
            [](QTreeWidgetItem &row, const QByteArray &fold, const QByteArray &data) {
                row.setText(fold == "SIZEFROM" ? 1 : 2,
                            QString::number(qFromLittleEndian<qint32>(data.constData()))
                                + QStringLiteral(" kB"));
            }));
    });
    printComparison("attachment page, 10000 patterns with sizes", ours / 1000, "raw scan + list",
                    baseline / 1000, "ms");

    std::printf("\nLarge stores: each start a process of its own (median of 5; target <= 1.3)\n");
    const QString accountsPath = folder.filePath(QStringLiteral("accounts.db"));
    const QString patternsPath = folder.filePath(QStringLiteral("patterns.db"));
    fillLargeStores(accountsPath, patternsPath, quiet);
    compareStarts("100,000 accounts", QStringLiteral("accounts"), accountsPath);
    compareStarts("100,000 address patterns", QStringLiteral("patterns"), patternsPath);
    return 0;
}
