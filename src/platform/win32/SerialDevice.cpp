// Win32 backend of the serial device: a COM port opened with CreateFileA, used synchronously.

#include "platform/SerialDevice.h"

#include <windows.h>

struct TLocalSerialDevice::TNative {
    HANDLE Handle = INVALID_HANDLE_VALUE;
    DCB Kept{};     // the line record as the system reported it
    DCB Original{}; // what the port had before we opened it, put back at Close
    bool HaveOriginal = false;
};

TLocalSerialDevice::TLocalSerialDevice() : Native(std::make_unique<TNative>()) {}

TLocalSerialDevice::~TLocalSerialDevice() {
    Close();
}

bool TLocalSerialDevice::IsOpen() const {
    return Native->Handle != INVALID_HANDLE_VALUE;
}

AnsiString TSerialDevice::DevicePath(const AnsiString& name) {
    if (IsNetworkName(name))
        return name;
    // COM10 and above need the device namespace; the short names work either way.
    if (ComPortNumber(name) > 0)
        return "\\\\.\\" + name;
    return name;
}

AnsiString TSerialDevice::ErrorText(int error) {
    char buffer[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(error), 0,
                   buffer, sizeof buffer, nullptr);
    AnsiString text = buffer;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
        text.pop_back();
    return text;
}

AnsiString TSerialDevice::DescribeOpenFailure(int error, const AnsiString& path) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return "Device or resource busy: " + path + " is in use by another program";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "No such device: " + path;
    default:
        return ErrorText(error) + ": " + path;
    }
}

namespace {

bool Keep(int& error, BOOL ok) {
    if (!ok)
        error = int(GetLastError());
    return ok != FALSE;
}

} // namespace

bool TLocalSerialDevice::Open(const AnsiString& name) {
    if (IsOpen())
        return true;
    if (ComPortNumber(name) < 0) {
        Error = int(ERROR_FILE_NOT_FOUND);
        return false;
    }
    HANDLE h = CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Error = int(GetLastError());
        return false;
    }
    Native->Handle = h;
    Native->Original = DCB{};
    Native->Original.DCBlength = sizeof(DCB);
    Native->HaveOriginal = GetCommState(h, &Native->Original) != FALSE;
    Error = 0;
    return true;
}

bool TLocalSerialDevice::GetState(TDcb& dcb) {
    DCB d{};
    d.DCBlength = sizeof d;
    if (!Keep(Error, GetCommState(Native->Handle, &d)))
        return false;
    Native->Kept = d;
    dcb.BaudRate = d.BaudRate;
    dcb.ByteSize = d.ByteSize;
    dcb.Parity = d.Parity;
    dcb.StopBits = d.StopBits;
    dcb.DtrControl = uint8_t(d.fDtrControl);
    dcb.RtsControl = uint8_t(d.fRtsControl);
    return true;
}

bool TLocalSerialDevice::SetState(const TDcb& dcb) {
    DCB d = Native->Kept;
    d.DCBlength = dcb.DCBlength;
    d.BaudRate = dcb.BaudRate;
    d.ByteSize = dcb.ByteSize;
    d.Parity = dcb.Parity;
    d.StopBits = dcb.StopBits;
    d.fDtrControl = dcb.DtrControl;
    d.fRtsControl = dcb.RtsControl;
    Note.clear();
    if (!SetCommState(Native->Handle, &d)) {
        Error = int(GetLastError());
        // Some drivers (and Wine) have no RTS toggle: like a POSIX driver without RS-485 mode, the
        // port works without it, RTS simply held on.
        if (Error != ERROR_NOT_SUPPORTED || d.fRtsControl != RTS_CONTROL_TOGGLE)
            return false;
        d.fRtsControl = RTS_CONTROL_ENABLE;
        if (!Keep(Error, SetCommState(Native->Handle, &d)))
            return false;
        Note = "RTS toggle not controlled: " + ErrorText(ERROR_NOT_SUPPORTED) + " (RTS held on)";
    }
    Native->Kept = d;
    return true;
}

bool TLocalSerialDevice::SetupQueues(uint32_t inputSize, uint32_t outputSize) {
    return Keep(Error, SetupComm(Native->Handle, inputSize, outputSize));
}

bool TLocalSerialDevice::SetTimeouts(const TCommTimeouts& t) {
    COMMTIMEOUTS c{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                   t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    return Keep(Error, SetCommTimeouts(Native->Handle, &c));
}

bool TLocalSerialDevice::Write(const char* data, size_t count) {
    DWORD written = 0;
    if (!Keep(Error, WriteFile(Native->Handle, data, DWORD(count), &written, nullptr)))
        return false;
    // The write time-out ends the call with part of the bytes sent: a failed write, as on POSIX.
    if (written != DWORD(count)) {
        Error = ERROR_TIMEOUT;
        return false;
    }
    return true;
}

bool TLocalSerialDevice::Read(char* data, size_t size, size_t& got, unsigned waitMs) {
    got = 0;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!Keep(Error, ClearCommError(Native->Handle, &errors, &status)))
            return false;
        if (status.cbInQue > 0) {
            // What is waiting comes at once, whatever the read time-outs say.
            DWORD read = 0;
            const DWORD wanted = status.cbInQue < size ? status.cbInQue : DWORD(size);
            if (!Keep(Error, ReadFile(Native->Handle, data, wanted, &read, nullptr)))
                return false;
            got = read;
            return true;
        }
        // No event wait on a synchronous handle: bounded pauses.
        if (GetTickCount() - start >= waitMs)
            return true;
        Sleep(1);
    }
}

bool TLocalSerialDevice::BytesWaiting(uint32_t& count) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!Keep(Error, ClearCommError(Native->Handle, &errors, &status)))
        return false;
    count = status.cbInQue;
    return true;
}

bool TLocalSerialDevice::WaitForInput(unsigned ms) {
    // A synchronous handle has no comm event wait with a time limit: the input queue is looked at
    // between short pauses, and the wait ends as soon as it holds a byte. A line that refuses to be
    // looked at (unplugged) is news for the caller too: its next call reports the failure.
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!Keep(Error, ClearCommError(Native->Handle, &errors, &status)) || status.cbInQue > 0)
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(1);
    }
}

bool TSerialDevice::IsLostError(int error) {
    return error == ERROR_BAD_COMMAND || error == ERROR_DEVICE_NOT_CONNECTED ||
           error == ERROR_DEVICE_REMOVED || error == ERROR_GEN_FAILURE;
}

bool TLocalSerialDevice::Purge() {
    return Keep(Error, PurgeComm(Native->Handle, PURGE_TXCLEAR | PURGE_RXCLEAR));
}

bool TLocalSerialDevice::Close() {
    if (!IsOpen())
        return true;
    if (Native->HaveOriginal)
        SetCommState(Native->Handle, &Native->Original); // a vanished device just refuses
    Native->HaveOriginal = false;
    if (!Keep(Error, CloseHandle(Native->Handle)))
        return false;
    Native->Handle = INVALID_HANDLE_VALUE;
    return true;
}
