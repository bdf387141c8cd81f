// Whole configurations between the controller and "*.cfg" files, automatic weighing and saving.

#include "link/IxaInterface.h"
#include "link/IxaParameterTable.h"

#include "platform/StoredSetting.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

struct TFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

// "Couldn't open file!" with the file and the system's reason, for a folder that is read-only or full.
EIxaInterface FileError(const std::filesystem::path& path, const AnsiString& reason) {
    return EIxaInterface(TLinkError::File, AnsiString(IxaInterfaceErrorText[size_t(TLinkError::File)]) + " " +
                                               path.string() + ": " + reason + ".");
}

// The whole file. Only a regular file no larger than MaxConfigBytes is read: the checks come before
// the open, so that a named pipe cannot block it and a link to a device cannot fill memory. The read
// itself stops past the bound too, for a file that grows after the check.
AnsiString ReadConfigFile(const AnsiString& fileName) {
    const std::filesystem::path path(fileName);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status))
        throw FileError(path, error ? error.message() : std::strerror(ENOENT));
    if (!std::filesystem::is_regular_file(status))
        throw EIxaInterface(TLinkError::File,
                            "Not a configuration file: " + fileName + " is not a regular file.");
    const uintmax_t size = std::filesystem::file_size(path, error);
    const AnsiString tooLarge = "Not a configuration file: " + fileName + " is larger than " +
                                std::to_string(TIxaInterface::MaxConfigBytes / 1024) + " kB.";
    if (error)
        throw FileError(path, error.message());
    if (size > TIxaInterface::MaxConfigBytes)
        throw EIxaInterface(TLinkError::File, tooLarge);
    TFile file(std::fopen(fileName.c_str(), "rb"));
    if (!file)
        throw FileError(path, std::strerror(errno));
    AnsiString text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, n);
        if (text.size() > TIxaInterface::MaxConfigBytes)
            throw EIxaInterface(TLinkError::File, tooLarge);
    }
    if (std::ferror(file.get()))
        throw FileError(path, std::strerror(errno));
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

// The file a name stands for once symbolic links are followed (a dangling link: the file it would
// create). Gives up after as many links as the system follows.
std::filesystem::path LinkTarget(const AnsiString& fileName) {
    std::filesystem::path path(fileName);
    std::error_code error;
    for (int hop = 0; hop < 40 && std::filesystem::is_symlink(std::filesystem::symlink_status(path, error));
         ++hop) {
        const std::filesystem::path next = std::filesystem::read_symlink(path, error);
        if (error)
            break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

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
            throw EIxaInterface(TLinkError::NotConfiguration,
                                "Not a configuration file: line " + std::to_string(lineNumber) +
                                    " holds the control character " + Hex(c) + ".");
        if (++length > MaxConfigLine)
            throw EIxaInterface(TLinkError::NotConfiguration,
                                "Not a configuration file: line " + std::to_string(lineNumber) +
                                    " is longer than " + std::to_string(MaxConfigLine) + " characters.");
    }
}

void TIxaInterface::CheckConfigValues(const AnsiString& text) {
    // Every value the registry knows is read whole and held to its known ranges, so that a wrong
    // line is found before the first one is sent rather than half way.
    const std::vector<AnsiString> lines = SplitLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const AnsiString refusal = IxaLineRefusal(lines[i]);
        if (!refusal.empty())
            throw EIxaInterface(TLinkError::NotConfiguration,
                                "Line " + std::to_string(i + 1) + " of the file (" + lines[i] +
                                    ") cannot be sent: " + refusal + ". Nothing was sent.");
    }
}

void TIxaInterface::DownloadCfg(const AnsiString& fileName, const TTransferProgress& progress) {
    TLinkLock lock(*this);
    const AnsiString text = ReadConfigFile(fileName);
    // The whole file is checked before the first command, so a wrong file sends nothing at all.
    CheckConfigText(text);
    CheckConfigValues(text);
    const std::vector<AnsiString> lines = SplitLines(text);
    TConfigTransferScope transfer(*this);
    for (size_t i = 0; i < lines.size(); ++i) {
        const AnsiString& line = lines[i];
        if (i > 0)
            CheckBetweenExchanges();
        if (progress)
            progress(i + 1, lines.size(), line);
        SendString(line);
        VoidReply();
    }
}

void TIxaInterface::UploadCfg(const AnsiString& command, const AnsiString& fileName,
                              const TTransferProgress& progress) {
    TLinkLock lock(*this);
    // The dump goes to a file beside the target first, so that a failed upload leaves an existing
    // configuration file as it was instead of cut short. A link is written through: the file it
    // names is replaced, the link stays.
    const std::filesystem::path target = LinkTarget(fileName);
    std::error_code error;
    const auto status = std::filesystem::status(target, error);
    const bool exists = !error && std::filesystem::exists(status);
    // A target that could not be opened for writing is refused before the controller is asked,
    // as is one marked read-only (which the administrator could open all the same).
    if (exists) {
        constexpr auto writable = std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                  std::filesystem::perms::others_write;
        if ((status.permissions() & writable) == std::filesystem::perms::none)
            throw FileError(target, "the file is read-only");
        if (!TFile(OpenFile(target, "r+b")))
            throw FileError(target, std::strerror(errno));
    }
    // The dump's own file is new, created exclusively: a name already there (a stale file, a link
    // planted beside the target) is never written through, the next free name is taken instead.
    // Closed before it is removed: an open file cannot be removed on Windows.
    struct TPartFile {
        std::filesystem::path Name;
        TFile File;
        bool Keep = false;
        ~TPartFile() {
            File.reset();
            std::error_code ignored;
            if (!Keep)
                std::filesystem::remove(Name, ignored);
        }
    } part;
    std::error_code openError;
    for (int n = 1; !part.File && n <= 100; ++n) {
        part.Name = target;
        part.Name +=
            n == 1 ? std::string(".part") : std::string(".").append(std::to_string(n)).append(".part");
        part.File.reset(CreateNewFile(part.Name, openError));
        if (!part.File && openError != std::errc::file_exists) {
            part.Keep = true;
            throw FileError(part.Name, openError.message());
        }
    }
    if (!part.File) {
        part.Keep = true; // not ours: nothing was created
        throw FileError(part.Name, openError.message());
    }

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
        CountDumpLine(line, lines, bytes);
        if (std::fprintf(part.File.get(), "%s\n", line.c_str()) < 0)
            throw FileError(part.Name, std::strerror(errno));
        if (progress)
            progress(lines, 0, line);
    }
    if (std::fclose(part.File.release()) != 0)
        throw FileError(part.Name, std::strerror(errno));
    // The replaced file's permissions stay with the name.
    if (exists)
        std::filesystem::permissions(part.Name, status.permissions(), error);
    std::filesystem::rename(part.Name, target, error);
    if (error)
        throw FileError(target, error.message());
    part.Keep = true;
}

void TIxaInterface::UploadIxaCfg(const AnsiString& fileName, const TTransferProgress& progress) {
    UploadCfg("DCC", fileName, progress);
}

void TIxaInterface::UploadToolCfg(const AnsiString& fileName, const TTransferProgress& progress) {
    UploadCfg("DTC", fileName, progress);
}

TStringList TIxaInterface::UploadCfgLines(const AnsiString& command, const TTransferProgress& progress) {
    TLinkLock lock(*this);
    TStringList lines;
    SendString(command);
    size_t count = 0, bytes = 0;
    for (;;) {
        if (count > 0)
            CheckBetweenExchanges();
        AnsiString line = ReadString();
        if (line.compare(0, 5, "Error") == 0)
            throw EIxa(line);
        if (line == "OK")
            return lines;
        CountDumpLine(line, count, bytes);
        lines.push_back(std::move(line));
        if (progress)
            progress(lines.size(), 0, lines.back());
    }
}

void TIxaInterface::CountDumpLine(const AnsiString& line, size_t& lines, size_t& bytes) {
    // A dump past these bounds is no configuration (one the download would refuse, or one that
    // never ends): a bad reply. The rest of it is left on the line for the next handshake, which
    // waits for the line to go quiet before it asks.
    bytes += line.size() + 1;
    if (++lines > MaxDumpLines || bytes > MaxDumpBytes || line.size() > MaxConfigLine) {
        Connected = false; // the rest of the dump is still on its way: the link is out of step
        throw EIxaInterface(TLinkError::CommunicationError,
                            "IXA Communication Error! The configuration dump went past " +
                                std::to_string(MaxDumpLines) + " lines, " +
                                std::to_string(MaxDumpBytes / 1024) + " kB or " +
                                std::to_string(MaxConfigLine) + " characters in a line.");
    }
}

void TIxaInterface::AutoWeigh() {
    TLinkLock lock(*this);
    TReplyTimeLimit limit(*this, 20000);
    SetIntProp("ATW", GetToolNumber());
}

void TIxaInterface::SaveConfiguration(bool full) {
    TLinkLock lock(*this);
    TReplyTimeLimit limit(*this, 4000);
    SendString(full ? "SC 1" : "SC");
    VoidReply();
    Unsaved = false;
}
