// OstroveTray's start to its window on the display, and its memory while idle, next to a bare Qt
// program with a tray icon, and next to the same bare program loading the libraries a check
// needs. All run on an Xvfb of their own; each window found is also checked with the
// configuration page's own lookup.
#include "BenchSupport.h"
#include "platform/X11Windows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>
#include <cstdio>

namespace {

struct Sample
{
    double startMs = 0;
    double idleKb = 0;
};

// A top-level window with this title, looked for over one connection kept open: a new connection
// for each look, as the configuration page makes, would fill the server's client slots at this rate.
bool topLevelWithTitle(Display *display, const QByteArray &title)
{
    ::Window root = 0;
    ::Window parent = 0;
    ::Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return false;
    bool found = false;
    for (unsigned int i = 0; i < count && !found; ++i) {
        char *name = nullptr;
        if (XFetchName(display, children[i], &name) && name) {
            found = title == name;
            XFree(name);
        }
    }
    if (children)
        XFree(children);
    return found;
}

double residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble();
    }
    return 0;
}

bool run(Display *display, const QString &program, const QString &title,
         const QProcessEnvironment &environment, int idleMs, Sample *sample)
{
    platform::X11Windows windows;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    if (!process.waitForStarted(5000))
        return false;
    while (!topLevelWithTitle(display, title.toUtf8())) {
        if (clock.elapsed() > 20000 || process.state() == QProcess::NotRunning) {
            std::fprintf(stderr, "%s showed no window titled %s\n", qPrintable(program),
                         qPrintable(title));
            return false;
        }
        QThread::usleep(200);
    }
    sample->startMs = double(clock.nsecsElapsed()) / 1e6;
    if (!windows.exists(title)) {
        std::fprintf(stderr, "the configuration page's lookup does not find %s\n",
                     qPrintable(title));
        return false;
    }
    QThread::msleep(idleMs);
    sample->idleKb = residentKb(process.processId());
    windows.requestClose(title);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    const int idleMs = 2000;

    QProcess server;
    // -noreset: a client connecting while the server resets after its last client is refused.
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                  QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!server.waitForStarted(5000)) {
        std::fprintf(stderr, "Xvfb is not installed\n");
        return 1;
    }
    QByteArray number;
    while (!number.endsWith('\n') && server.waitForReadyRead(10000))
        number += server.readAllStandardOutput();
    const QByteArray display = ':' + number.trimmed();
    qputenv("DISPLAY", display);
    // The server names its display a moment before it takes clients.
    Display *connection = nullptr;
    for (int attempt = 0; attempt < 500 && !connection; ++attempt) {
        connection = XOpenDisplay(display.constData());
        if (!connection)
            QThread::msleep(20);
    }
    if (!connection) {
        std::fprintf(stderr, "Xvfb takes no clients\n");
        return 1;
    }

    QTemporaryDir folder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.path());
    // An empty store: the first check finds no accounts, so the figures are the program's own.
    environment.insert(QStringLiteral("OSTROVE_REGISTRY"),
                       folder.filePath(QStringLiteral("registry.db")));

    std::vector<double> oursStart, oursMemory, bareStart, bareMemory, libsStart, libsMemory;
    for (int i = 0; i < runs; ++i) {
        Sample ours;
        Sample bare;
        Sample libraries;
        if (!run(connection, QStringLiteral(OSTROVE_TRAY), QStringLiteral("OstroveTray"),
                 environment, idleMs, &ours)
            || !run(connection, QStringLiteral(TRAY_BARE), QStringLiteral("BareTray"), environment,
                    idleMs, &bare)
            || !run(connection, QStringLiteral(TRAY_BARE_LIBRARIES), QStringLiteral("BareTray"),
                    environment, idleMs, &libraries)) {
            std::fprintf(stderr, "a program did not show its window\n");
            return 1;
        }
        oursStart.push_back(ours.startMs);
        oursMemory.push_back(ours.idleKb / 1024);
        bareStart.push_back(bare.startMs);
        bareMemory.push_back(bare.idleKb / 1024);
        libsStart.push_back(libraries.startMs);
        libsMemory.push_back(libraries.idleKb / 1024);
    }
    XCloseDisplay(connection);
    server.terminate();
    server.waitForFinished(5000);

    std::printf("OstroveTray next to a bare Qt tray program, Xvfb, median of %d runs "
                "(target: ratio <= 1.3)\n",
                runs);
    printComparison("start to the window on the display", median(oursStart), "bare Qt tray program",
                    median(bareStart), "ms");
    printComparison("resident memory 2 s after the window", median(oursMemory),
                    "bare Qt tray program", median(bareMemory), "MB");
    std::printf("The bare program linked with the libraries a check needs (Qt Network, GMime, "
                "SQLite):\n");
    printComparison("start to the window on the display", median(oursStart), "bare, same libraries",
                    median(libsStart), "ms");
    printComparison("resident memory 2 s after the window", median(oursMemory),
                    "bare, same libraries", median(libsMemory), "MB");
    return 0;
}
