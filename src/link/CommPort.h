#pragma once
// TCommPort: the one serial port to the controller, used synchronously; reading polls the count
// of waiting bytes. The port's name chooses the device backend: a local serial device, or a serial
// device server on the network ("tcp://HOST:PORT", "rfc2217://HOST:PORT"), which a lost connection
// and Reopen treat like an unplugged adapter.
//
// Input comes from the device in blocks, into a buffer of the port's own, so that a line costs a
// system call or two rather than one per byte. The byte-wise operations work on that buffer: InQueue
// counts its bytes with the device's, GetChar takes the next one, Purge empties it with the device.
//
// Errors: Open and Close raise nothing (the outcome shows in Opened); every other refused system
// call throws ECommPort by value with its code into CommPortErrorText and the system's error number.
//
// A vanished device (unplugged USB adapter, hung-up line: EIO, ENXIO, ENODEV) closes the port as it
// throws, and the port keeps its Name: "lost" is Opened false with Name set. Reopen() opens a lost
// port again under that name; the monitor calls it before each offline handshake, so the link comes
// back by itself when the adapter is plugged in again. Close() forgets the name, and so does an Open
// that fails: a port the user closed, or never opened, is never reopened behind the user's back.
//
// Threads: no lock of its own. The controller link serialises its traffic with the link lock; the
// terminal uses the port directly while the monitor is paused. A lost device closes the port on the
// thread whose call met it (under the link lock for the link's traffic) and Reopen runs under the
// link lock, so a window that opens or closes the port while the monitor runs holds the link lock
// (TLinkLock) for it. Opened and OpenError() may be read from any thread.

#include "platform/SerialDevice.h"
#include "platform/SysUtils.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>

// The port's failures, named; each number is the index of its message in CommPortErrorText, as the
// windows show it.
enum class TCommPortError : uint8_t {
    BadSettings = 0,
    BadBaudRate = 1,
    BadPortNumber = 2,
    BadStopBits = 3,
    BadDataBits = 4,
    BadParity = 5,
    BadByteSize = 6,
    InUse = 7,
    NotOpen = 8,
    Open = 9,
    Write = 10,
    Read = 11,
    Timeout = 12,
    Close = 13,
    Purge = 14,
    Flush = 15,
    GetCommState = 16,
    SetCommState = 17,
    SetupComm = 18,
    SetCommTimeouts = 19,
    ClearCommError = 20,
};
constexpr size_t CommPortErrorCount = 21;
extern const char* const CommPortErrorText[CommPortErrorCount];
// The message of a code; the first one's for a code beyond the table.
const char* CommPortErrorMessage(uint8_t code);

class ECommPort : public std::exception {
public:
    explicit ECommPort(TCommPortError error, uint32_t lastError = 0)
        : Code(static_cast<uint8_t>(error)), LastError(lastError) {}
    const char* what() const noexcept override {
        return Code < CommPortErrorCount ? CommPortErrorText[Code] : "?";
    }
    TCommPortError Error() const { return static_cast<TCommPortError>(Code); }

    uint8_t Code;       // the number of Error(), as the port's messages index it
    uint32_t LastError; // errno of the failed call
};

class TCommPort {
public:
    TCommPort();
    ~TCommPort(); // closes the port if open
    TCommPort(const TCommPort&) = delete;
    TCommPort& operator=(const TCommPort&) = delete;

    // Line setting changes: kept while closed, applied at once while open (BadBaudRate, BadDataBits,
    // BadParity or BadStopBits and the old value restored when the system refuses).
    void SetBaudRate(int rate);
    void SetByteSize(uint8_t size);
    void SetParity(uint8_t parity);
    void SetStopBits(uint8_t stopBits);

    void Open(const AnsiString& name); // no-op while open; failure leaves the port closed
    void Close();                      // also forgets the name of a lost port
    bool IsOpen() const { return Opened; }
    // The device vanished while open: closed, Name kept for Reopen.
    bool Lost() const { return !Opened && !Name.empty(); }
    // Opens a lost port again under its Name; returns Opened. Does nothing for an open port or one
    // that was closed or never opened.
    bool Reopen();

    void PutChar(char c);                // Write
    void PutString(const AnsiString& s); // Write
    int InQueue();                       // ClearCommError; 0 while closed
    int GetChar();                       // Read; -1 while closed or when no byte came in time
    void Purge();                        // Purge
    // Waits up to ms for a byte to arrive, returning early when one does (true; also for a line that
    // hung up); a closed port just pauses.
    bool WaitForInput(unsigned ms);

    // Reads up to the terminator within timeLimit ms for the whole line and returns the line
    // without it (Timeout and the partial line lost on time-out). With maxLength, reading stops
    // once the line has grown past maxLength bytes without a terminator and that over-long line is
    // returned, so that a stream without line ends cannot grow it without bound.
    AnsiString ReadUntil(char terminator, unsigned timeLimit, size_t maxLength = SIZE_MAX);

    // Why the last Open failed ("Permission denied: /dev/ttyUSB0 (...)"), or that the device was
    // lost; empty after a good Open.
    AnsiString OpenFailure() const;
    int OpenError() const { return OpenErrorNumber; } // errno of the last failed Open or loss, 0 if none
    // A line setting the device let pass at the last good Open ("DTR not controlled: ..."), or empty.
    AnsiString SettingNote() const;

    AnsiString Name; // the open port's name; kept while the port is lost
    std::atomic<bool> Opened{false};
    TCommTimeouts Timeouts;
    TDcb Dcb;

private:
    template <typename T> void ApplySetting(TCommPortError error, T TDcb::*field, T value);
    [[noreturn]] void Fail(TCommPortError error);
    bool OpenDevice(const AnsiString& name);
    void FailOpen(const AnsiString& name);
    void SetFailure(int error, AnsiString text);
    // Reads what the device has into the empty buffer, waiting at most waitMs; false when nothing came.
    bool Fill(TCommPortError error, unsigned waitMs);
    void DropInput() { InHead = InTail = 0; }

    std::unique_ptr<TSerialDevice> Handle; // the backend of the open (or lost) port's name
    mutable std::mutex FailureMutex;       // the windows read the texts while the monitor reopens
    AnsiString OpenFailureText;
    AnsiString SettingNoteText;
    char InBuffer[4096];
    size_t InHead = 0, InTail = 0; // the bytes not yet taken are InBuffer[InHead, InTail)
    std::atomic<int> OpenErrorNumber{0};
};
