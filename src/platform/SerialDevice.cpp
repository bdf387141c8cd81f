// Which port names belong to the network backend; posix/ and win32/DeviceForName.cpp pick the
// backend.

#include "platform/SerialDevice.h"

bool TSerialDevice::IsNetworkName(const AnsiString& name) {
    return name.rfind("tcp://", 0) == 0 || name.rfind("rfc2217://", 0) == 0;
}
