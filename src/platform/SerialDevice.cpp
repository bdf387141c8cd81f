// Which backend carries a port name.

#include "platform/SerialDevice.h"

#ifndef _WIN32
#include "platform/net/NetSerialDevice.h"
#endif

bool TSerialDevice::IsNetworkName(const AnsiString& name) {
    return name.rfind("tcp://", 0) == 0 || name.rfind("rfc2217://", 0) == 0;
}

std::unique_ptr<TSerialDevice> TSerialDevice::ForName(const AnsiString& name) {
#ifndef _WIN32
    if (IsNetworkName(name))
        return std::make_unique<TNetSerialDevice>();
#endif
    // On Windows a network name reaches the system as it stands and fails to open there.
    (void)name;
    return std::make_unique<TLocalSerialDevice>();
}
