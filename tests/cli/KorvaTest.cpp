// The korva program itself, run as a process against the simulated controller on a
// pseudo-terminal: output, exit codes and the exact lines on the wire.

#include "../support/FakeSysfs.h"
#include "platform/StoredSetting.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
namespace fs = std::filesystem;

struct TRun {
    int Exit = -1;
    std::string Out, Err;
};

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs korva with args and the extra environment entries; standard output and error go to files.
TRun Korva(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    static int serial = 0;
    const fs::path dir = fs::temp_directory_path() / ("korva-cli-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / ("out" + std::to_string(serial));
    const fs::path err = dir / ("err" + std::to_string(serial++));
    std::vector<std::string> argv{KORVA_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("KORVA_PORT=", 0) != 0)
            envs.push_back(*e);
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> cenv;
    for (std::string& e : envs)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    TRun run;
    if (posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.Out = ReadAll(out);
    run.Err = ReadAll(err);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class KorvaProgram : public ::testing::Test {
protected:
    sim::TSimulator Sim;
    std::string Port = Sim.SlavePath();

    TRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", Port});
        return Korva(args);
    }
    // The lines the controller received, without the handshake's and the unit queries.
    std::vector<std::string> Sent() {
        std::vector<std::string> lines;
        for (const std::string& line : Sim.Received()) {
            const std::string command = line.substr(line.find(':') + 1);
            bool handshake = command == "VER?" || command == "CU?";
            for (const char* list : {"NDIF?", "NDOF?", "NAOF?", "DIFD? ", "DOFD? ", "AOFD? "})
                handshake = handshake || command.rfind(list, 0) == 0;
            if (!handshake)
                lines.push_back(line);
        }
        return lines;
    }
};

TEST_F(KorvaProgram, InfoInTextAndInJson) {
    Sim.SetParameter("CN", "Cell 4");
    TRun text = Run({"info"});
    ASSERT_EQ(text.Exit, 0) << text.Err;
    auto lines = Lines(text.Out);
    if (lines.size() == 6 && lines[5].rfind("port note:    ", 0) == 0)
        lines.pop_back(); // what the pseudo-terminal does not control
    EXPECT_EQ(lines,
              (std::vector<std::string>{"version:      4.2", "name:         Cell 4",
                                        "tool type:    Deburring Spindle", "units:        metric (mm, N, kg)",
                                        "tool present: yes"}));
    Sim.SetToolConnected(false);
    Sim.SetParameter("CU", "1");
    TRun json = Run({"--json", "info"});
    ASSERT_EQ(json.Exit, 0) << json.Err;
    const nlohmann::json info = nlohmann::json::parse(json.Out);
    EXPECT_EQ(info["version"], "4.2");
    EXPECT_EQ(info["name"], "Cell 4");
    EXPECT_EQ(info["address"], 0);
    EXPECT_EQ(info["units"], "english");
    EXPECT_EQ(info["forceUnits"], "Lbf.");
    EXPECT_EQ(info["toolPresent"], false);
}

TEST_F(KorvaProgram, GetAndSetByMnemonicOrAccessorNameWithTypedChecks) {
    Sim.SetParameter("FL", "12.345", 3);
    TRun get = Run({"get", "fl", "3"});
    EXPECT_EQ(get.Exit, 0) << get.Err;
    EXPECT_EQ(get.Out, "12.345\n");
    EXPECT_EQ(Run({"--json", "get", "GetForceLevel", "3"}).Out,
              "{\"parameter\":\"FL\",\"index\":3,\"value\":12.345}\n");

    Sim.ClearReceived();
    EXPECT_EQ(Run({"set", "ForceLevel", "3", "12.5"}).Exit, 0);
    EXPECT_EQ(Run({"set", "CF", "-2.5"}).Exit, 0); // a negative value is no option
    EXPECT_EQ(Run({"set", "ACT", "on"}).Exit, 0);
    EXPECT_EQ(Run({"set", "CN", "Cell 4"}).Exit, 0);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"0:FL 3 12.500", "0:CF -2.500", "0:ACT 1", "0:CN Cell 4"}));
    EXPECT_EQ(Sim.Parameter("CN"), "Cell 4");

    // Refused before anything is sent: exit code 2.
    Sim.ClearReceived();
    const std::vector<std::vector<std::string>> refused = {
        {"set", "CF", "abc"},
        {"set", "CF", "nan"},
        {"set", "TN", "2.5"},
        {"set", "ACT", "2"},
        {"set", "FL", "12.5"},
        {"set", "CN", "a\nb"},
        {"set", "MF", "300"},
        {"get", "CFL"},
        {"get", "FL"},
        {"get", "XYZ"},
        {"get", "CF", "3"},
        {"get", "FL", "x"},
        {"set"},
        {"bogus"},
        {"watch", "--count", "-1"},
        {"info", "extra"},
    };
    for (const auto& args : refused) {
        TRun run = Run(args);
        EXPECT_EQ(run.Exit, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_NE(run.Err.find("korva: "), std::string::npos);
    }
    EXPECT_TRUE(Sim.Received().empty());
}

TEST_F(KorvaProgram, SendPrintsTheReplyAndAControllerErrorExitsWithFive) {
    TRun value = Run({"send", "FL?", "3"});
    EXPECT_EQ(value.Exit, 0);
    EXPECT_EQ(Lines(value.Out).size(), 2u);
    EXPECT_EQ(Lines(value.Out).back(), "OK");
    EXPECT_EQ(Sim.Received(), (std::vector<std::string>{"0:FL? 3"})); // no handshake for a raw line

    TRun error = Run({"send", "FL? 99"});
    EXPECT_EQ(error.Exit, 5);
    EXPECT_EQ(error.Out, "Error 2\nOK\n");
    EXPECT_NE(error.Err.find("controller error 2"), std::string::npos) << error.Err;
    EXPECT_NE(error.Err.find("address 0"), std::string::npos) << error.Err;

    TRun json = Run({"--json", "send", "XYZ?"});
    EXPECT_EQ(json.Exit, 5);
    EXPECT_EQ(nlohmann::json::parse(Lines(json.Out)[0])["replies"][0], "Error 1");
    EXPECT_EQ(nlohmann::json::parse(json.Err)["exit"], 5);
}

TEST_F(KorvaProgram, WatchWritesOneRowPerPass) {
    TRun csv = Run({"watch", "--count", "5", "--interval", "20", "--csv"});
    ASSERT_EQ(csv.Exit, 0) << csv.Err;
    const auto rows = Lines(csv.Out);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0],
              "time,command force (N),actual force (N),position (mm),slide acceleration,active,mode,tool");
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), ','), 7) << rows[i];

    TRun json = Run({"--json", "watch", "--count", "2", "--interval", "0"});
    ASSERT_EQ(Lines(json.Out).size(), 2u);
    for (const std::string& line : Lines(json.Out))
        EXPECT_TRUE(nlohmann::json::parse(line).contains("actualForce"));
}

TEST_F(KorvaProgram, RestoreSendsTheFileAndSaveAddsSc1) {
    const fs::path file = fs::temp_directory_path() / ("korva-restore-" + std::to_string(getpid()) + ".cfg");
    std::ofstream(file) << "FL 3 40.000\nCN Restored\n";
    Sim.ClearReceived();
    TRun run = Run({"restore", file.string(), "--save"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(Sent(), (std::vector<std::string>{"0:FL 3 40.000", "0:CN Restored", "0:SC 1"}));
    EXPECT_EQ(Sim.Parameter("CN"), "Restored");

    std::ofstream(file) << "FL 3 41.000\nFL 99 1.000\nCN Never\n";
    TRun refused = Run({"restore", file.string()});
    EXPECT_EQ(refused.Exit, 5);
    EXPECT_EQ(Sim.Parameter("CN"), "Restored"); // stopped at the refused line

    std::ofstream(file) << "FL 3 42.000\n" << std::string(300, 'x') << "\n";
    Sim.ClearReceived();
    EXPECT_EQ(Run({"restore", file.string()}).Exit, 4); // no list of commands: nothing sent
    EXPECT_TRUE(Sent().empty());
    fs::remove(file);
}

TEST_F(KorvaProgram, WeighAndSave) {
    TRun run = Run({"--json", "weigh", "--save"});
    ASSERT_EQ(run.Exit, 0) << run.Err;
    const nlohmann::json result = nlohmann::json::parse(run.Out);
    EXPECT_EQ(result["saved"], true);
    EXPECT_EQ(result["units"], "kg");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"0:TN?", "0:ATW 0", "0:CTW?", "0:SC 1"}));
}

TEST_F(KorvaProgram, PortAndLinkFailuresHaveTheirExitCodes) {
    TRun missing = Korva({"--port", "/dev/korva-no-such-port", "info"});
    EXPECT_EQ(missing.Exit, 3);
    EXPECT_NE(missing.Err.find("/dev/korva-no-such-port"), std::string::npos) << missing.Err;
    EXPECT_NE(missing.Err.find("No such"), std::string::npos) << missing.Err; // the system's reason

    TRun elsewhere = Run({"--address", "3", "info"});
    EXPECT_EQ(elsewhere.Exit, 4);
    EXPECT_NE(elsewhere.Err.find("No answer at address 3 on " + Port), std::string::npos) << elsewhere.Err;

    Sim.InjectFault(sim::TSimFault::Silent, -1);
    EXPECT_EQ(Run({"--timeout", "200", "send", "CF?"}).Exit, 4);
    Sim.ClearFaults();

    EXPECT_EQ(Korva({"info"}, {"XDG_CONFIG_HOME=/nonexistent", "HOME=/nonexistent"}).Exit,
              2); // no port at all
}

TEST_F(KorvaProgram, ThePortComesFromTheEnvironmentOrTheConsolesSetting) {
    EXPECT_EQ(Korva({"get", "CF"}, {"KORVA_PORT=" + Port}).Exit, 0);

    const fs::path config = fs::temp_directory_path() / ("korva-config-" + std::to_string(getpid()));
    fs::create_directories(config / "Halvane");
    std::ofstream(config / "Halvane" / "KorvaWin 3.0.conf") << "[General]\nCommPort=" << Port << "\n";
    TRun stored = Korva({"get", "CF"}, {"XDG_CONFIG_HOME=" + config.string()});
    EXPECT_EQ(stored.Exit, 0) << stored.Err;
    TRun overridden =
        Korva({"--port", "/dev/korva-no-such-port", "get", "CF"}, {"XDG_CONFIG_HOME=" + config.string()});
    EXPECT_EQ(overridden.Exit, 3);
    fs::remove_all(config);
}

TEST_F(KorvaProgram, BackupThenRestoreRoundTripAndDiffFindsTheChange) {
    const fs::path root = fs::temp_directory_path() / ("korva-backups-" + std::to_string(getpid()));
    fs::remove_all(root);
    TRun backup = Run({"--json", "backup", root.string()});
    ASSERT_EQ(backup.Exit, 0) << backup.Err;
    const nlohmann::json made = nlohmann::json::parse(backup.Out);
    ASSERT_EQ(made.size(), 1u);
    const fs::path controllerFile = made[0]["controller"].get<std::string>();
    const fs::path toolFile = made[0]["tool"].get<std::string>();
    EXPECT_EQ(controllerFile.parent_path(), root / "IXA Cell 1");
    EXPECT_TRUE(fs::is_regular_file(controllerFile));
    EXPECT_TRUE(fs::is_regular_file(toolFile));
    EXPECT_EQ(controllerFile.filename().string().substr(19),
              " controller.cfg"); // after "YYYY-MM-DD_hh-mm-ss"

    // Unchanged: equal, exit 0, no output.
    TRun same = Run({"diff", controllerFile.string()});
    EXPECT_EQ(same.Exit, 0) << same.Err;
    EXPECT_EQ(same.Out, "");

    // The controller moves on in one force level and its name: diff names exactly those, exit 1.
    Sim.SetParameter("FL", "77.000", 3);
    Sim.SetParameter("CN", "Moved");
    TRun changed = Run({"diff", controllerFile.string()});
    EXPECT_EQ(changed.Exit, 1) << changed.Err;
    const auto lines = Lines(changed.Out);
    ASSERT_EQ(lines.size(), 2u) << changed.Out;
    EXPECT_EQ(lines[0].rfind("CN: file IXA Cell 1, controller Moved", 0), 0u) << lines[0];
    EXPECT_NE(changed.Out.find("FL 3: file"), std::string::npos) << changed.Out;
    const nlohmann::json report = nlohmann::json::parse(Run({"--json", "diff", controllerFile.string()}).Out);
    EXPECT_EQ(report["differences"], 2);
    EXPECT_EQ(report["dump"], "DCC");

    // The tool file is compared with the tool dump.
    EXPECT_EQ(Run({"diff", toolFile.string()}).Exit, 0);

    // Restoring the backup puts the controller back; diff then finds nothing.
    TRun restore = Run({"restore", controllerFile.string()});
    EXPECT_EQ(restore.Exit, 0) << restore.Err;
    EXPECT_EQ(Sim.Parameter("CN"), "IXA Cell 1");
    EXPECT_EQ(Run({"diff", controllerFile.string()}).Exit, 0);

    EXPECT_EQ(Run({"diff", (root / "none.cfg").string()}).Exit, 4); // no such file
    fs::remove_all(root);
}

TEST(KorvaScan, FindsTheUnitsOnTheLineAndBacksThemAllUp) {
    sim::TSimOptions options;
    options.Units = {0, 3, 7};
    sim::TSimulator bus(options);
    TRun scan = Korva({"--port", bus.SlavePath(), "--json", "scan"});
    ASSERT_EQ(scan.Exit, 0) << scan.Err;
    const nlohmann::json units = nlohmann::json::parse(scan.Out);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[1]["address"], 3);
    EXPECT_EQ(units[1]["name"], "IXA Cell 2");
    EXPECT_EQ(units[2]["address"], 7);
    EXPECT_EQ(units[2]["version"], "4.2");

    const fs::path root = fs::temp_directory_path() / ("korva-all-" + std::to_string(getpid()));
    fs::remove_all(root);
    TRun all = Korva({"--port", bus.SlavePath(), "--json", "backup", root.string(), "--all"});
    ASSERT_EQ(all.Exit, 0) << all.Err;
    const nlohmann::json made = nlohmann::json::parse(all.Out);
    ASSERT_EQ(made.size(), 3u);
    EXPECT_EQ(made[2]["address"], 7);
    for (const char* name : {"IXA Cell 1", "IXA Cell 2", "IXA Cell 3"})
        EXPECT_TRUE(fs::is_directory(root / name)) << name;
    fs::remove_all(root);
}

TEST(StoredSetting, ValuesAsTheConsolesIniFileWritesThem) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"  /dev/ttyS1  ", "/dev/ttyS1"},
        {"\"/tmp/a, b\"", "/tmp/a, b"},
        {"\"/tmp/q\\\"uote\"", "/tmp/q\"uote"},
        {"/tmp/back\\\\slash", "/tmp/back\\slash"},
        {"/dev/\\x441\\x435", "/dev/\xD1\x81\xD0\xB5"}, // Cyrillic "се" in UTF-8
        {"@ByteArray(/dev/pts/7)", "/dev/pts/7"},
    };
    for (const auto& [raw, value] : table)
        EXPECT_EQ(UnescapeIniValue(raw), value) << raw;
}

TEST(KorvaHelp, UsageAndOneCommandsHelp) {
    TRun usage = Korva({"--help"});
    EXPECT_EQ(usage.Exit, 0);
    EXPECT_NE(usage.Out.find("exit codes"), std::string::npos);
    TRun one = Korva({"help", "watch"});
    EXPECT_EQ(one.Exit, 0);
    EXPECT_EQ(one.Out.rfind("usage: korva watch", 0), 0u);
    EXPECT_EQ(Korva({"help", "nope"}).Exit, 2);
    EXPECT_EQ(Korva({}).Exit, 2);
}
} // namespace

// The machine's serial devices, no port needed: stable names first, what is known of each.
TEST(KorvaPorts, ListsTheDevicesWithWhatIsKnown) {
    TFakeSysfs sys;
    const TRun text = Korva({"ports", "--root", sys.Root()});
    EXPECT_EQ(text.Exit, 0) << text.Err;
    const std::vector<std::string> lines = Lines(text.Out);
    ASSERT_EQ(lines.size(), 8u) << text.Out;
    EXPECT_EQ(lines[2], sys.Path("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"));
    EXPECT_EQ(lines[3],
              "    FTDI FT232R USB UART, serial A1B2C3, ftdi_sio (0403:6001), " + sys.Path("dev/ttyUSB0"));

    const TRun json = Korva({"--json", "ports", "--root", sys.Root()});
    ASSERT_EQ(json.Exit, 0) << json.Err;
    const auto list = nlohmann::json::parse(json.Out);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0]["driver"], "cdc_acm");
    EXPECT_EQ(list[1]["serial"], "A1B2C3");
    EXPECT_EQ(list[1]["vendorId"], "0403");
    EXPECT_EQ(list[1]["device"], sys.Path("dev/ttyUSB0"));

    sys.Unplug("ttyUSB0");
    sys.Unplug("ttyUSB1");
    sys.Unplug("ttyACM0");
    sys.Unplug("ttyS0");
    const TRun none = Korva({"ports", "--root", sys.Root()});
    EXPECT_EQ(none.Exit, 0);
    EXPECT_EQ(none.Out.rfind("no serial device found", 0), 0u) << none.Out;
}
