/* The reference exchange for the link's unpaced rate: one command out, then a blocking read until its
 * three lines (echo, value, OK) are in, with nothing between the loop and the device. Plain C, shared
 * by the stand-alone program (termios-exchange.c) and the link bench's paired rounds; beside it the
 * same loop waiting with a time limit. */
#ifndef KORVA_TERMIOS_LOOP_H
#define KORVA_TERMIOS_LOOP_H

#include <poll.h>
#include <termios.h>
#include <unistd.h>

/* A raw 9600-baud line whose reads block until at least one byte is in; 0, or -1 on failure. */
static inline int TermiosLoopSetup(int fd) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return -1;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, B9600);
    return tcsetattr(fd, TCSANOW, &t) == 0 && tcflush(fd, TCIOFLUSH) == 0 ? 0 : -1;
}

/* One CF? exchange; 0, or -1 on failure. */
static inline int TermiosLoopExchange(int fd) {
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

/* The same exchange on a non-blocking descriptor that waits for each read with a time limit (poll,
 * then read), as a port with read time-outs must: the part of the link's cost that is its wait. */
static inline int TermiosPollExchange(int fd, int limitMs) {
    static const char command[] = "0:CF?\n";
    char buffer[256];
    int lines = 0;
    if (write(fd, command, sizeof command - 1) != (ssize_t)(sizeof command - 1))
        return -1;
    while (lines < 3) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, limitMs) <= 0)
            return -1;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return -1;
        for (ssize_t i = 0; i < n; ++i)
            lines += buffer[i] == '\n';
    }
    return 0;
}

#endif
