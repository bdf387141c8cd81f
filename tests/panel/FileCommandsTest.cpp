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
        EXPECT_EQ(Commands(*Sim), expected);
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
    Write(Path("bad.cfg"), "CN Bench\nXYZZY 1\nCF 10.000\n");
    int busyAtBox = -1;
    Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { busyAtBox = DownloadWindows(false); };
    Dialogs->AnswerNextFile(Path("bad.cfg"));
    p.IxaDownloadItem->trigger();
    EXPECT_EQ(Commands(*Sim), (TLines{"0:CN Bench", "0:XYZZY 1"}));
    // The controller's error goes to the standard error display; no question is asked.
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
    EXPECT_EQ(Dialogs->Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(
        Dialogs->Boxes[0].Text.startsWith("Line 2 of 3 (\"XYZZY 1\") was refused by the controller: Error "))
        << Dialogs->Boxes[0].Text.toStdString();
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
