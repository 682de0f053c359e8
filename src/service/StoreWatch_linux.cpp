#include "service/StoreWatch.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace service {

StoreWatch::StoreWatch(const QString &storePath, std::function<void()> changed)
    : m_storeName(QFile::encodeName(QFileInfo(storePath).fileName()))
    , m_changed(std::move(changed))
{
    m_inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_inotify < 0)
        return;
    const QByteArray folder = QFile::encodeName(QFileInfo(storePath).absolutePath());
    if (::inotify_add_watch(m_inotify, folder.constData(),
                            IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_CREATE | IN_DELETE)
            < 0
        || ::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        ::close(m_inotify);
        m_inotify = -1;
        return;
    }
    m_thread = std::thread([this] { run(); });
}

StoreWatch::~StoreWatch()
{
    if (m_thread.joinable()) {
        const char stop = 0;
        (void)!::write(m_stopPipe[1], &stop, 1);
        m_thread.join();
    }
    for (int fd : {m_inotify, m_stopPipe[0], m_stopPipe[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void StoreWatch::run()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        pollfd waits[2] = {{m_inotify, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0)
            continue;
        if (waits[1].revents != 0)
            return;
        bool ours = false;
        ssize_t got = 0;
        while ((got = ::read(m_inotify, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                // The store itself, or its rollback journal while a change is written; the
                // log and the other files beside it change at every check.
                if (event->len > 0 && QByteArray(event->name).startsWith(m_storeName))
                    ours = true;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        if (ours)
            m_changed();
    }
}

} // namespace service
