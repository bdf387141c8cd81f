// Network backend of the serial device: a TCP connection to a serial device server, raw or with the
// Telnet com-port option (RFC 2217).

#include "platform/net/NetSerialDevice.h"
#include "platform/net/NetSocket.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace {

// Telnet (RFC 854) and its com-port option (RFC 2217).
enum : unsigned char {
    Se = 240,
    Sb = 250,
    Will = 251,
    Wont = 252,
    Do = 253,
    Dont = 254,
    Iac = 255,
    OptBinary = 0,
    OptSga = 3,
    OptComPort = 44,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    PurgeData = 12,
    ServerOffset = 100, // a server's answer to command c is c + 100
};

const NetSocket::TErrors& Errors = NetSocket::Errors;

} // namespace

TNetSerialDevice::~TNetSerialDevice() {
    Close();
}

bool TNetSerialDevice::ParseName(const AnsiString& name, bool& telnet, std::string& host, std::string& port) {
    std::string rest;
    if (name.rfind("tcp://", 0) == 0) {
        telnet = false;
        rest = name.substr(6);
    } else if (name.rfind("rfc2217://", 0) == 0) {
        telnet = true;
        rest = name.substr(10);
    } else {
        return false;
    }
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return false;
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon)
            return false;
        host = rest.substr(0, colon);
    }
    port = rest.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long number = std::stol(port);
    return number >= 1 && number <= 65535;
}

bool TNetSerialDevice::Fail(int error) {
    Error = error;
    return false;
}

bool TNetSerialDevice::Ended(int error) {
    End = error == Errors.Closed ? TEnd::Closed : error == Errors.Reset ? TEnd::Reset : End;
    // A write found the connection gone: what the server said before it hung up may still wait to
    // be read (a busy server's "Port already in use"). A little of it, as it stands, for LostText.
    for (int i = 0; i < 4 && Sock != NetSocket::NoSocket; ++i) {
        char raw[4096];
        int ignored = 0;
        const long n = NetSocket::Receive(Sock, raw, sizeof raw, ignored);
        if (n <= 0)
            break;
        NoteTail(raw, size_t(n));
    }
    return Fail(error);
}

void TNetSerialDevice::NoteTail(const char* data, size_t count) {
    const size_t keep = 64;
    Tail.append(data + (count > keep ? count - keep : 0), std::min(count, keep));
    if (Tail.size() > keep)
        Tail.erase(0, Tail.size() - keep);
}

void TNetSerialDevice::Hold(const char* data, size_t count) {
    Pending.append(data, std::min(count, MaxPendingBytes - std::min(MaxPendingBytes, Pending.size())));
}

bool TNetSerialDevice::Open(const AnsiString& name) {
    if (IsOpen())
        return true;
    FailureText.clear();
    Note.clear();
    Name = name;
    End = TEnd::None;
    Tail.clear();
    std::fill(std::begin(Answered), std::end(Answered), false);
    std::string host, port;
    if (!ParseName(name, Telnet, host, port)) {
        FailureText = "Not a network port name: " + name + " (tcp://HOST:PORT or rfc2217://HOST:PORT)";
        return Fail(Errors.Invalid);
    }
    int error = 0;
    std::string words;
    const NetSocket::TSocket socket = NetSocket::Connect(host, port, ConnectMs, error, words);
    if (socket == NetSocket::NoSocket) {
        if (!words.empty())
            FailureText = words + ": " + name;
        return Fail(error);
    }
    // A server that vanishes without closing the connection (powered off, cable out) shows as a
    // lost connection within seconds, not minutes.
    NetSocket::Tune(socket);
    Sock = socket;
    Kept = TDcb{};
    if (!Telnet)
        return true;

    // Binary both ways (no line-end translation), no go-ahead, and the com-port option from us.
    if (!SendCommand(Will, OptComPort) || !SendCommand(Will, OptBinary) || !SendCommand(Do, OptBinary) ||
        !SendCommand(Will, OptSga) || !SendCommand(Do, OptSga)) {
        const int sendError = Error;
        Close();
        return Fail(sendError);
    }
    const uint32_t start = GetTickCount();
    while (!ComPortAccepted && !ComPortRefused) {
        const uint32_t spent = GetTickCount() - start;
        char data[512];
        size_t got = 0;
        if (spent >= ConfirmMs)
            break; // no answer to the option: not an RFC 2217 server
        if (!Receive(data, sizeof data, got, ConfirmMs - spent)) {
            const int receiveError = Error;
            Close();
            return Fail(receiveError);
        }
        Hold(data, got);
    }
    if (!ComPortAccepted) {
        FailureText = "No com-port option (RFC 2217) at " + name;
        Close();
        return Fail(Errors.Protocol);
    }
    return true;
}

AnsiString TNetSerialDevice::OpenFailureText(const AnsiString& name) const {
    if (!FailureText.empty())
        return FailureText;
    if (End != TEnd::None)
        return LostText(name);
    if (Error == Errors.Protocol)
        return "The server did not confirm the line settings: " + name;
    return DescribeOpenFailure(Error, name);
}

AnsiString TNetSerialDevice::LostText(const AnsiString& name) const {
    // ser2net greets a second client with "Port already in use" and hangs up.
    std::string words = Tail;
    std::transform(words.begin(), words.end(), words.begin(), [](char c) { return char(std::tolower(c)); });
    if (words.find("in use") != std::string::npos)
        return "The port is in use by another client: " + name;
    if (End == TEnd::Closed)
        return "Connection closed by the server: " + name;
    if (End == TEnd::Reset)
        return "Connection reset by the server: " + name;
    return "Connection lost: " + name;
}

bool TNetSerialDevice::DeviceLost() const {
    // A timed-out connection is one the keep-alive or the user time-out gave up on.
    for (int lost : {Errors.Reset, Errors.Closed, Errors.Aborted, Errors.NotConnected, Errors.TimedOut,
                     Errors.HostUnreachable, Errors.NetUnreachable, Errors.NetDown, Errors.Io})
        if (Error == lost)
            return true;
    return false;
}

bool TNetSerialDevice::GetState(TDcb& dcb) {
    // A server does not report its line; the record is what was last applied (9600 8N1 at first).
    dcb = Kept;
    return true;
}

bool TNetSerialDevice::SetState(const TDcb& dcb) {
    const bool stopValid = dcb.StopBits == TDcb::OneStopBit || dcb.StopBits == TDcb::TwoStopBits ||
                           (dcb.StopBits == TDcb::One5StopBits && dcb.ByteSize == 5);
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || !stopValid)
        return Fail(Errors.Invalid);
    if (!Telnet) {
        // A raw port's line is set in the server's own configuration.
        Kept = dcb;
        return true;
    }
    static const unsigned char stopCodes[] = {1, 3, 2}; // one, one and a half, two
    const uint32_t rate = dcb.BaudRate;
    std::vector<std::pair<unsigned char, std::vector<unsigned char>>> sent = {
        {SetBaudRate, {uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8), uint8_t(rate)}},
        {SetDataSize, {dcb.ByteSize}},
        {SetParity, {uint8_t(dcb.Parity + 1)}},
        {SetStopSize, {stopCodes[dcb.StopBits]}},
    };
    const size_t lineSettings = sent.size();
    sent.push_back({SetControl, {uint8_t(dcb.DtrControl == TDcb::DtrDisable ? 9 : 8)}});
    if (dcb.RtsControl == TDcb::RtsEnable || dcb.RtsControl == TDcb::RtsDisable)
        sent.push_back({SetControl, {uint8_t(dcb.RtsControl == TDcb::RtsEnable ? 11 : 12)}});
    // RTS toggle has no com-port command: the server's port keeps its own RTS.

    Confirmed.clear();
    Awaited = sent.size();
    struct TStopAwaiting {
        size_t& Awaited;
        ~TStopAwaiting() { Awaited = 0; }
    } stop{Awaited};
    for (const auto& [command, value] : sent)
        if (!SendComPort(command, value))
            return false;

    // The server answers in order: once the line settings are confirmed, a confirmation of the
    // modem lines would follow at once, so they get only a short grace.
    const uint32_t start = GetTickCount();
    uint32_t deadline = ConfirmMs;
    bool grace = false;
    while (Confirmed.size() < sent.size()) {
        if (!grace && Confirmed.size() >= lineSettings) {
            deadline = std::min<uint32_t>(deadline, GetTickCount() - start + GraceMs);
            grace = true;
        }
        const uint32_t spent = GetTickCount() - start;
        if (spent >= deadline)
            break;
        char data[512];
        size_t got = 0;
        if (!Receive(data, sizeof data, got, deadline - spent))
            return false;
        Hold(data, got);
    }
    // Each confirmation must answer its command with the value asked for.
    for (size_t i = 0; i < std::min(Confirmed.size(), lineSettings); ++i)
        if (Confirmed[i].first != sent[i].first + ServerOffset || Confirmed[i].second != sent[i].second) {
            FailureText = Refusal(i, sent[i].second);
            return Fail(Errors.Protocol);
        }
    if (Confirmed.size() < lineSettings)
        return Fail(Errors.Protocol);
    Note.clear();
    if (Confirmed.size() < sent.size())
        Note = sent.size() - lineSettings > 1 && Confirmed.size() == lineSettings
                   ? "DTR and RTS not confirmed by the server"
                   : (Confirmed.size() == lineSettings ? "DTR not confirmed by the server"
                                                       : "RTS not confirmed by the server");
    Kept = dcb;
    return true;
}

namespace {
std::string SettingText(unsigned char command, const std::vector<unsigned char>& value) {
    static const char* const names[] = {"", "a baud rate", "a data size", "parity", "stop bits"};
    if (command < SetBaudRate || command > SetStopSize)
        return "another setting";
    const std::string name = names[command];
    const std::string text = name + (command <= SetDataSize ? " of " : " ");
    if (command == SetBaudRate && value.size() == 4)
        return text + std::to_string(uint32_t(value[0]) << 24 | uint32_t(value[1]) << 16 |
                                     uint32_t(value[2]) << 8 | value[3]);
    if (value.size() != 1 || command == SetBaudRate)
        return name + " in " + std::to_string(value.size()) + " bytes";
    static const char* const parities[] = {"none", "odd", "even", "mark", "space"};
    static const char* const stops[] = {"1", "2", "1.5"};
    if (command == SetParity && value[0] >= 1 && value[0] <= 5)
        return text + parities[value[0] - 1];
    if (command == SetStopSize && value[0] >= 1 && value[0] <= 3)
        return text + stops[value[0] - 1];
    return text + std::to_string(value[0]);
}
} // namespace

AnsiString TNetSerialDevice::Refusal(size_t index, const std::vector<unsigned char>& asked) const {
    const unsigned char command = Confirmed[index].first - ServerOffset;
    const auto wanted = static_cast<unsigned char>(SetBaudRate + index);
    return "The server did not take " + SettingText(wanted, asked) + ": it confirmed " +
           SettingText(command, Confirmed[index].second) + " (" + Name + ")";
}

bool TNetSerialDevice::SetupQueues(uint32_t, uint32_t) {
    // The socket's buffers are the system's; the request is met while the connection is open.
    return IsOpen() || Fail(Errors.NotOpen);
}

bool TNetSerialDevice::SetTimeouts(const TCommTimeouts& timeouts) {
    if (!IsOpen())
        return Fail(Errors.NotOpen);
    Timeouts = timeouts;
    return true;
}

bool TNetSerialDevice::SendAll(const unsigned char* data, size_t count, unsigned limitMs) {
    const uint32_t start = GetTickCount();
    size_t done = 0;
    while (done < count) {
        int error = 0;
        const long n = NetSocket::Send(Sock, data + done, count - done, error);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && error != Errors.WouldBlock)
            return Ended(error);
        const uint32_t spent = GetTickCount() - start;
        // The server takes no more within the write time-outs: a failed write, the connection stays.
        if (spent >= limitMs || NetSocket::Wait(Sock, true, limitMs - spent, error) <= 0)
            return Fail(Errors.WriteTimeout);
    }
    return true;
}

bool TNetSerialDevice::SendCommand(unsigned char verb, unsigned char option) {
    const unsigned char bytes[] = {Iac, verb, option};
    return SendAll(bytes, sizeof bytes, ConfirmMs);
}

bool TNetSerialDevice::SendComPort(unsigned char command, const std::vector<unsigned char>& value) {
    std::vector<unsigned char> bytes = {Iac, Sb, OptComPort, command};
    for (unsigned char b : value) {
        bytes.push_back(b);
        if (b == Iac)
            bytes.push_back(Iac);
    }
    bytes.push_back(Iac);
    bytes.push_back(Se);
    return SendAll(bytes.data(), bytes.size(), ConfirmMs);
}

bool TNetSerialDevice::Write(const char* data, size_t count) {
    const uint32_t limit =
        Timeouts.WriteTotalTimeoutConstant + Timeouts.WriteTotalTimeoutMultiplier * uint32_t(count);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (!Telnet || std::find(bytes, bytes + count, Iac) == bytes + count)
        return SendAll(bytes, count, limit);
    std::vector<unsigned char> escaped;
    escaped.reserve(count + 8);
    for (size_t i = 0; i < count; ++i) {
        escaped.push_back(bytes[i]);
        if (bytes[i] == Iac)
            escaped.push_back(Iac);
    }
    return SendAll(escaped.data(), escaped.size(), limit);
}

void TNetSerialDevice::Negotiate(unsigned char verb, unsigned char option) {
    const bool ours = option == OptBinary || option == OptSga || option == OptComPort;
    if (verb == Do && option == OptComPort)
        ComPortAccepted = true;
    else if (verb == Dont && option == OptComPort)
        ComPortRefused = true;
    else if ((verb == Do || verb == Will) && !ours && !Answered[option]) {
        // Refusals are never answered, so this cannot loop; each option once, so a server that
        // repeats a request cannot make us write (and wait on a full socket) for every one.
        Answered[option] = true;
        SendCommand(verb == Do ? Wont : Dont, option);
    }
}

void TNetSerialDevice::SubNegotiation() {
    if (Sub.size() >= 2 && Sub[0] == OptComPort && Sub[1] >= ServerOffset + SetBaudRate &&
        Sub[1] <= ServerOffset + SetControl && Confirmed.size() < Awaited)
        Confirmed.push_back({Sub[1], std::vector<unsigned char>(Sub.begin() + 2, Sub.end())});
    // Line and modem state notifications, flow-control hints and confirmations nobody awaits are
    // not needed by the link.
}

size_t TNetSerialDevice::Decode(const unsigned char* raw, size_t count, char* out) {
    size_t got = 0;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char b = raw[i];
        switch (State) {
        case TState::Data:
            if (b == Iac)
                State = TState::Iac;
            else
                out[got++] = char(b);
            break;
        case TState::Iac:
            if (b == Iac) {
                out[got++] = char(b);
                State = TState::Data;
            } else if (b >= Will && b <= Dont) {
                Verb = b;
                State = TState::Option;
            } else if (b == Sb) {
                Sub.clear();
                State = TState::Sub;
            } else {
                State = TState::Data; // a lone command (no operation, go ahead...)
            }
            break;
        case TState::Option:
            Negotiate(Verb, b);
            State = TState::Data;
            break;
        case TState::Sub:
            if (b == Iac)
                State = TState::SubIac;
            else if (Sub.size() < 64)
                Sub.push_back(b);
            break;
        case TState::SubIac:
            if (b == Se) {
                SubNegotiation();
                State = TState::Data;
            } else {
                if (Sub.size() < 64)
                    Sub.push_back(b); // a doubled IAC inside the value
                State = TState::Sub;
            }
            break;
        }
    }
    return got;
}

bool TNetSerialDevice::Receive(char* out, size_t room, size_t& got, unsigned waitMs) {
    got = 0;
    const uint32_t start = GetTickCount();
    unsigned char raw[4096];
    size_t talk = 0;
    for (;;) {
        // Decoding never makes more bytes than it was given, so room bytes of input fit in out.
        int error = 0;
        const long n = Telnet ? NetSocket::Receive(Sock, raw, std::min(room, sizeof raw), error)
                              : NetSocket::Receive(Sock, out, room, error);
        if (n > 0) {
            NetSocket::AfterRead(Sock);
            got = Telnet ? Decode(raw, size_t(n), out) : size_t(n);
            NoteTail(out, got);
            // Only Telnet talk: a drain goes on (for a bounded amount), a wait returns for its
            // caller to look at the news.
            talk += size_t(n);
            if (got > 0 || waitMs > 0 || talk >= TalkBytes)
                return true;
            continue;
        }
        if (n == 0) {
            End = TEnd::Closed;
            return Fail(Errors.Reset); // the server closed the connection
        }
        if (error != Errors.WouldBlock)
            return Ended(error);
        const uint32_t spent = GetTickCount() - start;
        if (spent >= waitMs)
            return true;
        const int events = NetSocket::Wait(Sock, false, waitMs - spent, error);
        if (events < 0)
            return Fail(error);
        if (events == 0)
            return true;
        // Input, a hang-up or an error: the next receive tells which.
    }
}

bool TNetSerialDevice::Read(char* data, size_t size, size_t& got, unsigned waitMs) {
    got = 0;
    if (!Pending.empty()) {
        got = std::min(size, Pending.size());
        std::memcpy(data, Pending.data(), got);
        Pending.erase(0, got);
        return true;
    }
    return size == 0 || Receive(data, size, got, waitMs);
}

bool TNetSerialDevice::BytesWaiting(uint32_t& count) {
    if (Telnet) {
        // Only decoding tells data from Telnet talk: take what there is into Pending, until it holds
        // a full queue; the rest waits in the socket.
        while (Pending.size() < MaxPendingBytes) {
            char data[4096];
            size_t got = 0;
            if (!Receive(data, std::min(sizeof data, MaxPendingBytes - Pending.size()), got, 0))
                return false;
            if (got == 0)
                break;
            Pending.append(data, got);
        }
        count = uint32_t(Pending.size());
        return true;
    }
    size_t n = 0;
    int error = 0;
    if (!NetSocket::Available(Sock, n, error))
        return Fail(error);
    n = std::min(n, MaxPendingBytes); // counted as a local queue would hold it
    if (n == 0) {
        // Readable with nothing to read is the server's end of the connection.
        const int events = NetSocket::Wait(Sock, false, 0, error);
        if (events > 0) {
            const int peeked = NetSocket::Peek(Sock, error);
            if (peeked == 0) {
                End = TEnd::Closed;
                return Fail(Errors.Reset);
            }
            if (peeked < 0 && error != Errors.WouldBlock)
                return Ended(error);
            if (peeked > 0)
                n = 1;
        }
    }
    count = uint32_t(Pending.size()) + uint32_t(n);
    return true;
}

bool TNetSerialDevice::WaitForInput(unsigned ms) {
    if (!IsOpen()) {
        SleepMs(ms);
        return false;
    }
    int error = 0;
    return !Pending.empty() || NetSocket::Wait(Sock, false, ms, error) > 0;
}

bool TNetSerialDevice::Purge() {
    Pending.clear();
    if (Telnet && !SendComPort(PurgeData, {3})) // the server's receive and transmit buffers
        return false;
    return Drain(PurgeBytes, PurgeMs);
}

bool TNetSerialDevice::Drain(size_t limitBytes, unsigned limitMs) {
    // What has come in, as far as a server that keeps sending lets it be emptied: a purge takes
    // what was there, not what arrives while it runs.
    const uint32_t start = GetTickCount();
    for (size_t taken = 0; taken < limitBytes && GetTickCount() - start < limitMs;) {
        char data[4096];
        size_t got = 0;
        if (!Receive(data, sizeof data, got, 0))
            return false;
        if (got == 0)
            return true;
        taken += got;
    }
    return true;
}

bool TNetSerialDevice::Close() {
    NetSocket::Close(Sock);
    Sock = NetSocket::NoSocket;
    Pending.clear();
    State = TState::Data;
    Sub.clear();
    Confirmed.clear();
    ComPortAccepted = ComPortRefused = false;
    return true;
}
