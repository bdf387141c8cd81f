// The controller link: framing, echo check, reply grammar, handshake, comm log.

#include "link/IxaInterface.h"

#include "link/WireFormat.h"

#include <cmath>
#include <cstdio>
#include <mutex>

const char* const IxaInterfaceErrorText[LinkErrorCount] = {
    "Communication port not open!",
    "IXA not connected!",
    "IXA disconnected!",
    "IXA Communication Error!",
    "Couldn't open file!",
    "This software is not compatible with an IXA40 Controller!",
    "A text sent to the IXA may not contain a line break!",
    "Not a configuration file!",
};

namespace {

// Shared by every link of the program.
std::mutex sharedMutex;
AnsiString lastCommand;
FILE* commLog = nullptr;

void CloseCommLog() {
    std::lock_guard guard(sharedMutex);
    if (commLog) {
        std::fclose(commLog);
        commLog = nullptr;
    }
}

} // namespace

EIxaInterface::EIxaInterface(TLinkError error)
    : Exception(static_cast<size_t>(error) < LinkErrorCount
                    ? IxaInterfaceErrorText[static_cast<size_t>(error)]
                    : "IXA Communication Error!"),
      Code(static_cast<uint8_t>(error)) {}

EIxaInterface::EIxaInterface(TLinkError error, AnsiString message)
    : Exception(std::move(message)), Code(static_cast<uint8_t>(error)) {}

const char* IxaErrorMeaning(int32_t number) {
    // As the controller documents its error lines.
    switch (static_cast<TIxaError>(number)) {
    case TIxaError::UnknownCommand:
        return "unknown command";
    case TIxaError::Malformed:
        return "malformed command or no such index";
    case TIxaError::OutOfRange:
        return "value out of range";
    case TIxaError::ReadOnly:
        return "the parameter can only be read";
    case TIxaError::NotNow:
        return "refused in the present state";
    }
    return nullptr;
}

AnsiString IxaErrorText(const AnsiString& line) {
    const char* meaning = IxaErrorMeaning(ScanErrorNumber(line));
    return meaning ? line + ": " + meaning : line;
}

EIxa::EIxa(const AnsiString& line) : Exception(line), ErrorNumber(ScanErrorNumber(line)) {}

TLinkLock::TLinkLock(TIxaInterface& link) : Mutex(link.Lock) {
    Mutex.lock();
}
TLinkLock::~TLinkLock() {
    Mutex.unlock();
}

TConfigTransferScope::TConfigTransferScope(TIxaInterface& link)
    : Transferring(link.Transferring), Saved(link.Transferring) {
    Transferring = true;
}
TConfigTransferScope::~TConfigTransferScope() {
    Transferring = Saved;
}

TReplyTimeLimit::TReplyTimeLimit(TIxaInterface& link, int limitMs)
    : Timeout(link.Timeout), Saved(link.Timeout) {
    Timeout = limitMs;
}
TReplyTimeLimit::TReplyTimeLimit(TIxaInterface& link, int limitMs, int afterMs)
    : Timeout(link.Timeout), Saved(afterMs) {
    Timeout = limitMs;
}
TReplyTimeLimit::~TReplyTimeLimit() {
    Timeout = Saved;
}

TIxaInterface::TIxaInterface() {
    for (const AnsiString& arg : CommandLine()) {
        if (arg != "-commlog")
            continue;
        CloseCommLog();
        std::lock_guard guard(sharedMutex);
        commLog = std::fopen(CommLogPath().c_str(), "w");
    }
}

TIxaInterface::TIxaInterface(TCommPort* port) : TIxaInterface() {
    Port = port;
    SetEnglishUnits(false);
}

TIxaInterface::~TIxaInterface() {
    CloseCommLog();
}

AnsiString TIxaInterface::LastCommand() {
    std::lock_guard guard(sharedMutex);
    return lastCommand;
}

void TIxaInterface::AssertOpen() {
    if (Port && Port->IsOpen())
        return;
    if (Port && Port->Lost())
        Connected = false; // the device vanished: the link is down until the port is back
    throw EIxaInterface(TLinkError::PortNotOpen);
}

void TIxaInterface::AssertConnected() {
    if (!Connected)
        throw EIxaInterface(TLinkError::NotConnected);
}

void TIxaInterface::SetTrafficObserver(TTrafficObserver* observer) {
    TLinkLock lock(*this);
    Observers[0] = observer;
}

bool TIxaInterface::AddTrafficObserver(TTrafficObserver* observer) {
    TLinkLock lock(*this);
    for (size_t i = 1; i < Observers.size(); ++i) {
        if (!Observers[i].load()) {
            Observers[i] = observer;
            return true;
        }
    }
    return false;
}

void TIxaInterface::RemoveTrafficObserver(TTrafficObserver* observer) {
    TLinkLock lock(*this);
    for (size_t i = 1; i < Observers.size(); ++i)
        if (Observers[i].load() == observer)
            Observers[i] = nullptr;
}

bool TIxaInterface::Observed() const {
    for (const auto& slot : Observers)
        if (slot.load(std::memory_order_acquire))
            return true;
    return false;
}

void TIxaInterface::Notify(TTrafficDirection direction, const AnsiString& line, TTrafficMark mark,
                           const ECommPort* failure) {
    const auto now = std::chrono::steady_clock::now();
    if (direction == TTrafficDirection::Sent)
        ExchangeStart = now;
    TTrafficEvent event{std::chrono::system_clock::now(),
                        std::chrono::duration_cast<std::chrono::microseconds>(now - ExchangeStart),
                        direction,
                        CurrentTrafficOrigin(),
                        mark,
                        line,
                        {},
                        Transferring};
    if (failure) {
        // The port's message, the system's reason, and whether the device went with it.
        event.Detail = failure->what();
        if (failure->LastError != 0)
            event.Detail.append(" (").append(TSerialDevice::ErrorText(int(failure->LastError))).append(")");
        if (Port && Port->Lost())
            event.Detail.append(" ").append(Port->OpenFailure());
    }
    for (const auto& slot : Observers)
        if (TTrafficObserver* observer = slot.load(std::memory_order_acquire))
            observer->OnTraffic(event);
}

void TIxaInterface::WriteString(const AnsiString& text) {
    AssertOpen();
    const bool observer = Observed();
    try {
        // The line and its end in one write: the controller's side wakes once for it, not twice.
        Port->PutString(text + '\n');
    } catch (const ECommPort& e) {
        if (observer)
            Notify(TTrafficDirection::Sent, text, TTrafficMark::PortFailed, &e);
        if (Port->Lost())
            Connected = false; // a vanished device, not one refused write
        throw;
    }
    if (observer)
        Notify(TTrafficDirection::Sent, text, TTrafficMark::None);
}

AnsiString TIxaInterface::ReadString() {
    return ReadLine(nullptr);
}

AnsiString TIxaInterface::ReadLine(const AnsiString* echoOf) {
    AssertOpen();
    const bool observer = Observed();
    AnsiString line;
    try {
        line = Port->ReadUntil('\n', unsigned(Timeout.load()), MaxReplyLine);
    } catch (const ECommPort& e) {
        if (observer)
            Notify(TTrafficDirection::Received, "",
                   e.Error() == TCommPortError::Timeout ? TTrafficMark::Timeout : TTrafficMark::PortFailed,
                   e.Error() == TCommPortError::Timeout ? nullptr : &e);
        Connected = false;
        throw EIxaInterface(TLinkError::Disconnected);
    }
    if (line.size() > MaxReplyLine) {
        if (observer) // its start is enough to see what it was; the ring keeps 20,000 of them
            Notify(TTrafficDirection::Received, line.substr(0, 80) + "...", TTrafficMark::BadReply);
        throw EIxaInterface(TLinkError::CommunicationError); // a stream without line ends is no reply
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (observer) {
        TTrafficMark mark = TTrafficMark::None;
        if (echoOf)
            mark = line == *echoOf ? TTrafficMark::None : TTrafficMark::WrongEcho;
        else if (line.compare(0, 5, "Error") == 0)
            mark = TTrafficMark::ErrorReply;
        Notify(TTrafficDirection::Received, line, mark);
    }
    return line;
}

void TIxaInterface::SendString(const AnsiString& command) {
    // A line break inside a value would reach the controller as a second command.
    if (command.find_first_of("\r\n") != AnsiString::npos)
        throw EIxaInterface(TLinkError::LineBreak);
    const AnsiString line = std::to_string(Address.load()) + ":" + command;
    SentCommand = command;
    {
        std::lock_guard guard(sharedMutex);
        lastCommand = line;
    }
    WriteString(line);
    if (command.find('?') == AnsiString::npos && CurrentTrafficOrigin() == TTrafficOrigin::Operator)
        Unsaved = true;
    AnsiString echo;
    try {
        echo = ReadLine(&line);
    } catch (const EIxaInterface& e) {
        if (e.Error() == TLinkError::CommunicationError)
            Connected = false; // a line without end is no echo either: the link is out of step
        throw;
    }
    if (echo != line) {
        Connected = false;
        throw EIxaInterface(TLinkError::CommunicationError);
    }
}

void TIxaInterface::CheckReply(const AnsiString& reply) {
    if (reply == "OK")
        return;
    if (ReadString() != "OK")
        throw EIxaInterface(TLinkError::CommunicationError);
    if (reply.compare(0, 5, "Error") == 0) {
        {
            std::lock_guard guard(sharedMutex);
            if (commLog) {
                std::fprintf(commLog, "%s --> %s\n", lastCommand.c_str(), reply.c_str());
                std::fflush(commLog);
            }
        }
        EIxa refused(reply);
        refused.Command = SentCommand;
        throw refused;
    }
}

void TIxaInterface::VoidReply() {
    CheckReply(ReadString());
}

int TIxaInterface::IntReply() {
    AnsiString line = ReadString();
    CheckReply(line);
    return StrToInt(line);
}

double TIxaInterface::RealReply() {
    AnsiString line = ReadString();
    CheckReply(line);
    double value = 0;
    if (!ScanReal(line, value))
        throw EConvertError("'" + line + "' is not a valid floating point value");
    return value;
}

AnsiString TIxaInterface::StringReply() {
    AnsiString line = ReadString();
    CheckReply(line);
    return line;
}

void TIxaInterface::CheckBetweenExchanges() {
    if (BetweenExchanges)
        BetweenExchanges();
}

void TIxaInterface::DrainInput() {
    // Emptied again each time something arrives, until nothing has for DrainQuietMs. InQueue fails
    // on a line that hung up, which would otherwise look busy for the whole limit.
    if (!Port->IsOpen())
        return;
    const uint32_t start = GetTickCount();
    do {
        Port->Purge();
        if (!Port->WaitForInput(DrainQuietMs) || Port->InQueue() == 0)
            return;
    } while (GetTickCount() - start < DrainLimitMs);
}

bool TIxaInterface::ConnectedSettled() {
    TLinkLock lock(*this);
    return Connected;
}

void TIxaInterface::Connect() {
    if (!Port) {
        Connected = false;
        Timeout = OrdinaryTimeLimit; // every handshake ends at the ordinary limit, a failed one too
        return;
    }
    // Purge, the short time limit and the link's state come under the lock, so that a reconnect
    // from one thread cannot cut into an exchange that the other thread has in progress, nor show
    // it a link that is down while the handshake is still going on.
    TLinkLock lock(*this);
    Connected = false;
    TReplyTimeLimit limit(*this, 500, OrdinaryTimeLimit);
    RefusedVersion = false;
    try {
        DrainInput();
        SendString("VER?");
        AnsiString versionLine = ReadString();
        AnsiString status = ReadString();
        if (status != "OK")
            return;
        double version = 0;
        // "nan" and "inf" are numbers to the scanner but no version: refused like any other text.
        if (!ScanReal(versionLine, version) || !std::isfinite(version))
            version = 0;
        Version = version;
        if (version < 4.0) {
            Version = 0;
            RefusedVersion = true;
            return;
        }
        CheckBetweenExchanges();
        GetDinFunctions();
        CheckBetweenExchanges();
        GetDoutFunctions();
        CheckBetweenExchanges();
        GetAoutFunctions();
        Connected = true;
    } catch (const ECommPort&) {
    } catch (const EIxaInterface&) {
    }
}
