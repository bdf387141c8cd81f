#include "link/CommPort.h"

const char* const CommPortErrorText[21] = {
    "Bad serial port specification.",
    "Bad serial port baudrate Specification.",
    "Bad serial port port Number Specification.",
    "Bad serial port stop Bit Specification.",
    "Bad serial port data Bit Specification.",
    "Bad serial port parity Specification.",
    "Bad serial port byte Size Specification.",
    "Serial port already in use!",
    "Serial port not open!",
    "Error opening serial port!",
    "Error writing to serial port!",
    "Error reading from serial port!",
    "Timeout reading from serial port!",
    "Error closing serial port!",
    "Error purging serial port!",
    "Error flushing serial port!",
    "Error GETCOMMSTATE",
    "Error SETCOMMSTATE",
    "Error SETUPCOMM",
    "Error SETCOMMTIMEOUTS",
    "Error CLEARCOMMERROR",
};

TCommPort::TCommPort() = default;

TCommPort::~TCommPort() {
    Close();
}

[[noreturn]] void TCommPort::Fail(uint8_t code) {
    const int error = Handle.LastError();
    if (Handle.DeviceLost()) {
        // The descriptor is dead for good; close it and keep the name for Reopen.
        Handle.Close();
        Opened = false;
        SetFailure(error, "Device lost: " + TSerialDevice::DevicePath(Name));
    }
    throw ECommPort(code, uint32_t(error));
}

template <typename T> void TCommPort::ApplySetting(uint8_t code, T TDcb::*field, T value) {
    T previous = Dcb.*field;
    Dcb.*field = value;
    if (!Opened)
        return;
    if (!Handle.SetState(Dcb)) {
        Dcb.*field = previous;
        Fail(code);
    }
}

void TCommPort::SetBaudRate(int rate) {
    ApplySetting<uint32_t>(1, &TDcb::BaudRate, uint32_t(rate));
}
void TCommPort::SetByteSize(uint8_t size) {
    ApplySetting<uint8_t>(4, &TDcb::ByteSize, size);
}
void TCommPort::SetParity(uint8_t parity) {
    ApplySetting<uint8_t>(5, &TDcb::Parity, parity);
}
void TCommPort::SetStopBits(uint8_t stopBits) {
    ApplySetting<uint8_t>(3, &TDcb::StopBits, stopBits);
}

void TCommPort::SetFailure(int error, AnsiString text) {
    std::lock_guard lock(FailureMutex);
    OpenErrorNumber = error;
    OpenFailureText = std::move(text);
}

AnsiString TCommPort::OpenFailure() const {
    std::lock_guard lock(FailureMutex);
    return OpenFailureText;
}

void TCommPort::FailOpen(const AnsiString& name) {
    const int error = Handle.LastError();
    SetFailure(error, TSerialDevice::DescribeOpenFailure(error, TSerialDevice::DevicePath(name)));
    Handle.Close();
}

bool TCommPort::OpenDevice(const AnsiString& name) {
    const TDcb imposed = Dcb;
    if (!Handle.Open(name)) {
        FailOpen(name);
        return false;
    }
    if (!Handle.GetState(Dcb)) {
        FailOpen(name);
        return false;
    }
    Dcb.DCBlength = imposed.DCBlength;
    Dcb.BaudRate = imposed.BaudRate;
    Dcb.ByteSize = imposed.ByteSize;
    Dcb.Parity = imposed.Parity;
    Dcb.StopBits = imposed.StopBits;
    Dcb.DtrControl = imposed.DtrControl;
    Dcb.RtsControl = imposed.RtsControl;
    if (!Handle.SetState(Dcb) || !Handle.SetupQueues(32768, 9216)) {
        FailOpen(name);
        return false;
    }
    Timeouts = TCommTimeouts{15, 1, 250, 1, 250};
    if (!Handle.SetTimeouts(Timeouts)) {
        FailOpen(name);
        return false;
    }
    SetFailure(0, {});
    Opened = true;
    return true;
}

void TCommPort::Open(const AnsiString& name) {
    if (Opened)
        return;
    if (OpenDevice(name))
        Name = name;
    else
        Name.clear(); // the user asked for this port: a lost one is not taken up again
}

bool TCommPort::Reopen() {
    if (!Lost())
        return Opened;
    return OpenDevice(Name);
}

void TCommPort::Close() {
    if (!Opened) {
        Name.clear();
        return;
    }
    if (Handle.Close()) {
        Opened = false;
        Name.clear();
    }
}

void TCommPort::PutChar(char c) {
    if (Opened && !Handle.Write(&c, 1))
        Fail(10);
}

void TCommPort::PutString(const AnsiString& s) {
    if (Opened && !Handle.Write(s.data(), s.size()))
        Fail(10);
}

int TCommPort::InQueue() {
    if (!Opened)
        return 0;
    uint32_t count = 0;
    if (!Handle.BytesWaiting(count))
        Fail(20);
    return int(count);
}

int TCommPort::GetChar() {
    if (!Opened)
        return -1;
    uint8_t byte = 0;
    bool got = false;
    if (!Handle.ReadByte(byte, got))
        Fail(11);
    return got ? int(byte) : -1;
}

void TCommPort::Purge() {
    if (Opened && !Handle.Purge())
        Fail(14);
}

AnsiString TCommPort::ReadUntil(char terminator, unsigned timeLimit, size_t maxLength) {
    AnsiString result;
    const uint32_t start = GetTickCount();
    const int wanted = static_cast<unsigned char>(terminator);
    do {
        if (InQueue() > 0) {
            int c = GetChar();
            if (c == wanted)
                return result;
            if (c >= 0) {
                result += char(c);
                if (result.size() > maxLength)
                    return result;
            }
        } else {
            // At most the 1 ms pause, cut short by the next byte.
            Handle.WaitForInput(1);
        }
    } while (GetTickCount() - start < timeLimit);
    throw ECommPort(12);
}
