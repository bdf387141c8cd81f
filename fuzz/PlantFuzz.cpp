// A set payload from the plant's broker, as the publisher reads it before a write: for any bytes and
// any writable parameter, the reader either refuses with its own error or gives a value the
// registry takes again unchanged, within the parameter's index and known range. Nothing else may
// escape (a JSON library exception, a crash, a hang).

#include "link/IxaInterface.h"
#include "publish/Publisher.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

std::vector<const TIxaParameter*> Writable() {
    std::vector<const TIxaParameter*> list;
    for (size_t i = 0; i < IxaParameterCount; ++i)
        if (IxaParameters[i].Writable())
            list.push_back(&IxaParameters[i]);
    return list;
}

[[noreturn]] void Fail(const TIxaParameter& p, std::string_view payload, const char* why) {
    std::fprintf(stderr, "%s: %s\npayload: %.*s\n", p.Mnemonic, why, int(payload.size()), payload.data());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<const TIxaParameter*> writable = Writable();
    if (size < 1)
        return 0;
    const TIxaParameter& p = *writable[data[0] % writable.size()];
    const std::string_view payload(reinterpret_cast<const char*>(data + 1), size - 1);
    TPlantCommand command;
    try {
        command = ParsePlantCommand(p, payload);
    } catch (const Exception&) {
        return 0; // refused, in words
    }
    if (payload.size() > MaxPayload)
        Fail(p, payload, "a payload beyond the bound was taken");
    if (p.Indexed() != (command.Index >= 0) || command.Index > p.LastIndex())
        Fail(p, payload, "an index out of the parameter's range was taken");
    if (p.Kind == TIxaValueKind::Text) {
        if (command.Value.Wire.find_first_of("\r\n") != std::string::npos ||
            command.Value.Wire.size() > TIxaInterface::MaxConfigLine)
            Fail(p, payload, "a text that is no single command line was taken");
        return 0;
    }
    if (p.HasRange() && (command.Value.Number < p.Low || command.Value.Number > p.High))
        Fail(p, payload, "a number out of the known range was taken");
    try {
        if (ParseIxaValue(p, command.Value.Wire).Wire != command.Value.Wire)
            Fail(p, payload, "the value sent is not what the registry reads from it");
    } catch (const Exception&) {
        Fail(p, payload, "the value sent is one the registry refuses");
    }
    return 0;
}
