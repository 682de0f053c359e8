#include "mail/GMimeSupport.h"

#include <gmime/gmime.h>

namespace mail {

void ensureGMime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

std::mutex &gmimeMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace mail
