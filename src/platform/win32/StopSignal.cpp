#include "platform/StopSignal.h"

// A Windows program is asked to end through its windows (WM_CLOSE, WM_ENDSESSION), which the
// toolkit already delivers.
int WatchStopSignals() {
    return -1;
}
