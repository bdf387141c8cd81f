// The run-time services that differ per system: the POSIX tick and the home folder's log.
#include "platform/SysUtils.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

uint32_t GetTickCount() {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms);
}

AnsiString CommLogPath() {
    const char* home = std::getenv("HOME");
    return AnsiString(home && *home ? home : ".") + "/COMMLOG.LOG";
}

void GuardStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", O_RDONLY); // the lowest free number: fd itself
}
