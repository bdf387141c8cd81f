#include "link/CommPort.h"

#include <cstring>

const char* const CommPortErrorText[CommPortErrorCount] = {
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

const char* CommPortErrorMessage(uint8_t code) {
    return CommPortErrorText[code < CommPortErrorCount ? code : 0];
}

TCommPort::TCommPort() = default;

TCommPort::~TCommPort() {
    Close();
}

[[noreturn]] void TCommPort::Fail(TCommPortError code) {
    const int error = Handle->LastError();
    if (Handle->DeviceLost()) {
        // The descriptor is dead for good; close it and keep the name for Reopen.
        Handle->Close();
        Opened = false;
        DropInput();
        SetFailure(error, Handle->LostText(Name));
    }
    throw ECommPort(code, uint32_t(error));
}

template <typename T> void TCommPort::ApplySetting(TCommPortError code, T TDcb::*field, T value) {
    T previous = Dcb.*field;
    Dcb.*field = value;
    if (!Opened)
        return;
    if (!Handle->SetState(Dcb)) {
        Dcb.*field = previous;
        Fail(code);
    }
}

void TCommPort::SetBaudRate(int rate) {
    ApplySetting<uint32_t>(TCommPortError::BadBaudRate, &TDcb::BaudRate, uint32_t(rate));
}
void TCommPort::SetByteSize(uint8_t size) {
    ApplySetting<uint8_t>(TCommPortError::BadDataBits, &TDcb::ByteSize, size);
}
void TCommPort::SetParity(uint8_t parity) {
    ApplySetting<uint8_t>(TCommPortError::BadParity, &TDcb::Parity, parity);
}
void TCommPort::SetStopBits(uint8_t stopBits) {
    ApplySetting<uint8_t>(TCommPortError::BadStopBits, &TDcb::StopBits, stopBits);
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

AnsiString TCommPort::SettingNote() const {
    std::lock_guard lock(FailureMutex);
    return SettingNoteText;
}

void TCommPort::FailOpen(const AnsiString& name) {
    SetFailure(Handle->LastError(), Handle->OpenFailureText(name));
    Handle->Close();
}

bool TCommPort::OpenDevice(const AnsiString& name) {
    const TDcb imposed = Dcb;
    Handle = TSerialDevice::ForName(name);
    DropInput();
    if (!Handle->Open(name)) {
        FailOpen(name);
        return false;
    }
    if (!Handle->GetState(Dcb)) {
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
    if (!Handle->SetState(Dcb) || !Handle->SetupQueues(32768, 9216)) {
        FailOpen(name);
        return false;
    }
    Timeouts = TCommTimeouts{15, 1, 250, 1, 250};
    if (!Handle->SetTimeouts(Timeouts)) {
        FailOpen(name);
        return false;
    }
    SetFailure(0, {});
    {
        std::lock_guard lock(FailureMutex);
        SettingNoteText = Handle->SettingNote();
    }
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
    if (Handle->Close()) {
        Opened = false;
        Name.clear();
        DropInput();
    }
}

void TCommPort::PutChar(char c) {
    if (Opened && !Handle->Write(&c, 1))
        Fail(TCommPortError::Write);
}

void TCommPort::PutString(const AnsiString& s) {
    if (Opened && !Handle->Write(s.data(), s.size()))
        Fail(TCommPortError::Write);
}

bool TCommPort::Fill(TCommPortError code, unsigned waitMs) {
    size_t got = 0;
    if (!Handle->Read(InBuffer, sizeof InBuffer, got, waitMs))
        Fail(code);
    InHead = 0;
    InTail = got;
    return got > 0;
}

int TCommPort::InQueue() {
    if (!Opened)
        return 0;
    uint32_t count = 0;
    if (!Handle->BytesWaiting(count))
        Fail(TCommPortError::ClearCommError);
    return int(count + (InTail - InHead));
}

bool TCommPort::WaitForInput(unsigned ms) {
    if (!Opened || !Handle) {
        SleepMs(ms);
        return false;
    }
    if (InHead != InTail)
        return true; // already taken in from the device
    return Handle->WaitForInput(ms);
}

int TCommPort::GetChar() {
    if (!Opened)
        return -1;
    if (InHead == InTail &&
        !Fill(TCommPortError::Read, Timeouts.ReadTotalTimeoutConstant + Timeouts.ReadTotalTimeoutMultiplier))
        return -1;
    return static_cast<unsigned char>(InBuffer[InHead++]);
}

void TCommPort::Purge() {
    if (!Opened)
        return;
    DropInput();
    if (!Handle->Purge())
        Fail(TCommPortError::Purge);
}

AnsiString TCommPort::ReadUntil(char terminator, unsigned timeLimit, size_t maxLength) {
    AnsiString result;
    const uint32_t start = GetTickCount();
    uint32_t spent = 0;
    do {
        if (InHead == InTail) {
            if (!Opened) {
                SleepMs(1);
                continue;
            }
            // Waits for the next bytes for at most the time left, and ends as soon as some arrive.
            // A failure here is the queue poll's (ClearCommError), as when the count was asked byte by byte.
            if (!Fill(TCommPortError::ClearCommError, timeLimit - spent))
                continue;
        }
        const char* begin = InBuffer + InHead;
        const size_t waiting = InTail - InHead;
        const char* stop = static_cast<const char*>(std::memchr(begin, terminator, waiting));
        size_t take = stop ? size_t(stop - begin) : waiting;
        if (take > maxLength - result.size()) {
            take = maxLength - result.size() + 1; // the over-long line, one byte past maxLength
            result.append(begin, take);
            InHead += take;
            return result;
        }
        result.append(begin, take);
        InHead += take;
        if (stop) {
            ++InHead;
            return result;
        }
    } while ((spent = GetTickCount() - start) < timeLimit);
    throw ECommPort(TCommPortError::Timeout);
}
