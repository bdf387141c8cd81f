#pragma once
// The console's plant broker settings: where the console publishes its state and events (an MQTT
// broker, "mqtt://host[:port]" or "mqtts://host[:port]"), under which topic root, with which
// credentials file and CA file, and which controller parameters the plant may write. Off unless
// enabled with a URL. A password is never a setting: only the credentials file's path is kept.
//
// Stored as the settings "BrokerEnabled" ("1" or "0"), "BrokerUrl", "BrokerTopicRoot",
// "BrokerCredentialsFile", "BrokerCaFile" and "BrokerAllowedWrites" (mnemonics joined by ",").
//
// CheckBrokerSettings reads every field whole or refuses it (EBrokerSettings, whose message names
// the field and the entry refused); it returns the settings as they are kept (the allowed writes in
// upper case, without blanks or repeats; an empty topic root as the default one). Every rule is the
// publisher's own (publish/Publisher.h: its options are made and checked, field by field, without a
// connection), so the console and the bridge take the same settings.
//
// Threads: main thread only (the settings are the main thread's).

#include "platform/SysUtils.h"

#include <vector>

struct TBrokerSettings {
    bool Enabled = false;
    AnsiString Url;
    AnsiString TopicRoot; // empty: the publisher's DefaultRoot()
    AnsiString CredentialsFile;
    AnsiString CaFile;
    std::vector<AnsiString> AllowedWrites; // mnemonics of the parameter registry

    // Whether the console connects: enabled and a URL given.
    bool On() const { return Enabled && !Url.empty(); }
    AnsiString AllowedText() const; // "CF,ACT"
    bool operator==(const TBrokerSettings&) const = default;
};

enum class TBrokerField { Url, TopicRoot, CredentialsFile, CaFile, AllowedWrites };

// A field refused; the message names the field and what was refused.
class EBrokerSettings : public Exception {
public:
    EBrokerSettings(TBrokerField field, AnsiString message) : Exception(std::move(message)), Field(field) {}
    TBrokerField Field;
};

TBrokerSettings ReadBrokerSettings();
void WriteBrokerSettings(const TBrokerSettings& settings);

// The comma list of allowed writes ("CF, act"), refused as EBrokerSettings naming the entry.
std::vector<AnsiString> ParseAllowedWritesField(const AnsiString& text);
// The settings checked whole (EBrokerSettings), as they are to be kept.
TBrokerSettings CheckBrokerSettings(TBrokerSettings settings);
