#include "dialogs/BrokerSettings.h"

#include "publish/Publisher.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace {

AnsiString Trimmed(const AnsiString& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == AnsiString::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

void CheckUrl(const AnsiString& url) {
    AnsiString rest;
    if (url.rfind("mqtt://", 0) == 0)
        rest = url.substr(7);
    else if (url.rfind("mqtts://", 0) == 0)
        rest = url.substr(8);
    else
        throw EBrokerSettings(TBrokerField::Url,
                              "Broker URL \"" + url + "\" must begin with mqtt:// or mqtts://");
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    // host, "host:port" or "[v6 address]:port"; nothing else (no path, no user in the URL).
    AnsiString host = rest;
    AnsiString port;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == AnsiString::npos)
            throw EBrokerSettings(TBrokerField::Url,
                                  "Broker URL \"" + url + "\": the address lacks its \"]\"");
        host = rest.substr(0, close + 1);
        const AnsiString after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                throw EBrokerSettings(TBrokerField::Url,
                                      "Broker URL \"" + url + "\": \"" + after + "\" after the address");
            port = after.substr(1);
            if (port.empty())
                throw EBrokerSettings(TBrokerField::Url,
                                      "Broker URL \"" + url + "\": the port is missing after \":\"");
        }
    } else if (const auto colon = rest.find(':'); colon != AnsiString::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (port.empty())
            throw EBrokerSettings(TBrokerField::Url,
                                  "Broker URL \"" + url + "\": the port is missing after \":\"");
    }
    if (host.empty() || host.find_first_of("/@ \t?#") != AnsiString::npos)
        throw EBrokerSettings(TBrokerField::Url, "Broker URL \"" + url + "\": no host name");
    if (!port.empty()) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc{} || end != port.data() + port.size() || value < 1 || value > 65535)
            throw EBrokerSettings(TBrokerField::Url, "Broker URL \"" + url + "\": the port \"" + port +
                                                         "\" is no number from 1 to 65535");
    }
}

void CheckTopicRoot(const AnsiString& root) {
    // Wildcards subscribe, they cannot be published to; a root of levels only.
    if (root.find_first_of("+#") != AnsiString::npos)
        throw EBrokerSettings(TBrokerField::TopicRoot,
                              "Topic root \"" + root + "\" must not hold \"+\" or \"#\"");
    for (unsigned char c : root)
        if (c < 0x20 || c == 0x7f)
            throw EBrokerSettings(TBrokerField::TopicRoot,
                                  "Topic root \"" + root + "\" holds a control character");
    if (root.front() == '/' || root.back() == '/')
        throw EBrokerSettings(TBrokerField::TopicRoot,
                              "Topic root \"" + root + "\" must not begin or end with \"/\"");
}

void CheckReadableFile(TBrokerField field, const char* what, const AnsiString& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), error))
        throw EBrokerSettings(field, AnsiString(what) + " \"" + path + "\" is no file");
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw EBrokerSettings(field, AnsiString(what) + " \"" + path + "\" cannot be read");
}

} // namespace

AnsiString TBrokerSettings::AllowedText() const {
    AnsiString text;
    for (const AnsiString& mnemonic : AllowedWrites)
        text += (text.empty() ? "" : ",") + mnemonic;
    return text;
}

std::vector<AnsiString> ParseAllowedWritesField(const AnsiString& text) {
    try {
        return ParseAllowedWrites(text);
    } catch (const EPublish& error) {
        throw EBrokerSettings(TBrokerField::AllowedWrites, AnsiString("Allowed writes: ") + error.what());
    }
}

TBrokerSettings CheckBrokerSettings(TBrokerSettings settings) {
    settings.Url = Trimmed(settings.Url);
    settings.TopicRoot = Trimmed(settings.TopicRoot);
    settings.CredentialsFile = Trimmed(settings.CredentialsFile);
    settings.CaFile = Trimmed(settings.CaFile);
    if (!settings.Url.empty())
        CheckUrl(settings.Url);
    if (settings.TopicRoot.empty())
        settings.TopicRoot = DefaultRoot();
    CheckTopicRoot(settings.TopicRoot);
    if (!settings.CredentialsFile.empty()) {
        CheckReadableFile(TBrokerField::CredentialsFile, "Credentials file", settings.CredentialsFile);
        try {
            ReadCredentials(settings.CredentialsFile); // kept private, with a user name
        } catch (const EPublish& error) {
            throw EBrokerSettings(TBrokerField::CredentialsFile,
                                  "Credentials file \"" + settings.CredentialsFile + "\": " + error.what());
        }
    }
    if (!settings.CaFile.empty())
        CheckReadableFile(TBrokerField::CaFile, "CA file", settings.CaFile);
    return settings;
}

TBrokerSettings ReadBrokerSettings() {
    TBrokerSettings settings;
    settings.Enabled = ReadSetting("BrokerEnabled", "0") == "1";
    settings.Url = ReadSetting("BrokerUrl");
    settings.TopicRoot = ReadSetting("BrokerTopicRoot");
    if (settings.TopicRoot.empty())
        settings.TopicRoot = DefaultRoot();
    settings.CredentialsFile = ReadSetting("BrokerCredentialsFile");
    settings.CaFile = ReadSetting("BrokerCaFile");
    try {
        settings.AllowedWrites = ParseAllowedWrites(ReadSetting("BrokerAllowedWrites"));
    } catch (const EPublish&) {
        // A settings file edited by hand into nonsense allows no write at all.
        settings.AllowedWrites.clear();
    }
    return settings;
}

void WriteBrokerSettings(const TBrokerSettings& settings) {
    WriteSetting("BrokerEnabled", settings.Enabled ? "1" : "0");
    WriteSetting("BrokerUrl", settings.Url);
    WriteSetting("BrokerTopicRoot", settings.TopicRoot);
    WriteSetting("BrokerCredentialsFile", settings.CredentialsFile);
    WriteSetting("BrokerCaFile", settings.CaFile);
    WriteSetting("BrokerAllowedWrites", settings.AllowedText());
}
