// The network serial backend's socket calls on POSIX sockets.

#include "platform/net/NetSocket.h"
#include "platform/posix/PollFor.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace NetSocket {

const TErrors Errors = {.Reset = ECONNRESET,
                        .Closed = EPIPE,
                        .Aborted = ECONNABORTED,
                        .NotConnected = ENOTCONN,
                        .TimedOut = ETIMEDOUT,
                        .HostUnreachable = EHOSTUNREACH,
                        .NetUnreachable = ENETUNREACH,
                        .NetDown = ENETDOWN,
                        .Io = EIO,
                        .WouldBlock = EAGAIN,
                        .Refused = ECONNREFUSED,
                        .Invalid = EINVAL,
                        .Protocol = EPROTO,
                        .NotOpen = EBADF,
                        .WriteTimeout = EAGAIN};

namespace {

// Connects to one address within limitMs; the socket, or -1 with error set.
int ConnectWithin(const addrinfo& ai, unsigned limitMs, int& error) {
    int fd = ::socket(ai.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) == 0)
        return fd;
    error = errno;
    if (error == EINPROGRESS) {
        int events = PollFor(fd, POLLOUT, int(limitMs));
        socklen_t length = sizeof error;
        if (events == 0)
            error = ETIMEDOUT;
        else if (events < 0)
            error = errno;
        else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
    }
    if (error == 0)
        return fd;
    ::close(fd);
    return -1;
}

void SetOption(TSocket socket, int level, int name, int value) {
    ::setsockopt(int(socket), level, name, &value, sizeof value);
}

} // namespace

TSocket Connect(const std::string& host, const std::string& port, unsigned limitMs, int& error,
                std::string& words) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        words = ::gai_strerror(rc);
        error = EHOSTUNREACH;
        return NoSocket;
    }
    int fd = -1;
    error = ECONNREFUSED;
    for (const addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next)
        fd = ConnectWithin(*ai, limitMs, error);
    ::freeaddrinfo(found);
    return fd < 0 ? NoSocket : TSocket(fd);
}

void Tune(TSocket socket) {
    SetOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
    SetOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, 5);
    SetOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, 2);
    SetOption(socket, IPPROTO_TCP, TCP_KEEPCNT, 3);
#endif
#ifdef TCP_USER_TIMEOUT
    SetOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, 10000);
#endif
}

void AfterRead([[maybe_unused]] TSocket socket) {
#ifdef TCP_QUICKACK
    // A server that holds its next bytes until our acknowledgement (Nagle's algorithm) would
    // otherwise wait for the delayed one, up to 40 ms. The system clears the option again on its
    // own, so it is set after every read.
    SetOption(socket, IPPROTO_TCP, TCP_QUICKACK, 1);
#endif
}

long Send(TSocket socket, const void* data, size_t count, int& error) {
    for (;;) {
        const ssize_t n = ::send(int(socket), data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return long(n);
        if (errno != EINTR) {
            error = errno == EWOULDBLOCK ? EAGAIN : errno;
            return -1;
        }
    }
}

long Receive(TSocket socket, void* data, size_t size, int& error) {
    for (;;) {
        const ssize_t n = ::recv(int(socket), data, size, MSG_DONTWAIT);
        if (n >= 0)
            return long(n);
        if (errno != EINTR) {
            error = errno == EWOULDBLOCK ? EAGAIN : errno;
            return -1;
        }
    }
}

int Peek(TSocket socket, int& error) {
    for (;;) {
        char byte;
        const ssize_t n = ::recv(int(socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n >= 0)
            return int(n);
        if (errno != EINTR) {
            error = errno == EWOULDBLOCK ? EAGAIN : errno;
            return -1;
        }
    }
}

int Wait(TSocket socket, bool forWriting, unsigned ms, int& error) {
    const int events = PollFor(int(socket), forWriting ? POLLOUT : POLLIN, int(ms));
    if (events < 0)
        error = errno;
    return events > 0 ? 1 : events;
}

bool Available(TSocket socket, size_t& count, int& error) {
    int n = 0;
    if (::ioctl(int(socket), FIONREAD, &n) != 0) {
        error = errno;
        return false;
    }
    count = size_t(n);
    return true;
}

void Close(TSocket socket) {
    if (socket != NoSocket)
        ::close(int(socket));
}

} // namespace NetSocket
