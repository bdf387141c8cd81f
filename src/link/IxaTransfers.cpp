// Whole configurations between the controller and "*.cfg" files, automatic weighing and saving.

#include "link/IxaInterface.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

struct TFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

// The next line of the file without its line end (LF or CR LF); false at the end of the file.
// Lines of any length are read whole, so a long command is never cut into two.
bool ReadCommandLine(FILE* file, AnsiString& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line += char(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return any;
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

void TIxaInterface::DownloadCfg(const AnsiString& fileName) {
    TLinkLock lock(*this);
    TFile file(std::fopen(fileName.c_str(), "rb"));
    if (!file)
        throw EIxaInterface(4);
    AnsiString line;
    while (ReadCommandLine(file.get(), line)) {
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
    for (;;) {
        AnsiString line = ReadString();
        if (line.compare(0, 5, "Error") == 0)
            throw EIxa(line);
        if (line == "OK")
            break;
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

bool TIxaInterface::SaveConfiguration(bool full) {
    TLinkLock lock(*this);
    TTimeoutScope limit(Timeout, 4000);
    try {
        SendString(full ? "SC 1" : "SC");
        VoidReply();
        return true;
    } catch (const ECommPort&) {
    } catch (const EIxaInterface&) {
    } catch (const EIxa&) {
    }
    return false;
}
