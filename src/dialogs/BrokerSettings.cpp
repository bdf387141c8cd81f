#include "dialogs/BrokerSettings.h"

#include "publish/Publisher.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

namespace {

AnsiString Trimmed(const AnsiString& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == AnsiString::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

const char* FieldName(TBrokerField field) {
    switch (field) {
    case TBrokerField::Url:
        return "Broker URL";
    case TBrokerField::TopicRoot:
        return "Topic root";
    case TBrokerField::CredentialsFile:
        return "Credentials file";
    case TBrokerField::CaFile:
        return "CA file";
    case TBrokerField::AllowedWrites:
        break;
    }
    return "Allowed writes";
}

// The refusal with the field's name and the entry refused, unless the message names the entry.
EBrokerSettings Refusal(TBrokerField field, const AnsiString& entry, const AnsiString& message) {
    if (message.find(entry) != AnsiString::npos)
        return EBrokerSettings(field, message);
    return EBrokerSettings(field, AnsiString(FieldName(field)) + " \"" + entry + "\": " + message);
}

// The publisher's own check of its options (no connection is made, no thread started).
void CheckWithPublisher(TBrokerField field, const AnsiString& entry, const TBrokerSettings& settings) {
    TPublisherOptions options;
    options.Broker = settings.Url;
    options.Root = settings.TopicRoot;
    options.CredentialsFile = settings.CredentialsFile;
    options.CaFile = settings.CaFile;
    try {
        TPublisher check(options, "check");
    } catch (const EPublish& error) {
        throw Refusal(field, entry, error.what());
    }
}

void ReadCredentialsField(const AnsiString& file) {
    try {
        ReadCredentials(file);
    } catch (const EPublish& error) {
        throw Refusal(TBrokerField::CredentialsFile, file, error.what());
    }
}

} // namespace

AnsiString TBrokerSettings::AllowedText() const {
    AnsiString text;
    for (const AnsiString& mnemonic : AllowedWrites)
        text += (text.empty() ? "" : ",") + mnemonic;
    return text;
}

std::vector<AnsiString> ParseAllowedWritesField(const AnsiString& text) {
    if (Trimmed(text).empty())
        return {}; // none
    try {
        return ParseAllowedWrites(text);
    } catch (const EPublish& error) {
        AnsiString message = error.what();
        // The command line's option name means nothing in this dialog.
        const AnsiString option = "--allow-writes: ";
        if (message.rfind(option, 0) == 0)
            message.erase(0, option.size());
        throw EBrokerSettings(TBrokerField::AllowedWrites, "Allowed writes: " + message);
    }
}

TBrokerSettings CheckBrokerSettings(TBrokerSettings settings) {
    settings.Url = Trimmed(settings.Url);
    settings.TopicRoot = Trimmed(settings.TopicRoot);
    settings.CredentialsFile = Trimmed(settings.CredentialsFile);
    settings.CaFile = Trimmed(settings.CaFile);
    if (settings.TopicRoot.empty())
        settings.TopicRoot = DefaultRoot();
    if (settings.Url.empty()) {
        if (!settings.CredentialsFile.empty())
            ReadCredentialsField(settings.CredentialsFile);
        return settings; // off: nothing else to connect with
    }
    // Field by field, so that a refusal names the field it belongs to.
    TBrokerSettings step;
    step.Url = settings.Url;
    CheckWithPublisher(TBrokerField::Url, settings.Url, step);
    step.TopicRoot = settings.TopicRoot;
    CheckWithPublisher(TBrokerField::TopicRoot, settings.TopicRoot, step);
    step.CredentialsFile = settings.CredentialsFile;
    CheckWithPublisher(TBrokerField::CredentialsFile, settings.CredentialsFile, step);
    step.CaFile = settings.CaFile;
    CheckWithPublisher(TBrokerField::CaFile, settings.CaFile, step);
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
        settings.AllowedWrites = ParseAllowedWritesField(ReadSetting("BrokerAllowedWrites"));
    } catch (const EBrokerSettings&) {
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
