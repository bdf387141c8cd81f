// A serial device backend with no system behind it, for fuzzing the link: it talks to the
// in-memory line of MemoryLine.h.

#include "MemoryLine.h"
#include "platform/SerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fuzz {
TMemoryLine& Line() {
    static TMemoryLine line;
    return line;
}
} // namespace fuzz

namespace {

class TMemorySerialDevice final : public TSerialDevice {
public:
    bool Open(const AnsiString&) override {
        Opened = true;
        return true;
    }
    bool IsOpen() const override { return Opened; }
    bool GetState(TDcb& dcb) override {
        dcb = TDcb{};
        return true;
    }
    bool SetState(const TDcb&) override { return true; }
    bool SetupQueues(uint32_t, uint32_t) override { return true; }
    bool SetTimeouts(const TCommTimeouts&) override { return true; }

    bool Write(const char* data, size_t count) override {
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

    // Hands out the waiting bytes in small blocks, so that lines meet block boundaries.
    bool Read(char* data, size_t size, size_t& got, unsigned) override {
        auto& line = fuzz::Line();
        if (line.Incoming.empty()) {
            Error = EIO; // nothing more will come: the line is as good as gone
            got = 0;
            return false;
        }
        got = std::min({size, line.Incoming.size(), size_t(7)});
        std::memcpy(data, line.Incoming.data(), got);
        line.Incoming.erase(0, got);
        return true;
    }

    bool BytesWaiting(uint32_t& count) override {
        count = uint32_t(fuzz::Line().Incoming.size());
        if (count == 0) {
            Error = EIO;
            return false;
        }
        return true;
    }

    bool WaitForInput(unsigned) override { return !fuzz::Line().Incoming.empty(); }

    bool Purge() override {
        fuzz::Line().Incoming.clear();
        return true;
    }

    bool Close() override {
        Opened = false;
        return true;
    }

private:
    bool Opened = false;
};

} // namespace

std::unique_ptr<TSerialDevice> TSerialDevice::ForName(const AnsiString&) {
    return std::make_unique<TMemorySerialDevice>();
}

bool TSerialDevice::IsNetworkName(const AnsiString&) {
    return false;
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
