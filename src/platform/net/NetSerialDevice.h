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
// Errors: the system's error numbers (ECONNREFUSED, ETIMEDOUT...); a server that closed the
// connection is ECONNRESET; a host name that does not resolve is EHOSTUNREACH, a name that is not
// HOST:PORT is EINVAL, a server that refuses the com-port option or leaves a line setting
// unconfirmed is EPROTO. Threads: one at a time, as every serial device.

#include "platform/SerialDevice.h"

#include <string>
#include <vector>

class TNetSerialDevice final : public TSerialDevice {
public:
    TNetSerialDevice() = default;
    ~TNetSerialDevice() override; // closes the connection if open

    bool Open(const AnsiString& name) override;
    bool IsOpen() const override { return Fd >= 0; }
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

    // Splits "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (HOST may be "[v6 address]"); false when the
    // name is not of that form.
    static bool ParseName(const AnsiString& name, bool& telnet, std::string& host, std::string& port);

    // How long a connection and the server's confirmations may take.
    static constexpr unsigned ConnectMs = 3000;
    static constexpr unsigned ConfirmMs = 2000;
    static constexpr unsigned GraceMs = 100; // for the modem lines once the line settings are confirmed

private:
    enum class TState : uint8_t { Data, Iac, Option, Sub, SubIac };

    bool Fail(int error);
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

    int Fd = -1;
    bool Telnet = false;
    AnsiString FailureText; // the wording for a failure that the system's error text does not say well
    TCommTimeouts Timeouts;
    TDcb Kept;
    std::string Pending; // data bytes received while waiting for confirmations

    TState State = TState::Data;
    unsigned char Verb = 0;
    std::vector<unsigned char> Sub;
    bool ComPortAccepted = false, ComPortRefused = false;
    std::vector<std::pair<unsigned char, std::vector<unsigned char>>> Confirmed;
};
