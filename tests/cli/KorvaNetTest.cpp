// The korva program on what it does not choose: a network port whose server misbehaves or is busy,
// and the console's settings file. It ends within its time limits and its memory bound, and says why.

#include "sim/Simulator.h"
#include "support/HostileServer.h"
#include "support/Ser2net.h"

#include "KorvaSpawn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

struct TNetRun {
    int Exit = -1;
    std::string Err;
    long Ms = 0;
    long PeakKb = 0; // the process's peak resident memory
};

// Runs korva with args; killed after 30 s, which counts as a failure of any test here.
TNetRun RunKorva(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    const fs::path err = fs::temp_directory_path() / ("korva-net-err-" + std::to_string(::getpid()));
    TSpawnStrings argv = KorvaArguments(args), envs = KorvaEnvironment(env);
    std::vector<char*> cargv = argv.Pointers(), cenv = envs.Pointers();
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    TNetRun run;
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    if (::posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) == 0) {
        int status = 0;
        rusage usage{};
        while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(30))
                ::kill(pid, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.PeakKb = usage.ru_maxrss;
    }
    run.Ms =
        long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                 .count());
    ::posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    run.Err = text.str();
    fs::remove(err);
    return run;
}

} // namespace

// A server that never stops sending, or floods confirmations: the handshake fails within seconds,
// in a bounded memory, as on a noisy local line.
TEST(KorvaNet, InfoOnAServerThatKeepsSendingEndsInTimeAndBoundedMemory) {
    for (const char* mode : {"stream", "flood"}) {
        for (bool telnet : {true, false}) {
            THostileServer server(mode, telnet);
            ASSERT_TRUE(server.Started());
            const TNetRun run = RunKorva({"--port", server.PortName(), "info"});
            const std::string where = std::string(mode) + " " + server.PortName();
            EXPECT_TRUE(run.Exit == 3 || run.Exit == 4) << where << ": " << run.Exit << " " << run.Err;
            EXPECT_LT(run.Ms, 5000) << where;
            EXPECT_LT(run.PeakKb, 64 * 1024) << where;
        }
    }
}

TEST(KorvaNet, AConnectionThatEndsOrIsRefusedSaysWhy) {
    THostileServer resetRaw("reset", false), resetTelnet("reset", true), wrong("wrong", true);
    ASSERT_TRUE(resetRaw.Started() && resetTelnet.Started() && wrong.Started());
    TNetRun run = RunKorva({"--port", resetRaw.PortName(), "info"});
    EXPECT_EQ(run.Exit, 4);
    EXPECT_EQ(run.Err, "korva: Connection reset by the server: " + resetRaw.PortName() + "\n");
    run = RunKorva({"--port", resetTelnet.PortName(), "info"});
    EXPECT_EQ(run.Exit, 3);
    EXPECT_EQ(run.Err, "korva: Connection reset by the server: " + resetTelnet.PortName() + "\n");
    run = RunKorva({"--port", wrong.PortName(), "info"});
    EXPECT_EQ(run.Exit, 3);
    EXPECT_EQ(run.Err,
              "korva: The server did not take a baud rate of 9600: it confirmed a baud rate of 19200 (" +
                  wrong.PortName() + ")\n");
}

// ser2net serves one client at a time: a second one is told that the port is in use.
TEST(KorvaNet, ABusySerialServerPortIsInUseByAnotherClient) {
    if (!TSer2net::Installed())
        GTEST_SKIP() << "ser2net is not installed";
    sim::TSimulator sim;
    for (bool telnet : {false, true}) {
        TSer2net server(sim.SlavePath(), telnet, "kickolduser: false");
        ASSERT_TRUE(server.Start());
        const TNetRun first = RunKorva({"--port", server.PortName(), "info"});
        EXPECT_EQ(first.Exit, 0) << first.Err;
        // The other client: a plain connection that stays.
        const int other = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port =
            htons(uint16_t(std::stoi(server.PortName().substr(server.PortName().rfind(':') + 1))));
        ASSERT_EQ(::connect(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const TNetRun second = RunKorva({"--port", server.PortName(), "info"});
        EXPECT_EQ(second.Exit, telnet ? 3 : 4);
        EXPECT_EQ(second.Err, "korva: The port is in use by another client: " + server.PortName() + "\n");
        ::close(other);
    }
}

// The console's settings file, read for the port when none is given, is taken only when it is a
// regular file of a sane size: a named pipe does not block korva, a link to /dev/zero does not fill
// its memory, and either counts as no stored port.
TEST(KorvaSettings, OnlyARegularFileOfBoundedSizeIsRead) {
    const fs::path config = fs::temp_directory_path() / ("korva-net-config-" + std::to_string(::getpid()));
    const fs::path file = config / "Halvane" / "KorvaWin 3.0.conf";
    fs::create_directories(file.parent_path());
    const auto make = [&](const char* kind) {
        fs::remove(file);
        if (std::string(kind) == "pipe")
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        else if (std::string(kind) == "zero")
            fs::create_symlink("/dev/zero", file);
        else
            std::ofstream(file) << "[General]\nCommPort=/dev/korva-no-such-port\n"
                                << std::string(1100 * 1024, ';') << "\n";
    };
    for (const char* kind : {"pipe", "zero", "large"}) {
        make(kind);
        const TNetRun run = RunKorva({"info"}, {"XDG_CONFIG_HOME=" + config.string()});
        EXPECT_EQ(run.Exit, 2) << kind << ": " << run.Err;
        EXPECT_NE(run.Err.find("no port"), std::string::npos) << kind << ": " << run.Err;
        EXPECT_LT(run.Ms, 5000) << kind;
        EXPECT_LT(run.PeakKb, 64 * 1024) << kind;
    }
    fs::remove_all(config);
}
