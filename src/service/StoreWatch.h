#pragma once

#include <QString>

#include <functional>
#include <thread>

namespace service {

// Calls back (from a thread of its own) when the settings store or its journal changes, so
// that the daemon's wait for the next check can take a new interval at once. The folder is
// watched, not the file: a store replaced whole is still seen.
class StoreWatch
{
public:
    StoreWatch(const QString &storePath, std::function<void()> changed);
    ~StoreWatch();
    StoreWatch(const StoreWatch &) = delete;
    StoreWatch &operator=(const StoreWatch &) = delete;

    bool watching() const { return m_inotify >= 0; }

private:
    void run();

    QByteArray m_storeName;
    std::function<void()> m_changed;
    int m_inotify = -1;
    int m_stopPipe[2] = {-1, -1};
    std::thread m_thread;
};

} // namespace service
