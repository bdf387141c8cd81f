#pragma once
// The few socket calls the network serial backend makes, over the system's own sockets
// (posix/NetSocket.cpp, win32/NetSocket.cpp), so that the Telnet and com-port logic is written once.
// Every socket is a non-blocking stream socket; every error is the system's own number (errno, or a
// Winsock code), so that the system's error text describes it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace NetSocket {

using TSocket = std::intptr_t;
constexpr TSocket NoSocket = -1;

// The system's numbers for the errors the backend tells apart or reports of its own accord.
struct TErrors {
    int Reset;  // the connection was reset (or closed, as the backend reports a server's close)
    int Closed; // a write found the connection closed
    int Aborted, NotConnected, TimedOut, HostUnreachable, NetUnreachable, NetDown, Io;
    int WouldBlock;   // nothing can move now
    int Refused;      // nobody listens
    int Invalid;      // a name that is no network port name, or a line setting no server takes
    int Protocol;     // a server that breaks the com-port protocol
    int NotOpen;      // an operation on a closed device
    int WriteTimeout; // the server took no more within the write time-outs
};
extern const TErrors Errors;

// Resolves host and port and connects, each address in turn, within limitMs for each. The connected
// socket, or NoSocket with error set; a name that does not resolve is HostUnreachable, with the
// resolver's own words in words.
TSocket Connect(const std::string& host, const std::string& port, unsigned limitMs, int& error,
                std::string& words);
// Small lines both ways without a coalescing delay; a server that vanishes without closing the
// connection shows as a lost connection within seconds. A refused setting leaves a working socket.
void Tune(TSocket socket);
// After each read that took bytes: acknowledge at once where the system lets us ask for it.
void AfterRead(TSocket socket);
// Moves what can move now: the bytes moved (0 from Receive: the server closed the connection), or -1
// with error set (Errors.WouldBlock when nothing can move now).
long Send(TSocket socket, const void* data, size_t count, int& error);
long Receive(TSocket socket, void* data, size_t size, int& error);
// Whether one byte can be read without taking it: 1 yes, 0 the server closed, -1 with error set.
int Peek(TSocket socket, int& error);
// Waits at most ms until the socket can be read (or written): 1 when it can (or has hung up or
// failed: the next call tells which), 0 when the time ran out, -1 with error set.
int Wait(TSocket socket, bool forWriting, unsigned ms, int& error);
// The bytes the system holds for reading.
bool Available(TSocket socket, size_t& count, int& error);
void Close(TSocket socket);

} // namespace NetSocket
