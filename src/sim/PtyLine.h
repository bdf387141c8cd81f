#pragma once
// TPtyLine: the simulator's end of a pseudo-terminal. The slave (the device the console opens) is
// put in raw mode at once, before anyone else can open it, and the line keeps a slave descriptor
// of its own for its whole life: without it the master reads EIO whenever the console has closed
// the port, and the slave's settings would be lost between openings.
//
// Errors: the constructor throws std::system_error when the system refuses the pseudo-terminal.
// Threads: no lock; the simulator's serving thread alone reads, writes and closes it.

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace sim {

class TPtyLine {
public:
    TPtyLine();
    ~TPtyLine();
    TPtyLine(const TPtyLine&) = delete;
    TPtyLine& operator=(const TPtyLine&) = delete;

    const std::string& SlavePath() const { return Path; }
    int MasterFd() const { return Master; }
    bool IsOpen() const { return Master >= 0; }

    // Non-blocking; -1 with errno EAGAIN when nothing can be moved now.
    ssize_t Read(char* data, size_t size);
    ssize_t Write(const char* data, size_t size);

    // Hangs the line up: the console's reads and writes on the slave fail from now on.
    void Close();

private:
    int Master = -1;
    int Slave = -1;
    std::string Path;
};

} // namespace sim
