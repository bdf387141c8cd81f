// Configuration texts as the compare reads them: any bytes are read without error, every line is
// kept as it stands, reading the lines again gives the same entries, a text compared with itself has
// no difference, and the value comparison is symmetric.

#include "config/ConfigCompare.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TConfigText config = TConfigText::Parse(text);

    // The lines joined again are the text, less the CR of each CR LF and the last line end.
    std::string joined;
    for (const TConfigEntry& entry : config.Entries) {
        if (entry.Line.find('\n') != std::string::npos)
            Fail("a line holds a line feed");
        if (entry.Key.empty() || (entry.Mnemonic.empty() != (entry.Key.front() == '\n')))
            Fail("a key that is neither a parameter's nor a line's");
        if (entry.Info && entry.Info->Indexed() != (entry.Index >= 0) && entry.Mnemonic != "TT")
            Fail("an indexed parameter without its index");
        joined += entry.Line;
        joined += '\n';
    }
    std::string expected;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            expected += text[i];
    if (!expected.empty() && expected.back() != '\n') {
        if (expected.back() == '\r')
            expected.pop_back();
        expected += '\n';
    }
    if (joined != expected)
        Fail("the lines are not the text");

    const TConfigText again = TConfigText::FromLines(config.Lines());
    if (again.Entries.size() != config.Entries.size())
        Fail("reading the lines again gives another count");
    for (size_t i = 0; i < again.Entries.size(); ++i)
        if (again.Entries[i].Key != config.Entries[i].Key || again.Entries[i].Value != config.Entries[i].Value)
            Fail("reading the lines again gives another entry");

    const TConfigCompare self = TConfigCompare::Compare(config, again);
    if (self.Differences() != 0 || self.UnitsDiffer())
        Fail("a text differs from itself");

    // Neighbouring values compared both ways.
    for (size_t i = 1; i < config.Entries.size(); ++i) {
        const TConfigEntry& a = config.Entries[i - 1];
        const TConfigEntry& b = config.Entries[i];
        if (SameValue(a.Info, a.Value, b.Value) != SameValue(a.Info, b.Value, a.Value))
            Fail("the comparison is not symmetric");
    }
    return 0;
}
