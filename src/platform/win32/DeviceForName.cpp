// The backend for a port name on Windows: a serial device server or the system's COM port.
#include "platform/SerialDevice.h"
#include "platform/net/NetSerialDevice.h"

std::unique_ptr<TSerialDevice> TSerialDevice::ForName(const AnsiString& name) {
    if (IsNetworkName(name))
        return std::make_unique<TNetSerialDevice>();
    return std::make_unique<TLocalSerialDevice>();
}
