#pragma once
// The millisecond tick on POSIX systems: the program's own, from the monotonic clock.
#include <cstdint>

uint32_t GetTickCount();
