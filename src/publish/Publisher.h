#pragma once
// TPublisher: one controller unit on an MQTT broker, for the plant. One publisher is one broker
// connection for one unit, whose last will marks the unit's status offline when the process that
// publishes it vanishes. Topics under <root>/<unit>/:
//   status  "online" / "offline", retained (the will sets "offline")
//   info    retained JSON: who the unit is (TUnitInfo)
//   state   JSON, one message per monitor pass at most (TUnitState)
//   event   JSON, not retained (TPlantEvent)
//   set/<mnemonic>  subscribed only for the mnemonics the options allow (writes from the plant)
//   result  JSON, the outcome of each write (also to the request's response topic, with its
//           correlation data, when it carries them)
//
// The publisher never blocks its caller: every Publish*/Set* call copies into a bounded queue and
// wakes the publisher's own thread, which alone talks to the broker. While the broker is away the
// thread reconnects by itself with a growing backoff; the latest info and state are kept (a state
// not yet sent is replaced by a newer one) and published again on reconnect; events beyond
// QueueLimit drop the oldest (counted in TPublisherStatus::Dropped).
//
// Writes from the plant: a payload on set/<mnemonic> is bounded (MaxPayload), parsed by the JSON
// library (ParsePlantCommand) and checked against the link's parameter registry on the publisher's
// thread. A mnemonic not allowed, or a value the registry refuses, is answered on result and logged,
// and never reaches OnWrite. A write that passes goes to OnWrite, which hands it to the front end's
// thread; that thread runs it (ExecutePlantWrite: the link, under the plant's traffic origin) and
// gives the outcome back with Complete.
//
// Threads: every public member may be called from any thread, except the constructor, Start and the
// destructor (the owner's thread). OnWrite, OnStatus and OnLog are assigned before Start; they run on the
// publisher's thread and must return at once (queue the work, do not use the link there).
// Errors: the constructor raises EPublish for options it cannot use (a bad broker URL, a
// credentials file others may read, a missing CA file); everything that happens later (refused
// connection, broker gone, certificate mismatch) shows in Status() and OnStatus, never as an
// exception.

#include "link/IxaParameterTable.h"
#include "platform/SysUtils.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class EPublish : public Exception {
public:
    using Exception::Exception;
};

struct TPublisherOptions {
    std::string Broker;                     // "mqtt://host[:port]" (1883) or "mqtts://host[:port]" (8883)
    std::string Root;                       // empty: DefaultRoot()
    std::string CaFile;                     // mqtts: the CA to verify the broker by; empty: the system's
    std::string CredentialsFile;            // empty: no user name; see ReadCredentials
    std::vector<std::string> AllowedWrites; // mnemonics ("CF", "ACT"); empty: no writes
    std::string ConsoleVersion;             // for info: the program's version
    std::string ClientId;                   // empty: made from the host, the process and the unit
    unsigned KeepAliveSeconds = 10;
    unsigned BackoffMinMs = 250, BackoffMaxMs = 8000; // reconnect backoff, doubled per failure
    size_t QueueLimit = 256;                          // events kept while the broker is away
};

// "korva/<host name>", the host name made safe for a topic level.
std::string DefaultRoot();
// A text made safe for one topic level: "+", "#", "/", control characters, blanks and bytes above
// 126 become "_"; empty becomes "_".
std::string TopicLevel(const std::string& text);
// The unit's level: the port's name and the address, e.g. "/dev/ttyUSB0", 3 -> "dev_ttyUSB0-3".
std::string UnitLevel(const std::string& port, int address);

// The comma list of --allow-writes ("CF,ACT") as mnemonics of the registry that can be written,
// upper case, each once; anything else is refused (EPublish naming it).
std::vector<std::string> ParseAllowedWrites(const std::string& list);

// A credentials file: "username=NAME" and "password=SECRET" lines (blank lines and lines starting
// with "#" are skipped). Refused (EPublish) when the file may be read or written by anyone but its
// owner (and group, for reading), is no regular file, or lacks a user name.
struct TCredentials {
    std::string UserName, Password;
};
TCredentials ReadCredentials(const std::string& file);

// Who the unit is, published retained on info.
struct TUnitInfo {
    std::string ControllerName; // as the controller holds it (converted to UTF-8)
    double Version = 0;
    bool EnglishUnits = false;
    std::string ToolType;
    int ToolNumber = 0;
    int Address = 0;
    std::string Port;
};

// One pass of the monitor, published on state.
struct TUnitState {
    double CommandForce = 0, ActualForce = 0, Position = 0;
    double Orientation = 0; // degrees, as the panel's horizon shows it
    bool Active = false;
    uint8_t Mode = 0; // 0 force, 1 position, 2 contour
    bool ToolPresent = false;
    int32_t ToolNumber = 0;
    bool EnglishUnits = false;
    std::chrono::system_clock::time_point Time{}; // of the reading; zero: when published
};

enum class TPlantEvent : uint8_t {
    LinkLost,                // detail: the reason
    LinkRegained,            // detail: the reason
    ConfigurationDownloaded, // detail: the file
    BackupTaken,             // detail: the backup's name
    SavedToController,       // detail: "full" or empty
    ErrorReply,              // detail: the controller's error line, described
    OperatorCommand,         // detail: the command line sent
};
const char* PlantEventName(TPlantEvent kind); // "link-lost", "link-regained", ...

// A write from the plant that the registry took: what the front end's thread sends.
struct TPlantWrite {
    uint64_t Id = 0;
    const TIxaParameter* Parameter = nullptr;
    int Index = -1; // -1: the parameter takes none
    TIxaValue Value;
    int Address = -1; // the unit's, from SetInfo; -1: the link's own
    // Where the result goes besides <root>/<unit>/result (MQTT 5 request/response).
    std::string ResponseTopic;
    std::string CorrelationData;
};

struct TPlantWriteResult {
    bool Ok = false;
    std::string Error; // in words, when not Ok
};

// A set/<mnemonic> payload: a JSON number, string or boolean (the value), or an object
// {"value": ..., "index": N}. The value is read by the registry's whole-text rules (ParseIxaValue);
// the index is checked by CheckIxaIndex. Raises EIxaValue or EPublish with what was refused.
// A payload longer than MaxPayload is refused before it is parsed.
struct TPlantCommand {
    int Index = -1;
    TIxaValue Value;
};
constexpr size_t MaxPayload = 4096;
TPlantCommand ParsePlantCommand(const TIxaParameter& p, std::string_view payload);

// Runs the write through the link (the unit at write.Address, the link's own address and
// connection state given back afterwards), its exchanges marked as the plant's in the traffic log.
// Never throws: a refusal of the controller or a link failure is the result's Error.
class TIxaInterface;
TPlantWriteResult ExecutePlantWrite(TIxaInterface& link, const TPlantWrite& write);

enum class TPublisherState : uint8_t {
    Stopped,    // not started, or stopped
    Connecting, // connecting, or waiting out the backoff before the next try
    Connected,
    Refused, // the broker or the TLS check refused us; tried again after the backoff all the same
};
const char* PublisherStateName(TPublisherState state); // "stopped", "connecting", ...

struct TPublisherStatus {
    TPublisherState State = TPublisherState::Stopped;
    std::string Detail;     // why, in words ("certificate verify failed", "not authorised", ...)
    uint64_t Published = 0; // messages handed to the broker
    uint64_t Dropped = 0;   // events dropped while the queue was full
    uint64_t Writes = 0, RefusedWrites = 0;
};

class TPublisher {
public:
    // Checks the options (EPublish) and reads the credentials; connects only from Start.
    TPublisher(TPublisherOptions options, std::string unitLevel);
    // Publishes status "offline", disconnects cleanly (waits at most about a second), stops the thread.
    ~TPublisher();
    TPublisher(const TPublisher&) = delete;
    TPublisher& operator=(const TPublisher&) = delete;

    void Start();

    void SetInfo(const TUnitInfo& info);
    void PublishState(const TUnitState& state);
    void PublishEvent(TPlantEvent kind, const std::string& detail);
    // The outcome of a write OnWrite handed out; published on result.
    void Complete(const TPlantWrite& write, const TPlantWriteResult& result);

    TPublisherStatus Status() const;
    const std::string& Topic() const; // "<root>/<unit>"

    std::function<void(const TPlantWrite&)> OnWrite;
    // Each change of Status().State, with its detail (for a status bar). Runs with no lock held.
    std::function<void(const TPublisherStatus&)> OnStatus;
    // What the publisher does on its own that an operator may want to read (a refused write, a lost
    // broker, a reconnect): one line, no line end.
    std::function<void(const std::string&)> OnLog;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};
