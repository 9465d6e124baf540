#include "support/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

void ThreadPriority::giveWay(int steps) {
    // On Linux a nice value belongs to a thread, named by its thread id. The value is set from the
    // first thread's (named by the process id), so that a thread that asks again, as a pool's
    // threads do for each task, stays where it is.
    errno = 0;
    const int first = ::getpriority(PRIO_PROCESS, id_t(::getpid()));
    if (errno == 0) {
        (void)::setpriority(PRIO_PROCESS, id_t(::gettid()), first + steps);
    }
}
