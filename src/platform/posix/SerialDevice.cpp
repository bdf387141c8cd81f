// POSIX backend of the serial device: termios on a tty (a real port, a USB adapter or the slave
// side of a pseudo-terminal).

#include "platform/SerialDevice.h"
#include "platform/posix/PollFor.h"
#include "platform/posix/TtyDriver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

struct TLocalSerialDevice::TNative {
    int Fd = -1;
    termios Kept{}; // the line record as the system reported it, with our settings once applied
    TCommTimeouts Timeouts;
    // What the port had before we opened it, put back at Close.
    termios Original{};
    bool HaveOriginal = false;
    std::shared_ptr<TRs485Settings> OriginalRs485; // null when the driver has no RS-485 mode
    bool Drained = false;                          // the last read emptied the queue
};

namespace {

bool Unsupported(int error) {
    return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP;
}

bool SpeedOf(uint32_t rate, speed_t& speed) {
    static const struct {
        uint32_t Rate;
        speed_t Speed;
    } speeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                  {150, B150},       {200, B200},       {300, B300},       {600, B600},
                  {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                  {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                  {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto& s : speeds)
        if (s.Rate == rate) {
            speed = s.Speed;
            return true;
        }
    return false;
}

uint32_t RateOf(speed_t speed) {
    for (uint32_t rate : {50u,   75u,   110u,  134u,   150u,   200u,   300u,    600u,    1200u,   1800u,
                          2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u, 230400u, 460800u, 921600u}) {
        speed_t s;
        if (SpeedOf(rate, s) && s == speed)
            return rate;
    }
    return 0;
}

} // namespace

TLocalSerialDevice::TLocalSerialDevice() : Native(std::make_unique<TNative>()) {}

TLocalSerialDevice::~TLocalSerialDevice() {
    Close();
}

bool TLocalSerialDevice::IsOpen() const {
    return Native->Fd >= 0;
}

AnsiString TSerialDevice::DevicePath(const AnsiString& name) {
    if ((!name.empty() && name[0] == '/') || IsNetworkName(name))
        return name;
    const int number = ComPortNumber(name);
    if (number > 0)
        return "/dev/ttyS" + std::to_string(number - 1);
    if (number < 0)
        return name;
    return "/dev/" + name;
}

AnsiString TSerialDevice::ErrorText(int error) {
    return std::strerror(error);
}

AnsiString TSerialDevice::DescribeOpenFailure(int error, const AnsiString& path) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "Permission denied: " + path + " (add your user to the dialout group and log in again)";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "No such device: " + path;
    case EBUSY:
        return "Device or resource busy: " + path + " is in use by another program";
    case ENOTTY:
        return "Not a serial device: " + path;
    case SessionTerminalError:
        return "In use as a session's terminal: " + path +
               " belongs to a shell or a login, not to a controller";
    default:
        return ErrorText(error) + ": " + path;
    }
}

bool TLocalSerialDevice::Open(const AnsiString& name) {
    if (IsOpen())
        return true;
    if (ComPortNumber(name) < 0) {
        Error = ENODEV;
        return false;
    }
    AnsiString path = DevicePath(name);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Error = errno;
        return false;
    }
    // A lost port's name may have gone to another device meanwhile (a pseudo-terminal number taken
    // by a new shell): a terminal some session runs on is never taken over.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && IsSessionTerminal(info.st_rdev)) {
        Error = SessionTerminalError;
        ::close(fd);
        return false;
    }
    // Root ignores TIOCEXCL, so the advisory lock is what really keeps a second program out.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        Error = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    Native->Fd = fd;
    Native->HaveOriginal = ::tcgetattr(fd, &Native->Original) == 0;
    Native->OriginalRs485 = KeepRs485(fd);
    Error = 0;
    return true;
}

bool TLocalSerialDevice::GetState(TDcb& dcb) {
    termios t{};
    if (::tcgetattr(Native->Fd, &t) != 0) {
        Error = errno;
        return false;
    }
    Native->Kept = t;
    dcb.BaudRate = RateOf(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.Parity = TDcb::NoParity;
    else if (t.c_cflag & CMSPAR)
        dcb.Parity = (t.c_cflag & PARODD) ? TDcb::MarkParity : TDcb::SpaceParity;
    else
        dcb.Parity = (t.c_cflag & PARODD) ? TDcb::OddParity : TDcb::EvenParity;
    dcb.StopBits = (t.c_cflag & CSTOPB) ? (dcb.ByteSize == 5 ? TDcb::One5StopBits : TDcb::TwoStopBits)
                                        : TDcb::OneStopBit;
    return true;
}

bool TLocalSerialDevice::SetState(const TDcb& dcb) {
    termios t = Native->Kept;
    speed_t speed;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    bool stopValid = dcb.StopBits == TDcb::OneStopBit || dcb.StopBits == TDcb::TwoStopBits ||
                     (dcb.StopBits == TDcb::One5StopBits && dcb.ByteSize == 5);
    if (!SpeedOf(dcb.BaudRate, speed) || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
        !stopValid) {
        Error = EINVAL;
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= sizes[dcb.ByteSize - 5];
    if (dcb.Parity != TDcb::NoParity)
        t.c_cflag |= PARENB;
    if (dcb.Parity == TDcb::OddParity || dcb.Parity == TDcb::MarkParity)
        t.c_cflag |= PARODD;
    if (dcb.Parity == TDcb::MarkParity || dcb.Parity == TDcb::SpaceParity)
        t.c_cflag |= CMSPAR;
    if (dcb.StopBits != TDcb::OneStopBit)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(Native->Fd, TCSANOW, &t) != 0) {
        Error = errno;
        return false;
    }
    // tcsetattr succeeds when any one change applied: read back what the driver took.
    termios back{};
    const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    if (::tcgetattr(Native->Fd, &back) != 0) {
        Error = errno;
        return false;
    }
    if ((back.c_cflag & mask) != (t.c_cflag & mask) || cfgetospeed(&back) != speed) {
        Error = EINVAL;
        return false;
    }
    Native->Kept = back;
    Note.clear();

    // Modem lines and RS-485 mode: a driver without them (pseudo-terminal, most USB adapters) is fine.
    int dtr = TIOCM_DTR;
    if (::ioctl(Native->Fd, dcb.DtrControl == TDcb::DtrDisable ? TIOCMBIC : TIOCMBIS, &dtr) != 0) {
        if (!Unsupported(errno)) {
            Error = errno;
            return false;
        }
        Note = "DTR not controlled: " + ErrorText(errno);
    }
    if (const int error = SetRs485(Native->Fd, dcb.RtsControl == TDcb::RtsToggle);
        error != 0 && !Unsupported(error)) {
        Error = error;
        return false;
    }
    if (dcb.RtsControl == TDcb::RtsEnable || dcb.RtsControl == TDcb::RtsDisable) {
        int rts = TIOCM_RTS;
        if (::ioctl(Native->Fd, dcb.RtsControl == TDcb::RtsEnable ? TIOCMBIS : TIOCMBIC, &rts) != 0 &&
            !Unsupported(errno)) {
            Error = errno;
            return false;
        }
    }
    return true;
}

bool TLocalSerialDevice::SetupQueues(uint32_t, uint32_t) {
    // The tty layer sizes its own buffers; the request is satisfied as long as the device is open.
    if (!IsOpen()) {
        Error = EBADF;
        return false;
    }
    return true;
}

bool TLocalSerialDevice::SetTimeouts(const TCommTimeouts& timeouts) {
    if (!IsOpen()) {
        Error = EBADF;
        return false;
    }
    Native->Timeouts = timeouts;
    return true;
}

bool TLocalSerialDevice::Write(const char* data, size_t count) {
    const TCommTimeouts& to = Native->Timeouts;
    const uint32_t limit = to.WriteTotalTimeoutConstant + to.WriteTotalTimeoutMultiplier * uint32_t(count);
    const uint32_t start = GetTickCount();
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(Native->Fd, data + done, count - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            Error = errno;
            return false;
        }
        uint32_t spent = GetTickCount() - start;
        if (spent >= limit || PollFor(Native->Fd, POLLOUT, int(limit - spent)) <= 0) {
            Error = ETIMEDOUT;
            return false;
        }
    }
    return true;
}

bool TLocalSerialDevice::Read(char* data, size_t size, size_t& got, unsigned waitMs) {
    got = 0;
    // Once a read has emptied the queue, the next bytes are mostly still on their way when the next
    // read comes (the reply to the command just written): waiting first spares a read that finds
    // nothing.
    bool waited = false, waitFirst = Native->Drained && waitMs > 0;
    for (;;) {
        if (!waitFirst) {
            ssize_t n = ::read(Native->Fd, data, size);
            if (n > 0) {
                got = size_t(n);
                Native->Drained = got < size;
                return true;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                Error = errno;
                return false;
            }
            Native->Drained = true;
            if (waited)
                return true;
        }
        waitFirst = false;
        // Nothing waiting: a hung-up line reads empty too, and only the wait tells the two apart.
        int events = PollFor(Native->Fd, POLLIN, int(waitMs));
        if (events < 0) {
            Error = errno;
            return false;
        }
        if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            const ssize_t n = ::read(Native->Fd, data, size);
            if (n > 0) {
                got = size_t(n);
                Native->Drained = got < size;
                return true;
            }
            Error = EIO;
            return false;
        }
        if (events == 0)
            return true;
        waited = true;
    }
}

bool TLocalSerialDevice::BytesWaiting(uint32_t& count) {
    int n = 0;
    if (::ioctl(Native->Fd, FIONREAD, &n) != 0) {
        Error = errno;
        return false;
    }
    if (n == 0) {
        // A vanished device (unplugged adapter, closed line) shows as a hang-up with nothing to read.
        int events = PollFor(Native->Fd, POLLIN, 0);
        if (events > 0 && (events & (POLLHUP | POLLERR | POLLNVAL))) {
            Error = EIO;
            return false;
        }
    }
    count = uint32_t(n);
    return true;
}

bool TLocalSerialDevice::WaitForInput(unsigned ms) {
    if (!IsOpen()) {
        SleepMs(ms);
        return false;
    }
    return PollFor(Native->Fd, POLLIN, int(ms)) > 0;
}

bool TSerialDevice::IsLostError(int error) {
    // EIO: hang-up or an adapter pulled mid-transfer; ENXIO/ENODEV: the node no longer has a device.
    return error == EIO || error == ENXIO || error == ENODEV;
}

bool TLocalSerialDevice::Purge() {
    if (::tcflush(Native->Fd, TCIOFLUSH) != 0) {
        Error = errno;
        return false;
    }
    Native->Drained = true;
    return true;
}

bool TLocalSerialDevice::Close() {
    if (!IsOpen())
        return true;
    // The port is left with the line settings it had before we opened it (a vanished device just
    // refuses). The exclusive flag outlives our descriptor while anyone else holds the tty open.
    if (Native->HaveOriginal)
        ::tcsetattr(Native->Fd, TCSANOW, &Native->Original);
    if (Native->OriginalRs485)
        RestoreRs485(Native->Fd, *Native->OriginalRs485);
    Native->OriginalRs485.reset();
    Native->HaveOriginal = false;
    ::ioctl(Native->Fd, TIOCNXCL);
    ::close(Native->Fd); // Linux releases the descriptor even when close reports EINTR
    Native->Fd = -1;
    return true;
}
