#pragma once

#include <glib-object.h>
#include <memory>
#include <mutex>

namespace mail {

// GMime is set up once per process, before its first use from any thread.
void ensureGMime();

// Parsing with GMime is kept to one thread at a time: its charset and iconv caches are shared.
std::mutex &gmimeMutex();

struct GObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
// A GMime object owned here, unreferenced when it goes.
template <typename T>
using GOwned = std::unique_ptr<T, GObjectUnref>;

} // namespace mail
