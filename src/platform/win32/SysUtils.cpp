// The run-time services that differ per system: on Windows the tick is the system's own, and the
// log sits at the root of drive C: as it always has.
#include "platform/SysUtils.h"

AnsiString CommLogPath() {
    return "C:\\COMMLOG.LOG";
}

void GuardStandardStreams() {}
