#pragma once
// Debian's ser2net, a real serial device server, run by a test in front of a serial device (the
// simulator's pseudo-terminal): raw TCP ("tcp://") or Telnet with the com-port option ("rfc2217://")
// on a free port of the loopback interface. Started and stopped by process id.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

class TSer2net {
public:
    // options: further lines of the connection's options (e.g. "chardelay: false").
    TSer2net(std::string device, bool telnet, const std::string& options = {})
        : Device(std::move(device)), Telnet(telnet), Port(FreePort()) {
        Config = "/tmp/korva-ser2net-" + std::to_string(::getpid()) + "-" + std::to_string(Port) + ".yaml";
        std::ofstream out(Config);
        out << "%YAML 1.1\n---\nconnection: &line\n"
            << "  accepter: " << (Telnet ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << Port << "\n"
            << "  connector: serialdev," << Device << ",9600n81,local\n"
            << "  options:\n    kickolduser: true\n";
        if (!options.empty())
            out << "    " << options << "\n";
    }
    ~TSer2net() {
        Kill();
        std::remove(Config.c_str());
    }
    TSer2net(const TSer2net&) = delete;
    TSer2net& operator=(const TSer2net&) = delete;

    static bool Installed() { return ::access(Program, X_OK) == 0; }

    // The port name the console opens.
    std::string PortName() const {
        return std::string(Telnet ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(Port);
    }

    // Starts the server and waits until it listens; false when it did not within 5 s.
    bool Start() {
        if (Pid > 0)
            return true;
        // In the foreground, without UUCP locks, its chatter (an absent mDNS service) kept out of the output.
        const char* argv[] = {Program, "-n", "-u", "-c", Config.c_str(), nullptr};
        posix_spawn_file_actions_t quiet;
        ::posix_spawn_file_actions_init(&quiet);
        ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        ::posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = ::posix_spawn(&Pid, Program, &quiet, nullptr, const_cast<char**>(argv), environ);
        ::posix_spawn_file_actions_destroy(&quiet);
        if (spawned != 0) {
            Pid = -1;
            return false;
        }
        for (int i = 0; i < 500; ++i) {
            if (Listening())
                return true;
            int status = 0;
            if (::waitpid(Pid, &status, WNOHANG) == Pid) {
                Pid = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Ends the server at once, as a crash or a power cut of the device server would.
    void Kill() {
        if (Pid <= 0)
            return;
        ::kill(Pid, SIGKILL);
        int status = 0;
        ::waitpid(Pid, &status, 0);
        Pid = -1;
    }

    // A loopback port nobody listens on (just now).
    static int FreePort() {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

    pid_t Pid = -1;

private:
    static constexpr const char* Program = "/usr/sbin/ser2net";

    // Whether a socket listens on our port (state 0A in the kernel's table), without connecting to it.
    bool Listening() const {
        std::ifstream table("/proc/net/tcp");
        char wanted[16];
        std::snprintf(wanted, sizeof wanted, ":%04X", Port);
        for (std::string line; std::getline(table, line);) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0)
                return true;
        }
        return false;
    }

    std::string Device;
    bool Telnet;
    int Port;
    std::string Config;
};
