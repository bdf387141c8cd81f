// Backup names, the folder per controller and the retention of the last backups.

#include "config/ConfigBackups.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ConfigBackupsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Root = fs::temp_directory_path() / ("korva-backups-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Root);
    }
    void TearDown() override { fs::remove_all(Root); }
    static void Touch(const fs::path& path) { std::ofstream(path) << "CN A\n"; }
    // A local time as std::time_t.
    static std::time_t At(int year, int month, int day, int hour, int minute, int second) {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        t.tm_isdst = -1;
        return std::mktime(&t);
    }
    fs::path Root;
};

TEST_F(ConfigBackupsTest, ControllerNamesBecomeSafeFolderNames) {
    const std::pair<std::string, std::string> rows[] = {
        {"Cell 4", "Cell 4"},
        {"", "Unnamed controller"},
        {"  ..  ", "Unnamed controller"},
        {"../../etc", "_.._etc"}, // no way out of the root
        {"a/b\\c:d*e?", "a_b_c_d_e_"},
        {" .Line 2. ", "Line 2"}, // Windows drops trailing dots and blanks itself
        {"CON", "CON_"},
        {"com1.cfg", "com1_.cfg"}, // "com1.cfg_" would still be COM1 to Windows
        {"con.txt", "con_.txt"},
        {"Aux .cfg", "Aux_ .cfg"},
        {"CONSOLE.txt", "CONSOLE.txt"},
        {"Zelle \xC4", "Zelle _"}, // one byte of another code page
        {std::string(80, 'x'), std::string(64, 'x')},
    };
    for (const auto& [name, folder] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(TConfigBackups::FolderName(name), folder);
    }
}

TEST_F(ConfigBackupsTest, BackupsAreNamedByTimeAndNeverOverwritten) {
    TConfigBackups backups(Root);
    const std::time_t t = At(2026, 12, 8, 9, 5, 7);
    const TConfigBackups::TBackup first = backups.NewBackup("Cell 4", 3, t);
    EXPECT_EQ(first.Stem, "2026-12-08_09-05-07");
    EXPECT_EQ(first.Controller, Root / "Cell 4 (address 3)" / "2026-12-08_09-05-07 controller.cfg");
    EXPECT_EQ(first.Tool, Root / "Cell 4 (address 3)" / "2026-12-08_09-05-07 tool.cfg");
    EXPECT_TRUE(fs::is_directory(Root / "Cell 4 (address 3)"));
    Touch(first.Controller);
    // The same second again: a name of its own, even when only one file of the first is there.
    const TConfigBackups::TBackup second = backups.NewBackup("Cell 4", 3, t);
    EXPECT_EQ(second.Stem, "2026-12-08_09-05-07_2");
    Touch(second.Tool);
    EXPECT_EQ(backups.NewBackup("Cell 4", 3, t).Stem, "2026-12-08_09-05-07_3");

    // A file in the way of the folder is reported, not written over.
    Touch(Root / "Blocked (address 3)");
    EXPECT_THROW(backups.NewBackup("Blocked", 3, t), EConfig);
}

TEST_F(ConfigBackupsTest, RetentionKeepsTheNewestFiftyAndNothingElseIsTouched) {
    TConfigBackups backups(Root);
    const fs::path folder = backups.Folder("Cell 4", 3);
    fs::create_directories(folder);
    // 60 backups over two days, written in a scrambled order; the 10th second has a second backup.
    std::vector<std::string> stems;
    for (int i = 0; i < 59; ++i) {
        const int k = (i * 37) % 59;
        TConfigBackups::TBackup b = backups.NewBackup("Cell 4", 3, At(2026, 12, 7 + k / 30, 10, k % 30, 0));
        Touch(b.Controller);
        Touch(b.Tool);
    }
    TConfigBackups::TBackup extra = backups.NewBackup("Cell 4", 3, At(2026, 12, 7, 10, 9, 0));
    ASSERT_EQ(extra.Stem, "2026-12-07_10-09-00_2");
    Touch(extra.Controller); // a backup with one file still counts
    // What is not a backup stays.
    for (const char* other : {"notes.txt", "2026-12-01_10-00-00 other.cfg", "2026-12-01_10-00-00_1 tool.cfg",
                              "2026-12-01_10-00-00_02 tool.cfg", "2026-13-xx_10-00-00 tool.cfg"})
        Touch(folder / other);

    ASSERT_EQ(backups.List("Cell 4", 3).size(), 60u);
    const auto pruned = backups.Prune("Cell 4", 3);
    EXPECT_EQ(pruned.Removed.size(), 20u); // the ten oldest, two files each
    EXPECT_TRUE(pruned.Warnings.empty());
    const auto kept = backups.List("Cell 4", 3);
    ASSERT_EQ(kept.size(), TConfigBackups::KeepCount);
    // The oldest kept is the 11th oldest; "_2" sorts right after its own second.
    EXPECT_EQ(kept.front().Stem, "2026-12-07_10-09-00_2");
    EXPECT_EQ(kept[1].Stem, "2026-12-07_10-10-00");
    EXPECT_EQ(kept.back().Stem, "2026-12-08_10-28-00");
    for (const char* other : {"notes.txt", "2026-12-01_10-00-00 other.cfg", "2026-12-01_10-00-00_1 tool.cfg",
                              "2026-12-01_10-00-00_02 tool.cfg", "2026-13-xx_10-00-00 tool.cfg"})
        EXPECT_TRUE(fs::exists(folder / other)) << other;
    EXPECT_TRUE(backups.Prune("Cell 4", 3).Removed.empty());
    EXPECT_TRUE(backups.List("Nobody", 3).empty());
}

// Links and folders planted in a backup folder under backup names: a new backup takes another name
// and writes nothing elsewhere; pruning leaves them and goes on with the real backups.
TEST_F(ConfigBackupsTest, PlantedLinksAndFoldersAreNeitherFollowedNorCountedNorStopPruning) {
    TConfigBackups backups(Root);
    const fs::path folder = backups.Folder("Cell 4", 3);
    const fs::path outside = Root / "outside";
    fs::create_directories(folder);
    fs::create_directories(outside);
    const std::time_t t = At(2026, 12, 8, 9, 5, 7);
    fs::create_symlink(outside / "made.cfg", folder / "2026-12-08_09-05-07 controller.cfg"); // dangling
    const TConfigBackups::TBackup backup = backups.NewBackup("Cell 4", 3, t);
    EXPECT_EQ(backup.Stem, "2026-12-08_09-05-07_2");
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "made.cfg")));
    for (const fs::path& file : {backup.Controller, backup.Tool}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << file;
        EXPECT_EQ(fs::file_size(file), 0u) << file;
    }
    EXPECT_EQ(backups.List("Cell 4", 3).size(), 1u); // the link is no backup
    TConfigBackups::Discard(backup);
    EXPECT_FALSE(fs::exists(backup.Controller));
    EXPECT_TRUE(fs::is_symlink(folder / "2026-12-08_09-05-07 controller.cfg"));

    // 55 backups; the oldest name also held by a folder with a file in it.
    for (int minute = 0; minute < 55; ++minute) {
        const TConfigBackups::TBackup b = backups.NewBackup("Cell 4", 3, At(2026, 12, 7, 10, minute, 0));
        Touch(b.Controller);
        Touch(b.Tool);
    }
    const fs::path odd = folder / "2026-12-07_09-00-00 tool.cfg";
    fs::create_directories(odd);
    Touch(odd / "inside.txt");
    TConfigBackups::TPruneResult pruned;
    ASSERT_NO_THROW(pruned = backups.Prune("Cell 4", 3));
    EXPECT_EQ(pruned.Removed.size(), 10u);
    EXPECT_TRUE(pruned.Warnings.empty());
    EXPECT_EQ(backups.List("Cell 4", 3).size(), TConfigBackups::KeepCount);
    EXPECT_TRUE(fs::exists(odd / "inside.txt"));
    EXPECT_TRUE(fs::is_symlink(folder / "2026-12-08_09-05-07 controller.cfg"));
    EXPECT_TRUE(fs::is_empty(outside));
}

// A unit is its name and its address. Two units of one name keep fifty each; the folder named by
// the name alone, from before, is listed with the unit's own backups and never pruned, since it may
// hold the other unit's.
TEST_F(ConfigBackupsTest, EachUnitKeepsItsOwnFiftyAndTheNameOnlyFolderStays) {
    TConfigBackups backups(Root);
    EXPECT_EQ(backups.Folder("Cell 4", 3), Root / "Cell 4 (address 3)");
    EXPECT_EQ(backups.NameOnlyFolder("Cell 4"), Root / "Cell 4");
    // No controller's name makes another unit's folder, or a name-only folder a unit's.
    EXPECT_EQ(TConfigBackups::FolderName("Cell 4 (address 3)"), "Cell 4 _address 3_");

    const fs::path old = backups.NameOnlyFolder("Cell 4");
    fs::create_directories(old);
    for (int minute = 0; minute < 10; ++minute) {
        const std::string stem =
            "2026-11-01_10-" + std::string(minute < 10 ? "0" : "") + std::to_string(minute) + "-00";
        Touch(old / (stem + " controller.cfg"));
        Touch(old / (stem + " tool.cfg"));
    }
    // Fifty-five each at addresses 3 and 5, taken in turns in the same minutes.
    for (int minute = 0; minute < 55; ++minute)
        for (int address : {3, 5}) {
            const TConfigBackups::TBackup b =
                backups.NewBackup("Cell 4", address, At(2026, 12, 7, 11, minute, 0));
            EXPECT_EQ(b.Controller.parent_path(), backups.Folder("Cell 4", address));
            EXPECT_FALSE(b.NameOnly);
            Touch(b.Controller);
            Touch(b.Tool);
        }
    ASSERT_EQ(backups.List("Cell 4", 3).size(), 65u);
    EXPECT_TRUE(backups.List("Cell 4", 3).front().NameOnly); // oldest first, wherever they are

    for (int address : {3, 5}) {
        SCOPED_TRACE(address);
        const auto pruned = backups.Prune("Cell 4", address);
        EXPECT_EQ(pruned.Removed.size(), 10u);
        for (const fs::path& file : pruned.Removed)
            EXPECT_EQ(file.parent_path(), backups.Folder("Cell 4", address)) << file;
    }
    for (int address : {3, 5}) {
        SCOPED_TRACE(address);
        const auto kept = backups.List("Cell 4", address);
        ASSERT_EQ(kept.size(), TConfigBackups::KeepCount + 10);
        for (size_t i = 0; i < kept.size(); ++i)
            EXPECT_EQ(kept[i].NameOnly, i < 10) << kept[i].Controller;
        EXPECT_EQ(kept[10].Stem, "2026-12-07_11-05-00");
        EXPECT_EQ(kept.back().Stem, "2026-12-07_11-54-00");
    }
    size_t oldFiles = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(old))
        ++oldFiles;
    EXPECT_EQ(oldFiles, 20u);
    // Another unit's name: its own folder only.
    EXPECT_TRUE(backups.List("Cell 5", 3).empty());
}

TEST_F(ConfigBackupsTest, SavedLinesReadBackTheSame) {
    fs::create_directories(Root);
    const TConfigText config = TConfigText::FromLines({"CU 0", "CN Cell 4", "", "FL 3 12.500"});
    config.SaveToFile(Root / "out.cfg");
    std::ifstream in(Root / "out.cfg", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "CU 0\nCN Cell 4\n\nFL 3 12.500\n");
    EXPECT_FALSE(fs::exists(Root / "out.cfg.part"));
    EXPECT_THROW(config.SaveToFile(Root / "missing" / "out.cfg"), EConfig);

    // A link planted where the file is written first is left as it is, and so is what it names.
    std::ofstream(Root / "victim.txt") << "precious\n";
    fs::create_symlink(Root / "victim.txt", Root / "next.cfg.part");
    config.SaveToFile(Root / "next.cfg");
    EXPECT_EQ(TConfigText::ReadFile(Root / "next.cfg"), text);
    EXPECT_EQ(TConfigText::ReadFile(Root / "victim.txt"), "precious\n");
    EXPECT_TRUE(fs::is_symlink(Root / "next.cfg.part"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Root / "next.cfg.2.part")));

    // Read back whole; what is no configuration file is refused before it is read.
    EXPECT_EQ(TConfigText::ReadFile(Root / "out.cfg"), text);
    std::ofstream(Root / "big.cfg", std::ios::binary) << std::string(TConfigText::MaxFileSize + 1, 'x');
    for (const fs::path& path : {Root / "missing.cfg", Root, Root / "big.cfg", fs::path("/dev/null")})
        EXPECT_THROW(TConfigText::ReadFile(path), EConfig) << path;
}

} // namespace
