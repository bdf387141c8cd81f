#pragma once
// What the POSIX serial backend needs from a tty driver beyond termios, which each system provides
// its own way (linux/TtyDriver.cpp): RS-485 mode and the scan for a session's terminal.

#include <memory>
#include <sys/types.h>

// The driver's RS-485 settings as found at open, put back at close.
struct TRs485Settings;

// The RS-485 settings of the open tty, or null when its driver has no RS-485 mode.
std::shared_ptr<TRs485Settings> KeepRs485(int fd);
void RestoreRs485(int fd, const TRs485Settings& settings);

// RS-485 mode on (RTS raised while sending, dropped after) or off. Returns 0, or the system's error
// number of the request that failed; "not supported" is for the caller to judge.
int SetRs485(int fd, bool rtsToggle);

// Whether the terminal device is the controlling terminal of some session (a shell's, a login's).
bool IsSessionTerminal(dev_t device);
