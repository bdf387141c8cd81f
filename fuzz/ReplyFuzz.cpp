// The link's reply grammar against whatever a controller might send. Input: one byte choosing the
// operation (and the network address), then the replies to its commands, separated by 0xFF bytes;
// a reply that starts with 0x01 comes without the echo of its command.
// Only the link's own errors may come out, and what the link believes must fit what it was told.

#include "MemoryLine.h"
#include "link/IxaInterface.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::vector<std::string> SplitReplies(const uint8_t* data, size_t size) {
    std::vector<std::string> replies(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF)
            replies.emplace_back();
        else
            replies.back() += char(data[i]);
    }
    return replies;
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

const std::string& UploadFile() {
    static const std::string name = "/tmp/korva-fuzz-upload-" + std::to_string(getpid()) + ".cfg";
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t choice = data[0];
    fuzz::Line().Reset(SplitReplies(data + 1, size - 1));
    TCommPort port;
    port.Open("fuzz");
    TIxaInterface link(&port);
    link.Address = (choice & 0x80) ? 3 : 0;
    link.Connected = true;
    try {
        switch (choice & 7) {
        case 0:
            link.Connect();
            Check(!link.Connected || link.Version >= 4.0, "connected to a refused version");
            Check(!link.Connected || !link.Refused(), "connected and refused at once");
            // Whatever count a controller reports, the lists stay within the bound.
            for (const TStringList* names :
                 {&link.DinFunctionNames, &link.DoutFunctionNames, &link.AoutFunctionNames})
                Check(names->size() <= size_t(TIxaInterface::MaxFunctionNames), "a name list past its bound");
            break;
        case 1:
            link.GetCommandForce();
            break;
        case 2:
            link.SetCommandForce(12.5);
            break;
        case 3:
            link.GetToolNumber();
            break;
        case 4: {
            const AnsiString name = link.GetControllerName();
            Check(name.find('\n') == AnsiString::npos, "a line end inside a reply line");
            Check(name.size() <= TIxaInterface::MaxReplyLine, "an over-long reply line");
            break;
        }
        case 5:
            link.GetForceLevel(3);
            break;
        case 6:
            link.UploadCfg("DCC", UploadFile());
            break;
        case 7:
            link.GetToolConnected();
            break;
        }
        // Whatever came back, the command went out as one line with its address.
        const std::string prefix = link.Address == 3 ? "3:" : "0:";
        Check(fuzz::Line().Written.compare(0, 2, prefix) == 0, "command without its address");
    } catch (const EIxaInterface& e) {
        if (e.Code == 2)
            Check(!link.Connected, "a lost line left the link connected");
    } catch (const EIxa&) {
    } catch (const EConvertError&) {
    } catch (const ECommPort&) {
    }
    std::remove(UploadFile().c_str());
    return 0;
}
