#pragma once
// The serial device behind one interface: the operating system's own, with one implementation per
// system (posix/SerialDevice.cpp, win32/SerialDevice.cpp), and a serial device server reached over
// the network (net/NetSerialDevice.cpp). TCommPort is built on it.
//
// Errors: every operation returns false when the system refused it and keeps the system's error
// number for LastError(). "Not supported by this driver" (modem lines or RS-485 mode on a
// pseudo-terminal or a plain USB adapter) is not a failure.
// Threads: no lock; one thread at a time (the controller link serialises its traffic).

#include "platform/SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The line settings the program imposes, with the system's codes. The other fields of the system's
// line record are read from the port at open and kept by the backend as the system reported them.
struct TDcb {
    enum : uint8_t { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
    enum : uint8_t { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };
    enum : uint8_t { DtrDisable = 0, DtrEnable = 1, DtrHandshake = 2 };
    enum : uint8_t { RtsDisable = 0, RtsEnable = 1, RtsHandshake = 2, RtsToggle = 3 };

    uint32_t DCBlength = 28;
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;
    uint8_t Parity = NoParity;
    uint8_t StopBits = OneStopBit;
    uint8_t DtrControl = DtrDisable;
    uint8_t RtsControl = RtsToggle;
};

struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// One serial line, whichever backend carries it: the system's own serial devices (posix/, win32/:
// TLocalSerialDevice) or a serial device server on the network (net/: TNetSerialDevice).
class TSerialDevice {
public:
    TSerialDevice() = default;
    virtual ~TSerialDevice() = default;
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    // The backend for a port name: "tcp://HOST:PORT" and "rfc2217://HOST:PORT" reach a serial device
    // server, every other name the system's serial devices. The device is not opened.
    static std::unique_ptr<TSerialDevice> ForName(const AnsiString& name);
    static bool IsNetworkName(const AnsiString& name);

    // Opens the named port exclusively for synchronous reading and writing.
    virtual bool Open(const AnsiString& name) = 0;
    virtual bool IsOpen() const = 0;
    // Reads the port's whole line record; the imposed fields are returned in dcb.
    virtual bool GetState(TDcb& dcb) = 0;
    // Applies the kept line record with the imposed fields of dcb (raw 8-bit line).
    virtual bool SetState(const TDcb& dcb) = 0;
    virtual bool SetupQueues(uint32_t inputSize, uint32_t outputSize) = 0;
    virtual bool SetTimeouts(const TCommTimeouts& timeouts) = 0;
    // Writes all bytes within the write time-outs; fails when they run out.
    virtual bool Write(const char* data, size_t count) = 0;
    // Takes what has been received, up to size bytes, in one go. When nothing is waiting it waits at
    // most waitMs for bytes to arrive and takes what came; got is 0 when nothing did.
    virtual bool Read(char* data, size_t size, size_t& got, unsigned waitMs) = 0;
    // Received bytes waiting; clears any pending line-error condition.
    virtual bool BytesWaiting(uint32_t& count) = 0;
    // Waits at most ms for a byte to arrive and returns early when one does (or the line hangs up);
    // true when input (or a hang-up) is there to be seen. A backend without such a wait just pauses.
    virtual bool WaitForInput(unsigned ms) = 0;
    // Discards both buffers.
    virtual bool Purge() = 0;
    virtual bool Close() = 0;

    // Open's refusal of a terminal that is some session's controlling terminal (a shell's): not a
    // system error number. Only the POSIX backend knows such terminals.
    static constexpr int SessionTerminalError = -2;

    // The system error number of the last refused operation (0 when none).
    int LastError() const { return Error; }
    // Whether that error means the device itself has gone (an unplugged USB adapter, a hung-up
    // line, a closed connection), as opposed to one refused operation on a device that is still there.
    virtual bool DeviceLost() const { return IsLostError(Error); }
    // What the user is told about the last Open of name that failed.
    virtual AnsiString OpenFailureText(const AnsiString& name) const {
        return DescribeOpenFailure(Error, DevicePath(name));
    }
    // What the user is told about a device that DeviceLost says has gone from under port name.
    virtual AnsiString LostText(const AnsiString& name) const { return "Device lost: " + DevicePath(name); }
    // A line setting the device could not confirm and the last Open let pass (modem lines a driver
    // or a server does not control); empty when it took everything.
    const AnsiString& SettingNote() const { return Note; }

    static bool IsLostError(int error);
    // The device a port name stands for: "COM1".."COM10" and other "COMn" names map to the
    // system's serial devices, a path or a network name is used as it stands. A "COM" name whose
    // digits are no port number stays as it is, and Open refuses it.
    static AnsiString DevicePath(const AnsiString& name);
    // n for "COMn" (any case) with n from 1 to MaxComPort written plainly; 0 for a name that is not
    // "COM" and digits; -1 for one whose digits are no port number ("COM0", "COM01",
    // "COM4294967297": a number that would wrap round is not taken for another port).
    static constexpr int MaxComPort = 256;
    static int ComPortNumber(const AnsiString& name) {
        if (name.size() <= 3 || name.find_first_not_of("0123456789", 3) != AnsiString::npos)
            return 0;
        for (size_t i = 0; i < 3; ++i)
            if ((name[i] | 0x20) != "com"[i])
                return 0;
        if (name[3] == '0' || name.size() > 6)
            return -1;
        const int number = std::stoi(name.substr(3));
        return number <= MaxComPort ? number : -1;
    }
    // The system's text for an error number ("Permission denied").
    static AnsiString ErrorText(int error);
    // What the user is told about a port that would not open, with a hint where one helps.
    static AnsiString DescribeOpenFailure(int error, const AnsiString& path);

protected:
    int Error = 0;
    AnsiString Note;
};

// The system's own serial devices (posix/SerialDevice.cpp, win32/SerialDevice.cpp).
class TLocalSerialDevice final : public TSerialDevice {
public:
    TLocalSerialDevice();
    ~TLocalSerialDevice() override; // closes the device if open

    bool Open(const AnsiString& name) override;
    bool IsOpen() const override;
    bool GetState(TDcb& dcb) override;
    bool SetState(const TDcb& dcb) override;
    bool SetupQueues(uint32_t inputSize, uint32_t outputSize) override;
    bool SetTimeouts(const TCommTimeouts& timeouts) override;
    bool Write(const char* data, size_t count) override;
    bool Read(char* data, size_t size, size_t& got, unsigned waitMs) override;
    bool BytesWaiting(uint32_t& count) override;
    bool WaitForInput(unsigned ms) override;
    bool Purge() override;
    bool Close() override;

private:
    struct TNative;
    std::unique_ptr<TNative> Native;
};
