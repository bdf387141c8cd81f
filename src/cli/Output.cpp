#include "cli/Output.h"

#include "config/ConfigText.h"
#include "link/CommPort.h"
#include "link/IxaInterface.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

void AppendHex(std::string& out, unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

// The length of the UTF-8 character that starts at text[i], or 0 when none does there (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, or cut short).
size_t Utf8Length(std::string_view text, size_t i) {
    const auto at = [&](size_t k) { return i + k < text.size() ? (unsigned char)text[i + k] : 0u; };
    const unsigned lead = at(0);
    const auto continuation = [&](size_t k, unsigned low = 0x80, unsigned high = 0xbf) {
        return at(k) >= low && at(k) <= high;
    };
    if (lead >= 0xc2 && lead <= 0xdf)
        return continuation(1) ? 2 : 0;
    if (lead >= 0xe0 && lead <= 0xef) {
        const unsigned low = lead == 0xe0 ? 0xa0 : 0x80, high = lead == 0xed ? 0x9f : 0xbf;
        return continuation(1, low, high) && continuation(2) ? 3 : 0;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        const unsigned low = lead == 0xf0 ? 0x90 : 0x80, high = lead == 0xf4 ? 0x8f : 0xbf;
        return continuation(1, low, high) && continuation(2) && continuation(3) ? 4 : 0;
    }
    return 0;
}

} // namespace

std::string Shown(std::string_view text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            if ((c < 0x20 && !(c == '\n' && keepLineBreaks)) || c == 0x7f)
                AppendHex(out, c);
            else
                out += char(c);
            ++i;
            continue;
        }
        const size_t length = Utf8Length(text, i);
        if (length == 0) {
            // A lone byte: a terminal of an 8-bit code page may take 0x80-0x9F as a control.
            if (c < 0xa0)
                AppendHex(out, c);
            else
                out += char(c);
            ++i;
        } else if (length == 2 && c == 0xc2 && (unsigned char)text[i + 1] < 0xa0) {
            AppendHex(out, c); // U+0080-U+009F, the C1 controls
            AppendHex(out, (unsigned char)text[i + 1]);
            i += 2;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string JsonText(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void CheckOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return;
    const int error = errno != 0 ? errno : EIO;
    std::clearerr(stdout);
    throw EOutput(std::string("cannot write the output: ") + std::strerror(error));
}

void WriteOut(const std::string& text) {
    errno = 0;
    std::fwrite(text.data(), 1, text.size(), stdout);
    CheckOutput();
}

void Print(const TCliOptions& options, const Json& json, const std::string& text) {
    WriteOut(options.Json ? JsonText(json) + "\n" : Shown(text, true));
}

int ReportError(bool json, int code, const std::string& message, const std::string& help) {
    std::string text;
    if (json) {
        Json error = {{"error", message}, {"exit", code}};
        if (!help.empty())
            error["help"] = help;
        text = JsonText(error) + "\n";
    } else {
        text = "korva: " + Shown(message) + "\n" + (help.empty() ? "" : "Try '" + help + "'.\n");
    }
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    return code;
}

int ReportFailure(const TCliOptions& options, const std::string& command, const std::string& port) {
    const bool json = options.Json;
    // Before a port is known there is no port and no unit to name.
    const std::string where =
        port.empty() ? "" : " (port " + port + ", address " + std::to_string(options.Address) + ")";
    try {
        throw;
    } catch (const EUsage& e) {
        return ReportError(json, ExitUsage, e.what(), "korva help " + command);
    } catch (const EPortOpen& e) {
        return ReportError(json, ExitPort, e.what());
    } catch (const EOutput& e) {
        return ReportError(json, ExitLink, e.what());
    } catch (const EConfig& e) {
        return ReportError(json, ExitLink, e.what());
    } catch (const EIxa& e) {
        return ReportError(json, ExitController,
                           "controller error " + std::to_string(e.ErrorNumber) + ": " + e.Described() +
                               where);
    } catch (const EIxaInterface& e) {
        const std::string message = e.what();
        if (!port.empty() && message.find(port) != std::string::npos)
            return ReportError(json, ExitLink, message); // it names the port already
        return ReportError(json, ExitLink, message + where);
    } catch (const std::exception& e) {
        return ReportError(json, ExitLink, e.what() + where);
    }
}
