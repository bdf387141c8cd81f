#pragma once
// The system's request to end the program (a terminal's Ctrl+C, a service manager's or a logout's
// terminate, a closed terminal) as a descriptor that becomes readable, so that the windows can
// close in order from their event loop instead of dying with the port held.
// Plain C++, no toolkit. Main thread only; call once.

// Catches the stop signals from now on and returns a descriptor that becomes readable when one
// arrives, or -1 where the system has no such signals.
int WatchStopSignals();
