// The check a configuration file passes before a download: it must accept exactly the texts whose
// lines are short enough and free of control characters (tab allowed, CR only before LF or at the
// end), and refuse every other one with its own error naming the first bad line, never anything worse.

#include "link/IxaInterface.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t LongestLine = 253; // a command line the controller takes, its line end excluded

// The rule judged the other way round from the check: the text cut into lines first, each line
// then judged on its own. Returns 0 for a good file, else the number of the first bad line.
size_t FirstBadLine(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back() += c;
    }
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string line = lines[n];
        if (!line.empty() && line.back() == '\r') // its line end, or the text's last byte
            line.pop_back();
        if (line.size() > LongestLine)
            return n + 1;
        for (char c : line) {
            const unsigned char u = static_cast<unsigned char>(c);
            if ((u < 0x20 && u != '\t') || u == 0x7F)
                return n + 1;
        }
    }
    return 0;
}

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString text(reinterpret_cast<const char*>(data), size);
    const size_t bad = FirstBadLine(text);
    try {
        TIxaInterface::CheckConfigText(text);
        if (bad != 0)
            Broken("accepted a file whose line " + std::to_string(bad) + " is bad");
    } catch (const EIxaInterface& e) {
        if (bad == 0)
            Broken("refused a good file: " + e.Message);
        const std::string named = "Not a configuration file: line " + std::to_string(bad) + " ";
        if (e.Message.rfind(named, 0) != 0)
            Broken("expected \"" + named + "...\", got: " + e.Message);
    }
    return 0;
}
