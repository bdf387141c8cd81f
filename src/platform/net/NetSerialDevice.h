#pragma once
// A serial line behind a serial device server on the network, as a serial device backend:
//  - "tcp://HOST:PORT": the connection carries the line's bytes as they are (a raw TCP port); the
//    server's own configuration fixes the line settings;
//  - "rfc2217://HOST:PORT": Telnet with the com-port option (RFC 2217): the line settings go to the
//    server, which confirms each one, and data bytes 255 travel doubled.
//
// It behaves like a local port: the read and write time-outs hold, Purge empties what has come in
// (and asks an RFC 2217 server to empty its buffers too), and a connection the server closed or
// that broke is a lost device, which TCommPort reopens by name. A modem-line control (DTR, RTS) that
// the server does not confirm is let pass with a note, as a local driver without modem lines is.
//
// Errors: the system's error numbers (on POSIX ECONNREFUSED, ETIMEDOUT..., on Windows the Winsock
// codes; NetSocket::Errors names them): a server that closed the connection is Errors.Reset; a host
// name that does not resolve is HostUnreachable, a name that is not HOST:PORT is Invalid, a server
// that refuses the com-port option, leaves a line setting unconfirmed or confirms another value is
// Protocol. Threads: one at a time, as every serial device.
//
// A server is not trusted to behave: what is held back from it is bounded (MaxPendingBytes of data,
// one confirmation per setting asked), and every drain ends after a bounded number of bytes, so that
// a server that never stops sending costs neither memory nor the caller's time.

#include "platform/SerialDevice.h"
#include "platform/net/NetSocket.h"

#include <string>
#include <vector>

class TNetSerialDevice final : public TSerialDevice {
public:
    TNetSerialDevice() = default;
    ~TNetSerialDevice() override; // closes the connection if open

    bool Open(const AnsiString& name) override;
    bool IsOpen() const override { return Sock != NetSocket::NoSocket; }
    bool GetState(TDcb& dcb) override;
    bool SetState(const TDcb& dcb) override;
    bool SetupQueues(uint32_t inputSize, uint32_t outputSize) override;
    bool SetTimeouts(const TCommTimeouts& timeouts) override;
    bool Write(const char* data, size_t count) override;
    bool Read(char* data, size_t size, size_t& got, unsigned waitMs) override;
    bool BytesWaiting(uint32_t& count) override;
    bool WaitForInput(unsigned ms) override;
    bool Purge() override;
    bool Close() override;

    bool DeviceLost() const override;
    AnsiString OpenFailureText(const AnsiString& name) const override;
    AnsiString LostText(const AnsiString& name) const override;

    // Splits "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (HOST may be "[v6 address]"); false when the
    // name is not of that form.
    static bool ParseName(const AnsiString& name, bool& telnet, std::string& host, std::string& port);

    // How long a connection and the server's confirmations may take.
    static constexpr unsigned ConnectMs = 3000;
    static constexpr unsigned ConfirmMs = 2000;
    static constexpr unsigned GraceMs = 100; // for the modem lines once the line settings are confirmed
    // Data held while confirmations are awaited or the queue is counted: a local port's input queue.
    // What a server sends beyond it meanwhile is lost, as on a local port whose queue overflows.
    static constexpr size_t MaxPendingBytes = 32768;
    // Purge takes at most this much from a server that keeps sending, within PurgeMs.
    static constexpr size_t PurgeBytes = 65536;
    static constexpr unsigned PurgeMs = 50;
    // A drain stops after this much Telnet talk without data (a flood of negotiations).
    static constexpr size_t TalkBytes = 16384;

private:
    enum class TState : uint8_t { Data, Iac, Option, Sub, SubIac };

    bool Fail(int error);
    bool Ended(int error); // the connection ended (error ECONNRESET or EPIPE...): noted for LostText
    bool SendAll(const unsigned char* data, size_t count, unsigned limitMs);
    bool SendCommand(unsigned char verb, unsigned char option);
    bool SendComPort(unsigned char command, const std::vector<unsigned char>& value);
    // Takes what the socket has (waiting at most waitMs when it has nothing) and decodes it: data
    // bytes to out (at most room of them), the rest to the Telnet state. A wait also ends when only
    // Telnet talk came (got 0). false with Error set on failure; got counts the data bytes.
    bool Receive(char* out, size_t room, size_t& got, unsigned waitMs);
    size_t Decode(const unsigned char* raw, size_t count, char* out);
    void Negotiate(unsigned char verb, unsigned char option);
    void SubNegotiation();
    void Hold(const char* data, size_t count);
    void NoteTail(const char* data, size_t count);
    bool Drain(size_t limitBytes, unsigned limitMs);
    AnsiString Refusal(size_t index, const std::vector<unsigned char>& asked) const;

    NetSocket::TSocket Sock = NetSocket::NoSocket;
    bool Telnet = false;
    AnsiString Name;
    // How the connection ended, for LostText; kept after Close.
    enum class TEnd : uint8_t { None, Closed, Reset } End = TEnd::None;
    std::string Tail;       // the last data bytes received: a server's parting words
    AnsiString FailureText; // the wording for a failure that the system's error text does not say well
    TCommTimeouts Timeouts;
    TDcb Kept;
    std::string Pending; // data bytes received while waiting for confirmations

    TState State = TState::Data;
    unsigned char Verb = 0;
    std::vector<unsigned char> Sub;
    bool ComPortAccepted = false, ComPortRefused = false;
    bool Answered[256] = {}; // options already refused: each once, so a flood of requests is not echoed
    size_t Awaited = 0;      // confirmations SetState still takes; the rest are dropped
    std::vector<std::pair<unsigned char, std::vector<unsigned char>>> Confirmed;
};
