#pragma once
// TIxaInterface: the link with the IXA controller over a TCommPort. Plain-text protocol: the host
// sends "<Address>:<command>" and LF; the controller echoes that line, then answers "OK", or one
// value line and "OK", or one line beginning "Error" and "OK". Lines end in LF (a CR before it is
// dropped). Numbers on the wire use "." whatever the user's locale.
//
// Errors:
//   EIxaInterface - link or protocol failure, TLinkError (its number indexes IxaInterfaceErrorText):
//                   PortNotOpen, NotConnected, Disconnected (line timed out or port failed; clears
//                   Connected), CommunicationError (wrong echo, clears Connected; or bad reply: missing
//                   "OK", over-long line), File, Incompatible (refused controller), LineBreak (a text
//                   value with a line break, nothing sent), NotConfiguration (a configuration file that
//                   is no list of commands; the message names the line).
//   EIxa          - the controller answered with an "Error" line; ErrorNumber from "Error %ld", its
//                   meaning from IxaErrorText.
//   ECommPort     - a refused write (TCommPortError::Write) passes through unchanged; when the port was lost
//                   with it (the device vanished, TCommPort::Lost), Connected is cleared as well, and
//                   so it is by any exchange tried on a lost port (PortNotOpen).
//   EConvertError - an integer or real reply that is not a number.
//
// Threads and the link lock: every parameter operation and Connect hold Lock (recursive) from the
// sending of their command until their last reply line is read, and release it on every path.
// SendString, ReadString, WriteString, CheckReply and the *Reply operations do not lock; a caller
// that strings them together holds Lock itself (TLinkLock). Connected, Version, Address and Timeout
// are plain shared values (atomic), read by both threads without the lock; ConnectedSettled reads
// Connected once a handshake in progress is over.
//
// Traffic: every line written or read goes to the traffic observers, if any are set (Traffic.h), on
// the thread of the exchange: the one of SetTrafficObserver (the traffic log's) and those added
// beside it (AddTrafficObserver). Each of these calls takes the link lock, so that no exchange is
// calling an observer after it was cleared or removed.

#include "link/CommPort.h"
#include "link/Traffic.h"
#include "platform/SysUtils.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <vector>

using TStringList = std::vector<AnsiString>;

// Told about each line of a configuration transfer, on the transferring thread with the link lock
// held: a download calls it before it sends line `line` (from 1) of `total`, with the line; an upload
// after dump line `line` has arrived (total 0: not known until the "OK"). An exception it raises ends
// the transfer like a failed line.
using TTransferProgress = std::function<void(size_t line, size_t total, const AnsiString& text)>;

// The link's own failures, named; each number is the index of its message in IxaInterfaceErrorText.
enum class TLinkError : uint8_t {
    PortNotOpen = 0,
    NotConnected = 1,
    Disconnected = 2,       // the line timed out or the port failed
    CommunicationError = 3, // a wrong echo or a bad reply
    File = 4,
    Incompatible = 5, // a controller below version 4.0
    LineBreak = 6,    // a text value with a line break: nothing sent
    NotConfiguration = 7,
};
constexpr size_t LinkErrorCount = 8;
extern const char* const IxaInterfaceErrorText[LinkErrorCount];

class EIxaInterface : public Exception {
public:
    explicit EIxaInterface(TLinkError error);
    EIxaInterface(TLinkError error, AnsiString message); // a more precise message than the table's
    TLinkError Error() const { return static_cast<TLinkError>(Code); }
    uint8_t Code; // the number of Error()
};

// The controller's error numbers, as its "Error N" lines carry them.
enum class TIxaError : int32_t {
    UnknownCommand = 1,
    Malformed = 2, // a malformed command or an index the controller does not have
    OutOfRange = 3,
    ReadOnly = 4,
    NotNow = 5, // refused in the present state (activating during an emergency stop, ...)
};
// What an error number means ("value out of range"); nullptr for a number without a known meaning.
const char* IxaErrorMeaning(int32_t number);
// A controller error line with its meaning: "Error 3: value out of range"; the line alone when its
// number has no known meaning.
AnsiString IxaErrorText(const AnsiString& line);

class EIxa : public Exception {
public:
    explicit EIxa(const AnsiString& line); // message = the line; ErrorNumber read with "Error %ld"
    int32_t ErrorNumber;
    AnsiString Described() const { return IxaErrorText(what()); }
    AnsiString Command; // the command line refused, without the address; empty when not known
};

class TIxaInterface;

// Holds the link lock for one scope.
class TLinkLock {
public:
    explicit TLinkLock(TIxaInterface& link);
    ~TLinkLock();
    TLinkLock(const TLinkLock&) = delete;
    TLinkLock& operator=(const TLinkLock&) = delete;

private:
    std::recursive_mutex& Mutex;
};

// Sets the link's reply time limit for one scope and puts the previous one back on every way out,
// or the limit given as after (the handshake always ends at the ordinary limit).
class TReplyTimeLimit {
public:
    TReplyTimeLimit(TIxaInterface& link, int limitMs);
    TReplyTimeLimit(TIxaInterface& link, int limitMs, int afterMs);
    ~TReplyTimeLimit();
    TReplyTimeLimit(const TReplyTimeLimit&) = delete;
    TReplyTimeLimit& operator=(const TReplyTimeLimit&) = delete;

private:
    std::atomic<int>& Timeout;
    int Saved;
};

// Marks the lines sent in one scope, under the link lock, as a configuration file's for the traffic
// observers: the plant sees one download, not a command per line.
class TConfigTransferScope {
public:
    explicit TConfigTransferScope(TIxaInterface& link);
    ~TConfigTransferScope();
    TConfigTransferScope(const TConfigTransferScope&) = delete;
    TConfigTransferScope& operator=(const TConfigTransferScope&) = delete;

private:
    bool& Transferring;
    bool Saved;
};

class TIxaInterface {
public:
    static constexpr size_t MaxReplyLine = 4096; // a longer line is a bad reply
    // A function-name count above this (or below 0) is a bad reply: a controller has a few dozen
    // functions, and a count of two billion would keep the handshake asking for names for good.
    static constexpr int MaxFunctionNames = 256;
    // Before the handshake's "VER?" the input is emptied, again and again, until the line has been quiet
    // for DrainQuietMs, or for DrainLimitMs at most, so that the tail of an earlier reply still on its
    // way cannot be taken for the handshake's echo and reply.
    static constexpr unsigned DrainQuietMs = 50;
    static constexpr unsigned DrainLimitMs = 1000;

    TIxaInterface();
    explicit TIxaInterface(TCommPort* port);
    virtual ~TIxaInterface();
    TIxaInterface(const TIxaInterface&) = delete;
    TIxaInterface& operator=(const TIxaInterface&) = delete;

    // Protocol
    void AssertOpen();
    void AssertConnected();
    void Connect(); // the "VER?" handshake; outcome in Connected and Version
    // Connected once a handshake in progress on the other thread is over (under the link lock): its
    // passing "not connected" is no loss.
    bool ConnectedSettled();
    void WriteString(const AnsiString& text);
    AnsiString ReadString();
    void SendString(const AnsiString& command);
    void CheckReply(const AnsiString& reply);
    void VoidReply();
    int IntReply();
    double RealReply();
    AnsiString StringReply();

    // Generic parameter operations (each one whole exchange under the lock)
    AnsiString GetStringProp(const AnsiString& name);
    int GetIntProp(const AnsiString& name);
    double GetRealProp(const AnsiString& name);
    AnsiString GetStringArrayProp(const AnsiString& name, int index);
    int GetIntArrayProp(const AnsiString& name, int index);
    double GetRealArrayProp(const AnsiString& name, int index);
    void SetStringProp(const AnsiString& name, const AnsiString& value);
    void SetIntProp(const AnsiString& name, int value);
    void SetRealProp(const AnsiString& name, double value);
    void SetIntArrayProp(const AnsiString& name, int index, int value);
    void SetRealArrayProp(const AnsiString& name, int index, double value);

    // Typed accessors
    AnsiString GetVersion();
    AnsiString GetControllerName();
    void SetControllerName(const AnsiString& value);
    AnsiString GetToolType();
    void SetToolType(const AnsiString& value);
    int GetNetAddress();
    void SetNetAddress(int value);
    int GetToolNumber();
    void SetToolNumber(int value);
    int GetPositionLimit();
    int GetCommandForceInterface();
    void SetCommandForceInterface(int value);
    int GetActiveRetractInterface();
    void SetActiveRetractInterface(int value);
    int GetToolNumberInterface();
    void SetToolNumberInterface(int value);
    void SetCommandForceLevel(int value);
    int GetDinFunction(int index);
    void SetDinFunction(int index, int value);
    int GetDoutFunction(int index);
    void SetDoutFunction(int index, int value);
    int GetAoutFunction(int index);
    void SetAoutFunction(int index, int value);
    double GetCommandForce();
    void SetCommandForce(double value);
    double GetCommandPosition();
    void SetCommandPosition(double value);
    double GetMaxForce();
    double GetMaxWeight();
    double GetMaxPosition();
    double GetActualForce();
    double GetPosition();
    double GetSlideAcceleration();
    double GetCurrentToolWeight();
    double GetNegPositionLimit();
    void SetNegPositionLimit(double value);
    double GetPosPositionLimit();
    void SetPosPositionLimit(double value);
    double GetForceScale();
    void SetForceScale(double value);
    double GetForceOffset();
    void SetForceOffset(double value);
    double GetAccScale();
    void SetAccScale(double value);
    double GetAccOffset();
    void SetAccOffset(double value);
    double GetPosScale();
    void SetPosScale(double value);
    double GetPosOffset();
    void SetPosOffset(double value);
    double GetAin();
    double GetAout(int index);
    double GetContourForce(int index);
    void SetContourForce(int index, double value);
    double GetToolWeight(int tool);
    void SetToolWeight(int tool, double value);
    double GetForceLevel(int index);
    void SetForceLevel(int index, double value);
    bool GetToolConnected();
    bool GetActive();
    void SetActive(bool value);
    bool GetContourMode();
    void SetContourMode(bool value);
    bool GetPositionMode();
    void SetPositionMode(bool value);
    bool GetEstop();
    void SetEstop(bool value);
    bool GetSerialOverride();
    void SetSerialOverride(bool value);
    bool GetEnglishUnits();
    void SetEnglishUnits(bool value);
    int GetAllDins();
    int GetAllDouts();
    TStringList& GetDinFunctions();
    TStringList& GetDoutFunctions();
    TStringList& GetAoutFunctions();

    // Configuration transfer and the long maintenance commands (each under the lock for its whole run).
    // A download checks the whole file first (CheckConfigText, CheckConfigValues) and then sends every line
    // as a command; an upload writes the dump lines of the command ("DCC" controller, "DTC" tool
    // configuration) to the file, replacing it only once the whole dump has arrived. A download refuses
    // (TLinkError::File, naming the file) anything but a regular file, and a file larger than MaxConfigBytes,
    // before reading it.
    void DownloadCfg(const AnsiString& fileName, const TTransferProgress& progress = {});
    static constexpr size_t MaxConfigLine = 253; // characters of a command line, line end excluded
    // A configuration is a few kB; these bounds are generous beyond any real one. An upload's dump
    // longer than MaxDumpLines lines or MaxDumpBytes bytes, or with a line longer than MaxConfigLine,
    // is a bad reply (TLinkError::CommunicationError), so the file an upload writes is always one a download
    // takes.
    static constexpr uintmax_t MaxConfigBytes = 1024 * 1024;
    static constexpr size_t MaxDumpLines = 4096;
    static constexpr size_t MaxDumpBytes = 256 * 1024;
    // Refuses (TLinkError::NotConfiguration, naming the line) a file text that is not a list of command
    // lines: a line longer than MaxConfigLine, a NUL or another control character than tab, or a CR that does
    // not end its line. Nothing is sent by a download that this refuses.
    static void CheckConfigText(const AnsiString& text);
    // Refuses (TLinkError::NotConfiguration, naming the line and the reason) a line the parameter
    // registry refuses (IxaLineRefusal: a read-only parameter, an index or a value out of its known
    // range, a value that is not whole). A download checks this too before it sends anything; a
    // comparison does not, so that it can still show such a line.
    static void CheckConfigValues(const AnsiString& text);
    void UploadCfg(const AnsiString& command, const AnsiString& fileName,
                   const TTransferProgress& progress = {});
    void UploadIxaCfg(const AnsiString& fileName, const TTransferProgress& progress = {});
    void UploadToolCfg(const AnsiString& fileName, const TTransferProgress& progress = {});
    // The dump of the command into memory, the same exchange with the same bounds as UploadCfg.
    TStringList UploadCfgLines(const AnsiString& command, const TTransferProgress& progress = {});
    void AutoWeigh(); // "ATW <tool>", up to 20 s
    // "SC 1" or "SC", up to 4 s. A save the controller refuses or never confirms raises (EIxa,
    // EIxaInterface or ECommPort), so that it cannot pass for done.
    void SaveConfiguration(bool full);

    // Called between the exchanges of a long sequence (the handshake with its name lists, a download,
    // an upload), on the thread that runs it, with the link lock held. It may throw to end the
    // sequence (the lock is released and the sequence's clean-up runs); the exception passes on to
    // the sequence's caller, also out of Connect. The monitor installs one that ends its own thread's
    // sequence when it is asked to stop or pause. Assign it while no sequence runs.
    std::function<void()> BetweenExchanges;

    // Whether the last handshake met a controller below version 4.0 (its text is TLinkError::Incompatible's
    // message).
    bool Refused() const { return RefusedVersion; }

    // nullptr: nobody listens. The observer must outlive its setting.
    void SetTrafficObserver(TTrafficObserver* observer);
    // Observers beside that one, at most MaxTrafficObservers - 1; false when that many listen. One
    // removed stops being called when the call returns.
    static constexpr size_t MaxTrafficObservers = 4;
    bool AddTrafficObserver(TTrafficObserver* observer);
    void RemoveTrafficObserver(TTrafficObserver* observer);

    // The last command line sent (with its address prefix), shared by all links.
    static AnsiString LastCommand();

    TCommPort* Port = nullptr;
    std::recursive_mutex Lock;
    static constexpr int OrdinaryTimeLimit = 1000; // ms for a reply line
    std::atomic<int> Timeout{OrdinaryTimeLimit};
    std::atomic<int> Address{0};
    std::atomic<bool> Connected{false};
    // A command that sets something went out at the operator's request since the last save (SC):
    // the controller may hold changes its non-volatile memory does not.
    std::atomic<bool> Unsaved{false};
    std::atomic<double> Version{0.0};
    bool EnglishUnits = false;
    AnsiString LengthUnits, ForceUnits, WeightUnits;
    TStringList DinFunctionNames, DoutFunctionNames, AoutFunctionNames;

private:
    AnsiString ReadLine(const AnsiString* echoOf); // ReadString; checks the echo of echoOf if given
    bool Observed() const;
    void Notify(TTrafficDirection direction, const AnsiString& line, TTrafficMark mark,
                const ECommPort* failure = nullptr);
    void SetUnitTexts(bool english);
    void CheckBetweenExchanges();
    // Counts a dump line against the dump's bounds; past them the link is out of step (the rest of
    // the dump is still arriving) and the dump is a bad reply.
    void CountDumpLine(const AnsiString& line, size_t& lines, size_t& bytes);
    void DrainInput();
    TStringList& LoadFunctionNames(TStringList& list, const char* countName, const char* nameName);
    std::atomic<bool> RefusedVersion{false};
    AnsiString SentCommand; // the command of the exchange in progress (under the lock)
    // [0]: SetTrafficObserver's; the others: AddTrafficObserver's.
    std::array<std::atomic<TTrafficObserver*>, MaxTrafficObservers> Observers{};
    std::chrono::steady_clock::time_point ExchangeStart{}; // under the lock, while observed
    bool Transferring = false; // under the lock: a configuration file's lines are being sent
    friend class TConfigTransferScope;
};
