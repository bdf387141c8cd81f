#pragma once
// Debian's mosquitto started by the test on free loopback ports, with a generated configuration: a
// plain listener and a TLS listener, both with a password file and an ACL, the TLS one with a CA
// and a server certificate made by openssl here (for the name "localhost" only). mosquitto_sub
// reads as an independent client. Every process is started and stopped by its id.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <pwd.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace broker {

inline std::string Found(const std::vector<std::string>& candidates) {
    for (const auto& c : candidates)
        if (access(c.c_str(), X_OK) == 0)
            return c;
    return {};
}
inline std::string Mosquitto() {
    return Found({"/usr/sbin/mosquitto", "/usr/bin/mosquitto"});
}
inline std::string Tool(const char* name) {
    return Found({std::string("/usr/bin/") + name, std::string("/usr/local/bin/") + name});
}
// Why the broker tests cannot run here, or empty.
inline std::string Missing() {
    if (Mosquitto().empty())
        return "mosquitto is not installed";
    for (const char* tool : {"mosquitto_sub", "mosquitto_pub", "mosquitto_passwd", "openssl"})
        if (Tool(tool).empty())
            return std::string(tool) + " is not installed";
    return {};
}

// Called while a test waits: a rig serves its main-thread calls and the plant's writes here.
inline std::function<void()>& ServeHook() {
    static std::function<void()> hook;
    return hook;
}

// Waits for fn with a deadline, checking every few milliseconds.
inline bool WaitFor(const std::function<bool()>& fn, unsigned ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (ServeHook())
            ServeHook()();
        if (fn())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

inline int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

inline bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// A child process with its output in a file; stopped (SIGTERM, then SIGKILL) by its id.
struct TChild {
    pid_t Pid = -1;
    std::string Output;
    TChild() = default;
    TChild(const std::vector<std::string>& argv, const std::string& output) : Output(output) {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (output + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (posix_spawn(&Pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    TChild(TChild&& other) noexcept : Pid(other.Pid), Output(std::move(other.Output)) { other.Pid = -1; }
    TChild& operator=(TChild&& other) noexcept {
        Stop();
        Pid = other.Pid;
        Output = std::move(other.Output);
        Ended = false;
        other.Pid = -1;
        return *this;
    }
    ~TChild() { Stop(); }
    // The exit status, or nothing while it runs.
    std::optional<int> Exited() {
        if (Pid > 0) {
            int status = 0;
            if (waitpid(Pid, &status, WNOHANG) == Pid) {
                Pid = -1;
                Status = status;
                Ended = true;
            }
        }
        return Ended ? std::optional<int>(Status) : std::nullopt;
    }
    void Signal(int signal) const {
        if (Pid > 0)
            kill(Pid, signal);
    }
    void Stop(int signal = SIGTERM) {
        if (Pid <= 0)
            return;
        kill(Pid, signal);
        if (!WaitFor([this] { return Exited().has_value(); }, 3000)) {
            kill(Pid, SIGKILL);
            waitpid(Pid, &Status, 0);
            Pid = -1;
            Ended = true;
        }
    }
    std::string Text() const {
        std::ifstream in(Output);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Errors() const {
        std::ifstream in(Output + ".err");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    int Status = 0;
    bool Ended = false;
};

inline bool Run(const std::vector<std::string>& argv, const std::string& log) {
    TChild child(argv, log);
    if (child.Pid < 0)
        return false;
    const auto saved = ServeHook();
    ServeHook() = nullptr;
    WaitFor([&] { return child.Exited().has_value(); }, 30000);
    ServeHook() = saved;
    return child.Exited().has_value() && WIFEXITED(child.Status) && WEXITSTATUS(child.Status) == 0;
}

struct TBroker {
    std::filesystem::path Dir;
    int Port = 0, TlsPort = 0;
    TChild Process;

    // Users: "bridge" (may publish and read korva/#), "plant" (the same, and the ACL keeps both
    // to korva/#); password "secret" for both.
    TBroker() {
        char name[] = "/tmp/korva-broker-XXXXXX";
        Dir = mkdtemp(name);
        MakeCertificates();
        const std::string pw = (Dir / "passwords").string();
        EXPECT_TRUE(
            Run({Tool("mosquitto_passwd"), "-c", "-b", pw, "bridge", "secret"}, (Dir / "pw.log").string()));
        EXPECT_TRUE(Run({Tool("mosquitto_passwd"), "-c", "-b", pw + "-plant", "plant", "secret"},
                        (Dir / "pw.log").string()));
        std::filesystem::copy_file(pw + "-plant", pw + "-all");
        EXPECT_TRUE(Run({Tool("mosquitto_passwd"), "-b", pw + "-all", "bridge", "secret"},
                        (Dir / "pw.log").string()));
        std::filesystem::copy_file(pw + "-all", pw, std::filesystem::copy_options::overwrite_existing);
        chmod(pw.c_str(), 0600);
        std::ofstream(Dir / "acl") << "user bridge\ntopic readwrite korva/#\ntopic readwrite replies/#\n"
                                      "user plant\ntopic readwrite korva/#\ntopic readwrite replies/#\n";
        Port = FreePort();
        TlsPort = FreePort();
        while (TlsPort == Port)
            TlsPort = FreePort();
        std::ofstream conf(Dir / "mosquitto.conf");
        // Started by root (a container), mosquitto would turn into the user "mosquitto", who cannot
        // read this private folder: it stays whoever started it.
        const passwd* me = getpwuid(getuid());
        conf << "per_listener_settings true\npersistence false\nlog_dest stdout\n"
             << "user " << (me ? me->pw_name : "root") << "\n"
             << "listener " << Port << " 127.0.0.1\nallow_anonymous false\npassword_file " << pw
             << "\nacl_file " << (Dir / "acl").string() << "\n"
             << "listener " << TlsPort << " 127.0.0.1\nallow_anonymous false\npassword_file " << pw
             << "\nacl_file " << (Dir / "acl").string() << "\ncafile " << (Dir / "ca.crt").string()
             << "\ncertfile " << (Dir / "server.crt").string() << "\nkeyfile "
             << (Dir / "server.key").string() << "\n";
        conf.close();
        Start();
    }
    ~TBroker() {
        Process.Stop();
        std::error_code ignored;
        std::filesystem::remove_all(Dir, ignored);
    }
    void Start() {
        Process =
            TChild({Mosquitto(), "-c", (Dir / "mosquitto.conf").string()}, (Dir / "broker.log").string());
        EXPECT_TRUE(WaitFor([this] { return Accepts(Port) && Accepts(TlsPort); }, 10000))
            << "the broker did not start: " << Process.Text();
    }
    void Stop() { Process.Stop(); }
    // Only the plant's user may log in (false), or every user again (true); the running broker
    // reads its password file again.
    void LetBridgeIn(bool allowed) {
        const auto pw = (Dir / "passwords").string();
        std::filesystem::copy_file(pw + (allowed ? "-all" : "-plant"), pw,
                                   std::filesystem::copy_options::overwrite_existing);
        Process.Signal(SIGHUP);
    }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(Port); }
    std::string TlsUrl(const std::string& host = "localhost") const {
        return "mqtts://" + host + ":" + std::to_string(TlsPort);
    }
    // A credentials file for the user, no access for others.
    std::string Credentials(const std::string& user = "bridge", mode_t mode = 0600) const {
        const auto file = Dir / ("credentials-" + user + "-" + std::to_string(mode));
        std::ofstream(file) << "username=" << user << "\npassword=secret\n";
        chmod(file.c_str(), mode);
        return file.string();
    }

    // mosquitto_sub on the topic, each message as "<retained> <topic> <payload>" on a line.
    TChild Subscribe(const std::string& topic, const std::string& name) const {
        return TChild({Tool("mosquitto_sub"), "-h", "127.0.0.1", "-p", std::to_string(Port), "-u", "plant",
                       "-P", "secret", "-V", "mqttv5", "-F", "%r %t %p", "-t", topic},
                      (Dir / name).string());
    }
    // mosquitto_pub of one message, as the plant sends it; extra: more arguments (-D ...).
    bool Publish(const std::string& topic, const std::string& payload,
                 std::vector<std::string> extra = {}) const {
        std::vector<std::string> argv{Tool("mosquitto_pub"),
                                      "-h",
                                      "127.0.0.1",
                                      "-p",
                                      std::to_string(Port),
                                      "-u",
                                      "plant",
                                      "-P",
                                      "secret",
                                      "-V",
                                      "mqttv5",
                                      "-q",
                                      "1",
                                      "-t",
                                      topic,
                                      "-m",
                                      payload};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return Run(argv, (Dir / "pub.log").string());
    }

    // Waits until the subscriber receives what is published on topic: then it listens.
    bool Listening(const TChild& sub, const std::string& topic) const;

private:
    void MakeCertificates() {
        const auto p = [this](const char* f) { return (Dir / f).string(); };
        const std::string openssl = Tool("openssl"), log = p("openssl.log");
        std::ofstream(Dir / "san.ext") << "subjectAltName=DNS:localhost\n";
        for (const char* ca : {"ca", "other-ca"})
            EXPECT_TRUE(Run({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt",
                             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", p(ca) + ".key", "-out",
                             p(ca) + ".crt", "-days", "2", "-subj", std::string("/CN=korva test ") + ca},
                            log));
        EXPECT_TRUE(
            Run({openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-keyout", p("server.key"), "-out", p("server.csr"), "-subj", "/CN=localhost"},
                log));
        EXPECT_TRUE(
            Run({openssl, "x509", "-req", "-in", p("server.csr"), "-CA", p("ca.crt"), "-CAkey", p("ca.key"),
                 "-CAcreateserial", "-out", p("server.crt"), "-days", "2", "-extfile", p("san.ext")},
                log));
    }
};

// The lines a subscriber printed so far.
inline std::vector<std::string> Lines(const TChild& sub) {
    std::vector<std::string> lines;
    std::stringstream text(sub.Text());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

// Waits for a line of the subscriber that holds every one of parts; returns it, or empty.
inline std::string WaitLine(const TChild& sub, const std::vector<std::string>& parts, unsigned ms = 5000,
                            size_t from = 0) {
    std::string found;
    WaitFor(
        [&] {
            const auto lines = Lines(sub);
            for (size_t i = from; i < lines.size(); ++i) {
                bool all = true;
                for (const auto& part : parts)
                    all = all && lines[i].find(part) != std::string::npos;
                if (all) {
                    found = lines[i];
                    return true;
                }
            }
            return false;
        },
        ms);
    return found;
}

inline bool TBroker::Listening(const TChild& sub, const std::string& topic) const {
    return WaitFor([&] {
        Publish(topic, "listening?");
        return WaitLine(sub, {topic + " ", "listening?"}, 50) != "";
    });
}

} // namespace broker
