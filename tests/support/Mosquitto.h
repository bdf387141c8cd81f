#pragma once
// Debian's mosquitto, a real MQTT broker, run by a test on a free port of the loopback interface
// with a configuration of its own (anonymous, no persistence), and its command-line clients: a
// subscriber whose lines ("topic payload") are read back from a file, and one-shot publishes.
// Everything is started and stopped by process id.

#include "support/Ser2net.h" // FreePort

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace mqtt_test {

// Spawns program with its output into outFile (empty: nowhere); -1 when it could not start.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& outFile = {}) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    ::posix_spawn_file_actions_init(&files);
    ::posix_spawn_file_actions_addopen(&files, 1, outFile.empty() ? "/dev/null" : outFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, args[0].c_str(), &files, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&files);
    return spawned == 0 ? pid : -1;
}

inline void KillAndReap(pid_t& pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
}

} // namespace mqtt_test

class TMosquitto {
public:
    TMosquitto() : Port(TSer2net::FreePort()) {
        Config = "/tmp/korva-mosquitto-" + std::to_string(::getpid()) + "-" + std::to_string(Port) + ".conf";
        std::ofstream out(Config);
        out << "listener " << Port << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
    }
    ~TMosquitto() {
        Kill();
        std::remove(Config.c_str());
    }
    TMosquitto(const TMosquitto&) = delete;
    TMosquitto& operator=(const TMosquitto&) = delete;

    static bool Installed() {
        return ::access(Program, X_OK) == 0 && ::access(SubProgram, X_OK) == 0 &&
               ::access(PubProgram, X_OK) == 0;
    }

    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(Port); }

    // Starts the broker and waits until it accepts a connection; false when it did not within 5 s.
    bool Start() {
        if (Pid > 0)
            return true;
        Pid = mqtt_test::Spawn({Program, "-c", Config});
        if (Pid <= 0)
            return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Publish("korva-test/ready", "1"))
                return true;
            int status = 0;
            if (::waitpid(Pid, &status, WNOHANG) == Pid) {
                Pid = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Ends the broker at once, as a crash or a pulled cable would.
    void Kill() { mqtt_test::KillAndReap(Pid); }

    // One message through mosquitto_pub; whether it was handed over.
    bool Publish(const std::string& topic, const std::string& payload, bool retain = false) const {
        std::vector<std::string> args{PubProgram, "-h",  "127.0.0.1", "-p",   std::to_string(Port),
                                      "-t",       topic, "-m",        payload};
        if (retain)
            args.push_back("-r");
        pid_t pid = mqtt_test::Spawn(args);
        if (pid <= 0)
            return false;
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    int Port;
    pid_t Pid = -1;
    static constexpr const char* Program = "/usr/sbin/mosquitto";
    static constexpr const char* SubProgram = "/usr/bin/mosquitto_sub";
    static constexpr const char* PubProgram = "/usr/bin/mosquitto_pub";

private:
    std::string Config;
};

// mosquitto_sub on a topic filter, "topic payload" per line, kept in a file and read back.
class TMosquittoSub {
public:
    TMosquittoSub(const TMosquitto& broker, const std::string& filter) : Broker(broker) {
        File = "/tmp/korva-mosquitto-sub-" + std::to_string(::getpid()) + "-" + std::to_string(++Count()) +
               ".txt";
        Pid = mqtt_test::Spawn({TMosquitto::SubProgram, "-h", "127.0.0.1", "-p", std::to_string(broker.Port),
                                "-v", "-t", filter, "-t", "korva-test/probe"},
                               File);
    }
    ~TMosquittoSub() {
        mqtt_test::KillAndReap(Pid);
        std::remove(File.c_str());
    }
    TMosquittoSub(const TMosquittoSub&) = delete;
    TMosquittoSub& operator=(const TMosquittoSub&) = delete;

    // Waits until the subscription is in place: a probe published until it comes back.
    bool Ready(int ms = 5000) {
        return WaitFor(
            [&] {
                Broker.Publish("korva-test/probe", "probe");
                return Has("korva-test/probe probe");
            },
            ms);
    }

    std::vector<std::string> Lines() const {
        std::ifstream in(File);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    // A line that holds every one of the texts.
    bool Has(const std::string& text, const std::string& also = {}) const {
        for (const std::string& line : Lines())
            if (line.find(text) != std::string::npos && line.find(also) != std::string::npos)
                return true;
        return false;
    }
    // The lines whose topic is exactly topic.
    std::vector<std::string> Payloads(const std::string& topic) const {
        std::vector<std::string> payloads;
        for (const std::string& line : Lines())
            if (line.compare(0, topic.size() + 1, topic + " ") == 0)
                payloads.push_back(line.substr(topic.size() + 1));
        return payloads;
    }

    // Polls test every 20 ms until it holds or ms have passed (no event loop: see the Qt tests'
    // qWaitFor for that).
    static bool WaitFor(const std::function<bool()>& test, int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!test()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    pid_t Pid = -1;

private:
    static int& Count() {
        static int count = 0;
        return count;
    }
    const TMosquitto& Broker;
    std::string File;
};
