// Compare, backups and transfer progress from the File menu, against the simulated controller: a
// file changed in three parameters, a file in other units, backups under a data folder of the test.

#include "support/HelpKey.h"
#include "support/PanelTestSupport.h"

#include "config/ConfigBackups.h"
#include "dialogs/Options.h"
#include "operations/ConfigOperations.h"
#include "panel/Compareconfig.h"
#include "panel/Downloadingconfig.h"
#include "toolkit/Text.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QUrl>

#include <fstream>

namespace {

using TRows = std::vector<std::string>;

class TConfigSafetyTest : public TPanelTest {
protected:
    TConfigSafetyTest() { qputenv("XDG_DATA_HOME", Data.path().toLocal8Bit()); }
    ~TConfigSafetyTest() override { qunsetenv("XDG_DATA_HOME"); }

    QString Path(const char* name) const { return QDir(Files.path()).filePath(name); }
    static void Write(const QString& path, const TLines& lines) {
        std::ofstream out(path.toStdString(), std::ios::binary);
        for (const std::string& line : lines)
            out << line << "\n";
    }
    static TLines Read(const std::filesystem::path& path) {
        TLines lines;
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    static TLines Prefixed(const TLines& lines) {
        TLines out;
        for (const std::string& line : lines)
            out.push_back("0:" + line);
        return out;
    }
    // The controller's dump, through the panel's own link.
    TLines Dump(const char* command) {
        const TLines lines = Panel->Link->UploadCfgLines(command);
        Sim->ClearReceived();
        return lines;
    }
    static TLines Changed(TLines lines, const std::vector<std::pair<std::string, std::string>>& changes) {
        for (std::string& line : lines)
            for (const auto& [key, replacement] : changes)
                if (TConfigText::FromLines({line}).Entries[0].Key == key)
                    line = replacement;
        return lines;
    }
    TCompareConfigForm* CompareForm() const {
        return dynamic_cast<TCompareConfigForm*>(Panel->Files.CompareWindow.data());
    }
    // The keys of the rows marked as different, in table order; only the shown rows when visibleOnly.
    TRows Marked(bool visibleOnly = false) const {
        TRows keys;
        const TCompareConfigForm* form = CompareForm();
        for (int r = 0; r < form->Table->rowCount(); ++r)
            if (!form->Table->item(r, TCompareConfigForm::StateColumn)->text().isEmpty() &&
                (!visibleOnly || !form->Table->isRowHidden(r)))
                keys.push_back(ToAnsi(form->Table->item(r, TCompareConfigForm::ParameterColumn)->text()));
        return keys;
    }
    int ShownRows() const {
        int n = 0;
        for (int r = 0; r < CompareForm()->Table->rowCount(); ++r)
            n += CompareForm()->Table->isRowHidden(r) ? 0 : 1;
        return n;
    }
    TConfigBackups Backups() const {
        return TConfigBackups(QFile::encodeName(TFileLauncher::BackupRoot()).toStdString());
    }
    // The text of the hidden download window's progress line, while it still exists.
    static QString DownloadProgress() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* busy = dynamic_cast<TDownloadConfig*>(w); busy && busy->Progress)
                return busy->Progress->text();
        return "";
    }

    QTemporaryDir Files, Data;
};

TEST_F(TConfigSafetyTest, CompareMarksExactlyTheChangesAndDownloadsTheSameFile) {
    TKorvaControlPanel& p = Online();
    const TLines dump = Dump("DCC");
    ASSERT_EQ(dump.size(), 51u);
    const TConfigText controller = TConfigText::FromLines(dump);
    const double fl5 = std::stod(controller.Find("FL 5")->Value);
    // A number, the name and a force level changed; the limit written without its decimals.
    const TLines file = Changed(
        dump, {{"FS", "FS 2.250"},
               {"CN", "CN Cell 9"},
               {"FL 5", "FL 5 " + std::to_string(fl5 + 2.5)},
               {"ELP", "ELP " + std::to_string(std::lround(std::stod(controller.Find("ELP")->Value)))}});
    Write(Path("cell9.cfg"), file);

    Dialogs->AnswerNextFile(Path("cell9.cfg"));
    p.Files.CompareItem->trigger();
    EXPECT_EQ(Commands(*Sim), TLines{"0:DCC"}); // the dump into memory; nothing written
    ASSERT_NE(CompareForm(), nullptr);
    TCompareConfigForm& form = *CompareForm();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(Dialogs->Boxes.empty());
    ExpectF1AsksFor(&form, CompareHelpContext);
    EXPECT_EQ(Marked(), (TRows{"CN", "FS", "FL 5"}));
    EXPECT_TRUE(form.UnitsWarning->isHidden());
    EXPECT_EQ(form.Table->rowCount(), 51);
    // The force level's row: name, both values, units.
    int row = -1;
    for (int r = 0; r < form.Table->rowCount(); ++r)
        if (form.Table->item(r, TCompareConfigForm::ParameterColumn)->text() == "FL 5")
            row = r;
    ASSERT_GE(row, 0);
    EXPECT_EQ(form.Table->item(row, TCompareConfigForm::NameColumn)->text(), "Force level");
    EXPECT_EQ(form.Table->item(row, TCompareConfigForm::FileColumn)->text(),
              ToQString(std::to_string(fl5 + 2.5)));
    EXPECT_EQ(form.Table->item(row, TCompareConfigForm::ControllerColumn)->text(),
              ToQString(controller.Find("FL 5")->Value));
    EXPECT_EQ(form.Table->item(row, TCompareConfigForm::UnitsColumn)->text(), "N");
    EXPECT_EQ(form.Table->item(row, TCompareConfigForm::StateColumn)->text(), "Differs");

    // It opens with the differences only; the box shows every row and back.
    EXPECT_EQ(ShownRows(), 3);
    EXPECT_EQ(Marked(true), (TRows{"CN", "FS", "FL 5"}));
    form.FilterBox->click();
    EXPECT_EQ(ShownRows(), 51);
    form.FilterBox->click();
    EXPECT_EQ(ShownRows(), 3);

    // The controller's side saved as a file is the dump.
    Dialogs->AnswerNextFile(Path("saved.cfg"));
    form.SaveButton->click();
    EXPECT_EQ(Read(Path("saved.cfg").toStdString()), dump);

    // "Download This File...": the normal download of exactly the file, its progress, question and refresh.
    Sim->ClearReceived();
    QString progressAtQuestion;
    Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { progressAtQuestion = DownloadProgress(); };
    Dialogs->AnswerNext(mrYes); // the file renames the unit: asked, and renamed
    Dialogs->AnswerNext(mrNo);
    form.DownloadButton->click();
    EXPECT_EQ(Commands(*Sim), Prefixed(file));
    ASSERT_EQ(Dialogs->Boxes.size(), 2u);
    EXPECT_EQ(Dialogs->Boxes[0].Text.toStdString(),
              "This file would rename the unit \"IXA Cell 1\" to \"Cell 9\".\n\n"
              "Rename it? No keeps the name \"IXA Cell 1\" and leaves line 2 out.");
    EXPECT_EQ(Dialogs->Boxes[1].Text, "Do you want to save configuration to Non-volatile memory?");
    EXPECT_EQ(progressAtQuestion, "line 51 of 51");
    QTest::qWait(0);
    EXPECT_TRUE(p.Files.CompareWindow.isNull()); // the comparison was of the old configuration
    EXPECT_EQ(p.Link->GetControllerName(), "Cell 9");
}

TEST_F(TConfigSafetyTest, AFileInOtherUnitsWarnsAndAToolFileMeetsTheToolDump) {
    TKorvaControlPanel& p = Online();
    Write(Path("inches.cfg"), Changed(Dump("DCC"), {{"CU", "CU 1"}}));
    Dialogs->AnswerNextFile(Path("inches.cfg"));
    p.Files.CompareItem->trigger();
    ASSERT_NE(CompareForm(), nullptr);
    EXPECT_FALSE(CompareForm()->UnitsWarning->isHidden());
    EXPECT_TRUE(CompareForm()->UnitsWarning->text().contains("English"))
        << ToAnsi(CompareForm()->UnitsWarning->text());
    EXPECT_EQ(Marked(), TRows{"CU"});
    for (int r = 0; r < CompareForm()->Table->rowCount(); ++r) {
        if (CompareForm()->Table->item(r, 0)->text() == "FL 0") {
            EXPECT_EQ(CompareForm()->Table->item(r, TCompareConfigForm::UnitsColumn)->text(), "Lbf. / N");
        }
    }

    // A tool configuration is compared with the tool dump; a line only on one side is listed as such.
    TLines tools = Dump("DTC");
    tools.push_back("TW 99 1.000");
    Write(Path("tools.cfg"), tools);
    Sim->ClearReceived();
    Dialogs->AnswerNextFile(Path("tools.cfg"));
    p.Files.CompareItem->trigger();
    EXPECT_EQ(Commands(*Sim), TLines{"0:DTC"});
    ASSERT_NE(CompareForm(), nullptr);
    EXPECT_EQ(Marked(), TRows{"TW 99"});
    EXPECT_EQ(CompareForm()
                  ->Table->item(CompareForm()->Table->rowCount() - 1, TCompareConfigForm::StateColumn)
                  ->text(),
              "Only in the file");
    EXPECT_TRUE(CompareForm()->UnitsWarning->isHidden());
}

TEST_F(TConfigSafetyTest, ABackupIsTwoFilesThatDownloadBackAndFiftyAreKept) {
    TKorvaControlPanel& p = Online();
    const std::filesystem::path folder = Backups().Folder(p.Link->GetControllerName(), 0);
    // 55 older backups are there already, and a file of the technician's.
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 55; ++i)
        for (const char* kind : {" controller.cfg", " tool.cfg"})
            Write(QString::fromStdString((folder / ("2020-01-01_00-00-" + std::string(i < 10 ? "0" : "") +
                                                    std::to_string(i) + kind))
                                             .string()),
                  {"CN Old"});
    Write(QString::fromStdString((folder / "notes.txt").string()), {"keep"});
    Sim->ClearReceived();

    p.Files.BackupItem->trigger();
    EXPECT_EQ(Commands(*Sim), (TLines{"0:DCC", "0:DTC"}));
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Icon, TMsgIcon::Information);
    EXPECT_TRUE(
        Dialogs->Boxes[0].Text.contains(QDir::toNativeSeparators(QString::fromStdString(folder.string()))));
    const auto kept = Backups().List(p.Link->GetControllerName(), 0);
    ASSERT_EQ(kept.size(), 50u);
    EXPECT_EQ(kept.front().Stem, "2020-01-01_00-00-06");
    EXPECT_TRUE(std::filesystem::exists(folder / "notes.txt"));
    const TConfigBackups::TBackup newest = kept.back();
    EXPECT_TRUE(Dialogs->Boxes[0].Text.contains(QString::fromStdString(newest.Stem)));

    // Both files download back cleanly and restore what was changed after the backup.
    const TLines before = Dump("DCC"), toolsBefore = Dump("DTC");
    EXPECT_EQ(Read(newest.Controller), before);
    EXPECT_EQ(Read(newest.Tool), toolsBefore);
    p.Link->SetForceLevel(4, 3.25);
    p.Link->SetToolWeight(2, 0.5);
    for (const auto& file : {newest.Controller, newest.Tool}) {
        Dialogs->Boxes.clear();
        Dialogs->AnswerNext(mrNo);
        p.DownloadFile(QString::fromStdString(file.string()));
        ASSERT_EQ(Dialogs->Boxes.size(), 1u); // the question only: no line refused
    }
    EXPECT_EQ(Dump("DCC"), before);
    EXPECT_EQ(Dump("DTC"), toolsBefore);
}

// The backup's message offers its folder, and File > Open Backup Folder the backup folder, both through
// the desktop's file manager; F1 in the message asks for the backup's topic.
TEST_F(TConfigSafetyTest, OpenBackupFolderShowsTheFoldersInTheFileManager) {
    TKorvaControlPanel& p = Online();
    ASSERT_NE(p.Files.OpenBackupFolderItem, nullptr);
    EXPECT_EQ(p.Files.OpenBackupFolderItem->text(), "Open Backup &Folder");
    const QString root = TFileLauncher::BackupRoot();
    // No backup yet: said so, nothing opened.
    p.Files.OpenBackupFolderItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Text,
              "There is no backup yet. Backups go to " + QDir::toNativeSeparators(root) + ".");
    EXPECT_TRUE(Dialogs->Urls.empty());

    Dialogs->Boxes.clear();
    Dialogs->AnswerNext(mrExtra);
    p.Files.BackupItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Extras.ExtraButton, "Open Backup Folder");
    EXPECT_EQ(Dialogs->Boxes[0].Extras.HelpContext, BackupHelpContext);
    const std::filesystem::path folder = Backups().Folder(p.Link->GetControllerName(), 0);
    ASSERT_TRUE(std::filesystem::is_directory(folder));
    ASSERT_EQ(Dialogs->Urls.size(), 1u);
    EXPECT_EQ(Dialogs->Urls[0], QUrl::fromLocalFile(QFile::decodeName(folder.string().c_str())));

    p.Files.OpenBackupFolderItem->trigger();
    ASSERT_EQ(Dialogs->Urls.size(), 2u);
    EXPECT_EQ(Dialogs->Urls[1], QUrl::fromLocalFile(root));

    // The box's OK opens nothing.
    p.Files.BackupItem->trigger();
    EXPECT_EQ(Dialogs->Urls.size(), 2u);

    // A desktop that cannot show the folder: an error says which.
    Dialogs->OpenUrlResult = false;
    Dialogs->Boxes.clear();
    p.Files.OpenBackupFolderItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_TRUE(Dialogs->Boxes[0].Text.contains(QDir::toNativeSeparators(root)));
}

TEST_F(TConfigSafetyTest, TheOptionBacksUpBeforeADownloadAndAFailedBackupStopsIt) {
    TKorvaControlPanel& p = Online();
    {
        TOptionsForm options(&p, *p.Link, *p.Port);
        EXPECT_FALSE(options.BackupBox->isChecked()); // off unless chosen
        options.BackupBox->click();
        EXPECT_TRUE(options.OkButtonClick());
    }
    EXPECT_TRUE(TFileLauncher::BackupBeforeDownload());
    EXPECT_TRUE(TOptionsForm(&p, *p.Link, *p.Port).BackupBox->isChecked());

    const AnsiString name = p.Link->GetControllerName();
    Write(Path("name.cfg"), {"CN " + name});
    Sim->ClearReceived();
    Dialogs->AnswerNextFile(Path("name.cfg"));
    Dialogs->AnswerNext(mrNo);
    p.IxaDownloadItem->trigger();
    EXPECT_EQ(Commands(*Sim), (TLines{"0:DCC", "0:DTC", "0:CN " + name}));
    EXPECT_EQ(Backups().List(name, 0).size(), 1u);

    // The backup folder cannot be made: the download does not start.
    std::filesystem::remove_all(Backups().Root);
    Write(TFileLauncher::BackupRoot(), {"in the way"});
    Sim->ClearReceived();
    Dialogs->Boxes.clear();
    Dialogs->AnswerNextFile(Path("name.cfg"));
    p.IxaDownloadItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_TRUE(Dialogs->Boxes[0].Text.startsWith("The backup before the download failed"))
        << ToAnsi(Dialogs->Boxes[0].Text);
    EXPECT_TRUE(Commands(*Sim).empty());

    // A dump refused half way: the half backup is removed, the download does not start.
    QFile::remove(TFileLauncher::BackupRoot());
    Sim->ScriptReply("DTC", {"CU 0", "Error 7", "OK"});
    Dialogs->Boxes.clear();
    Dialogs->AnswerNextFile(Path("name.cfg"));
    p.IxaDownloadItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_TRUE(Dialogs->Boxes[0].Text.contains("Error 7")) << ToAnsi(Dialogs->Boxes[0].Text);
    EXPECT_EQ(Commands(*Sim), (TLines{"0:DCC", "0:DTC"}));
    EXPECT_TRUE(Backups().List(name, 0).empty());
}

TEST_F(TConfigSafetyTest, TransfersCountTheirLinesAndARefusedLineIsNamed) {
    TKorvaControlPanel& p = Online();
    Dialogs->AnswerNextFile(Path("ixa.cfg"));
    p.IxaUploadIxaItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
    EXPECT_EQ(Dialogs->Boxes[0].Text,
              "51 lines written to " + QDir::toNativeSeparators(Path("ixa.cfg")) + ".");
    EXPECT_EQ(Dialogs->Boxes[0].Icon, TMsgIcon::Information);

    Write(Path("bad.cfg"), {"CN Bench", "FL 0 1.000", "FL 0 99999.000", "CN Never"});
    Dialogs->Boxes.clear();
    Dialogs->AnswerNextFile(Path("bad.cfg"));
    p.IxaDownloadItem->trigger();
    // Refused by the check before anything is sent: no half-applied file, no question.
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Text,
              "The file was not downloaded: one line cannot be taken by the controller.\n"
              "Line 3 (\"FL 0 99999.000\"): 99999.000 is out of range: the force level runs "
              "from -245.000 to 500.000 N.");
    EXPECT_EQ(p.Link->GetControllerName(), "IXA Cell 1");
}

} // namespace

namespace {

TEST_F(TConfigSafetyTest, OfflineTheCommandsSayWhyAndLeaveNoTrace) {
    TKorvaControlPanel& p = OpenPanel(); // no port
    Write(Path("good.cfg"), {"CN Bench"});
    Dialogs->AnswerNextFile(Path("good.cfg"));
    p.Files.CompareItem->trigger();
    p.Files.BackupItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 2u);
    for (const TScriptedDialogs::TBox& box : Dialogs->Boxes) {
        EXPECT_EQ(box.Caption, "Korva Windows Error");
        EXPECT_EQ(box.Text, "IXA not connected!");
    }
    EXPECT_TRUE(p.Files.CompareWindow.isNull());
    EXPECT_FALSE(QDir(TFileLauncher::BackupRoot()).exists());
}

} // namespace

TEST_F(TConfigSafetyTest, ARefusalMidWayOffersTheBackupThatPutsTheControllerBack) {
    TKorvaControlPanel& p = Online();
    WriteSetting("BackupBeforeDownload", "1");
    const AnsiString name = p.Link->GetControllerName();
    Write(Path("partial.cfg"), {"FL 3 40.000", "FL 4 41.000", "FL 6 42.000"});
    Sim->ScriptReply("FL 6 42.000", {"Error 3", "OK"});
    Dialogs->AnswerNextFile(Path("partial.cfg"));
    Dialogs->AnswerNext(mrYes);
    p.IxaDownloadItem->trigger();
    ASSERT_EQ(Backups().List(name, 0).size(), 1u);
    const TConfigBackups::TBackup backup = Backups().List(name, 0).front();
    ASSERT_EQ(Dialogs->Boxes.size(), 2u);
    EXPECT_EQ(
        Dialogs->Boxes[0].Text.toStdString(),
        "Line 3 of 3 (\"FL 6 42.000\") was refused by the controller: Error 3. The controller took lines 1 "
        "and 2; the rest was not sent.\n\nPut back the backup taken before the download, so that the "
        "controller holds what it held before?");
    EXPECT_EQ(Dialogs->Boxes[0].Buttons, TMsgButtons::YesNo);
    EXPECT_TRUE(Dialogs->Boxes[1].Text.startsWith("The backup is back in the controller"))
        << ToAnsi(Dialogs->Boxes[1].Text);
    EXPECT_EQ(CompareWithController(*p.Link, ReadConfigurationFile(backup.Controller)).Result.Differences(),
              0u);
    EXPECT_EQ(Read(backup.Controller), Dump("DCC"));
}
