// Windows: the options dialog lists COM1 to COM10 itself, and the system's device registry is not
// read; nothing more is known of the ports.

#include "platform/SerialPorts.h"

std::vector<TSerialPortInfo> ListSerialPorts(const AnsiString&) {
    return {};
}
