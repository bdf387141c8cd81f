// The simulated controller's command interpreter: every command text, however odd, gets an answer
// in the protocol's shape (lines without line ends, closed by "OK"), and never an exception.
// Input: command texts separated by LF, run in order against one controller, 5 ms apart.

#include "sim/SimDevice.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    auto now = sim::TSimClock::time_point{} + std::chrono::hours(1);
    sim::TSimDevice device({}, now);
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos)
            end = input.size();
        const std::string command = input.substr(start, end - start);
        start = end + 1;
        now += std::chrono::milliseconds(5);
        const sim::TSimReply reply = device.Execute(command, now);
        bool shaped = !reply.Lines.empty() && reply.Lines.back() == "OK";
        for (const auto& line : reply.Lines)
            shaped = shaped && line.find('\n') == std::string::npos;
        if (!shaped) {
            std::fprintf(stderr, "reply out of shape for \"%s\"\n", command.c_str());
            std::abort();
        }
    }
    return 0;
}
