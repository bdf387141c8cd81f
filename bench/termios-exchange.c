/* The reference for the link's unpaced exchange rate: the same three-line exchange (CF?, echo, value,
 * OK) as a minimal blocking termios loop, with nothing between the loop and the device.
 * Usage: termios-exchange DEVICE COUNT
 * Prints "<exchanges per second> <CPU ms per exchange>" (the whole process). */

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static double Ms(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

/* One command out, then reads until its three lines (echo, value, OK) are in. */
static int Exchange(int fd) {
    static const char command[] = "0:CF?\n";
    char buffer[256];
    int lines = 0;
    if (write(fd, command, sizeof command - 1) != (ssize_t)(sizeof command - 1))
        return -1;
    while (lines < 3) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return -1;
        for (ssize_t i = 0; i < n; ++i)
            lines += buffer[i] == '\n';
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const int count = atoi(argv[2]);
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    struct termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return 1;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1; /* block until at least one byte */
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, B9600);
    if (tcsetattr(fd, TCSANOW, &t) != 0 || tcflush(fd, TCIOFLUSH) != 0 || Exchange(fd) != 0)
        return 1;
    const double wall = Ms(CLOCK_MONOTONIC), cpu = Ms(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < count; ++i)
        if (Exchange(fd) != 0)
            return 1;
    const double wallMs = Ms(CLOCK_MONOTONIC) - wall, cpuMs = Ms(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    printf("%.1f %.5f\n", count / (wallMs / 1000), cpuMs / count);
    return 0;
}
