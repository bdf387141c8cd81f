#pragma once
// The console's end of the simulator's line, as bare as possible: a file descriptor on the slave
// device, lines written with LF, bytes read back against a deadline.

#include "sim/Simulator.h"

#include <chrono>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

// Options with one change, for tests: With([](sim::TSimOptions& o) { o.Paced = true; })
template <typename F> sim::TSimOptions With(F change) {
    sim::TSimOptions options;
    change(options);
    return options;
}

class TTestLine {
public:
    using TClock = std::chrono::steady_clock;

    explicit TTestLine(const std::string& path) { Open(path); }
    ~TTestLine() { Close(); }
    TTestLine(const TTestLine&) = delete;
    TTestLine& operator=(const TTestLine&) = delete;

    void Open(const std::string& path) {
        Close();
        Fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    void Close() {
        if (Fd >= 0)
            close(Fd);
        Fd = -1;
        Buffer.clear();
    }

    bool SendRaw(const std::string& bytes) {
        return write(Fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    bool Send(const std::string& line) { return SendRaw(line + "\n"); }

    // Reads up to `max` bytes, until the deadline; returns what came (LF included).
    std::string ReadRaw(size_t max, unsigned ms) {
        const auto deadline = TClock::now() + std::chrono::milliseconds(ms);
        while (Buffer.size() < max && Fill(deadline)) {
        }
        std::string out = Buffer.substr(0, max);
        Buffer.erase(0, out.size());
        return out;
    }

    // One line without its LF (a CR before it stays); nothing when none is complete in time.
    std::optional<std::string> ReadLine(unsigned ms) {
        const auto deadline = TClock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const size_t lf = Buffer.find('\n');
            if (lf != std::string::npos) {
                std::string line = Buffer.substr(0, lf);
                Buffer.erase(0, lf + 1);
                return line;
            }
            if (!Fill(deadline))
                return std::nullopt;
        }
    }

    // Sends a command and reads lines up to and including the first "OK" (each within ms).
    std::vector<std::string> Exchange(const std::string& line, unsigned ms = 1000) {
        std::vector<std::string> lines;
        if (!Send(line))
            return lines;
        while (auto next = ReadLine(ms)) {
            lines.push_back(*next);
            if (*next == "OK")
                break;
        }
        return lines;
    }

    // The value of a get: the middle line of echo, value, "OK".
    std::string Value(const std::string& line) {
        const auto lines = Exchange(line);
        return lines.size() == 3 && lines[0] == line && lines[2] == "OK" ? lines[1] : "<bad reply>";
    }

    // The first line after the echo.
    std::string Reply(const std::string& line) {
        const auto lines = Exchange(line);
        return lines.size() >= 2 && lines[0] == line ? lines[1] : "<bad reply>";
    }

    // True when nothing at all arrives within ms.
    bool Quiet(unsigned ms) { return ReadRaw(1, ms).empty(); }

    int Fd = -1;

private:
    // Waits for bytes until the deadline; false when none came (or the line failed).
    bool Fill(TClock::time_point deadline) {
        for (;;) {
            char buf[256];
            const ssize_t n = read(Fd, buf, sizeof buf);
            if (n > 0) {
                Buffer.append(buf, static_cast<size_t>(n));
                return true;
            }
            // A raw tty with VMIN = VTIME = 0 reads 0 when it has nothing.
            if (n < 0 && errno != EAGAIN)
                return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{Fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count()) + 1) > 0 && (p.revents & (POLLHUP | POLLERR)))
                return false;
        }
    }

    std::string Buffer;
};
