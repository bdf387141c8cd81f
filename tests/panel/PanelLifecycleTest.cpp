#include "support/PanelTestSupport.h"

#include "panel/Splash.h"
#include "toolkit/Text.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>

#include <algorithm>

namespace {
AnsiString StoredPort(const QTemporaryDir& dir, bool* present = nullptr) {
    QSettings file(QDir(dir.path()).filePath("Halvane/KorvaWin 3.0.conf"), QSettings::IniFormat);
    if (present)
        *present = file.contains("CommPort");
    return ToSystemName(file.value("CommPort").toString());
}
} // namespace

TEST_F(TPanelTest, FirstStartIsOfflineWithMetricUnitsAndStoresAnEmptyPort) {
    TKorvaControlPanel& p = OpenPanel();
    EXPECT_EQ(p.windowTitle(), "Korva Windows Control Panel 3.1g");
    EXPECT_EQ(p.OnlineStatus->text(), "Offline");
    EXPECT_EQ(p.ToolTypeStatus->text(), "No Tool");
    EXPECT_EQ(p.CommandBarUnits->text(), "N");
    EXPECT_EQ(p.ForceGaugeUnits->text(), "N");
    EXPECT_EQ(p.PositionGaugeUnits->text(), "mm");
    EXPECT_EQ(p.ToolWeightUnits->text(), "kg");
    for (QWidget* c : std::initializer_list<QWidget*>{p.ModeGroup, p.ActiveButton, p.WeighButton,
                                                      p.ToolNumberUpDown, p.ToolWeightValue, p.CommandValue,
                                                      p.CommandBar, p.SerialOverrideBox})
        EXPECT_FALSE(c->isEnabled()) << c->metaObject()->className();
    EXPECT_TRUE(p.AddressUpDown->isEnabled());
    EXPECT_FALSE(p.SerialOverrideBox->isChecked());
    EXPECT_FALSE(p.OfflineReason().isEmpty()); // no port chosen yet
    EXPECT_EQ(p.Client->size(), QSize(413, 378));
    EXPECT_TRUE(Dialogs->Boxes.empty());

    ClosePanel();
    bool present = false;
    EXPECT_EQ(StoredPort(SettingsDir, &present), "");
    EXPECT_TRUE(present);
}

TEST_F(TPanelTest, ShowingPlacesTheBarOnTheGaugeAndTheHorizonInItsGroup) {
    TKorvaControlPanel& p = OpenPanel();
    EXPECT_EQ(p.CommandBar->geometry(), QRect(49, 48, 25, 217));
    EXPECT_EQ(p.Horizon->geometry(), QRect(78, 12, 34, 34));
    EXPECT_EQ(p.Horizon->parentWidget(), p.OrientationGroup);
    // Every control lies inside the client area and its texts are not cut off.
    for (QWidget* w : p.Client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(p.Client->rect().contains(w->geometry())) << w->metaObject()->className();
    for (TStaticText* t : {p.CommandBarLabel1, p.ForceGaugeLabel1, p.PositionGaugeLabel1,
                           p.PositionGaugeLabel2, p.ToolNumberLabel2, p.StaticText6})
        EXPECT_LE(t->fontMetrics().horizontalAdvance(t->text()), t->width()) << t->text().toStdString();
}

TEST_F(TPanelTest, AStoredPortIsOpenedAndWrittenBackUnchanged) {
    sim::TSimulator& sim = StartSimulator();
    WriteSetting("CommPort", sim.SlavePath());
    Panel = std::make_unique<TKorvaControlPanel>(); // no override
    Panel->show();
    ASSERT_TRUE(WaitOnline());
    ClosePanel();
    EXPECT_EQ(StoredPort(SettingsDir), sim.SlavePath());
}

// Stored names are the system's: one with Cyrillic letters, and one with ", " in it as a person
// would write it into the settings file, both open (here links to the simulator's line).
TEST_F(TPanelTest, AStoredNameIsOpenedAsTheSystemSpellsIt) {
    sim::TSimulator& sim = StartSimulator();
    const QString folder = SettingsDir.path();
    const QString settingsFile = QDir(folder).filePath("Halvane/KorvaWin 3.0.conf");
    ASSERT_TRUE(QDir(folder).mkpath("Halvane"));
    for (const QString& name :
         {QDir(folder).filePath(QString::fromUtf8("порт")), QDir(folder).filePath("a, b")}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(QFile::link(QString::fromStdString(sim.SlavePath()), name));
        QFile file(settingsFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[General]\nCommPort=" + name.toUtf8() + "\n");
        file.close();
        Panel = std::make_unique<TKorvaControlPanel>(); // no override
        Panel->show();
        EXPECT_EQ(Panel->Port->Name, QFile::encodeName(name).toStdString());
        EXPECT_TRUE(WaitOnline());
        ClosePanel();
        EXPECT_EQ(StoredPort(SettingsDir), QFile::encodeName(name).toStdString());
    }
}

TEST_F(TPanelTest, AnOverridePortLeavesTheStoredOneAsItWas) {
    StartSimulator();
    WriteSetting("CommPort", "/dev/ttyUSB7");
    OpenPanel();
    ASSERT_TRUE(WaitOnline());
    ClosePanel();
    EXPECT_EQ(StoredPort(SettingsDir), "/dev/ttyUSB7");
}

TEST_F(TPanelTest, APortThatCannotOpenShowsItsReasonAsTheStatusTooltipOnly) {
    TKorvaControlPanel& p = OpenPanel("/dev/korva-no-such-port");
    EXPECT_FALSE(p.Port->IsOpen());
    EXPECT_EQ(p.OnlineStatus->text(), "Offline");
    EXPECT_EQ(p.OnlineStatus->toolTip(), ToQString(p.Port->OpenFailure()));
    EXPECT_TRUE(p.OnlineStatus->toolTip().contains("/dev/korva-no-such-port"));
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

TEST_F(TPanelTest, ARefusedControllerIsNamedInTheTooltip) {
    sim::TSimOptions old;
    old.Version = 3.9;
    StartSimulator(old);
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.Link->Refused(); }, 5000));
    QHelpEvent ask(QEvent::ToolTip, QPoint(2, 2), p.OnlineStatus->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(p.OnlineStatus, &ask);
    EXPECT_EQ(p.OnlineStatus->toolTip(), "This software is not compatible with an IXA40 Controller!");
    EXPECT_EQ(p.OnlineStatus->text(), "Offline");
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

TEST_F(TPanelTest, AWakeRestoresAMinimisedWindow) {
    TKorvaControlPanel& p = OpenPanel();
    p.setWindowState(Qt::WindowMinimized);
    p.WakeFromSecondInstance();
    EXPECT_FALSE(p.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(p.isVisible());
}

TEST_F(TPanelTest, AToolNumberErrorIsShownOnlyAfterTheEventInProgress) {
    TKorvaControlPanel& p = OpenPanel();
    p.PostToolNumberError("Error 3");
    EXPECT_TRUE(Dialogs->Boxes.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 3");
}

// The splash waits on the event loop: the main thread sleeps between the few events of its two
// seconds instead of asking for events over and over (every such call wakes the dispatcher).
TEST(Splash, WaitsOnTheEventLoopNotInABusyLoop) {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    ASSERT_NE(dispatcher, nullptr);
    int wakes = 0;
    const auto counting = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakes; });
    TSplashForm splash;
    QElapsedTimer wall;
    wall.start();
    splash.ShowFor(600);
    QObject::disconnect(counting);
    EXPECT_GE(wall.elapsed(), 590);
    EXPECT_LT(wakes, 200) << "times the main thread was woken during a 600 ms splash";
    EXPECT_FALSE(splash.isVisible());
}

// A controller whose handshake goes on for seconds (256 names in each list at the line's real
// speed): File > Exit closes the window and the program is done within the exchange in progress.
TEST_F(TPanelTest, ExitEndsWithinTheExchangeInProgressOfALongHandshake) {
    sim::TSimOptions options;
    options.Paced = true;
    sim::TSimulator& sim = StartSimulator(options);
    for (const char* count : {"NDIF", "NDOF", "NAOF"})
        sim.SetParameter(count, std::to_string(TIxaInterface::MaxFunctionNames));
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const TLines sent = sim.Received();
            return std::find(sent.begin(), sent.end(), "0:DIFD? 10") != sent.end();
        },
        10000));
    QElapsedTimer took;
    took.start();
    p.FileExitItem->trigger();
    EXPECT_FALSE(p.isVisible());
    ClosePanel();
    EXPECT_LT(took.elapsed(), 1000);
    const size_t sent = sim.Received().size();
    EXPECT_FALSE(sim.WaitReceived(sent + 1, 300)) << "the handshake went on after Exit";
}
