// The configuration operations against the simulated controller, through the real port and link.
#include "operations/ConfigOperations.h"
#include "operations/OperationNotices.h"

#include "support/LinkRig.h"

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

// As many older backups of the unit at address 0 as are kept, a minute apart.
void FillToTheLimit(const TConfigBackups& backups) {
    for (size_t i = 0; i < TConfigBackups::KeepCount; ++i) {
        const TConfigBackups::TBackup old =
            backups.NewBackup("IXA Cell 1", 0, At(1, 0) + std::time_t(i) * 60);
        std::ofstream(old.Controller) << "CN IXA Cell 1\n";
        std::ofstream(old.Tool) << "TN 0\n";
    }
}

} // namespace

TEST(BackUpController, BothDumpsIntoANewBackupAndTheNewestKept) {
    TLinkRig rig;
    TTempFolder temp;
    const TConfigBackups backups(temp.Path);
    // Older backups of the same controller: with the new one, one more than the limit in all.
    FillToTheLimit(backups);
    const auto oldest = backups.List("IXA Cell 1", 0).front();
    size_t lines = 0;
    rig.Sim.ClearReceived();
    const TBackupResult made =
        BackUpController(rig.Link, backups, At(8, 12), [&](size_t, size_t, const AnsiString&) { ++lines; });

    EXPECT_EQ(made.Backup.Controller.parent_path(), temp.Path / "IXA Cell 1 (address 0)");
    const std::string controller = ReadAll(made.Backup.Controller), tool = ReadAll(made.Backup.Tool);
    EXPECT_NE(controller.find("CN IXA Cell 1\n"), std::string::npos) << controller;
    EXPECT_EQ(tool.find("CN "), std::string::npos) << tool; // the tool dump, not the controller's again
    EXPECT_NE(tool.find("TN 0\n"), std::string::npos) << tool;
    EXPECT_GT(lines, 10u);
    EXPECT_EQ(Without(rig.Sent(), "0:D"), (std::vector<std::string>{"0:DCC", "0:DTC"}));

    // Retention: the oldest backup made room for the new one.
    EXPECT_EQ(backups.List("IXA Cell 1", 0).size(), TConfigBackups::KeepCount);
    EXPECT_EQ(made.Pruned, (std::vector<fs::path>{oldest.Controller, oldest.Tool}));
    EXPECT_FALSE(fs::exists(oldest.Controller));
    EXPECT_TRUE(made.Warnings.empty());
}

// Two units of one name on the line: each backup goes to the folder of the unit the link talks to.
TEST(BackUpController, TheUnitsAddressIsPartOfItsFolder) {
    sim::TSimOptions options;
    options.Units = {0, 3};
    TLinkRig rig(options);
    rig.Sim.SetUnitParameter(3, "CN", "IXA Cell 1");
    TTempFolder temp;
    const TConfigBackups backups(temp.Path);
    const TBackupResult first = BackUpController(rig.Link, backups, At(8, 12));
    rig.Link.Address = 3;
    rig.Link.Connect();
    ASSERT_TRUE(rig.Link.Connected);
    const TBackupResult second = BackUpController(rig.Link, backups, At(8, 12));
    EXPECT_EQ(first.Backup.Controller.parent_path(), temp.Path / "IXA Cell 1 (address 0)");
    EXPECT_EQ(second.Backup.Controller.parent_path(), temp.Path / "IXA Cell 1 (address 3)");
    EXPECT_NE(ReadAll(second.Backup.Controller).find("NA 3\n"), std::string::npos);
}

TEST(BackUpController, HalfABackupIsRemovedWholeAndNothingPruned) {
    TLinkRig rig;
    TTempFolder temp;
    const TConfigBackups backups(temp.Path);
    FillToTheLimit(backups);
    rig.Sim.ScriptReply("DTC", {"Error 2", "OK"}); // the controller dump went, the tool dump fails
    EXPECT_THROW(BackUpController(rig.Link, backups, At(8, 12)), EIxa);
    const auto left = backups.List("IXA Cell 1", 0);
    EXPECT_EQ(left.size(), TConfigBackups::KeepCount); // the old ones all kept, no half new one
    for (const auto& entry : fs::directory_iterator(temp.Path / "IXA Cell 1 (address 0)"))
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

// The writes a download sent, without the queries that plan it.
std::vector<std::string> Writes(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.find('?') == std::string::npos)
            out.push_back(l);
    return out;
}

TEST(RestoreFile, SendsTheFileAndSavesOnlyWhenAsked) {
    TLinkRig rig;
    TTempFolder temp;
    const fs::path file = temp.Path / "restore.cfg";
    std::ofstream(file) << "FL 3 40.000\nCN IXA Cell 1\n";
    rig.Sim.ClearReceived();
    const TRestoreResult saved = RestoreFile(rig.Link, file, true);
    EXPECT_EQ(saved.Lines, 2u);
    EXPECT_TRUE(saved.Saved);
    rig.Sim.WaitReceived(8, 2000);
    EXPECT_EQ(Writes(rig.Sent()), (std::vector<std::string>{"0:FL 3 40.000", "0:CN IXA Cell 1", "0:SC 1"}));

    EXPECT_FALSE(RestoreFile(rig.Link, file, false).Saved);
    rig.Sim.WaitReceived(7, 2000);
    EXPECT_EQ(Writes(rig.Sent()), (std::vector<std::string>{"0:FL 3 40.000", "0:CN IXA Cell 1"}));
}

// Three units on one line, as a plant has them; the panel speaks to the unit at address 3.
struct TBusRig : TLinkRig {
    static sim::TSimOptions Bus() {
        sim::TSimOptions options;
        options.Units = {0, 3, 7};
        return options;
    }
    TBusRig() : TLinkRig(Bus(), false) {
        Link.Address = 3;
        Link.Connect();
    }
};

TEST(RestoreFile, AnotherUnitsFileKeepsTheTargetsAddressAndNameUnlessAsked) {
    TBusRig rig;
    ASSERT_TRUE(rig.Link.Connected);
    TTempFolder temp;
    const fs::path cell1 = temp.Path / "cell1.cfg";
    rig.Sim.SetUnitParameter(0, "FL", "77.000", 3);
    rig.Link.Address = 0;
    rig.Link.UploadIxaCfg(cell1.string()); // ends with "NA 0"
    rig.Link.Address = 3;

    const TDownloadPlan plan = PlanDownload(rig.Link, cell1);
    ASSERT_EQ(plan.Changes.size(), 2u);
    EXPECT_EQ(plan.Changes[0].Mnemonic, "CN");
    EXPECT_EQ(plan.Changes[0].Now, "IXA Cell 2");
    EXPECT_EQ(plan.Changes[0].File, "IXA Cell 1");
    EXPECT_EQ(plan.Changes[1].Mnemonic, "NA");
    EXPECT_EQ(plan.Changes[1].Now, "3");
    EXPECT_EQ(plan.Changes[1].File, "0");
    EXPECT_TRUE(plan.Changes[1].Taken); // unit 0 answers there
    EXPECT_FALSE(plan.Active);
    EXPECT_EQ(rig.Link.Address, 3);

    const TRestoreResult kept = RestoreFile(rig.Link, cell1, true);
    EXPECT_EQ(kept.LeftOut, (std::vector<size_t>{plan.Changes[0].LineNumber, plan.Changes[1].LineNumber}));
    EXPECT_FALSE(kept.MovedTo);
    EXPECT_TRUE(kept.Saved);
    EXPECT_EQ(rig.Sim.UnitParameter(3, "FL", 3), "77.000"); // the rest applied
    EXPECT_EQ(rig.Sim.UnitParameter(3, "CN"), "IXA Cell 2");
    EXPECT_EQ(rig.Sim.UnitParameter(3, "NA"), "3");
    EXPECT_EQ(rig.Sim.UnitParameter(0, "CN"), "IXA Cell 1");

    // Moved when asked, to a free address: the rest follows it, the link's address stays.
    std::string text = ReadAll(cell1);
    text.replace(text.rfind("NA 0"), 4, "NA 5");
    std::ofstream(cell1) << text;
    const TDownloadPlan free = PlanDownload(rig.Link, cell1);
    ASSERT_EQ(free.Changes.size(), 2u);
    EXPECT_FALSE(free.Changes[1].Taken);
    const TRestoreResult moved = RestoreFile(rig.Link, cell1, true, {}, true, false);
    EXPECT_EQ(moved.MovedTo, std::optional<int>(5));
    EXPECT_FALSE(moved.Saved); // not at an address the link reaches
    EXPECT_EQ(rig.Link.Address, 3);
    EXPECT_EQ(rig.Sim.UnitParameter(5, "CN"), "IXA Cell 2");
    EXPECT_THROW(rig.Sim.UnitParameter(3, "CN"), std::invalid_argument);
}

TEST(RestoreFile, EveryValueCheckedBeforeAnythingIsSent) {
    TLinkRig rig;
    TTempFolder temp;
    const fs::path bad = temp.Path / "bad.cfg";
    {
        std::ofstream out(bad);
        for (int i = 1; i < 30; ++i)
            out << "FL " << (i % 16) << " 10.000\n";
        out << "FL 5 99999.000\n" // 30: above the maximum force
            << "FL 16 1.000\n"    // 31: no such force level
            << "NA 16\n"          // 32: no such address
            << "CU 2\n"           // 33: no flag
            << "MF 400.000\n"     // 34: read only
            << "XYZ 1\n"          // 35: no parameter
            << "FL 3 -250.000\n"  // 36: below the heaviest tool hanging on the slide
            << "CP abc\n"         // 37: no number
            << "CU 1\n"           // 38: English from here on
            << "FL 2 112.000\n"   // 39: 112 Lbf. is below 500 N
            << "FL 2 113.000\n";  // 40: above it
    }
    rig.Sim.ClearReceived();
    try {
        RestoreFile(rig.Link, bad, true);
        ADD_FAILURE() << "the file was taken";
    } catch (const EConfigRefused& refused) {
        std::vector<size_t> numbers;
        for (const TRefusedLine& line : refused.Refused)
            numbers.push_back(line.LineNumber);
        EXPECT_EQ(numbers, (std::vector<size_t>{30, 31, 32, 33, 34, 35, 36, 37, 40}));
        EXPECT_NE(
            refused.Message.find("Line 30 (\"FL 5 99999.000\"): 99999.000 is out of range: the force level "
                                 "runs from -245.000 to 500.000 N."),
            std::string::npos)
            << refused.Message;
        EXPECT_NE(
            refused.Message.find("\nLine 31 (\"FL 16 1.000\"): FL (Force level) takes an index from 0 to 15, "
                                 "not 16.\n"),
            std::string::npos)
            << refused.Message;
        EXPECT_NE(
            refused.Message.find("\nLine 32 (\"NA 16\"): NA (Network address) takes a value from 0 to 15"),
            std::string::npos);
        EXPECT_NE(refused.Message.find("\nLine 34 (\"MF 400.000\"): MF (Maximum force) can only be read.\n"),
                  std::string::npos);
        EXPECT_NE(refused.Message.find("\nLine 35 (\"XYZ 1\"): \"XYZ\" is no parameter of the controller.\n"),
                  std::string::npos);
        EXPECT_NE(refused.Message.find(
                      "\nLine 40 (\"FL 2 113.000\"): 113.000 is out of range: the force level runs "
                      "from -55.116 to 112.404 Lbf."),
                  std::string::npos);
    }
    EXPECT_TRUE(Writes(rig.Sim.Received()).empty());
    EXPECT_NE(rig.Sim.Parameter("FL", 1), "10.000");
}

TEST(RestoreFile, ARefusalMidWayNamesTheAppliedLinesAndTheBackupPutsThemBack) {
    TBusRig rig;
    TTempFolder temp;
    const TConfigBackups backups(temp.Path / "Backups");
    const TBackupResult before = BackUpController(rig.Link, backups, At(8, 12));
    const fs::path file = temp.Path / "partial.cfg";
    std::ofstream(file) << "FL 3 40.000\nFL 4 41.000\n\nFL 6 42.000\nFL 7 43.000\n";
    rig.Sim.ScriptReply("FL 6 42.000", {"Error 3", "OK"}); // what the check cannot know
    try {
        RestoreFile(rig.Link, file, true);
        ADD_FAILURE() << "no refusal";
    } catch (const ERestoreRefused& refused) {
        EXPECT_EQ(refused.ErrorNumber, 3);
        EXPECT_EQ(refused.LineNumber, 4u);
        EXPECT_EQ(refused.Applied, (std::vector<size_t>{1, 2}));
        EXPECT_EQ(refused.Message, "Line 4 of 5 (\"FL 6 42.000\") was refused by the controller: Error 3. "
                                   "The controller took lines 1 and 2; the rest was not sent.");
    }
    EXPECT_EQ(rig.Sim.UnitParameter(3, "FL", 4), "41.000");
    EXPECT_EQ(
        CompareWithController(rig.Link, ReadConfigurationFile(before.Backup.Controller)).Result.Differences(),
        2u);
    RestoreFile(rig.Link, before.Backup.Controller, false);
    EXPECT_EQ(
        CompareWithController(rig.Link, ReadConfigurationFile(before.Backup.Controller)).Result.Differences(),
        0u);
}

TEST(WeighTool, WeighsReadsAndSavesOnlyWhenAsked) {
    // A weighing of 1.2 s instead of 3: still past the ordinary reply limit, which it must not meet.
    sim::TSimOptions options;
    options.WeighMs = 1200;
    TLinkRig rig(options);
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

namespace {
// What the operations told, in order, for one link.
struct TNoticeRecorder final : TOperationListener {
    explicit TNoticeRecorder(const TIxaInterface& link) : Link(link) { AddOperationListener(this); }
    ~TNoticeRecorder() override { RemoveOperationListener(this); }
    void OnOperation(const TIxaInterface& link, TOperationNotice notice,
                     const std::string& detail) noexcept override {
        if (&link == &Link)
            Notices.emplace_back(notice, detail);
    }
    const TIxaInterface& Link;
    std::vector<std::pair<TOperationNotice, std::string>> Notices;
};
} // namespace

TEST(OperationNotices, EachOperationThatSucceededIsToldOnceWithWhatItDid) {
    using N = TOperationNotice;
    TLinkRig rig;
    TTempFolder temp;
    TNoticeRecorder recorder(rig.Link);
    const fs::path file = temp.Path / "restore.cfg";
    std::ofstream(file) << "FL 3 40.000\n\nCN IXA Cell 1\n";
    RestoreFile(rig.Link, file, true);
    const TBackupResult backup = BackUpController(rig.Link, TConfigBackups(temp.Path / "Backups"), At(8, 12));
    SaveControllerConfiguration(rig.Link, false);
    using TList = std::vector<std::pair<TOperationNotice, std::string>>;
    EXPECT_EQ(recorder.Notices, (TList{{N::ConfigurationDownloaded, "restore.cfg (2 lines)"},
                                       {N::SavedToController, "full"},
                                       {N::BackupTaken, backup.Backup.Stem},
                                       {N::SavedToController, ""}}));

    // What failed is not told: a refused save, a download refused mid-way.
    recorder.Notices.clear();
    rig.Sim.ScriptReply("SC", {"Error 3", "OK"});
    EXPECT_THROW(SaveControllerConfiguration(rig.Link, false), EIxa);
    rig.Sim.ScriptReply("CN IXA Cell 1", {"Error 3", "OK"});
    EXPECT_THROW(RestoreFile(rig.Link, file, false), ERestoreRefused);
    EXPECT_TRUE(recorder.Notices.empty());
}
