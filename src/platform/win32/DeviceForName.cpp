// The backend for a port name on Windows: always the system's own. A network name reaches the
// system as it stands and fails to open there.
#include "platform/SerialDevice.h"

std::unique_ptr<TSerialDevice> TSerialDevice::ForName(const AnsiString&) {
    return std::make_unique<TLocalSerialDevice>();
}
