#pragma once

#include <mutex>

namespace mail {

// GMime is set up once per process, before its first use from any thread.
void ensureGMime();

// Parsing with GMime is kept to one thread at a time: its charset and iconv caches are shared.
std::mutex &gmimeMutex();

} // namespace mail
