/* The reference for the link's unpaced exchange rate: the same three-line exchange (CF?, echo, value,
 * OK) as a minimal blocking termios loop, with nothing between the loop and the device.
 * Usage: termios-exchange DEVICE COUNT
 * Prints "<exchanges per second> <CPU ms per exchange>" (the whole process). */

#include "termios-loop.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double Ms(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const int count = atoi(argv[2]);
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0 || TermiosLoopSetup(fd) != 0 || TermiosLoopExchange(fd) != 0)
        return 1;
    const double wall = Ms(CLOCK_MONOTONIC), cpu = Ms(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < count; ++i)
        if (TermiosLoopExchange(fd) != 0)
            return 1;
    const double wallMs = Ms(CLOCK_MONOTONIC) - wall, cpuMs = Ms(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    printf("%.1f %.5f\n", count / (wallMs / 1000), cpuMs / count);
    return 0;
}
