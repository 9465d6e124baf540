#include "support/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

void ThreadPriority::giveWay(int steps) {
    // On Linux a nice value belongs to a thread, named by its thread id.
    const auto self = id_t(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0) {
        (void)::setpriority(PRIO_PROCESS, self, now + steps);
    }
}
