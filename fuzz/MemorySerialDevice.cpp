// A serial device backend with no system behind it, for fuzzing the link: it talks to the
// in-memory line of MemoryLine.h.

#include "MemoryLine.h"
#include "platform/SerialDevice.h"

#include <cerrno>
#include <cstring>

namespace fuzz {
TMemoryLine& Line() {
    static TMemoryLine line;
    return line;
}
} // namespace fuzz

struct TSerialDevice::TNative {
    bool Open = false;
};

TSerialDevice::TSerialDevice() : Native(std::make_unique<TNative>()) {}
TSerialDevice::~TSerialDevice() = default;

bool TSerialDevice::Open(const AnsiString&) {
    Native->Open = true;
    return true;
}
bool TSerialDevice::IsOpen() const {
    return Native->Open;
}
bool TSerialDevice::GetState(TDcb& dcb) {
    dcb = TDcb{};
    return true;
}
bool TSerialDevice::SetState(const TDcb&) {
    return true;
}
bool TSerialDevice::SetupQueues(uint32_t, uint32_t) {
    return true;
}
bool TSerialDevice::SetTimeouts(const TCommTimeouts&) {
    return true;
}

bool TSerialDevice::Write(const char* data, size_t count) {
    auto& line = fuzz::Line();
    line.Written.append(data, count);
    size_t end;
    while ((end = line.Written.find('\n', line.LineStart)) != std::string::npos) {
        const std::string command = line.Written.substr(line.LineStart, end + 1 - line.LineStart);
        line.LineStart = end + 1;
        std::string reply = line.Next < line.Replies.size() ? line.Replies[line.Next++] : std::string();
        if (!reply.empty() && reply[0] == fuzz::TMemoryLine::NoEcho)
            reply.erase(0, 1);
        else
            line.Incoming += command;
        line.Incoming += reply;
    }
    return true;
}

bool TSerialDevice::ReadByte(uint8_t& byte, bool& got) {
    auto& line = fuzz::Line();
    got = !line.Incoming.empty();
    if (got) {
        byte = static_cast<uint8_t>(line.Incoming[0]);
        line.Incoming.erase(0, 1);
    }
    return true;
}

bool TSerialDevice::BytesWaiting(uint32_t& count) {
    count = uint32_t(fuzz::Line().Incoming.size());
    if (count == 0) {
        Error = EIO; // nothing more will come: the line is as good as gone
        return false;
    }
    return true;
}

bool TSerialDevice::WaitForInput(unsigned) {
    return !fuzz::Line().Incoming.empty();
}

bool TSerialDevice::Purge() {
    fuzz::Line().Incoming.clear();
    return true;
}

bool TSerialDevice::Close() {
    Native->Open = false;
    return true;
}

bool TSerialDevice::IsLostError(int error) {
    return error == EIO;
}

AnsiString TSerialDevice::DevicePath(const AnsiString& name) {
    return name;
}
AnsiString TSerialDevice::ErrorText(int error) {
    return std::strerror(error);
}
AnsiString TSerialDevice::DescribeOpenFailure(int error, const AnsiString& path) {
    return ErrorText(error) + ": " + path;
}
