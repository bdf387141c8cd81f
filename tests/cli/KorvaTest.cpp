// The korva program itself, run as a process against the simulated controller on a
// pseudo-terminal: output, exit codes and the exact lines on the wire.

#include "../support/FakeSysfs.h"
#include "platform/StoredSetting.h"
#include "record/TrendCsv.h"
#include "sim/Simulator.h"

#include "KorvaSpawn.h"

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

const std::string ClosedStream = "(closed)";

// Runs korva with args and the extra environment entries; standard output and error go to files.
// stdoutPath, when given, is opened as standard output instead (ClosedStream: none at all).
TRun Korva(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
           const std::string& stdoutPath = {}) {
    static int serial = 0;
    const fs::path dir = fs::temp_directory_path() / ("korva-cli-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / ("out" + std::to_string(serial));
    const fs::path err = dir / ("err" + std::to_string(serial++));
    TSpawnStrings argv = KorvaArguments(args), envs = KorvaEnvironment(env);
    std::vector<char*> cargv = argv.Pointers(), cenv = envs.Pointers();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutPath == ClosedStream)
        posix_spawn_file_actions_addclose(&actions, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.empty() ? out.c_str() : stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    EXPECT_EQ(lines, (std::vector<std::string>{"version:      4.2", "name:         Cell 4",
                                               "tool type:    Deburring Spindle",
                                               "units:        metric (mm, N, kg)", "tool present: yes"}));
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
    EXPECT_EQ(Sim.Parameter("ACT"), "1");
    EXPECT_EQ(Run({"set", "ACT", "off"}).Exit, 0);
    EXPECT_EQ(Sim.Parameter("ACT"), "0");
    EXPECT_EQ(Run({"set", "CN", "Cell 4"}).Exit, 0);
    // A force is held to the controller's maximum force, asked before the write.
    EXPECT_EQ(Sent(), (std::vector<std::string>{"0:MF?", "0:FL 3 12.500", "0:MF?", "0:CF -2.500", "0:ACT 1",
                                                "0:ACT 0", "0:CN Cell 4"}));
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

// What a person types is read whole or refused: a refused value writes nothing (the controller
// sees no line at all, not even the handshake) and exits 2 with the reason.
TEST_F(KorvaProgram, SetReadsTheValueWholeOrRefusesIt) {
    Sim.ClearReceived();
    const std::vector<std::vector<std::string>> refused = {
        {"set", "CF", "1,5"},        {"set", "CF", "0x10"},
        {"set", "CF", "12.5abc"},    {"set", "CF", "12.5 7"},
        {"set", "CF", "1e309"},      {"set", "CF", "nan"},
        {"set", "CF", "12.5999"},    {"set", "FL", "3", "1,5"},
        {"set", "TN", "0x3"},        {"set", "NA", "16"},
        {"set", "CFI", "3"},         {"get", "FL", "16"},
        {"set", "FL", "16", "1"},    {"get", "CMF", "-1"},
        {"set", "CN", "\x1b]0;T\a"}, {"set", "CN", std::string(251, 'x')},
    };
    for (const auto& args : refused) {
        TRun run = Run(args);
        EXPECT_EQ(run.Exit, 2) << args[1] << " " << args[2];
        EXPECT_EQ(run.Err.rfind("korva: ", 0), 0u) << run.Err;
    }
    EXPECT_TRUE(Sim.Received().empty());

    TRun address = Run({"set", "NA", "16"});
    EXPECT_NE(address.Err.find("takes a value from 0 to 15, not 16"), std::string::npos) << address.Err;
    TRun level = Run({"get", "FL", "16"});
    EXPECT_NE(level.Err.find("takes an index from 0 to 15, not 16"), std::string::npos) << level.Err;

    // Blanks around a number are taken; the value sent is the one typed.
    EXPECT_EQ(Run({"set", "CF", " 12"}).Exit, 0);
    EXPECT_EQ(Run({"set", "CF", "12.59 "}).Exit, 0);
    EXPECT_EQ(Sim.Parameter("CF"), "12.590");
}

// Names cross in one encoding: UTF-8 on the terminal, Windows-1252 in the controller.
TEST_F(KorvaProgram, ControllerTextsAreUtf8OnTheTerminalAndTheCodePageInTheController) {
    EXPECT_EQ(Run({"set", "CN", "Z\u00fcrich \u20ac1"}).Exit, 0);
    EXPECT_EQ(Sim.Parameter("CN"), "Z\xfcrich \x80"
                                   "1");
    EXPECT_EQ(Run({"get", "CN"}).Out, "Z\u00fcrich \u20ac1\n");
    EXPECT_EQ(nlohmann::json::parse(Run({"--json", "info"}).Out)["name"], "Z\u00fcrich \u20ac1");

    Sim.ClearReceived();
    TRun cyrillic = Run({"set", "CN", "\u0417\u0430\u043f\u0438\u0441\u044c"});
    EXPECT_EQ(cyrillic.Exit, 2);
    EXPECT_NE(cyrillic.Err.find("cannot hold '\u0417'"), std::string::npos) << cyrillic.Err;
    TRun latin1 = Run({"set", "CN", "Caf\xe9"});
    EXPECT_EQ(latin1.Exit, 2);
    EXPECT_NE(latin1.Err.find("the byte 0xE9"), std::string::npos) << latin1.Err;
    EXPECT_TRUE(Sim.Received().empty());
}

// The controller's maximum force is asked and held to before a force is written.
TEST_F(KorvaProgram, AForceAboveTheControllersMaximumIsRefusedBeforeTheWrite) {
    Sim.SetParameter("MF", "300");
    Sim.ClearReceived();
    TRun run = Run({"set", "FL", "3", "300.5"});
    EXPECT_EQ(run.Exit, 2);
    EXPECT_NE(run.Err.find("at most 300 N (the controller's maximum force), not 300.500"), std::string::npos)
        << run.Err;
    EXPECT_EQ(Sent(), std::vector<std::string>{"0:MF?"});
    EXPECT_EQ(Run({"set", "FL", "3", "300"}).Exit, 0);
    EXPECT_EQ(Sim.Parameter("FL", 3), "300.000");
}

TEST_F(KorvaProgram, SendPrintsTheReplyAndAControllerErrorExitsWithFive) {
    TRun value = Run({"send", "FL?", "3"});
    EXPECT_EQ(value.Exit, 0);
    EXPECT_EQ(value.Out, "75.000\nOK\n");                             // force level 3 of a fresh controller
    EXPECT_EQ(Sim.Received(), (std::vector<std::string>{"0:FL? 3"})); // no handshake for a raw line

    TRun error = Run({"send", "FL? 99"});
    EXPECT_EQ(error.Exit, 5);
    EXPECT_EQ(error.Out, "Error 2\nOK\n");
    EXPECT_NE(error.Err.find("controller error 2: Error 2: malformed command or no such index"),
              std::string::npos)
        << error.Err;
    EXPECT_NE(error.Err.find("address 0"), std::string::npos) << error.Err;

    TRun json = Run({"--json", "send", "XYZ?"});
    EXPECT_EQ(json.Exit, 5);
    EXPECT_EQ(nlohmann::json::parse(Lines(json.Out)[0])["replies"][0], "Error 1");
    EXPECT_EQ(nlohmann::json::parse(json.Err)["exit"], 5);
}

// Each value in its own column, read from a retracted controller whose values hold still: command
// force 12.345 N, actual force 0, position 5 mm at the retract limit, level mounting, tool 2.
TEST_F(KorvaProgram, WatchWritesOneRowPerPass) {
    Sim.SetParameter("CF", "12.345");
    Sim.SetParameter("TN", "2");
    TRun csv = Run({"watch", "--count", "5", "--interval", "20", "--csv"});
    ASSERT_EQ(csv.Exit, 0) << csv.Err;
    const auto rows = Lines(csv.Out);
    ASSERT_EQ(rows.size(), 6u);
    // The columns of a trend recording, the clock time first.
    EXPECT_EQ(rows[0] + "\n", TrendCsvHeader("N", "mm"));
    // What follows the clock time and the seconds: the address, then the values.
    const auto values = [](const std::string& row) {
        size_t at = 0;
        for (int comma = 0; comma < 2 && at != std::string::npos; ++comma)
            at = row.find(',', at + 1);
        return at == std::string::npos ? std::string() : row.substr(at);
    };
    for (size_t i = 1; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i]);
        ASSERT_GE(rows[i].size(), 31u);
        EXPECT_EQ(rows[i][0], '"');
        EXPECT_EQ(rows[i][11], 'T'); // "2026-12-08T13:40:01.123+01:00"
        EXPECT_EQ(rows[i][30], '"');
        EXPECT_EQ(values(rows[i]), ",0,12.345,0,5,0.000,0,0,2");
    }

    // The mode column: 1 in position mode, 2 in contour mode.
    Sim.SetParameter("PM", "1");
    const auto positionRows = Lines(Run({"watch", "--count", "1", "--csv"}).Out);
    ASSERT_EQ(positionRows.size(), 2u);
    EXPECT_EQ(values(positionRows[1]), ",0,12.345,0,5,0.000,0,1,2");
    Sim.SetParameter("PM", "0");
    Sim.SetParameter("CM", "1");
    Sim.SetToolConnected(false); // tool "none"
    TRun json = Run({"--json", "watch", "--count", "2", "--interval", "0"});
    ASSERT_EQ(Lines(json.Out).size(), 2u);
    for (const std::string& line : Lines(json.Out)) {
        const nlohmann::json row = nlohmann::json::parse(line);
        EXPECT_EQ(row["commandForce"], 12.345);
        EXPECT_EQ(row["actualForce"], 0.0);
        EXPECT_EQ(row["position"], 5.0);
        EXPECT_EQ(row["slideAcceleration"], 0.0);
        EXPECT_EQ(row["active"], false);
        EXPECT_EQ(row["mode"], 2);
        EXPECT_TRUE(row["tool"].is_null()) << line;
    }
}

TEST(KorvaWatchAll, OneRowPerUnitPerRoundAndASilentUnitCostsOneTimeLimit) {
    sim::TSimOptions options;
    options.Units = {0, 3, 7};
    sim::TSimulator bus(options);
    bus.SetUnitParameter(3, "CF", "13.000");
    bus.SetUnitParameter(3, "CN", "Cell \"A\"");
    bus.SetUnitSilent(7, true);
    TRun json = Korva({"--port", bus.SlavePath(), "--timeout", "100", "--json", "watch", "--all", "--units",
                       "0,3,7", "--count", "3", "--interval", "0"});
    ASSERT_EQ(json.Exit, 0) << json.Err;
    const auto rows = Lines(json.Out);
    ASSERT_EQ(rows.size(), 9u);
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto row = nlohmann::json::parse(rows[i]);
        const int address = row["address"];
        EXPECT_EQ(address, std::vector<int>({0, 3, 7})[i % 3]);
        EXPECT_EQ(row["online"], address != 7) << rows[i];
        if (address == 3) {
            EXPECT_EQ(row["commandForce"], 13.0);
            EXPECT_EQ(row["name"], "Cell \"A\"");
            EXPECT_EQ(row["tool"], 1);
        }
    }
    // The silent unit was asked once, not in every round.
    const auto received = bus.Received();
    EXPECT_EQ(std::count_if(received.begin(), received.end(),
                            [](const std::string& line) { return line.rfind("7:", 0) == 0; }),
              1);

    bus.SetUnitSilent(7, false);
    TRun csv =
        Korva({"--port", bus.SlavePath(), "watch", "--all", "--units", "3,7", "--count", "1", "--csv"});
    ASSERT_EQ(csv.Exit, 0) << csv.Err;
    const auto lines = Lines(csv.Out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "time,address,name,online,active,mode,tool,command force,actual force,position,age");
    EXPECT_NE(lines[1].find(",3,\"Cell \"\"A\"\"\",1,0,0,1,13.000,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(",7,\"IXA Cell 3\",1,"), std::string::npos) << lines[2];
}

// Only the writes: a restore asks its limits and the unit's name before it sends.
std::vector<std::string> Writes(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.find('?') == std::string::npos)
            out.push_back(l);
    return out;
}

TEST_F(KorvaProgram, RestoreSendsTheFileAndSaveAddsSc1) {
    const fs::path file = fs::temp_directory_path() / ("korva-restore-" + std::to_string(getpid()) + ".cfg");
    std::ofstream(file) << "FL 3 40.000\nCN Restored\n";
    Sim.ClearReceived();
    TRun run = Run({"restore", file.string(), "--save", "--rename"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(Writes(Sent()), (std::vector<std::string>{"0:FL 3 40.000", "0:CN Restored", "0:SC 1"}));
    EXPECT_EQ(Sim.Parameter("CN"), "Restored");

    // An index the registry knows to be out of range: refused before the first line goes.
    std::ofstream(file) << "FL 3 41.000\nFL 99 1.000\nCN Never\n";
    Sim.ClearReceived();
    TRun refused = Run({"restore", file.string(), "--rename"});
    EXPECT_EQ(refused.Exit, 4); // checked first: nothing sent
    EXPECT_NE(
        refused.Err.find(
            "\nkorva: line 2 (\"FL 99 1.000\"): FL (Force level) takes an index from 0 to 15, not 99\n"),
        std::string::npos)
        << refused.Err;
    EXPECT_TRUE(Writes(Sent()).empty());

    std::ofstream(file) << "FL 3 42.000\n" << std::string(300, 'x') << "\n";
    Sim.ClearReceived();
    EXPECT_EQ(Run({"restore", file.string()}).Exit, 4); // no list of commands: nothing sent
    EXPECT_TRUE(Sent().empty());
    fs::remove(file);
}

// Three units on one line, korva speaking to the one at address 3.
class KorvaBus : public ::testing::Test {
protected:
    static sim::TSimOptions Options() {
        sim::TSimOptions options;
        options.Units = {0, 3, 7};
        options.Paced = true;
        return options;
    }
    sim::TSimulator Bus{Options()};
    fs::path Root = fs::temp_directory_path() / ("korva-bus-" + std::to_string(getpid()));
    void SetUp() override {
        fs::remove_all(Root);
        fs::create_directories(Root);
    }
    void TearDown() override { fs::remove_all(Root); }
    TRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", Bus.SlavePath(), "--address", "3"});
        return Korva(args, {"XDG_DATA_HOME=" + (Root / "data").string(), "HOME=" + Root.string()});
    }
};

TEST_F(KorvaBus, RestoreOfAnotherUnitsFileKeepsTheAddressAndNameUnlessMoved) {
    Bus.SetUnitParameter(0, "FL", "77.000", 3);
    TRun made =
        Korva({"--port", Bus.SlavePath(), "--address", "0", "--json", "backup", (Root / "b").string()});
    ASSERT_EQ(made.Exit, 0) << made.Err;
    const fs::path cell1 = nlohmann::json::parse(made.Out)[0]["controller"].get<std::string>();
    ASSERT_NE(ReadAll(cell1).find("NA 0\n"), std::string::npos);

    TRun kept = Run({"restore", cell1.string(), "--save"});
    EXPECT_EQ(kept.Exit, 0) << kept.Err;
    EXPECT_NE(kept.Err.find("left out: it would move the unit at address 3 to address 0, where another unit "
                            "answers; give --move to apply it"),
              std::string::npos)
        << kept.Err;
    EXPECT_NE(kept.Err.find("left out: it would rename the unit \"IXA Cell 2\" to \"IXA Cell 1\""),
              std::string::npos);
    EXPECT_EQ(Bus.UnitParameter(3, "FL", 3), "77.000");
    EXPECT_EQ(Bus.UnitParameter(3, "CN"), "IXA Cell 2");
    EXPECT_EQ(Bus.UnitParameter(0, "CN"), "IXA Cell 1");

    // An active carriage is refused unless asked for.
    Bus.SetUnitParameter(3, "ACT", "1");
    TRun active = Run({"restore", cell1.string()});
    EXPECT_EQ(active.Exit, 2);
    EXPECT_NE(active.Err.find("the carriage is active"), std::string::npos) << active.Err;
    EXPECT_EQ(Run({"restore", cell1.string(), "--active"}).Exit, 0);
    Bus.SetUnitParameter(3, "ACT", "0");

    // Moved and renamed when asked: the unit answers at its new address, nothing saved there.
    TRun moved = Run({"restore", cell1.string(), "--move", "--rename", "--save"});
    EXPECT_EQ(moved.Exit, 0) << moved.Err;
    EXPECT_NE(moved.Err.find("the unit now answers at address 0"), std::string::npos) << moved.Err;
    EXPECT_THROW(Bus.UnitParameter(3, "CN"), std::invalid_argument);
}

TEST_F(KorvaBus, RestoreRefusedMidWayNamesTheAppliedLinesAndTheBackup) {
    const fs::path bad = Root / "bad.cfg", partial = Root / "partial.cfg";
    {
        std::ofstream out(bad);
        for (int i = 1; i < 30; ++i)
            out << "FL " << (i % 16) << " 10.000\n";
        out << "FL 5 99999.000\n";
    }
    Bus.ClearReceived();
    TRun refused = Run({"restore", bad.string()});
    EXPECT_EQ(refused.Exit, 4);
    EXPECT_NE(
        refused.Err.find("korva: The file was not downloaded: one line cannot be taken by the controller.\n"
                         "korva: line 30 (\"FL 5 99999.000\"): 99999.000 is out of range: the force "
                         "level runs from -245.000 to 500.000 N\n"),
        std::string::npos)
        << refused.Err;
    EXPECT_TRUE(Writes(Bus.Received()).empty());
    EXPECT_NE(Bus.UnitParameter(3, "FL", 1), "10.000");

    std::ofstream(partial) << "FL 3 40.000\nFL 4 41.000\nFL 6 42.000\nFL 7 43.000\n";
    const std::string before = Bus.UnitParameter(3, "FL", 3);
    Bus.ScriptReply("FL 6 42.000", {"Error 3", "OK"});
    TRun stopped = Run({"restore", partial.string(), "--backup"});
    EXPECT_EQ(stopped.Exit, 5);
    EXPECT_NE(stopped.Err.find("Line 3 of 4 (\"FL 6 42.000\") was refused by the controller: Error 3. The "
                               "controller took lines 1 and 2; the rest was not sent."),
              std::string::npos)
        << stopped.Err;
    const size_t at = stopped.Err.find("korva --address 3 restore '");
    ASSERT_NE(at, std::string::npos) << stopped.Err;
    const size_t from = at + std::string("korva --address 3 restore '").size();
    const std::string backup = stopped.Err.substr(from, stopped.Err.find('\'', from) - from);
    EXPECT_EQ(Bus.UnitParameter(3, "FL", 3), "40.000");
    EXPECT_EQ(Run({"restore", backup}).Exit, 0);
    EXPECT_EQ(Bus.UnitParameter(3, "FL", 3), before);
    EXPECT_EQ(Run({"diff", backup}).Exit, 0);
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

// A folder named like an old backup, among more than fifty: the backup is made, exit 0, and the
// real old backups are still pruned; the folder and what is in it stay.
TEST_F(KorvaProgram, AnOddEntryInTheBackupFolderNeitherFailsTheBackupNorStopsPruning) {
    const fs::path root = fs::temp_directory_path() / ("korva-odd-backups-" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path folder = root / "IXA Cell 1";
    fs::create_directories(folder / "2019-01-01_00-00-00 controller.cfg");
    std::ofstream(folder / "2019-01-01_00-00-00 controller.cfg" / "inside.txt") << "x\n";
    for (int day = 1; day <= 55; ++day) {
        char stem[32];
        std::snprintf(stem, sizeof stem, "2020-01-%02d_10-00-00", day % 28 + 1);
        const std::string name = std::string(stem) + (day > 28 ? "_2" : "");
        std::ofstream(folder / (name + " controller.cfg")) << "CN IXA Cell 1\n";
        std::ofstream(folder / (name + " tool.cfg")) << "TN 0\n";
    }
    TRun backup = Run({"backup", root.string()});
    EXPECT_EQ(backup.Exit, 0) << backup.Err;
    size_t controllerFiles = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        controllerFiles += entry.is_regular_file() &&
                           entry.path().filename().string().find(" controller.cfg") != std::string::npos;
    EXPECT_EQ(controllerFiles, 50u); // 55 old and the new one, pruned to 50
    EXPECT_TRUE(fs::exists(folder / "2019-01-01_00-00-00 controller.cfg" / "inside.txt"));
    fs::remove_all(root);
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
    TRun restore = Run({"restore", controllerFile.string(), "--rename"});
    EXPECT_EQ(restore.Exit, 0) << restore.Err;
    EXPECT_EQ(Sim.Parameter("CN"), "IXA Cell 1");
    EXPECT_EQ(Run({"diff", controllerFile.string()}).Exit, 0);

    EXPECT_EQ(Run({"diff", (root / "none.cfg").string()}).Exit, 4); // no such file
    fs::remove_all(root);
}

// A backup beside 50 older ones keeps the newest 50: the oldest pair goes, files of other names stay.
TEST_F(KorvaProgram, BackupKeepsTheNewestFifty) {
    const fs::path root = fs::temp_directory_path() / ("korva-keep-" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path folder = root / "IXA Cell 1";
    fs::create_directories(folder);
    for (int i = 0; i < 50; ++i) {
        char stem[32];
        std::snprintf(stem, sizeof stem, "2020-01-01_00-00-%02d", i);
        std::ofstream(folder / (std::string(stem) + " controller.cfg")) << "CN IXA Cell 1\n";
        std::ofstream(folder / (std::string(stem) + " tool.cfg")) << "TN 0\n";
    }
    std::ofstream(folder / "notes.txt") << "not a backup\n";
    TRun backup = Run({"backup", root.string()});
    ASSERT_EQ(backup.Exit, 0) << backup.Err;
    size_t controllers = 0, tools = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        controllers += name.ends_with(" controller.cfg");
        tools += name.ends_with(" tool.cfg");
    }
    EXPECT_EQ(controllers, 50u);
    EXPECT_EQ(tools, 50u);
    EXPECT_FALSE(fs::exists(folder / "2020-01-01_00-00-00 controller.cfg"));
    EXPECT_FALSE(fs::exists(folder / "2020-01-01_00-00-00 tool.cfg"));
    EXPECT_TRUE(fs::exists(folder / "2020-01-01_00-00-01 controller.cfg"));
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
    fs::remove_all(root);
}

// A file that sets a parameter twice is compared by its last line, as the controller ends up.
TEST_F(KorvaProgram, DiffTakesTheLastLineOfAParameterSetTwice) {
    const fs::path root = fs::temp_directory_path() / ("korva-twice-" + std::to_string(getpid()));
    fs::remove_all(root);
    TRun backup = Run({"--json", "backup", root.string()});
    ASSERT_EQ(backup.Exit, 0) << backup.Err;
    const std::string dump = ReadAll(nlohmann::json::parse(backup.Out)[0]["controller"].get<std::string>());
    ASSERT_NE(dump.find("FL 3 75.000\n"), std::string::npos) << dump;
    const fs::path file = root / "twice.cfg";
    std::ofstream(file) << "FL 3 99.000\n" << dump; // then the dump's own "FL 3 75.000"
    TRun same = Run({"diff", file.string()});
    EXPECT_EQ(same.Exit, 0) << same.Out << same.Err;
    std::ofstream(file) << dump << "FL 3 99.000\n";
    TRun changed = Run({"diff", file.string()});
    EXPECT_EQ(changed.Exit, 1) << changed.Err;
    EXPECT_EQ(changed.Out.rfind("FL 3: file 99", 0), 0u) << changed.Out;
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
// text as JSON; a text that is not JSON gives an empty object, which matches no expectation.
nlohmann::json Parsed(const std::string& text) {
    nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    return value.is_discarded() ? nlohmann::json::object() : value;
}

// One JSON object on standard error, with the given exit code.
void ExpectJsonError(const TRun& run, int exit, const std::string& what) {
    EXPECT_EQ(run.Exit, exit) << what << ": " << run.Err;
    const auto lines = Lines(run.Err);
    ASSERT_EQ(lines.size(), 1u) << what << ": " << run.Err;
    nlohmann::json error = Parsed(lines[0]);
    ASSERT_TRUE(error.is_object()) << what << ": " << run.Err;
    EXPECT_EQ(error["exit"], exit) << what;
    EXPECT_TRUE(error["error"].is_string()) << what;
}

TEST_F(KorvaProgram, JsonStaysValidWithBytesThatAreNoUtf8) {
    // A name typed with a byte that is no UTF-8: refused as valid JSON, nothing written.
    TRun set = Run({"--json", "set", "CN", "Caf\xe9"});
    ExpectJsonError(set, 2, "set");
    EXPECT_NE(Parsed(Lines(set.Err).at(0))["error"].get<std::string>().find("0xE9"), std::string::npos)
        << set.Err;
    EXPECT_EQ(Sim.Parameter("CN"), "IXA Cell 1");
    // The controller's own byte is its code page's character.
    Sim.SetParameter("CN", "Caf\xe9");
    TRun info = Run({"--json", "info"});
    EXPECT_EQ(info.Exit, 0) << info.Err;
    EXPECT_EQ(Parsed(info.Out)["name"], "Caf\xc3\xa9");

    // An error reply with such a byte, as a result and as the error.
    Sim.ScriptReply("CF?", {"Error 3 \xff", "OK"});
    TRun reply = Run({"--json", "send", "CF?"});
    ExpectJsonError(reply, 5, "reply");
    EXPECT_EQ(Parsed(reply.Out)["replies"], nlohmann::json({"Error 3 \xef\xbf\xbd"}));

    // Line noise in the middle of watching.
    Sim.ScriptReply("AF?", {"\xff\x80", "OK"});
    TRun watch = Run({"--json", "watch", "--count", "3", "--interval", "0"});
    ExpectJsonError(watch, 4, "watch");

    ExpectJsonError(Korva({"--json", "--port", "/dev/korva-\xff", "info"}), 3, "port");
    const std::string file = "/tmp/korva-none-\xe9.cfg";
    ExpectJsonError(Run({"--json", "diff", file}), 4, "file");
    ExpectJsonError(Run({"--json", "restore", file}), 4, "file");

    // A stored port that the settings file gives as a lone surrogate.
    const fs::path config = fs::temp_directory_path() / ("korva-surrogate-" + std::to_string(getpid()));
    fs::create_directories(config / "Halvane");
    std::ofstream(config / "Halvane" / "KorvaWin 3.0.conf") << "[General]\nCommPort=/dev/\\xd800\n";
    ExpectJsonError(Korva({"--json", "info"}, {"XDG_CONFIG_HOME=" + config.string()}), 3, "stored port");
    fs::remove_all(config);
}

TEST_F(KorvaProgram, TextOutputShowsControlCharactersEscaped) {
    // A name that would retitle and recolour the terminal, and other ASCII controls.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"\x1b]0;T\a\x1b[31mRED", "\\x1b]0;T\\x07\\x1b[31mRED"},
        {"a\rb\tc\x7f", "a\\x0db\\x09c\\x7f"},
    };
    for (const auto& [name, shown] : names) {
        Sim.SetParameter("CN", name);
        TRun info = Run({"info"});
        EXPECT_EQ(info.Exit, 0) << info.Err;
        const auto lines = Lines(info.Out);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[1], "name:         " + shown);
        EXPECT_EQ(Run({"get", "CN"}).Out, shown + "\n");
    }
    // Byte by byte, through a port name (which reaches the error unchanged): controls are shown,
    // other characters, and bytes that no terminal takes for a control, stay as they are.
    const std::vector<std::pair<std::string, std::string>> bytes = {
        {"\x1b[2J", "\\x1b[2J"},
        {"line\nbreak", "line\\x0abreak"},
        {"C1 \xc2\x9b"
         "2J",
         "C1 \\xc2\\x9b2J"}, // U+009B, the 8-bit CSI
        {"lone \x9b"
         "2J",
         "lone \\x9b2J"},
        {"Z\xc3\xbcrich \xe2\x82\xac", "Z\xc3\xbcrich \xe2\x82\xac"},
        {"Latin \xfc", "Latin \xfc"},
    };
    for (const auto& [raw, shown] : bytes) {
        TRun run = Korva({"--port", "/dev/korva-" + raw, "info"});
        EXPECT_EQ(run.Exit, 3);
        EXPECT_NE(run.Err.find("/dev/korva-" + shown), std::string::npos) << run.Err;
        EXPECT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    }
    // Texts from the user and from files, in other errors.
    for (const TRun& run : {Run({"get", "\x1b[2J"}), Run({"diff", "/tmp/korva-\x1b[2J.cfg"})}) {
        EXPECT_NE(run.Exit, 0);
        EXPECT_EQ(run.Err.find('\x1b'), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("\\x1b[2J"), std::string::npos) << run.Err;
    }
}

TEST_F(KorvaProgram, FailedWritesToStandardOutputExitWithFour) {
    TRun full = Korva({"--port", Port, "info"}, {}, "/dev/full");
    EXPECT_EQ(full.Exit, 4);
    EXPECT_NE(full.Err.find("No space left on device"), std::string::npos) << full.Err;
    EXPECT_EQ(Korva({"--help"}, {}, "/dev/full").Exit, 4);
    EXPECT_EQ(Korva({"--json", "params"}, {}, "/dev/full").Exit, 4); // more than a stdio buffer

    // With no standard output the port must not take its place: nothing but commands on the line.
    Sim.ClearReceived();
    TRun closed = Korva({"--port", Port, "watch", "--count", "3", "--interval", "0"}, {}, ClosedStream);
    EXPECT_EQ(closed.Exit, 4);
    EXPECT_NE(closed.Err.find("Bad file descriptor"), std::string::npos) << closed.Err;
    for (const std::string& line : Sim.Received())
        EXPECT_EQ(line.rfind("0:", 0), 0u) << line;
}

TEST_F(KorvaProgram, WrongCallsAreRefusedBeforeSendingAndInJsonWithJson) {
    const std::string longName(251, 'x'); // "CN " and 251 characters: more than a command line holds
    const std::vector<std::vector<std::string>> wrong = {
        {"get", "FX"}, {"set", "CN", longName}, {"send", "a\nb"},          {"send", "CF?\r"},
        {"bogus"},     {"info", "extra"},       {"watch", "--count", "x"}, {"help", "nope"},
    };
    Sim.ClearReceived();
    for (const auto& args : wrong) {
        TRun text = Run(args);
        EXPECT_EQ(text.Exit, 2) << args[0] << ": " << text.Err;
        EXPECT_EQ(text.Err.rfind("korva: ", 0), 0u) << text.Err;
        std::vector<std::string> json = args;
        json.insert(json.begin(), "--json");
        ExpectJsonError(Run(json), 2, args[0]);
    }
    EXPECT_TRUE(Sim.Received().empty());
    ExpectJsonError(Korva({"--json", "--address", "16", "info"}), 2, "--address");
    ExpectJsonError(Korva({"--bogus", "--json", "info"}), 2, "--bogus");

    // The longest name a command line holds is sent.
    Sim.ClearReceived();
    Run({"set", "CN", std::string(250, 'x')});
    EXPECT_EQ(Sent(), (std::vector<std::string>{"0:CN " + std::string(250, 'x')}));

    // Before a port is opened, an error names none.
    const fs::path file = fs::temp_directory_path() / ("korva-long-" + std::to_string(getpid()) + ".cfg");
    std::ofstream(file) << "FL 3 40.000\n" << std::string(300, 'x') << "\n";
    TRun diff = Run({"diff", file.string()});
    EXPECT_EQ(diff.Exit, 4);
    EXPECT_NE(diff.Err.find("line 2"), std::string::npos) << diff.Err;
    EXPECT_EQ(diff.Err.find("port"), std::string::npos) << diff.Err;
    fs::remove(file);
}

// The usage lists every command korva runs, each with a help of its own, and nothing else.
TEST(KorvaHelp, TheUsageListsEveryCommand) {
    const std::string usage = Korva({"--help"}).Out;
    const size_t start = usage.find("commands:\n"), end = usage.find("\noptions:");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    std::vector<std::string> listed;
    for (const std::string& line : Lines(usage.substr(start, end - start)))
        if (line.size() > 2 && line[0] == ' ' && line[2] != ' ')
            listed.push_back(line.substr(2, line.find(' ', 2) - 2));
    const std::vector<std::string> commands = {"info",  "get",     "set",    "send",   "watch",
                                               "weigh", "restore", "backup", "diff",   "scan",
                                               "ports", "params",  "bridge", "help"};
    EXPECT_EQ(listed, commands);
    for (const std::string& command : commands) {
        if (command == "help")
            continue;
        const TRun help = Korva({"help", command});
        EXPECT_EQ(help.Exit, 0) << command;
        EXPECT_EQ(help.Out.rfind("usage: korva " + command, 0), 0u) << help.Out;
        // An unknown command is refused as such: each listed one is known.
        EXPECT_EQ(Korva({"--port", "/dev/korva-no-such-port", command}).Err.find("no command"),
                  std::string::npos)
            << command;
    }
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
