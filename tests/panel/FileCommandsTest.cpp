// The File menu's configuration commands against the simulated controller: file dialogs and
// questions answered by the scripted service, the files on a temporary folder.

#include "support/PanelTestSupport.h"

#include "panel/Downloadingconfig.h"
#include "toolkit/Application.h"
#include "toolkit/Text.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <string>
#include <vector>

namespace {
int DownloadWindows(bool visibleOnly) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (dynamic_cast<TDownloadConfig*>(w) && (!visibleOnly || w->isVisible()))
            ++n;
    return n;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

TLines FileLines(const QString& path) {
    TLines lines;
    for (const QByteArray& line : ReadAll(path).split('\n'))
        if (!line.isEmpty())
            lines.push_back(line.toStdString());
    return lines;
}

class TFileCommandsTest : public TPanelTest {
protected:
    QString Path(const char* name) const { return QDir(Files.path()).filePath(name); }
    QTemporaryDir Files;
};
} // namespace

TEST_F(TFileCommandsTest, AnUploadedFileDownloadsBackLineByLine) {
    TKorvaControlPanel& p = Online();
    Dialogs->AnswerNextFile(Path("ixa.cfg"));
    p.IxaUploadIxaItem->trigger();
    ASSERT_EQ(Dialogs->Files.size(), 1u);
    EXPECT_TRUE(Dialogs->Files[0].Save);
    EXPECT_EQ(Dialogs->Files[0].Form.DefaultExt, "cfg");
    EXPECT_EQ(Dialogs->Files[0].Form.Filter, "Configuration File|*.cfg|All Files|*.*");
    EXPECT_EQ(Commands(*Sim), TLines{"0:DCC"});
    const TLines dump = FileLines(Path("ixa.cfg"));
    ASSERT_GT(dump.size(), 3u);
    ASSERT_EQ(Dialogs->Boxes.size(), 1u); // how many lines went where
    EXPECT_EQ(Dialogs->Boxes[0].Icon, TMsgIcon::Information);

    // The tool upload uses the same dialog, which offers the name chosen last.
    Sim->ClearReceived();
    Dialogs->AnswerNextFile(Path("tool.txt"));
    p.IxaUploadToolItem->trigger();
    ASSERT_EQ(Dialogs->Files.size(), 2u);
    EXPECT_EQ(Dialogs->Files[1].Form.FileName, Path("ixa.cfg"));
    EXPECT_EQ(Commands(*Sim), TLines{"0:DTC"});
    EXPECT_FALSE(FileLines(Path("tool.txt")).empty());

    // Answered No, then Yes: the lines in order, the save only on Yes, the new handshake either way.
    for (const TModalResult answer : {mrNo, mrYes}) {
        SCOPED_TRACE(answer);
        Sim->ClearReceived();
        Dialogs->Boxes.clear();
        int busyAtQuestion = -1;
        Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { busyAtQuestion = DownloadWindows(true); };
        Dialogs->AnswerNextFile(Path("ixa.cfg"));
        Dialogs->AnswerNext(answer);
        p.IxaDownloadItem->trigger();
        EXPECT_FALSE(Dialogs->Files.back().Save);
        TLines expected;
        for (const std::string& line : dump)
            expected.push_back("0:" + line);
        if (answer == mrYes)
            expected.push_back("0:SC 1");
        EXPECT_TRUE(SameLines(Commands(*Sim), expected));
        ASSERT_EQ(Dialogs->Boxes.size(), 1u);
        EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
        EXPECT_EQ(Dialogs->Boxes[0].Text, "Do you want to save configuration to Non-volatile memory?");
        EXPECT_EQ(Dialogs->Boxes[0].Buttons, TMsgButtons::YesNo);
        EXPECT_EQ(Dialogs->Boxes[0].Icon, TMsgIcon::None);
        EXPECT_EQ(busyAtQuestion, 0);
        // The refresh after the download begins with a new handshake.
        const TLines received = Sim->Received();
        const auto lastLine = std::find(received.begin(), received.end(), "0:" + dump.back());
        EXPECT_NE(std::find(lastLine, received.end(), "0:VER?"), received.end());
        EXPECT_EQ(DownloadWindows(false), 0);
        EXPECT_TRUE(p.Link->Connected);
    }
}

TEST_F(TFileCommandsTest, AFailedDownloadShowsItsErrorSendsNothingAndAsksNothing) {
    TKorvaControlPanel& p = Online();
    Write(Path("binary.cfg"), QByteArray("CN Bench\nAB\0CD\n", 15));
    Write(Path("long.cfg"), "CN Bench\nCN " + QByteArray(251, 'x') + "\n");
    struct TRow {
        const char* File;
        QString Message; // what the error box says (a prefix is enough for the line-naming texts)
    };
    const TRow rows[] = {
        {"missing.cfg", "Couldn't open file!"},
        {"binary.cfg", "Not a configuration file: line 2"},
        {"long.cfg", "Not a configuration file: line 2"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.File);
        Sim->ClearReceived();
        Dialogs->Boxes.clear();
        int busyAtBox = -1;
        Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { busyAtBox = DownloadWindows(false); };
        Dialogs->AnswerNextFile(Path(row.File));
        p.IxaDownloadItem->trigger();
        ASSERT_EQ(Dialogs->Boxes.size(), 1u); // no question follows
        EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
        EXPECT_TRUE(Dialogs->Boxes[0].Text.startsWith(row.Message)) << Dialogs->Boxes[0].Text.toStdString();
        EXPECT_TRUE(Commands(*Sim).empty());
        EXPECT_EQ(busyAtBox, 0);
        EXPECT_EQ(DownloadWindows(false), 0);
    }
}

TEST_F(TFileCommandsTest, ALineTheControllerRejectsEndsTheDownload) {
    TKorvaControlPanel& p = Online();
    // A line no controller takes is found before anything is sent, with its number and reason.
    Write(Path("bad.cfg"), "CF 5.000\nXYZZY 1\nFL 5 99999.000\n");
    Dialogs->AnswerNextFile(Path("bad.cfg"));
    Sim->ClearReceived();
    p.IxaDownloadItem->trigger();
    EXPECT_TRUE(Commands(*Sim).empty());
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Text,
              "The file was not downloaded: 2 lines cannot be taken by the controller.\n"
              "Line 2 (\"XYZZY 1\"): \"XYZZY\" is no parameter of the controller.\n"
              "Line 3 (\"FL 5 99999.000\"): 99999.000 is out of range: the force level runs from -245.000 to "
              "500.000 N.");

    // One the controller still refuses ends it, naming what it took.
    Write(Path("bad.cfg"), "CF 5.000\nFL 2 10.000\nCF 10.000\n");
    Sim->ScriptReply("FL 2 10.000", {"Error 3", "OK"});
    Dialogs->Boxes.clear();
    int busyAtBox = -1;
    Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { busyAtBox = DownloadWindows(false); };
    Dialogs->AnswerNextFile(Path("bad.cfg"));
    Sim->ClearReceived();
    p.IxaDownloadItem->trigger();
    EXPECT_EQ(Commands(*Sim), (TLines{"0:CF 5.000", "0:FL 2 10.000"}));
    // The controller's error goes to the standard error display; no question is asked.
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
    EXPECT_EQ(Dialogs->Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Line 2 of 3 (\"FL 2 10.000\") was refused by the controller: Error 3. "
                                      "The controller took line 1; the rest was not sent.");
    EXPECT_EQ(busyAtBox, 0);
}

TEST_F(TFileCommandsTest, OfflineOrCancelledTransfersSendNothing) {
    TKorvaControlPanel& p = OpenPanel(); // no port
    Write(Path("good.cfg"), "CN Bench\n");
    Dialogs->AnswerNextFile(Path("good.cfg"));
    p.IxaDownloadItem->trigger();
    Dialogs->AnswerNextFile(Path("up.cfg"));
    p.IxaUploadIxaItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 2u);
    for (const TScriptedDialogs::TBox& box : Dialogs->Boxes) {
        EXPECT_EQ(box.Caption, "Korva Windows Error");
        EXPECT_EQ(box.Text, "Communication port not open!");
    }
    EXPECT_FALSE(QFile::exists(Path("up.cfg")));

    Dialogs->Boxes.clear();
    p.IxaDownloadItem->trigger(); // unscripted: cancelled
    p.IxaUploadToolItem->trigger();
    EXPECT_TRUE(Dialogs->Boxes.empty());
    EXPECT_EQ(DownloadWindows(false), 0);
}

TEST_F(TFileCommandsTest, AFailedUploadLeavesThePreviousFileAsItWas) {
    TKorvaControlPanel& p = Online();
    const QByteArray backup = "CN Good\nCF 12.000\n";
    Write(Path("backup.cfg"), backup);
    Sim->ScriptReply("DCC", {"CN Half", "Error 7", "OK"});
    Dialogs->AnswerNextFile(Path("backup.cfg"));
    p.IxaUploadIxaItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 7.");
    EXPECT_EQ(ReadAll(Path("backup.cfg")), backup);
    EXPECT_EQ(QDir(Files.path()).entryList(QDir::Files), QStringList{"backup.cfg"});
}

TEST_F(TFileCommandsTest, AnotherUnitsFileKeepsTheTargetsAddressAndNameUnlessTheOperatorMovesIt) {
    sim::TSimOptions bus;
    bus.Units = {0, 3, 7};
    TKorvaControlPanel& p = Online(bus);
    Sim->SetUnitParameter(0, "FL", "77.000", 3);
    Dialogs->AnswerNextFile(Path("cell1.cfg"));
    p.IxaUploadIxaItem->trigger(); // unit 0's file: "CN IXA Cell 1" ... "NA 0"
    const TLines file = FileLines(Path("cell1.cfg"));
    const auto lineOf = [&](const std::string& start) {
        return std::find_if(file.begin(), file.end(),
                            [&](const std::string& l) { return l.rfind(start, 0) == 0; }) -
               file.begin() + 1;
    };
    const auto cn = lineOf("CN "), na = lineOf("NA ");
    ASSERT_EQ(file[size_t(na - 1)], "NA 0");

    p.Maintenance.UseNetworkAddress(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.Link->Connected && p.Link->Address == 3; }, 8000));
    Sim->ClearReceived();
    Dialogs->Boxes.clear();
    Dialogs->AnswerNextFile(Path("cell1.cfg"));
    for (int i = 0; i < 3; ++i)
        Dialogs->AnswerNext(mrNo); // keep the name, keep the address, do not save
    p.IxaDownloadItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 4u);
    EXPECT_EQ(
        Dialogs->Boxes[0].Text.toStdString(),
        "This file would rename the unit \"IXA Cell 2\" to \"IXA Cell 1\".\n\nRename it? No keeps the name "
        "\"IXA Cell 2\" and leaves line " +
            std::to_string(cn) + " out.");
    EXPECT_EQ(
        Dialogs->Boxes[1].Text.toStdString(),
        "This file would move the unit at address 3 to address 0, where another unit answers.\n\nMove it? No "
        "keeps address 3 and leaves line " +
            std::to_string(na) + " out.");
    EXPECT_EQ(Dialogs->Boxes[2].Text.toStdString(),
              "Lines " + std::to_string(cn) + ", " + std::to_string(na) +
                  " of the file were left out: the unit keeps its address "
                  "and name.");
    EXPECT_EQ(Dialogs->Boxes[3].Text, "Do you want to save configuration to Non-volatile memory?");
    const TLines sent = Commands(*Sim);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "3:NA 0"), 0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "3:FL 3 77.000"), 1);
    EXPECT_EQ(Sim->UnitParameter(3, "CN"), "IXA Cell 2");
    EXPECT_EQ(Sim->UnitParameter(3, "FL", 3), "77.000");
    EXPECT_EQ(Sim->UnitParameter(0, "CN"), "IXA Cell 1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.Link->Connected.load(); }, 8000));

    // Moved when the operator says so (to a free address): no save question, the message says where.
    TLines moved = file;
    moved[size_t(na - 1)] = "NA 5";
    QByteArray text;
    for (const std::string& line : moved)
        text += QByteArray::fromStdString(line) + "\n";
    Write(Path("cell5.cfg"), text);
    Dialogs->Boxes.clear();
    Dialogs->AnswerNextFile(Path("cell5.cfg"));
    Dialogs->AnswerNext(mrNo);
    Dialogs->AnswerNext(mrYes);
    p.IxaDownloadItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 3u); // rename, move, and what happened: no save question
    EXPECT_EQ(Dialogs->Boxes[1].Text.toStdString().rfind(
                  "This file would move the unit at address 3 to address 5.", 0),
              0u);
    EXPECT_EQ(
        Dialogs->Boxes[2].Text.toStdString(),
        "The download moved the unit from address 3 to address 5, where it answers now. The panel stays at "
        "address 3 and goes offline; set the address to 5 to reach the unit. The configuration was not saved "
        "to non-volatile memory.");
    EXPECT_EQ(Sim->UnitParameter(5, "CN"), "IXA Cell 2");
}

TEST_F(TFileCommandsTest, ADownloadWhileActiveAsksFirst) {
    TKorvaControlPanel& p = Online();
    Write(Path("levels.cfg"), "FL 3 40.000\n");
    Sim->SetParameter("ACT", "1");
    Sim->ClearReceived();
    Dialogs->AnswerNextFile(Path("levels.cfg"));
    Dialogs->AnswerNext(mrNo);
    p.IxaDownloadItem->trigger();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_TRUE(Dialogs->Boxes[0].Text.startsWith("The carriage is active."))
        << ToAnsi(Dialogs->Boxes[0].Text);
    EXPECT_TRUE(Commands(*Sim).empty());

    Dialogs->Boxes.clear();
    Dialogs->AnswerNextFile(Path("levels.cfg"));
    Dialogs->AnswerNext(mrYes);
    Dialogs->AnswerNext(mrNo); // not saved
    p.IxaDownloadItem->trigger();
    EXPECT_EQ(Commands(*Sim), TLines{"0:FL 3 40.000"});
}
