// The main window's setup-dialog, help and exit items against the simulated controller: what the
// window does after each dialog's OK.

#include "support/AnswerModal.h"
#include "support/PanelTestSupport.h"

#include "NothingWritten.h"
#include "dialogs/Contour.h"
#include "dialogs/Forcelevel.h"
#include "dialogs/Interface.h"
#include "dialogs/Options.h"
#include "dialogs/Positionlimit.h"
#include "panel/About.h"
#include "toolkit/Help.h"
#include "toolkit/HelpViewer.h"
#include "toolkit/Layout.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {
QAction* Item(TKorvaControlPanel& panel, const char* name) {
    return panel.findChild<QAction*>(name);
}

class TPanelDialogsTest : public TPanelTest {
protected:
    THelpRecorderScope Help;
};
} // namespace

TEST_F(TPanelDialogsTest, MenuItemsStandWhereTheFormHasThem) {
    TKorvaControlPanel& p = OpenPanel("/nonexistent/port");
    const struct {
        QMenu* Menu;
        const char* Name;
        const char* Caption;
        const char* Hint;
    } rows[] = {
        {p.FileMenu, "FileExitItem", "E&xit", "Exit this application"},
        {p.SetupMenu, "PositionLimitsItem", "Position &Limits", ""},
        {p.SetupMenu, "ContourModeItem", "&Contour Mode", ""},
        {p.SetupMenu, "ForceLevelsItem", "&Force Levels", ""},
        {p.SetupMenu, "KorvaInterfaceItem", "IXA &Interface", ""},
        {p.MaintenanceMenu, "ProgramOptionsItem", "&Program Options", ""},
        {p.HelpMenu, "HelpContentsItem", "&Contents", "Display the help contents screen"},
        {p.HelpMenu, "HelpSearchItem", "&Search for Help On...", "Search help file for a topic"},
        {p.HelpMenu, "HelpHowToUseItem", "&How to Use Help", "Help on using the help system"},
        {p.HelpMenu, "HelpAboutItem", "&About...", "Show program information"},
    };
    for (const auto& row : rows) {
        QAction* item = Item(p, row.Name);
        ASSERT_NE(item, nullptr) << row.Name;
        EXPECT_TRUE(row.Menu->actions().contains(item)) << row.Name;
        EXPECT_EQ(item->text(), row.Caption);
        EXPECT_EQ(item->statusTip(), row.Hint);
    }
    // Exit last in File after a separator; About after a separator; Program Options after Diagnostics.
    const auto file = p.FileMenu->actions();
    EXPECT_EQ(file.back(), Item(p, "FileExitItem"));
    EXPECT_TRUE(file[file.size() - 2]->isSeparator());
    const auto help = p.HelpMenu->actions();
    EXPECT_TRUE(help[3]->isSeparator());
    // Program Options right after Diagnostics; only the later items (trend, traffic log, bus overview,
    // network) follow it.
    const auto maintenance = p.MaintenanceMenu->actions();
    ASSERT_EQ(maintenance.size(), 7);
    EXPECT_EQ(maintenance[1], p.DiagnosticsItem);
    EXPECT_EQ(maintenance[2], Item(p, "ProgramOptionsItem"));
    EXPECT_EQ(maintenance[3], p.Trend.TrendItem);
    EXPECT_EQ(maintenance[4], p.Maintenance.TrafficLogItem);
    EXPECT_EQ(maintenance[5], p.Maintenance.BusOverviewItem);
    EXPECT_EQ(maintenance[6], p.Maintenance.NetworkItem);
}

TEST_F(TPanelDialogsTest, InterfaceOkSavesByToolStateAndShowsTheStoredName) {
    TKorvaControlPanel& p = Online();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(p.Monitor->ToolPresent); }, 5000));
    Sim->ClearReceived();
    ASSERT_TRUE(AnswerModal<TInterfaceForm>(Item(p, "KorvaInterfaceItem"), [](TInterfaceForm& form) {
        form.NameEdit->setText("Cell 7");
        form.OkButton->click();
    }));
    TLines sent = Commands(*Sim);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "0:SC");
    EXPECT_EQ(p.OnlineStatus->text(), QString::fromStdString(Sim->Parameter("CN")));
    EXPECT_EQ(p.OnlineStatus->Color(), clr::Green);

    Sim->SetToolConnected(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p.Monitor->ToolPresent; }, 5000));
    Sim->ClearReceived();
    ASSERT_TRUE(AnswerModal<TInterfaceForm>(Item(p, "KorvaInterfaceItem"),
                                            [](TInterfaceForm& form) { form.OkButton->click(); }));
    sent = Commands(*Sim);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "0:SC 1");
}

TEST_F(TPanelDialogsTest, OfflineSetupOksSaveNothingAndShowOffline) {
    TKorvaControlPanel& p = OpenPanel("/nonexistent/port");
    p.OnlineStatus->setText("stale");
    ASSERT_TRUE(AnswerModal<TInterfaceForm>(Item(p, "KorvaInterfaceItem"),
                                            [](TInterfaceForm& form) { form.OkButton->click(); }));
    EXPECT_EQ(p.OnlineStatus->text(), "Offline");
    EXPECT_EQ(p.OnlineStatus->Color(), clr::Grey);
    ASSERT_TRUE(AnswerModal<TPositionLimitForm>(Item(p, "PositionLimitsItem"),
                                                [](TPositionLimitForm& form) { form.OkButton->click(); }));
    // Each said once why it wrote nothing.
    ASSERT_EQ(Dialogs->Boxes.size(), 2u);
    for (const auto& box : Dialogs->Boxes) {
        EXPECT_EQ(box.Caption, "Korva Windows");
        EXPECT_EQ(box.Text, NeverReadText);
    }
}

TEST_F(TPanelDialogsTest, SetupOpenedOfflineWritesAndSavesNothingWhenTheControllerIsBackAtOk) {
    TKorvaControlPanel& p = Online();
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "Offline"; }, 8000));
    const auto backThenOk = [&](QPushButton* ok) {
        Sim->ClearFaults();
        ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() != "Offline"; }, 8000));
        Sim->ClearReceived();
        ok->click();
    };
    const auto offlineAgain = [&] {
        Sim->InjectFault(sim::TSimFault::Silent, -1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "Offline"; }, 8000));
    };
    ASSERT_TRUE(AnswerModal<TForceLevelForm>(Item(p, "ForceLevelsItem"),
                                             [&](TForceLevelForm& form) { backThenOk(form.OkButton); }));
    EXPECT_TRUE(Commands(*Sim).empty()); // no "FL", no "SC"
    offlineAgain();
    ASSERT_TRUE(AnswerModal<TPositionLimitForm>(
        Item(p, "PositionLimitsItem"), [&](TPositionLimitForm& form) { backThenOk(form.OkButton); }));
    EXPECT_TRUE(Commands(*Sim).empty());
    offlineAgain();
    ASSERT_TRUE(AnswerModal<TContourForm>(Item(p, "ContourModeItem"),
                                          [&](TContourForm& form) { backThenOk(form.OkButton); }));
    EXPECT_TRUE(Commands(*Sim).empty());
    offlineAgain();
    ASSERT_TRUE(AnswerModal<TInterfaceForm>(Item(p, "KorvaInterfaceItem"),
                                            [&](TInterfaceForm& form) { backThenOk(form.OkButton); }));
    EXPECT_TRUE(Commands(*Sim).empty());
    EXPECT_NE(p.OnlineStatus->text(), "Offline");
    EXPECT_EQ(Sim->Parameter("ELP"), "145.000");
    EXPECT_EQ(Sim->Parameter("FL", 1), "25.000");
    EXPECT_EQ(Sim->Parameter("CMF", 0), "20.000");
    ASSERT_EQ(Dialogs->Boxes.size(), 4u);
    for (const auto& box : Dialogs->Boxes) {
        EXPECT_EQ(box.Caption, "Korva Windows");
        EXPECT_EQ(box.Text, NeverReadText);
    }
}

TEST_F(TPanelDialogsTest, PositionLimitsOkWritesSavesAndRedrawsTheGauge) {
    TKorvaControlPanel& p = Online();
    const int before = p.PosLimitTicks;
    ASSERT_TRUE(AnswerModal<TPositionLimitForm>(Item(p, "PositionLimitsItem"), [](TPositionLimitForm& form) {
        form.PosLimitBar->setValue(form.PosLimitBar->value() - 1000);
        form.OkButton->click();
    }));
    const TLines sent = Commands(*Sim);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].rfind("0:ELP ", 0), 0u);
    EXPECT_EQ(sent[2], "0:SC");
    EXPECT_NE(p.PosLimitTicks, before);
}

TEST_F(TPanelDialogsTest, CancelledDialogSendsNothing) {
    TKorvaControlPanel& p = Online();
    ASSERT_TRUE(AnswerModal<TContourForm>(Item(p, "ContourModeItem"), [](TContourForm& form) {
        form.ScrollBar(5)->setValue(-100);
        form.CancelButton->click();
    }));
    EXPECT_TRUE(Commands(*Sim).empty());
}

TEST_F(TPanelDialogsTest, ContourReadFailureOpensNoDialogAndIsReported) {
    TKorvaControlPanel& p = Online();
    Sim->ScriptReply("CMF? 0", {"Error 2", "OK"});
    EXPECT_FALSE(AnswerModal<TContourForm>(Item(p, "ContourModeItem"),
                                           [](TContourForm& form) { form.CancelButton->click(); }));
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 2: malformed command or no such index.\n\nRefused: CMF? 0");
}

TEST_F(TPanelDialogsTest, ProgramOptionsOkRepeatsTheHandshakeAndSaves) {
    StartSimulator();
    WriteSetting("CommPort", Sim->SlavePath());
    Panel = std::make_unique<TKorvaControlPanel>(); // the stored port, no override
    Panel->show();
    ASSERT_TRUE(WaitOnline());
    Sim->ClearReceived();
    TKorvaControlPanel& p = *Panel;
    ASSERT_TRUE(AnswerModal<TOptionsForm>(Item(p, "ProgramOptionsItem"),
                                          [](TOptionsForm& form) { form.OkButton->click(); }));
    EXPECT_EQ(p.CommPortName, Sim->SlavePath());
    const TLines received = Sim->Received();
    EXPECT_NE(std::find(received.begin(), received.end(), "0:VER?"), received.end());
    EXPECT_EQ(Commands(*Sim), TLines{"0:SC"});

    // Switched to another controller while the monitor polls the first: the window follows the new
    // one, and the monitor polls it alone.
    sim::TSimulator other;
    other.SetParameter("CN", "Other Cell");
    Sim->ClearReceived();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Sim->Received().empty(); }, 3000)); // polling
    ASSERT_TRUE(AnswerModal<TOptionsForm>(Item(p, "ProgramOptionsItem"), [&](TOptionsForm& form) {
        const QString path = QString::fromStdString(other.SlavePath());
        form.PortComboBox->addItem(path);
        form.PortComboBox->setCurrentIndex(form.PortComboBox->findText(path));
        form.OkButton->click();
    }));
    EXPECT_EQ(p.CommPortName, other.SlavePath());
    EXPECT_EQ(p.OnlineStatus->text(), "Other Cell");
    EXPECT_EQ(Commands(other), TLines{"0:SC"});
    Sim->ClearReceived();
    other.ClearReceived();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const TLines polled = other.Received();
            return std::count(polled.begin(), polled.end(), "0:AF?") >= 2;
        },
        5000));
    EXPECT_TRUE(Sim->Received().empty());
    EXPECT_TRUE(p.Link->Connected);
    EXPECT_TRUE(Dialogs->Boxes.empty());
    ClosePanel(); // before its controller goes
}

// Under --port or --simulate the stored port stays as it was through OK; a port chosen in the dialog
// is the operator's, and replaces it.
TEST_F(TPanelDialogsTest, ProgramOptionsOkUnderAnOverrideKeepsTheStoredPort) {
    WriteSetting("CommPort", "/dev/ttyUSB7");
    TKorvaControlPanel& p = Online(); // the simulator's line as the override
    ASSERT_TRUE(AnswerModal<TOptionsForm>(Item(p, "ProgramOptionsItem"),
                                          [](TOptionsForm& form) { form.OkButton->click(); }));
    EXPECT_EQ(p.CommPortName, "/dev/ttyUSB7");
    EXPECT_EQ(Commands(*Sim), TLines{"0:SC"});

    sim::TSimulator other;
    ASSERT_TRUE(AnswerModal<TOptionsForm>(Item(p, "ProgramOptionsItem"), [&](TOptionsForm& form) {
        form.PortComboBox->setEditText(QString::fromStdString(other.SlavePath()));
        form.OkButton->click();
    }));
    EXPECT_EQ(p.CommPortName, other.SlavePath());
    ClosePanel();
    EXPECT_EQ(ReadSetting("CommPort"), other.SlavePath());
}

// Cancel after a port that would not open: the panel is back on the port it had, online, and the
// setting is untouched.
TEST_F(TPanelDialogsTest, ProgramOptionsCancelAfterAFailedOpenKeepsThePortInUse) {
    TKorvaControlPanel& p = Online();
    ASSERT_TRUE(AnswerModal<TOptionsForm>(Item(p, "ProgramOptionsItem"), [](TOptionsForm& form) {
        form.PortComboBox->setEditText("/dev/korva-no-such-port");
        form.OkButton->click();
        form.CancelButton->click();
    }));
    EXPECT_EQ(p.Port->Name, Sim->SlavePath());
    EXPECT_TRUE(p.Port->IsOpen());
    EXPECT_TRUE(WaitOnline());
    EXPECT_EQ(p.CommPortName, "");
    EXPECT_TRUE(Commands(*Sim).empty()) << "nothing saved";
}

TEST_F(TPanelDialogsTest, HelpItemsAskTheViewer) {
    TKorvaControlPanel& p = OpenPanel("/nonexistent/port");
    Item(p, "HelpContentsItem")->trigger();
    Item(p, "HelpSearchItem")->trigger();
    Item(p, "HelpHowToUseItem")->trigger();
    ASSERT_EQ(Help.Requests.size(), 3u);
    EXPECT_EQ(Help.Requests[0].Command, HELP_INDEX);
    EXPECT_EQ(Help.Requests[1].Command, HELP_PARTIALKEY);
    EXPECT_TRUE(Help.Requests[1].Key.isEmpty());
    EXPECT_EQ(Help.Requests[2].Command, HELP_HELPONHELP);
    // The program's help file is KorvaWIN.HLP in its own folder.
    EXPECT_EQ(QFileInfo(Help.Requests[0].File).fileName(), "KorvaWIN.HLP");
    EXPECT_EQ(QFileInfo(Help.Requests[0].File).absolutePath(), QCoreApplication::applicationDirPath());
}

TEST_F(TPanelDialogsTest, AboutShowsTheVersionAndExitClosesTheWindow) {
    TKorvaControlPanel& p = OpenPanel("/nonexistent/port");
    ASSERT_TRUE(AnswerModal<TAboutForm>(Item(p, "HelpAboutItem"), [](TAboutForm& form) {
        EXPECT_EQ(form.windowTitle(), "AboutForm");
        EXPECT_EQ(form.VersionText->text(), "Version 3.1g");
        EXPECT_EQ(form.size(), QSize(377, 239));
        form.OkButton->click();
    }));
    EXPECT_TRUE(p.isVisible());
    Item(p, "FileExitItem")->trigger();
    EXPECT_FALSE(p.isVisible());
}

// Exit with the help viewer open ends the program: the viewer closes with the main window, and the
// event loop, as the program runs it, returns.
TEST_F(TPanelDialogsTest, ExitClosesAnOpenHelpViewerSoTheProgramEnds) {
    TKorvaControlPanel& p = OpenPanel("/nonexistent/port");
    THelpRequest request;
    request.Command = HELP_INDEX;
    request.File = "/nonexistent/KorvaWIN.HLP";
    THelpViewer::Show(request);
    ASSERT_TRUE(THelpViewer::Instance() && THelpViewer::Instance()->isVisible());
    bool stillRunning = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        stillRunning = true;
        QCoreApplication::quit();
    });
    limit.start(5000);
    QTimer::singleShot(0, &p, [&p] { Item(p, "FileExitItem")->trigger(); });
    QCoreApplication::exec();
    EXPECT_FALSE(stillRunning) << "the program went on with no main window";
    EXPECT_FALSE(p.isVisible());
    EXPECT_FALSE(THelpViewer::Instance() && THelpViewer::Instance()->isVisible());
}
