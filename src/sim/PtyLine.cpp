#include "sim/PtyLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

TPtyLine::TPtyLine() {
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master < 0)
        Fail("posix_openpt");
    try {
        if (grantpt(Master) != 0)
            Fail("grantpt");
        if (unlockpt(Master) != 0)
            Fail("unlockpt");
        char name[PATH_MAX];
        if (ptsname_r(Master, name, sizeof name) != 0)
            Fail("ptsname");
        Path = name;
        Slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Slave < 0)
            Fail("open slave");
        termios tio{};
        if (tcgetattr(Slave, &tio) != 0)
            Fail("tcgetattr");
        // A fresh slave is cooked: it would echo the console's own bytes back to it, map CR and
        // LF and hold input until a line end. The controller's line is raw 8N1.
        // VMIN 1 (cfmakeraw's) so that a plain blocking reader such as cat waits for bytes
        // instead of reading end-of-file at once; the console sets its own VMIN/VTIME.
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        if (tcsetattr(Slave, TCSANOW, &tio) != 0)
            Fail("tcsetattr");
        const int flags = fcntl(Master, F_GETFL);
        if (flags < 0 || fcntl(Master, F_SETFL, flags | O_NONBLOCK) != 0)
            Fail("fcntl");
    } catch (...) {
        Close();
        throw;
    }
}

TPtyLine::~TPtyLine() {
    Close();
}

ssize_t TPtyLine::Read(char* data, size_t size) {
    ssize_t n;
    do
        n = read(Master, data, size);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t TPtyLine::Write(const char* data, size_t size) {
    ssize_t n;
    do
        n = write(Master, data, size);
    while (n < 0 && errno == EINTR);
    return n;
}

void TPtyLine::Close() {
    if (Slave >= 0)
        close(Slave);
    if (Master >= 0)
        close(Master);
    Slave = Master = -1;
}

} // namespace sim
