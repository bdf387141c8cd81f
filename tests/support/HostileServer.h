#pragma once
// A serial device server that misbehaves (tests/support/hostile-server.py, see its modes), run by a
// test on a free port of the loopback interface. Started and stopped by process id.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

class THostileServer {
public:
    THostileServer(const std::string& mode, bool telnet) : Telnet(telnet) {
        int out[2];
        if (::pipe(out) != 0)
            return;
        const std::string script = KORVA_HOSTILE_SERVER;
        const char* argv[] = {"python3", script.c_str(), mode.c_str(), telnet ? "telnet" : "raw", nullptr};
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        ::posix_spawn_file_actions_addclose(&actions, out[0]);
        ::posix_spawn_file_actions_addclose(&actions, out[1]);
        if (::posix_spawnp(&Pid, "python3", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            Pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        // The first line is the port it listens on; 10 s for a loaded machine to start Python.
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        while (Pid > 0 && line.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
            char buffer[64];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            line.append(buffer, size_t(n));
        }
        ::close(out[0]);
        Port = std::atoi(line.c_str());
    }
    ~THostileServer() {
        if (Pid <= 0)
            return;
        ::kill(Pid, SIGKILL);
        int status = 0;
        ::waitpid(Pid, &status, 0);
    }
    THostileServer(const THostileServer&) = delete;
    THostileServer& operator=(const THostileServer&) = delete;

    bool Started() const { return Port > 0; }
    std::string PortName() const {
        return std::string(Telnet ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(Port);
    }

private:
    bool Telnet;
    pid_t Pid = -1;
    int Port = 0;
};
