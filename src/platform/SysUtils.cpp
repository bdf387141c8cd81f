#include "platform/SysUtils.h"

#include <charconv>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::mutex commandLineMutex;
std::vector<AnsiString> commandLine;

} // namespace

int StrToInt(const AnsiString& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (begin < end && text[begin] == '+' && begin + 1 < end && text[begin + 1] != '-')
        ++begin;
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + begin, text.data() + end, value, 10);
    if (begin == end || ec != std::errc() || ptr != text.data() + end)
        throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetCommandLine(int argc, const char* const* argv) {
    std::vector<AnsiString> args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    SetCommandLine(std::move(args));
}

void SetCommandLine(std::vector<AnsiString> args) {
    std::lock_guard guard(commandLineMutex);
    commandLine = std::move(args);
}

const std::vector<AnsiString>& CommandLine() {
    std::lock_guard guard(commandLineMutex);
    return commandLine;
}
