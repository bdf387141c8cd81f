#pragma once
// The operating system's serial device, behind one interface with one implementation per system
// (posix/SerialDevice.cpp, win32/SerialDevice.cpp). TCommPort is built on it.
//
// Errors: every operation returns false when the system refused it and keeps the system's error
// number for LastError(). "Not supported by this driver" (modem lines or RS-485 mode on a
// pseudo-terminal or a plain USB adapter) is not a failure.
// Threads: no lock; one thread at a time (the controller link serialises its traffic).

#include "SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <memory>

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

class TSerialDevice {
public:
    TSerialDevice();
    ~TSerialDevice(); // closes the device if open
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    // Opens the named port exclusively for synchronous reading and writing.
    bool Open(const AnsiString& name);
    bool IsOpen() const;
    // Reads the port's whole line record; the imposed fields are returned in dcb.
    bool GetState(TDcb& dcb);
    // Applies the kept line record with the imposed fields of dcb (raw 8-bit line).
    bool SetState(const TDcb& dcb);
    bool SetupQueues(uint32_t inputSize, uint32_t outputSize);
    bool SetTimeouts(const TCommTimeouts& timeouts);
    // Writes all bytes within the write time-outs; fails when they run out.
    bool Write(const char* data, size_t count);
    // Reads one byte within the read time-outs; got is false when none came.
    bool ReadByte(uint8_t& byte, bool& got);
    // Received bytes waiting; clears any pending line-error condition.
    bool BytesWaiting(uint32_t& count);
    // Waits at most ms for a byte to arrive and returns early when one does (or the line hangs up);
    // true when input (or a hang-up) is there to be seen. A backend without such a wait just pauses.
    bool WaitForInput(unsigned ms);
    // Discards both buffers.
    bool Purge();
    bool Close();

    // Open's refusal of a terminal that is some session's controlling terminal (a shell's): not a
    // system error number. Only the POSIX backend knows such terminals.
    static constexpr int SessionTerminalError = -2;

    // The system error number of the last refused operation (0 when none).
    int LastError() const { return Error; }
    // Whether that error means the device itself has gone (an unplugged USB adapter, a hung-up
    // line), as opposed to one refused operation on a device that is still there.
    bool DeviceLost() const { return IsLostError(Error); }
    static bool IsLostError(int error);

    // The device a port name stands for: "COM1".."COM10" and other "COMn" names map to the
    // system's serial devices, a path is used as it stands.
    static AnsiString DevicePath(const AnsiString& name);
    // The system's text for an error number ("Permission denied").
    static AnsiString ErrorText(int error);
    // What the user is told about a port that would not open, with a hint where one helps.
    static AnsiString DescribeOpenFailure(int error, const AnsiString& path);

private:
    struct TNative;
    std::unique_ptr<TNative> Native;
    int Error = 0;
};
