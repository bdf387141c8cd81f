// The configuration operations against the simulated controller, through the real port and link.
#include "operations/ConfigOperations.h"

#include "LinkRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct TTempFolder {
    TTempFolder()
        : Path(fs::temp_directory_path() /
               ("korva-operations-" + std::to_string(getpid()) + "-" + std::to_string(Count++))) {
        fs::remove_all(Path);
        fs::create_directories(Path);
    }
    ~TTempFolder() { fs::remove_all(Path); }
    fs::path Path;
    static inline int Count = 0;
};

std::vector<std::string> Without(std::vector<std::string> lines, const std::string& prefix) {
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::string& l) { return l.rfind(prefix, 0) != 0; }),
                lines.end());
    return lines;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::time_t At(int day, int hour) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

} // namespace

TEST(BackUpController, BothDumpsIntoANewBackupAndTheNewestKept) {
    TLinkRig rig;
    TTempFolder temp;
    const TConfigBackups backups(temp.Path);
    // An older backup of the same controller, and one more than the limit in all.
    for (size_t i = 0; i < TConfigBackups::KeepCount; ++i) {
        const TConfigBackups::TBackup old = backups.NewBackup("IXA Cell 1", At(1, 0) + std::time_t(i) * 60);
        std::ofstream(old.Controller) << "CN IXA Cell 1\n";
        std::ofstream(old.Tool) << "TN 0\n";
    }
    const auto oldest = backups.List("IXA Cell 1").front();
    size_t lines = 0;
    rig.Sim.ClearReceived();
    const TBackupResult made =
        BackUpController(rig.Link, backups, At(8, 12), [&](size_t, size_t, const AnsiString&) { ++lines; });

    EXPECT_EQ(made.Backup.Controller.parent_path(), temp.Path / "IXA Cell 1");
    const std::string controller = ReadAll(made.Backup.Controller), tool = ReadAll(made.Backup.Tool);
    EXPECT_NE(controller.find("CN IXA Cell 1\n"), std::string::npos) << controller;
    EXPECT_EQ(tool.find("CN "), std::string::npos) << tool; // the tool dump, not the controller's again
    EXPECT_NE(tool.find("TN 0\n"), std::string::npos) << tool;
    EXPECT_GT(lines, 10u);
    EXPECT_EQ(Without(rig.Sent(), "0:D"), (std::vector<std::string>{"0:DCC", "0:DTC"}));

    // Retention: the oldest backup made room for the new one.
    EXPECT_EQ(backups.List("IXA Cell 1").size(), TConfigBackups::KeepCount);
    EXPECT_EQ(made.Pruned, (std::vector<fs::path>{oldest.Controller, oldest.Tool}));
    EXPECT_FALSE(fs::exists(oldest.Controller));
    EXPECT_TRUE(made.Warnings.empty());
}

TEST(BackUpController, HalfABackupIsRemovedWholeAndNothingPruned) {
    TLinkRig rig;
    TTempFolder temp;
    const TConfigBackups backups(temp.Path);
    for (size_t i = 0; i < TConfigBackups::KeepCount; ++i) {
        const TConfigBackups::TBackup old = backups.NewBackup("IXA Cell 1", At(1, 0) + std::time_t(i) * 60);
        std::ofstream(old.Controller) << "CN IXA Cell 1\n";
        std::ofstream(old.Tool) << "TN 0\n";
    }
    rig.Sim.ScriptReply("DTC", {"Error 2", "OK"}); // the controller dump went, the tool dump fails
    EXPECT_THROW(BackUpController(rig.Link, backups, At(8, 12)), EIxa);
    const auto left = backups.List("IXA Cell 1");
    EXPECT_EQ(left.size(), TConfigBackups::KeepCount); // the old ones all kept, no half new one
    for (const auto& entry : fs::directory_iterator(temp.Path / "IXA Cell 1"))
        EXPECT_EQ(entry.path().filename().string().rfind("2026-12-01", 0), 0u) << entry.path();
}

TEST(BackUpController, OfflineRefusedBeforeAnyFolderIsMade) {
    TLinkRig rig({}, false);
    TTempFolder temp;
    const TConfigBackups backups(temp.Path / "Backups");
    EXPECT_THROW(BackUpController(rig.Link, backups, At(8, 12)), EIxaInterface);
    EXPECT_FALSE(fs::exists(backups.Root));
}

TEST(BackupFolder, UnderTheConsolesSettingsNames) {
    EXPECT_EQ(BackupFolder("/data"), fs::path("/data/Halvane/KorvaWin 3.0/Backups"));
}

TEST(CompareWithController, EachFileWithItsOwnDumpByValue) {
    TLinkRig rig;
    TTempFolder temp;
    const fs::path controllerFile = temp.Path / "controller.cfg", toolFile = temp.Path / "tool.cfg";
    rig.Link.UploadIxaCfg(controllerFile.string());
    rig.Link.UploadToolCfg(toolFile.string());
    rig.Sim.SetParameter("FL", "77.000", 3);
    rig.Sim.SetParameter("TW", "9.000", 2);
    rig.Sim.ClearReceived();

    const TControllerCompare controller =
        CompareWithController(rig.Link, ReadConfigurationFile(controllerFile));
    EXPECT_FALSE(controller.Tools);
    EXPECT_STREQ(controller.Dump(), "DCC");
    EXPECT_STREQ(controller.DumpName(), "controller");
    ASSERT_EQ(controller.Result.Differences(), 1u);
    const auto differs = std::find_if(controller.Result.Rows.begin(), controller.Result.Rows.end(),
                                      [](const TCompareRow& r) { return r.State != TCompareState::Same; });
    EXPECT_EQ(differs->Parameter, "FL 3");
    EXPECT_EQ(differs->ControllerValue, "77.000");
    EXPECT_FALSE(controller.ControllerEnglish); // the dump says its units: nothing asked

    const TControllerCompare tool = CompareWithController(rig.Link, ReadConfigurationFile(toolFile));
    EXPECT_TRUE(tool.Tools);
    EXPECT_EQ(tool.Result.Differences(), 1u); // the tool weight only, not the force level
    EXPECT_EQ(rig.Sent(2), (std::vector<std::string>{"0:DCC", "0:DTC"}));
}

TEST(CompareWithController, AFileARestoreWouldRefuseIsRefusedBeforeAnythingIsSent) {
    TTempFolder temp;
    const fs::path bad = temp.Path / "bad.cfg";
    std::ofstream(bad) << "FL 3 42.000\n" << std::string(300, 'x') << "\n";
    EXPECT_THROW(ReadConfigurationFile(bad), EIxaInterface);
    EXPECT_THROW(ReadConfigurationFile(temp.Path / "none.cfg"), EConfig);
}

TEST(CompareWithController, UnitsAskedOnlyWhenTheDumpDoesNotSayThem) {
    sim::TSimOptions english;
    english.EnglishUnits = true;
    TLinkRig rig(english);
    TTempFolder temp;
    const fs::path file = temp.Path / "c.cfg";
    std::ofstream(file) << "CN IXA Cell 1\n";
    rig.Sim.ScriptReply("DCC", {"CN IXA Cell 1", "OK"});
    rig.Sim.ClearReceived();
    const TControllerCompare compared = CompareWithController(rig.Link, ReadConfigurationFile(file));
    EXPECT_EQ(compared.ControllerEnglish, std::optional<bool>(true));
    EXPECT_EQ(rig.Sent(2), (std::vector<std::string>{"0:DCC", "0:CU?"}));
}

TEST(RestoreFile, SendsTheFileAndSavesOnlyWhenAsked) {
    TLinkRig rig;
    TTempFolder temp;
    const fs::path file = temp.Path / "restore.cfg";
    std::ofstream(file) << "FL 3 40.000\nCN Restored\n";
    rig.Sim.ClearReceived();
    const TRestoreResult saved = RestoreFile(rig.Link, file, true);
    EXPECT_EQ(saved.Lines, 2u);
    EXPECT_TRUE(saved.Saved);
    EXPECT_EQ(rig.Sent(3), (std::vector<std::string>{"0:FL 3 40.000", "0:CN Restored", "0:SC 1"}));

    EXPECT_FALSE(RestoreFile(rig.Link, file, false).Saved);
    EXPECT_EQ(rig.Sent(2), (std::vector<std::string>{"0:FL 3 40.000", "0:CN Restored"}));

    // A line the controller refuses stops it, and nothing is saved.
    std::ofstream(file) << "FL 3 41.000\nFL 5 1.000\nCN Never\n";
    rig.Sim.ScriptReply("FL 5 1.000", {"Error 3", "OK"});
    EXPECT_THROW(RestoreFile(rig.Link, file, true), EIxa);
    EXPECT_EQ(rig.Sent(2), (std::vector<std::string>{"0:FL 3 41.000", "0:FL 5 1.000"}));
    EXPECT_EQ(rig.Sim.Parameter("CN"), "Restored");
}

TEST(WeighTool, WeighsReadsAndSavesOnlyWhenAsked) {
    TLinkRig rig;
    rig.Sim.ClearReceived();
    const TWeighResult saved = WeighTool(rig.Link, true);
    EXPECT_TRUE(saved.Saved);
    EXPECT_EQ(saved.Units, "kg");
    EXPECT_DOUBLE_EQ(saved.Weight, std::stod(rig.Sim.Parameter("TW", 0)));
    EXPECT_EQ(rig.Sent(5), (std::vector<std::string>{"0:TN?", "0:ATW 0", "0:CTW?", "0:SC 1", "0:CU?"}));
    EXPECT_FALSE(WeighTool(rig.Link, false).Saved);
    const auto unsaved = rig.Sent(4);
    EXPECT_EQ(std::count(unsaved.begin(), unsaved.end(), "0:SC 1"), 0);
}

TEST(SaveControllerConfiguration, FullOrNotAndAFailureIsRaised) {
    TLinkRig rig;
    rig.Sim.ClearReceived();
    SaveControllerConfiguration(rig.Link, false);
    SaveControllerConfiguration(rig.Link, true);
    EXPECT_EQ(rig.Sent(2), (std::vector<std::string>{"0:SC", "0:SC 1"}));
    rig.Sim.ScriptReply("SC 1", {"Error 3", "OK"});
    EXPECT_THROW(SaveControllerConfiguration(rig.Link, true), EIxa);
}
