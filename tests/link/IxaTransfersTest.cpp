// Configuration files to and from the simulated controller, weighing and saving.

#include "support/LinkRig.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using sim::TSimFault;

namespace {

class TransfersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Rig.Link.Connected);
        Rig.Sim.ClearReceived();
        Dir = std::filesystem::temp_directory_path() / ("korva-cfg-" + std::to_string(::getpid()));
        std::filesystem::create_directories(Dir);
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    std::string File(const std::string& name) const { return (Dir / name).string(); }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    TLinkRig Rig;
    TIxaInterface& Link = Rig.Link;
    std::filesystem::path Dir;
};

} // namespace

TEST_F(TransfersTest, UploadedConfigurationDownloadsBackLineByLine) {
    Link.SetForceLevel(3, 12.5);
    Link.SetControllerName("Cell 4");
    Rig.Sim.ClearReceived();
    const std::string cfg = File("cell.cfg");
    Link.UploadIxaCfg(cfg);
    EXPECT_EQ(Rig.Sent(), std::vector<std::string>{"0:DCC"});
    auto lines = Lines(Read(cfg));
    ASSERT_GT(lines.size(), 10u);
    for (const auto& line : lines)
        EXPECT_NE(line, "OK");

    Link.SetForceLevel(3, 1);
    Link.SetControllerName("Other");
    Rig.Sim.ClearReceived();
    Link.DownloadCfg(cfg);
    std::vector<std::string> expected;
    for (const auto& line : lines)
        expected.push_back("0:" + line);
    EXPECT_EQ(Rig.Sent(lines.size()), expected);
    EXPECT_EQ(Link.GetForceLevel(3), 12.5);
    EXPECT_EQ(Link.GetControllerName(), "Cell 4");
    EXPECT_TRUE(Link.Connected);
}

TEST_F(TransfersTest, DownloadSendsEveryLineWhole) {
    const std::string longest = "TT " + std::string(250, 'n'); // 253 characters
    Rig.Sim.ScriptReply(longest, {"OK"});
    Write(File("edge.cfg"), "CN A\r\n\n" + longest + "\nCN\tB\nCN B");
    Rig.Sim.ScriptReply("CN\tB", {"OK"});
    Link.DownloadCfg(File("edge.cfg"));
    EXPECT_EQ(Rig.Sent(5), (std::vector<std::string>{"0:CN A", "0:", "0:" + longest, "0:CN\tB", "0:CN B"}));
    EXPECT_EQ(Rig.Sim.Parameter("CN"), "B");
}

TEST_F(TransfersTest, ABadFileIsRefusedBeforeAnythingIsSent) {
    struct {
        std::string Text;
        const char* Message;
    } rows[] = {
        {"CN A\nTT " + std::string(251, 'n') + "\n", "line 2 is longer than 253 characters"},
        {std::string("CN A\nCN B\nCN \0C\n", 16), "line 3 holds the control character 0x00"},
        {"CN A\rCN B\n", "line 1 holds the control character 0x0D"},
        {"\x7f"
         "ELF\n",
         "line 1 holds the control character 0x7F"},
        {"CN A\n\x1b[2J\n", "line 2 holds the control character 0x1B"},
        // Values the parameter registry refuses, found before the first line goes (a comparison
        // still takes such a file: CheckConfigText alone).
        {"CN A\nNA 16\n",
         "Line 2 of the file (NA 16) cannot be sent: NA (Network address) takes a value from 0 to 15"},
        {"CN A\nTN 1\nfl 16 12.000\n", "Line 3 of the file (fl 16 12.000) cannot be sent: FL (Force level) "
                                       "takes an index from 0 to 15, not 16"},
        {"CF 1,5\n", "CF (Command force) takes a number with '.' for the decimal point, not '1,5'"},
        {"CF 12.5abc\n", "not '12.5abc'"},
        {"TN 0x3\n", "TN (Selected tool) takes a whole number, not '0x3'"},
        {"MF 500.000\n", "MF (Maximum force) can only be read"},
        {"FL 3\n", "FL (Force level) needs a value after its index"},
        {"ACT 2\n", "ACT (Active) takes 0 or 1"},
    };
    for (const auto& row : rows) {
        Write(File("bad.cfg"), row.Text);
        try {
            Link.DownloadCfg(File("bad.cfg"));
            ADD_FAILURE() << row.Message;
        } catch (const EIxaInterface& e) {
            EXPECT_EQ(e.Code, 7);
            EXPECT_NE(e.Message.find(row.Message), std::string::npos) << e.Message;
        }
    }
    EXPECT_FALSE(Rig.Sim.WaitReceived(1, 100)) << "a refused file must send nothing";
    EXPECT_NO_THROW(TIxaInterface::CheckConfigText("CN A\r\n\tTN 1\n\nCN \xe9t\xe9"));
    // Sent as written, a value is not held to the three decimals of korva's own writes; a line of
    // another shape or mnemonic is the controller's to judge.
    EXPECT_NO_THROW(TIxaInterface::CheckConfigText("TW 99 1.000\nNA 16\n")); // a comparison shows them
    EXPECT_NO_THROW(TIxaInterface::CheckConfigValues("FL 3 12.5999\nCF  7\nXYZ 99\nCN?\nNA 15\n"));
}

TEST_F(TransfersTest, DownloadStopsAtTheFirstRefusedLine) {
    Write(File("bad.cfg"), "CN A\nCF 900.000\nCN B\n");
    try {
        Link.DownloadCfg(File("bad.cfg"));
        FAIL();
    } catch (const EIxa& e) {
        EXPECT_EQ(e.ErrorNumber, 3);
    }
    EXPECT_EQ(Rig.Sent(2), (std::vector<std::string>{"0:CN A", "0:CF 900.000"}));
    EXPECT_EQ(Rig.Sim.Parameter("CN"), "A");

    ExpectLinkError([&] { Link.DownloadCfg(File("missing.cfg")); }, 4, "missing file");
    EXPECT_FALSE(Rig.Sim.WaitReceived(1, 100));
}

TEST_F(TransfersTest, UploadWritesTheDumpLinesOnly) {
    Rig.Sim.ScriptReply("DTC", {"TN 1", "TT Gripper Error Free", "TW 1 2.500", "OK"});
    Link.UploadToolCfg(File("tool.cfg"));
    EXPECT_EQ(Read(File("tool.cfg")), "TN 1\nTT Gripper Error Free\nTW 1 2.500\n");
    ExpectLinkError([&] { Link.UploadIxaCfg((Dir / "no-such-dir" / "x.cfg").string()); }, 4, "bad folder");
}

TEST_F(TransfersTest, FailedUploadLeavesTheOldFileAsItWas) {
    const std::string cfg = File("keep.cfg");
    Write(cfg, "CN Old\n");
    Rig.Sim.ScriptReply("DCC", {"CN New", "FL 0 1.000", "Error 7", "OK"});
    try {
        Link.UploadIxaCfg(cfg);
        FAIL();
    } catch (const EIxa& e) {
        EXPECT_EQ(e.ErrorNumber, 7);
    }
    EXPECT_EQ(Read(cfg), "CN Old\n");
    EXPECT_FALSE(std::filesystem::exists(cfg + ".part"));

    Link.Connect(); // the "OK" after the error line is still waiting
    ASSERT_TRUE(Link.Connected);
    Link.Timeout = 200;
    Rig.Sim.ScriptReply("DCC", {"CN New"}); // the dump breaks off
    ExpectLinkError([&] { Link.UploadIxaCfg(cfg); }, 2, "dump broken off");
    EXPECT_EQ(Read(cfg), "CN Old\n");
}

// Over an existing file: its permissions stay, and a symbolic link is written through to its file.
TEST_F(TransfersTest, UploadKeepsTheTargetsModeAndWritesThroughALink) {
    namespace fs = std::filesystem;
    const std::string cfg = File("private.cfg");
    Write(cfg, "CN Old\n");
    fs::permissions(cfg, fs::perms::owner_read | fs::perms::owner_write);
    Rig.Sim.ScriptReply("DCC", {"CN New", "OK"});
    Link.UploadIxaCfg(cfg);
    EXPECT_EQ(Read(cfg), "CN New\n");
    EXPECT_EQ(fs::status(cfg).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    fs::create_directories(Dir / "store");
    const std::string real = (Dir / "store" / "cell4.cfg").string();
    Write(real, "CN Old\n");
    fs::create_symlink("store/cell4.cfg", File("current.cfg"));
    Rig.Sim.ScriptReply("DCC", {"CN Linked", "OK"});
    Link.UploadIxaCfg(File("current.cfg"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(File("current.cfg"))));
    EXPECT_EQ(Read(real), "CN Linked\n");
    EXPECT_FALSE(fs::exists(real + ".part"));

    // A link to a file not yet there creates that file.
    fs::create_symlink(Dir / "store" / "new.cfg", File("next.cfg"));
    Rig.Sim.ScriptReply("DCC", {"CN Next", "OK"});
    Link.UploadIxaCfg(File("next.cfg"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(File("next.cfg"))));
    EXPECT_EQ(Read((Dir / "store" / "new.cfg").string()), "CN Next\n");
}

// The dump's own file beside the target is created new: a link planted under its name (to a file
// elsewhere) is neither followed nor truncated, and a folder that cannot take it is named with the
// system's reason.
TEST_F(TransfersTest, UploadNeverWritesItsPartFileThroughALink) {
    namespace fs = std::filesystem;
    fs::create_directories(Dir / "elsewhere");
    const std::string victim = (Dir / "elsewhere" / "victim.txt").string();
    Write(victim, "precious\n");
    const std::string target = File("cell.cfg");
    fs::create_symlink(victim, target + ".part");
    Rig.Sim.ScriptReply("DCC", {"CN New", "OK"});
    Link.UploadIxaCfg(target);
    EXPECT_EQ(Read(target), "CN New\n");
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(target)));
    EXPECT_EQ(Read(victim), "precious\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(target + ".part"))); // not ours to remove
    EXPECT_FALSE(fs::exists(fs::symlink_status(target + ".2.part")));

    const std::string missing = (Dir / "no such folder" / "x.cfg").string();
    try {
        Link.UploadIxaCfg(missing);
        ADD_FAILURE() << "no error";
    } catch (const EIxaInterface& e) {
        EXPECT_EQ(e.Code, 4);
        EXPECT_EQ(e.Message, "Couldn't open file! " + missing + ".part: " + std::strerror(ENOENT) + ".");
    }
}

// A target that cannot be written (a read-only file, a folder) is refused before the controller is
// asked for anything.
TEST_F(TransfersTest, UploadRefusesATargetThatCannotBeWrittenBeforeSending) {
    namespace fs = std::filesystem;
    const std::string locked = File("locked.cfg");
    Write(locked, "CN Old\n");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directories(Dir / "folder.cfg");
    for (const std::string& target : {locked, File("folder.cfg")}) {
        SCOPED_TRACE(target);
        Rig.Sim.ClearReceived();
        ExpectLinkError([&] { Link.UploadIxaCfg(target); }, 4, "cannot be written");
        EXPECT_FALSE(Rig.Sim.WaitReceived(1, 100)) << "the dump was asked for";
        EXPECT_FALSE(fs::exists(target + ".part"));
        EXPECT_TRUE(Link.Connected);
    }
    EXPECT_EQ(Read(locked), "CN Old\n");
    EXPECT_TRUE(fs::is_directory(File("folder.cfg")));
}

TEST_F(TransfersTest, WeighingAllowsTwentySecondsPerLine) {
    // Only the link's own time limits, the same over every transport: the local line tests them.
    if (!LocalTransport())
        GTEST_SKIP() << "time limits only, tested on the local line";
    Link.SetToolNumber(2);
    Rig.Sim.ClearReceived();
    Rig.Sim.ScriptReply("ATW 2", {"OK"});
    Rig.Sim.InjectFault(TSimFault::LateLine, 2, 1100); // longer than the usual 1000 ms
    Link.AutoWeigh();
    EXPECT_EQ(Rig.Sent(2), (std::vector<std::string>{"0:TN?", "0:ATW 2"}));
    EXPECT_EQ(Link.Timeout, 1000);

    Rig.Sim.ScriptReply("ATW 2", {"Error 5", "OK"});
    EXPECT_THROW(Link.AutoWeigh(), EIxa);
    EXPECT_EQ(Link.Timeout, 1000);
}

TEST_F(TransfersTest, AFailedSaveReachesTheCaller) {
    Link.SaveConfiguration(false);
    Link.SaveConfiguration(true);
    EXPECT_EQ(Rig.Sent(2), (std::vector<std::string>{"0:SC", "0:SC 1"}));

    Rig.Sim.ScriptReply("SC", {"Error 5", "OK"});
    EXPECT_THROW(Link.SaveConfiguration(false), EIxa);

    Rig.Sim.InjectFault(TSimFault::Silent, 1);
    auto start = std::chrono::steady_clock::now();
    ExpectLinkError([&] { Link.SaveConfiguration(false); }, 2, "unanswered save");
    EXPECT_GE(MillisecondsSince(start), 3900);
    EXPECT_EQ(Link.Timeout, 1000);
    auto other = std::async(std::launch::async, [&] { TLinkLock lock(Link); });
    EXPECT_EQ(other.wait_for(std::chrono::seconds(2)), std::future_status::ready);
}

TEST_F(TransfersTest, OnlyARegularFileOfBoundedSizeIsRead) {
    // A named pipe would block the open for good, a link to /dev/zero fill memory: both are refused
    // before anything is opened or read, and so are a folder and a file past the bound.
    const std::string fifo = File("pipe.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", File("zero.cfg"));
    std::filesystem::create_directory(File("folder.cfg"));
    Write(File("huge.cfg"), std::string(TIxaInterface::MaxConfigBytes - 3, 'x') + "\nCN A\n");
    const struct {
        std::string Name;
        const char* Message;
    } rows[] = {
        {"pipe.cfg", "is not a regular file"},
        {"zero.cfg", "is not a regular file"},
        {"folder.cfg", "is not a regular file"},
        {"huge.cfg", "is larger than 1024 kB"},
    };
    for (const auto& row : rows) {
        auto download = std::async(std::launch::async, [&] { Link.DownloadCfg(File(row.Name)); });
        ASSERT_EQ(download.wait_for(std::chrono::seconds(5)), std::future_status::ready) << row.Name;
        try {
            download.get();
            ADD_FAILURE() << row.Name;
        } catch (const EIxaInterface& e) {
            EXPECT_EQ(e.Code, 4) << row.Name;
            EXPECT_NE(e.Message.find(File(row.Name) + " " + row.Message), std::string::npos) << e.Message;
        }
    }
    EXPECT_FALSE(Rig.Sim.WaitReceived(1, 100)) << "a refused file must send nothing";

    // A link to a good file is followed, and a file right at the bound is taken.
    std::filesystem::create_symlink(File("huge.cfg"), File("link.cfg"));
    std::filesystem::resize_file(File("huge.cfg"), TIxaInterface::MaxConfigBytes);
    ExpectLinkError([&] { Link.DownloadCfg(File("link.cfg")); }, 7, "read, and its first line too long");
    Write(File("good.cfg"), "CN Linked\n");
    std::filesystem::remove(File("link.cfg"));
    std::filesystem::create_symlink(File("good.cfg"), File("link.cfg"));
    Link.DownloadCfg(File("link.cfg"));
    EXPECT_EQ(Rig.Sim.Parameter("CN"), "Linked");
}

TEST_F(TransfersTest, ADumpPastItsBoundsIsABadReply) {
    const std::string cfg = File("keep.cfg");
    Write(cfg, "CN Old\n");
    // A dump that never ends: refused at the line bound, within its time, the old file kept.
    Rig.Sim.InjectFault(TSimFault::EndlessDump);
    auto upload = std::async(std::launch::async, [&] { Link.UploadIxaCfg(cfg); });
    ASSERT_EQ(upload.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the upload never ended";
    try {
        upload.get();
        ADD_FAILURE() << "an endless dump was taken";
    } catch (const EIxaInterface& e) {
        EXPECT_EQ(e.Code, 3);
        EXPECT_NE(e.Message.find("4096 lines"), std::string::npos) << e.Message;
    }
    EXPECT_FALSE(Link.Connected) << "the rest of the dump is still on the line";
    EXPECT_EQ(Read(cfg), "CN Old\n");
    EXPECT_FALSE(std::filesystem::exists(cfg + ".part"));
    // The handshake waits for the line to go quiet and brings the link back (a serial server may
    // still hold some of the stream for a handshake or two).
    for (int attempt = 0; attempt < 10 && !Link.Connected; ++attempt)
        Link.Connect();
    ASSERT_TRUE(Link.Connected);

    // Right at the bounds is a dump; one line or one character more is not.
    std::vector<std::string> lines(TIxaInterface::MaxDumpLines, "FL 0 1.000");
    lines.push_back("OK");
    Rig.Sim.ScriptReply("DCC", lines);
    Link.UploadIxaCfg(cfg);
    EXPECT_EQ(Lines(Read(cfg)).size(), TIxaInterface::MaxDumpLines);
    lines.insert(lines.begin(), "CN Extra");
    Rig.Sim.ScriptReply("DCC", lines);
    ExpectLinkError([&] { Link.UploadIxaCfg(File("more.cfg")); }, 3, "one line too many");
    Link.Connect();
    ASSERT_TRUE(Link.Connected);
    Rig.Sim.ScriptReply("DCC", {"CN " + std::string(TIxaInterface::MaxConfigLine - 2, 'n'), "OK"});
    ExpectLinkError([&] { Link.UploadIxaCfg(File("long.cfg")); }, 3, "a line no download would take");
    EXPECT_FALSE(std::filesystem::exists(File("long.cfg")));
}
