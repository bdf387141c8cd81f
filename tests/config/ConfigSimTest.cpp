// Compare and backups against the simulated controller through the real link: the in-memory
// upload, a file changed in three parameters, a file in other units, backups that download back.

#include "config/ConfigBackups.h"
#include "config/ConfigCompare.h"
#include "support/LinkRig.h"

#include <fstream>
#include <numeric>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ConfigSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Rig.Link.Connected);
        Rig.Sim.ClearReceived();
        Dir = fs::temp_directory_path() / ("korva-config-sim-" + std::to_string(::getpid()));
        fs::create_directories(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }

    // Every line of the dump with these replaced (by mnemonic and index, "FL 5").
    static std::vector<AnsiString> Changed(const std::vector<AnsiString>& dump,
                                           const std::vector<std::pair<AnsiString, AnsiString>>& changes) {
        std::vector<AnsiString> lines = dump;
        for (AnsiString& line : lines)
            for (const auto& [key, replacement] : changes)
                if (TConfigText::FromLines({line}).Entries[0].Key == key)
                    line = replacement;
        return lines;
    }

    TLinkRig Rig;
    TIxaInterface& Link = Rig.Link;
    fs::path Dir;
};

TEST_F(ConfigSimTest, CompareMarksExactlyTheChangedParameters) {
    std::vector<size_t> seen;
    const TStringList dump = Link.UploadCfgLines("DCC", [&](size_t n, size_t total, const AnsiString& line) {
        EXPECT_EQ(total, 0u);
        EXPECT_NE(line, "OK");
        seen.push_back(n);
    });
    EXPECT_EQ(Rig.Sent(), std::vector<std::string>{"0:DCC"});
    ASSERT_EQ(dump.size(), 51u);
    ASSERT_EQ(seen.size(), 51u);
    EXPECT_EQ(seen.back(), 51u);

    // Three real changes (a number, the name, a force level) and two that only reformat values.
    const TConfigText controller = TConfigText::FromLines(dump);
    const AnsiString fl5 = controller.Find("FL 5")->Value;
    const std::vector<AnsiString> file =
        Changed(dump, {{"FS", "FS 2.250"},
                       {"CN", "CN Cell 9"},
                       {"FL 5", "FL 5 " + std::to_string(std::stod(fl5) + 1.5)},
                       {"RLP", "RLP " + std::to_string(std::stod(controller.Find("RLP")->Value))},
                       {"CFI", "CFI 0" + controller.Find("CFI")->Value}});
    const TConfigCompare result = TConfigCompare::Compare(TConfigText::FromLines(file), controller);
    std::vector<AnsiString> differing;
    for (const TCompareRow& row : result.Rows)
        if (row.State != TCompareState::Same)
            differing.push_back(row.Key);
    EXPECT_EQ(differing, (std::vector<AnsiString>{"CN", "FS", "FL 5"}));
    EXPECT_EQ(result.Rows.size(), 51u);
    EXPECT_FALSE(result.UnitsDiffer());

    // Downloaded, the file leaves nothing different.
    const fs::path path = Dir / "changed.cfg";
    TConfigText::FromLines(file).SaveToFile(path);
    Link.DownloadCfg(path.string());
    const TConfigCompare after = TConfigCompare::Compare(TConfigText::FromLines(file),
                                                         TConfigText::FromLines(Link.UploadCfgLines("DCC")));
    EXPECT_EQ(after.Differences(), 0u);
}

TEST_F(ConfigSimTest, AToolFileIsComparedWithTheToolDumpAndOtherUnitsWarn) {
    const TConfigText tools = TConfigText::FromLines(Link.UploadCfgLines("DTC"));
    EXPECT_TRUE(tools.IsToolConfiguration());
    EXPECT_FALSE(TConfigText::FromLines(Link.UploadCfgLines("DCC")).IsToolConfiguration());

    // The same controller's dump in English units: every number differs, and the units say why.
    sim::TSimOptions options;
    options.EnglishUnits = true;
    TLinkRig english(options);
    const TConfigText file = TConfigText::FromLines(english.Link.UploadCfgLines("DTC"));
    const TConfigCompare result = TConfigCompare::Compare(file, tools);
    EXPECT_TRUE(result.UnitsDiffer());
    EXPECT_EQ(result.FileEnglish, true);
    EXPECT_EQ(result.ControllerEnglish, false);
    EXPECT_FALSE(result.UnitsWarning().empty());
    const TCompareRow* tw = nullptr;
    for (const TCompareRow& row : result.Rows)
        if (row.Key == "TW 1")
            tw = &row;
    ASSERT_NE(tw, nullptr);
    EXPECT_EQ(tw->FileUnits, "Lb.");
    EXPECT_EQ(tw->ControllerUnits, "kg");
}

TEST_F(ConfigSimTest, ABackupIsTwoFilesThatDownloadBackCleanly) {
    const TConfigBackups backups(Dir / "backups");
    const TConfigBackups::TBackup backup = backups.NewBackup(Link.GetControllerName(), 0, std::time(nullptr));
    Link.UploadIxaCfg(backup.Controller.string());
    Link.UploadToolCfg(backup.Tool.string());
    ASSERT_EQ(backups.List(Link.GetControllerName(), 0).size(), 1u);
    const TStringList controllerBefore = Link.UploadCfgLines("DCC");
    const TStringList toolsBefore = Link.UploadCfgLines("DTC");

    Link.SetForceLevel(2, 7.5);
    Link.SetToolWeight(3, 0.25);
    Rig.Sim.ClearReceived();
    for (const fs::path& file : {backup.Controller, backup.Tool}) {
        std::vector<size_t> numbers;
        size_t lines = 0;
        Link.DownloadCfg(file.string(), [&](size_t n, size_t total, const AnsiString&) {
            numbers.push_back(n);
            lines = total;
        });
        ASSERT_GT(lines, 0u);
        std::vector<size_t> expected(lines);
        std::iota(expected.begin(), expected.end(), 1u);
        EXPECT_EQ(numbers, expected);
    }
    EXPECT_TRUE(Link.Connected);
    EXPECT_EQ(Link.UploadCfgLines("DCC"), controllerBefore);
    EXPECT_EQ(Link.UploadCfgLines("DTC"), toolsBefore);
}

TEST_F(ConfigSimTest, ProgressNamesTheRefusedLine) {
    const fs::path path = Dir / "refused.cfg";
    std::ofstream(path) << "CN Cell 4\nFL 0 1.000\nFL 0 99999.000\nCN never\n";
    AnsiString last;
    size_t lastNumber = 0;
    try {
        Link.DownloadCfg(path.string(), [&](size_t n, size_t total, const AnsiString& line) {
            EXPECT_EQ(total, 4u);
            lastNumber = n;
            last = line;
        });
        ADD_FAILURE() << "the out-of-range force level was taken";
    } catch (const EIxa& error) {
        EXPECT_EQ(error.Message, "Error 3");
    }
    EXPECT_EQ(lastNumber, 3u);
    EXPECT_EQ(last, "FL 0 99999.000");
    EXPECT_EQ(Link.GetControllerName(), "Cell 4");
}

// Links planted in a backup folder under the next backup's names: the backup lands in the folder, and
// nothing outside it is created or changed.
TEST_F(ConfigSimTest, ABackupNeverWritesThroughLinksOutOfItsFolder) {
    const TConfigBackups backups(Dir / "backups");
    const AnsiString name = Link.GetControllerName();
    const fs::path folder = backups.Folder(name, 0);
    const fs::path outside = Dir / "outside";
    fs::create_directories(folder);
    fs::create_directories(outside);
    std::ofstream(outside / "existing.cfg") << "precious\n";
    const std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    const std::string stem = TConfigBackups::Stem(local);
    fs::create_symlink(outside / "created.cfg", folder / (stem + " controller.cfg"));
    for (const char* part : {" controller.cfg.part", " tool.cfg.part"}) {
        fs::create_symlink(outside / "existing.cfg", folder / (stem + part));
        fs::create_symlink(outside / "existing.cfg", folder / (stem + "_2" + part));
    }

    const TConfigBackups::TBackup backup = backups.NewBackup(name, 0, now);
    Link.UploadIxaCfg(backup.Controller.string());
    Link.UploadToolCfg(backup.Tool.string());
    EXPECT_EQ(backup.Controller.parent_path(), folder);
    for (const fs::path& file : {backup.Controller, backup.Tool}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << file;
        EXPECT_GT(fs::file_size(file), 0u) << file;
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "created.cfg")));
    std::ifstream in(outside / "existing.cfg");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious\n");
    size_t outsideFiles = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(outside))
        ++outsideFiles;
    EXPECT_EQ(outsideFiles, 1u);
}

TEST_F(ConfigSimTest, AnOverlongDumpIsRefused) {
    std::vector<std::string> reply(TIxaInterface::MaxDumpLines + 1, "FL 0 1.000");
    reply.push_back("OK");
    Rig.Sim.ScriptReply("DCC", reply);
    try {
        Link.UploadCfgLines("DCC");
        ADD_FAILURE() << "no error";
    } catch (const EIxaInterface& error) {
        EXPECT_EQ(error.Code, 3);
    }
}

} // namespace
