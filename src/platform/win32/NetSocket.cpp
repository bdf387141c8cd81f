// The network serial backend's socket calls on Winsock.

#include "platform/net/NetSocket.h"

// Winsock 2 before windows.h, which would otherwise bring in the old Winsock; the rest after both.
#include <winsock2.h>

#include <windows.h>

#include <mstcpip.h>
#include <ws2tcpip.h>

namespace NetSocket {

const TErrors Errors = {.Reset = WSAECONNRESET,
                        .Closed = WSAESHUTDOWN,
                        .Aborted = WSAECONNABORTED,
                        .NotConnected = WSAENOTCONN,
                        .TimedOut = WSAETIMEDOUT,
                        .HostUnreachable = WSAEHOSTUNREACH,
                        .NetUnreachable = WSAENETUNREACH,
                        .NetDown = WSAENETDOWN,
                        .Io = WSAENETRESET,
                        .WouldBlock = WSAEWOULDBLOCK,
                        .Refused = WSAECONNREFUSED,
                        .Invalid = WSAEINVAL,
                        .Protocol = ERROR_INVALID_DATA,
                        .NotOpen = WSAENOTSOCK,
                        .WriteTimeout = ERROR_TIMEOUT};

namespace {

// Winsock is started once for the process and left running: the system ends it with the process.
bool Started(int& error) {
    static const int startup = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (startup != 0)
        error = startup;
    return startup == 0;
}

// select() rather than WSAPoll: the latter does not report a refused connection on every Windows.
int Select(SOCKET s, bool forWriting, unsigned ms, int& error) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit{long(ms / 1000), long(ms % 1000 * 1000)};
    const int n = ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &limit);
    if (n == SOCKET_ERROR) {
        error = WSAGetLastError();
        return -1;
    }
    return n > 0 ? 1 : 0;
}

// Connects to one address within limitMs; the socket, or INVALID_SOCKET with error set.
SOCKET ConnectWithin(const addrinfo& ai, unsigned limitMs, int& error) {
    // Not inherited by programs this one starts, as SOCK_CLOEXEC on POSIX.
    SOCKET s = WSASocketW(ai.ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        error = WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        error = WSAGetLastError();
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    if (::connect(s, ai.ai_addr, int(ai.ai_addrlen)) == 0)
        return s;
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        const int ready = Select(s, true, limitMs, error);
        if (ready == 0) {
            error = WSAETIMEDOUT;
        } else if (ready > 0) {
            // Writable is connected; a failed connection shows in the exception set and SO_ERROR.
            int soError = 0, length = sizeof soError;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0)
                soError = WSAGetLastError();
            error = soError;
        }
    }
    if (error == 0)
        return s;
    ::closesocket(s);
    return INVALID_SOCKET;
}

} // namespace

TSocket Connect(const std::string& host, const std::string& port, unsigned limitMs, int& error,
                std::string& words) {
    if (!Started(error))
        return NoSocket;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        words = ::gai_strerrorA(rc);
        while (!words.empty() &&
               (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' || words.back() == '.'))
            words.pop_back();
        error = WSAEHOSTUNREACH;
        return NoSocket;
    }
    SOCKET s = INVALID_SOCKET;
    error = WSAECONNREFUSED;
    for (const addrinfo* ai = found; ai && s == INVALID_SOCKET; ai = ai->ai_next)
        s = ConnectWithin(*ai, limitMs, error);
    ::freeaddrinfo(found);
    return s == INVALID_SOCKET ? NoSocket : TSocket(s);
}

void Tune(TSocket socket) {
    const SOCKET s = SOCKET(socket);
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    // Keep-alive probes after 5 s of silence, 2 s apart (the system sends ten before it gives up).
    tcp_keepalive keepAlive{1, 5000, 2000};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned, nullptr, nullptr);
}

void AfterRead(TSocket) {
    // Winsock has no per-read quick acknowledgement; TCP_NODELAY on both ends is what there is.
}

long Send(TSocket socket, const void* data, size_t count, int& error) {
    const int n = ::send(SOCKET(socket), static_cast<const char*>(data),
                         int(count > 0x7fffffff ? 0x7fffffff : count), 0);
    if (n == SOCKET_ERROR) {
        error = WSAGetLastError();
        return -1;
    }
    return n;
}

long Receive(TSocket socket, void* data, size_t size, int& error) {
    const int n =
        ::recv(SOCKET(socket), static_cast<char*>(data), int(size > 0x7fffffff ? 0x7fffffff : size), 0);
    if (n == SOCKET_ERROR) {
        error = WSAGetLastError();
        return -1;
    }
    return n;
}

int Peek(TSocket socket, int& error) {
    char byte;
    const int n = ::recv(SOCKET(socket), &byte, 1, MSG_PEEK);
    if (n == SOCKET_ERROR) {
        error = WSAGetLastError();
        return -1;
    }
    return n;
}

int Wait(TSocket socket, bool forWriting, unsigned ms, int& error) {
    return Select(SOCKET(socket), forWriting, ms, error);
}

bool Available(TSocket socket, size_t& count, int& error) {
    u_long n = 0;
    if (::ioctlsocket(SOCKET(socket), FIONREAD, &n) != 0) {
        error = WSAGetLastError();
        return false;
    }
    count = n;
    return true;
}

void Close(TSocket socket) {
    if (socket != NoSocket)
        ::closesocket(SOCKET(socket));
}

} // namespace NetSocket
