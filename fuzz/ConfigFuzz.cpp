// The check a configuration file passes before a download: it must accept exactly the texts whose
// lines are short enough and free of control characters (tab allowed, CR only before LF or at the
// end), and refuse every other one with its own error, never anything worse.

#include "link/IxaInterface.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The same rule, written out plainly, as the oracle.
bool Acceptable(const AnsiString& text) {
    size_t length = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            length = 0;
            continue;
        }
        if (c == '\r' && (i + 1 == text.size() || text[i + 1] == '\n'))
            continue;
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            return false;
        if (++length > TIxaInterface::MaxConfigLine)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString text(reinterpret_cast<const char*>(data), size);
    bool accepted = true;
    try {
        TIxaInterface::CheckConfigText(text);
    } catch (const EIxaInterface& e) {
        accepted = false;
        if (e.Message.rfind("Not a configuration file: line ", 0) != 0) {
            std::fprintf(stderr, "unexpected message: %s\n", e.Message.c_str());
            std::abort();
        }
    }
    if (accepted != Acceptable(text)) {
        std::fprintf(stderr, "the check %s a file it should %s\n", accepted ? "accepted" : "refused",
                     accepted ? "refuse" : "accept");
        std::abort();
    }
    return 0;
}
