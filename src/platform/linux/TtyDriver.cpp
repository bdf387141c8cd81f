// The Linux tty driver: RS-485 mode through TIOCGRS485/TIOCSRS485, and the sessions' terminals
// from /proc.

#include "platform/posix/TtyDriver.h"
#include "platform/SysUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

struct TRs485Settings {
    serial_rs485 Driver{};
};

std::shared_ptr<TRs485Settings> KeepRs485(int fd) {
    auto settings = std::make_shared<TRs485Settings>();
    if (::ioctl(fd, TIOCGRS485, &settings->Driver) != 0)
        return nullptr;
    return settings;
}

void RestoreRs485(int fd, const TRs485Settings& settings) {
    serial_rs485 driver = settings.Driver;
    ::ioctl(fd, TIOCSRS485, &driver);
}

int SetRs485(int fd, bool rtsToggle) {
    serial_rs485 rs485{};
    if (::ioctl(fd, TIOCGRS485, &rs485) != 0)
        return errno;
    if (rtsToggle) {
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~SER_RS485_RTS_AFTER_SEND;
    } else {
        rs485.flags &= ~SER_RS485_ENABLED;
    }
    if (::ioctl(fd, TIOCSRS485, &rs485) != 0)
        return errno;
    return 0;
}

// The tty_nr field of every process's /proc/<pid>/stat names its controlling terminal.
bool IsSessionTerminal(dev_t device) {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const AnsiString path = AnsiString("/proc/") + entry->d_name + "/stat";
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char text[1024];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n <= 0)
            continue;
        text[n] = '\0';
        // "pid (comm) state ppid pgrp session tty_nr ...": comm may hold blanks and parentheses.
        const char* commEnd = std::strrchr(text, ')');
        unsigned ttyNr = 0;
        if (!commEnd || std::sscanf(commEnd + 1, " %*c %*d %*d %*d %u", &ttyNr) != 1 || ttyNr == 0)
            continue;
        const unsigned major = (ttyNr >> 8) & 0xfff, minor = (ttyNr & 0xff) | ((ttyNr >> 12) & 0xfff00);
        if (makedev(major, minor) == device) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}
