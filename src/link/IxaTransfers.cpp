// Whole configurations between the controller and "*.cfg" files, automatic weighing and saving.

#include "link/IxaInterface.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

struct TFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

// The whole file. Only a regular file no larger than MaxConfigBytes is read: the checks come before
// the open, so that a named pipe cannot block it and a link to a device cannot fill memory. The read
// itself stops past the bound too, for a file that grows after the check.
AnsiString ReadConfigFile(const AnsiString& fileName) {
    const std::filesystem::path path(fileName);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status))
        throw EIxaInterface(4);
    if (!std::filesystem::is_regular_file(status))
        throw EIxaInterface(4, "Not a configuration file: " + fileName + " is not a regular file.");
    const uintmax_t size = std::filesystem::file_size(path, error);
    const AnsiString tooLarge = "Not a configuration file: " + fileName + " is larger than " +
                                std::to_string(TIxaInterface::MaxConfigBytes / 1024) + " kB.";
    if (error)
        throw EIxaInterface(4);
    if (size > TIxaInterface::MaxConfigBytes)
        throw EIxaInterface(4, tooLarge);
    TFile file(std::fopen(fileName.c_str(), "rb"));
    if (!file)
        throw EIxaInterface(4);
    AnsiString text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, n);
        if (text.size() > TIxaInterface::MaxConfigBytes)
            throw EIxaInterface(4, tooLarge);
    }
    if (std::ferror(file.get()))
        throw EIxaInterface(4);
    return text;
}

// The lines of a checked file text, without their line ends (LF or CR LF).
std::vector<AnsiString> SplitLines(const AnsiString& text) {
    std::vector<AnsiString> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == AnsiString::npos)
            end = text.size();
        AnsiString line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

AnsiString Hex(unsigned char c) {
    const char* digits = "0123456789ABCDEF";
    return AnsiString("0x") + digits[c >> 4] + digits[c & 15];
}

// Puts the remembered reply time limit back on every way out.
class TTimeoutScope {
public:
    TTimeoutScope(std::atomic<int>& timeout, int limit) : Timeout(timeout), Saved(timeout) {
        Timeout = limit;
    }
    ~TTimeoutScope() { Timeout = Saved; }

private:
    std::atomic<int>& Timeout;
    int Saved;
};

} // namespace

void TIxaInterface::CheckConfigText(const AnsiString& text) {
    size_t lineNumber = 1, length = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++lineNumber;
            length = 0;
            continue;
        }
        const bool lineEnd = c == '\r' && (i + 1 == text.size() || text[i + 1] == '\n');
        if (lineEnd)
            continue;
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            throw EIxaInterface(7, "Not a configuration file: line " + std::to_string(lineNumber) +
                                       " holds the control character " + Hex(c) + ".");
        if (++length > MaxConfigLine)
            throw EIxaInterface(7, "Not a configuration file: line " + std::to_string(lineNumber) +
                                       " is longer than " + std::to_string(MaxConfigLine) + " characters.");
    }
}

void TIxaInterface::DownloadCfg(const AnsiString& fileName) {
    TLinkLock lock(*this);
    const AnsiString text = ReadConfigFile(fileName);
    // The whole file is checked before the first command, so a wrong file sends nothing at all.
    CheckConfigText(text);
    bool first = true;
    for (const AnsiString& line : SplitLines(text)) {
        if (!first)
            CheckBetweenExchanges();
        first = false;
        SendString(line);
        VoidReply();
    }
}

void TIxaInterface::UploadCfg(const AnsiString& command, const AnsiString& fileName) {
    TLinkLock lock(*this);
    // The dump goes to a file beside the target first, so that a failed upload leaves an existing
    // configuration file as it was instead of cut short.
    const AnsiString partName = fileName + ".part";
    TFile file(std::fopen(partName.c_str(), "wb"));
    if (!file)
        throw EIxaInterface(4);
    struct TRemovePart {
        const AnsiString& Name;
        bool Keep = false;
        ~TRemovePart() {
            if (!Keep)
                std::remove(Name.c_str());
        }
    } part{partName};

    SendString(command);
    size_t lines = 0, bytes = 0;
    for (;;) {
        if (lines > 0)
            CheckBetweenExchanges();
        AnsiString line = ReadString();
        if (line.compare(0, 5, "Error") == 0)
            throw EIxa(line);
        if (line == "OK")
            break;
        // A dump past these bounds is no configuration (one the download would refuse, or one that
        // never ends): a bad reply. The rest of it is left on the line for the next handshake, which
        // waits for the line to go quiet before it asks.
        bytes += line.size() + 1;
        if (++lines > MaxDumpLines || bytes > MaxDumpBytes || line.size() > MaxConfigLine) {
            Connected = false; // the rest of the dump is still on its way: the link is out of step
            throw EIxaInterface(3, "IXA Communication Error! The configuration dump went past " +
                                       std::to_string(MaxDumpLines) + " lines, " +
                                       std::to_string(MaxDumpBytes / 1024) + " kB or " +
                                       std::to_string(MaxConfigLine) + " characters in a line.");
        }
        if (std::fprintf(file.get(), "%s\n", line.c_str()) < 0)
            throw EIxaInterface(4);
    }
    if (std::fclose(file.release()) != 0)
        throw EIxaInterface(4);
    std::error_code error;
    std::filesystem::rename(partName, fileName, error);
    if (error)
        throw EIxaInterface(4);
    part.Keep = true;
}

void TIxaInterface::UploadIxaCfg(const AnsiString& fileName) {
    UploadCfg("DCC", fileName);
}

void TIxaInterface::UploadToolCfg(const AnsiString& fileName) {
    UploadCfg("DTC", fileName);
}

void TIxaInterface::AutoWeigh() {
    TLinkLock lock(*this);
    TTimeoutScope limit(Timeout, 20000);
    SetIntProp("ATW", GetToolNumber());
}

void TIxaInterface::SaveConfiguration(bool full) {
    TLinkLock lock(*this);
    TTimeoutScope limit(Timeout, 4000);
    SendString(full ? "SC 1" : "SC");
    VoidReply();
}
