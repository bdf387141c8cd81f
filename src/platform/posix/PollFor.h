#pragma once
// Waits until fd is ready for events or timeoutMs has passed, retrying EINTR: the revents, 0 on
// time-out, -1 on failure (errno set). Shared by the local and the network serial backends.

#include <cerrno>
#include <poll.h>

inline int PollFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int n = ::poll(&p, 1, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? -1 : (n == 0 ? 0 : p.revents);
    }
}
