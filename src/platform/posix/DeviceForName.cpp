// The backend for a port name on POSIX systems: a serial device server or the system's tty.
#include "platform/SerialDevice.h"
#include "platform/net/NetSerialDevice.h"

std::unique_ptr<TSerialDevice> TSerialDevice::ForName(const AnsiString& name) {
    if (IsNetworkName(name))
        return std::make_unique<TNetSerialDevice>();
    return std::make_unique<TLocalSerialDevice>();
}
