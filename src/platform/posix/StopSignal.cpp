#include "platform/StopSignal.h"

#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace {
int Pipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    // Only async-signal-safe calls here; a full pipe already says enough.
    [[maybe_unused]] const ssize_t written = write(Pipe[1], &byte, 1);
}
} // namespace

int WatchStopSignals() {
    if (Pipe[0] >= 0)
        return Pipe[0];
    if (pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    return Pipe[0];
}
