// The socket layer under the network port, against a plain loopback peer: what the backend reads
// from its answers (nothing yet, bytes, the peer's close, a refused connection) must mean the same
// on every system, and a write to a peer that has gone must be an error, never the end of the program.

#include "platform/net/NetSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listening loopback socket on a free port, and the connection it accepts.
struct TPeer {
    TPeer() {
        Listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(Listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            ::listen(Listener, 1) == 0)
            Port = std::to_string(ntohs(address.sin_port));
    }
    ~TPeer() {
        if (Accepted >= 0)
            ::close(Accepted);
        ::close(Listener);
    }
    bool Accept() {
        Accepted = ::accept(Listener, nullptr, nullptr);
        return Accepted >= 0;
    }
    int Listener = -1, Accepted = -1;
    std::string Port;
};

struct TClient {
    ~TClient() { NetSocket::Close(Socket); }
    NetSocket::TSocket Socket = NetSocket::NoSocket;
};

// The client connected to the peer, and the peer's end accepted.
void ConnectTo(TPeer& peer, TClient& client) {
    ASSERT_FALSE(peer.Port.empty());
    int error = 0;
    std::string words;
    client.Socket = NetSocket::Connect("127.0.0.1", peer.Port, 2000, error, words);
    ASSERT_NE(client.Socket, NetSocket::NoSocket) << error;
    ASSERT_TRUE(peer.Accept());
}

} // namespace

TEST(NetSocket, NothingYetThenBytesThenThePeersCloseAreToldApart) {
    TPeer peer;
    TClient client;
    ASSERT_NO_FATAL_FAILURE(ConnectTo(peer, client));
    int error = 0;
    NetSocket::Tune(client.Socket);

    // Nothing sent yet: no byte counted, a read that would block, a wait that runs out.
    char buffer[16];
    size_t count = 99;
    ASSERT_TRUE(NetSocket::Available(client.Socket, count, error));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(NetSocket::Receive(client.Socket, buffer, sizeof buffer, error), -1);
    EXPECT_EQ(error, NetSocket::Errors.WouldBlock);
    EXPECT_EQ(NetSocket::Wait(client.Socket, false, 20, error), 0);

    ASSERT_EQ(::write(peer.Accepted, "0:CF?", 5), 5);
    EXPECT_EQ(NetSocket::Wait(client.Socket, false, 2000, error), 1);
    ASSERT_TRUE(NetSocket::Available(client.Socket, count, error));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(NetSocket::Peek(client.Socket, error), 1);
    ASSERT_EQ(NetSocket::Receive(client.Socket, buffer, sizeof buffer, error), 5);
    EXPECT_EQ(std::string(buffer, 5), "0:CF?");
    EXPECT_EQ(NetSocket::Send(client.Socket, "OK\n", 3, error), 3);
    ASSERT_EQ(::read(peer.Accepted, buffer, sizeof buffer), 3);

    // The peer's close: readable, and a read (or a peek) of nothing at all.
    ::close(peer.Accepted);
    peer.Accepted = -1;
    EXPECT_EQ(NetSocket::Wait(client.Socket, false, 2000, error), 1);
    EXPECT_EQ(NetSocket::Peek(client.Socket, error), 0);
    EXPECT_EQ(NetSocket::Receive(client.Socket, buffer, sizeof buffer, error), 0);
}

TEST(NetSocket, WritesToAPeerThatHasGoneFailWithAConnectionError) {
    TPeer peer;
    TClient client;
    ASSERT_NO_FATAL_FAILURE(ConnectTo(peer, client));
    int error = 0;
    ::close(peer.Accepted);
    peer.Accepted = -1;
    // The first write may still be taken; the peer's reset makes a later one fail. The process
    // goes on (no broken-pipe signal) and the error is one the backend counts as a lost connection.
    long sent = 0;
    for (int i = 0; i < 50 && sent >= 0; ++i) {
        sent = NetSocket::Send(client.Socket, "0:CF?\n", 6, error);
        if (sent >= 0)
            ::usleep(2000);
    }
    ASSERT_EQ(sent, -1);
    EXPECT_TRUE(error == NetSocket::Errors.Closed || error == NetSocket::Errors.Reset) << error;
}

TEST(NetSocket, NobodyListeningIsARefusedConnection) {
    int port = 0;
    {
        TPeer gone; // a port that was free a moment ago, closed again before the connection
        port = std::stoi(gone.Port);
    }
    int error = 0;
    std::string words;
    TClient client;
    client.Socket = NetSocket::Connect("127.0.0.1", std::to_string(port), 2000, error, words);
    EXPECT_EQ(client.Socket, NetSocket::NoSocket);
    EXPECT_EQ(error, NetSocket::Errors.Refused);
}
