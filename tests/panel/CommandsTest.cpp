// The operator's commands on the panel against the simulated controller: what each click and typed
// value sends, and what the operator is shown.

#include "support/HelpKey.h"
#include "support/PanelTestSupport.h"

#include "panel/Saveconfig.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

#include <string>
#include <vector>

namespace {
int SavingWindowsAlive() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += dynamic_cast<TSavingConfig*>(w) != nullptr;
    return n;
}

void TypeAndEnter(TEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

class TCommandsTest : public TPanelTest {};

// Sees every event of the application while it lives.
class TEventSpy : public QObject {
public:
    explicit TEventSpy(std::function<void(QObject*, QEvent*)> seen) : Seen(std::move(seen)) {
        qApp->installEventFilter(this);
    }
    ~TEventSpy() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        Seen(watched, event);
        return false;
    }

private:
    std::function<void(QObject*, QEvent*)> Seen;
};
} // namespace

TEST_F(TCommandsTest, ActivateSendsTheRequestAndADeviceErrorLeavesTheDisplay) {
    TKorvaControlPanel& p = Online();
    ASSERT_EQ(p.ActiveLabel->text(), "Retracted");

    Sim->ScriptReply("ACT 1", {"Error 5", "OK"});
    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    EXPECT_EQ(Commands(*Sim), TLines{"0:ACT 1"});
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 5: refused in the present state\n\nRefused: ACT 1");
    EXPECT_EQ(p.ActiveLabel->text(), "Retracted");
    EXPECT_EQ(p.ActiveLabel->Color(), clr::Grey);
    EXPECT_EQ(p.ActiveButton->text(), "&Activate"); // the window's first caption until activated

    Sim->ClearReceived();
    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    EXPECT_EQ(Commands(*Sim), TLines{"0:ACT 1"});
    EXPECT_EQ(p.ActiveLabel->text(), "Active");
    EXPECT_EQ(p.ActiveLabel->Color(), clr::Lime);
    EXPECT_EQ(p.ActiveButton->text(), "Deactivate");
    EXPECT_EQ(Sim->Parameter("ACT"), "1");
}

// Coming online turns "Unknown" into "Retracted"; the button keeps its access key, so Alt+A works.
TEST_F(TCommandsTest, AltAActivatesOnceTheConsoleIsOnline) {
    TKorvaControlPanel& p = Online();
    ASSERT_EQ(p.ActiveLabel->text(), "Retracted");
    PressInWindow(&p, Qt::Key_A, Qt::AltModifier);
    // The access key clicks the button as the eye sees it: pressed, then released.
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.ActiveLabel->text() == "Active"; }, 3000));
    EXPECT_EQ(Commands(*Sim), TLines{"0:ACT 1"});
    EXPECT_EQ(p.ActiveLabel->text(), "Active");
    EXPECT_EQ(Sim->Parameter("ACT"), "1");
}

// The program's own message box is modal: the monitor's values keep reaching the window while it
// is open.
TEST_F(TCommandsTest, TheMonitorDeliversWhileARealErrorBoxIsOpen) {
    TKorvaControlPanel& p = Online();
    std::unique_ptr<TDialogService> scripted = SetDialogService(nullptr);
    Sim->ScriptReply("ACT 1", {"Error 5", "OK"});
    QString caption, text, commandWhileOpen;
    QTimer watcher;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (caption.isEmpty()) {
            caption = box->windowTitle();
            text = box->text();
            Sim->SetParameter("CF", "123.4"); // changed in the controller while the box is up
        }
        if (p.CommandValue->text() == "123.4" || std::chrono::steady_clock::now() > deadline) {
            commandWhileOpen = p.CommandValue->text();
            watcher.stop();
            box->button(QMessageBox::Ok)->click();
        }
    });
    watcher.start(20);
    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    SetDialogService(std::move(scripted));
    EXPECT_EQ(caption, "Korva Windows Error");
    EXPECT_EQ(text, "Error 5: refused in the present state\n\nRefused: ACT 1");
    EXPECT_EQ(commandWhileOpen, "123.4");
    EXPECT_EQ(p.ActiveLabel->text(), "Retracted");
    EXPECT_EQ(Commands(*Sim), TLines{"0:ACT 1"});
}

TEST_F(TCommandsTest, TypedCommandsAreCheckedAgainstTheBarRange) {
    // Metric controller, MF 500 and MW 25 kg: the bar spans -245.0 .. 500.0 N; CF starts at 50.
    TKorvaControlPanel& p = Online();
    ASSERT_EQ(p.CommandBar->minimum(), -5000);
    ASSERT_EQ(p.CommandBar->maximum(), 2450);
    struct TRow {
        QString Typed;
        QString Message;  // empty: accepted
        std::string Sent; // empty: nothing sent
    };
    const TRow rows[] = {
        {"500.0", "", "0:CF 500.000"},
        {"500.1", "Command value is too large! The largest is 500.0 N.", ""},
        {"1000000000000000.0", "Command value is too large! The largest is 500.0 N.", ""},
        {"-245.0", "", "0:CF -245.000"},
        {"-245.1", "Command value is too small! The smallest is -245.0 N.", ""},
        {"12abc", "Bad value for Command!", ""},
        {"", "Bad value for Command!", ""},
        {"-245.0", "", "0:CF -245.000"}, // typed and entered again: sent again
        {"12.56", "", "0:CF 12.560"},    // as typed, not cut to the bar's tenths
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Typed.toStdString());
        Sim->ClearReceived();
        Dialogs->Boxes.clear();
        QTest::mouseClick(p.CommandValue, Qt::LeftButton);
        ASSERT_FALSE(p.CommandEdit->isHidden());
        EXPECT_EQ(p.CommandEdit->text(), p.CommandValue->text());
        TypeAndEnter(p.CommandEdit, row.Typed);
        EXPECT_EQ(Commands(*Sim), row.Sent.empty() ? TLines{} : TLines{row.Sent});
        if (row.Message.isEmpty()) {
            EXPECT_TRUE(Dialogs->Boxes.empty());
            EXPECT_TRUE(p.CommandEdit->isHidden());
            EXPECT_FALSE(p.CommandValue->isHidden());
        } else {
            ASSERT_EQ(Dialogs->Boxes.size(), 1u);
            EXPECT_EQ(Dialogs->Boxes[0].Caption, "Data Entry Error");
            EXPECT_EQ(Dialogs->Boxes[0].Text, row.Message);
            EXPECT_EQ(Dialogs->Boxes[0].Buttons, TMsgButtons::Ok);
            // The editor stays open with the focus, for the operator to correct.
            EXPECT_FALSE(p.CommandEdit->isHidden());
            EXPECT_EQ(p.focusWidget(), p.CommandEdit);
            QTest::keyClick(p.CommandEdit, Qt::Key_Escape);
            EXPECT_TRUE(p.CommandEdit->isHidden());
            EXPECT_FALSE(p.CommandValue->isHidden());
            EXPECT_TRUE(Commands(*Sim).empty());
        }
    }
    EXPECT_EQ(p.CommandValue->text(), "12.6");
    EXPECT_EQ(p.CommandBar->value(), -126); // the nearest step
}

TEST_F(TCommandsTest, ATypedCommandIsSentToTheWiresThreeDecimalsOrRefused) {
    TKorvaControlPanel& p = Online();
    const QString point(QLocale().decimalPoint());
    const struct {
        const char* Typed; // with "." for the decimal separator
        const char* Sent;  // empty: refused
    } rows[] = {
        {"12.59", "0:CF 12.590"}, {"7.25", "0:CF 7.250"}, {"-0.001", "0:CF -0.001"},
        {"12.5901", ""},          {"0.0005", ""},         {"499.999", "0:CF 499.999"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Typed);
        Sim->ClearReceived();
        Dialogs->Boxes.clear();
        QTest::mouseClick(p.CommandValue, Qt::LeftButton);
        TypeAndEnter(p.CommandEdit, QString(row.Typed).replace(".", point));
        if (*row.Sent) {
            EXPECT_EQ(Commands(*Sim), TLines{row.Sent});
            EXPECT_TRUE(Dialogs->Boxes.empty());
            continue;
        }
        EXPECT_TRUE(Commands(*Sim).empty());
        ASSERT_EQ(Dialogs->Boxes.size(), 1u);
        EXPECT_EQ(Dialogs->Boxes[0].Caption, "Data Entry Error");
        EXPECT_EQ(Dialogs->Boxes[0].Text, "Command value has more decimals than the controller takes! The "
                                          "resolution is 0" +
                                              point + "001 N.");
        QTest::keyClick(p.CommandEdit, Qt::Key_Escape);
    }
    EXPECT_EQ(p.CommandValue->text(), "500" + point + "0"); // 499.999 at one decimal
    EXPECT_EQ(p.CommandBar->value(), -5000);
}

TEST_F(TCommandsTest, TheMaximumShownIsAcceptedWhereTheBarCountsAHairBelow) {
    // 4.35 x 100 is 434.99999999999994 in binary.
    sim::TSimOptions options;
    StartSimulator(options).SetParameter("MP", "4.35");
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    p.ModeGroup->Button(1)->click();
    ASSERT_EQ(p.CommandBarMax->text(), "4" + QString(QLocale().decimalPoint()) + "35");
    EXPECT_EQ(p.CommandBar->minimum(), -435);
    Sim->ClearReceived();
    QTest::mouseClick(p.CommandValue, Qt::LeftButton);
    TypeAndEnter(p.CommandEdit, p.CommandBarMax->text());
    EXPECT_TRUE(Dialogs->Boxes.empty());
    EXPECT_EQ(Commands(*Sim), TLines{"0:CP 4.350"});
    EXPECT_EQ(p.CommandBar->value(), -435);
}

TEST_F(TCommandsTest, TheWheelMovesTheBarOnlyWhenItHasTheFocus) {
    TKorvaControlPanel& p = Online();
    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    ASSERT_EQ(p.ActiveLabel->text(), "Active");
    p.ActiveButton->setFocus();
    ASSERT_FALSE(p.CommandBar->hasFocus());
    Sim->ClearReceived();
    const int before = p.CommandBar->value();
    const QPoint middle = p.CommandBar->rect().center();
    const auto notch = [&] {
        QWheelEvent wheel(middle, p.CommandBar->mapToGlobal(middle), {}, {0, -120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(p.CommandBar, &wheel);
    };
    for (int i = 0; i < 6; ++i)
        notch();
    EXPECT_TRUE(Commands(*Sim).empty());
    EXPECT_EQ(p.CommandBar->value(), before);

    p.CommandBar->setFocus();
    ASSERT_TRUE(p.CommandBar->hasFocus());
    notch();
    EXPECT_NE(p.CommandBar->value(), before);
    const TLines sent = Commands(*Sim);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].rfind("0:CF ", 0), 0u);
}

TEST_F(TCommandsTest, AModeChangeWhileActiveAsksFirstNamingThePosition) {
    TKorvaControlPanel& p = Online();
    Sim->SetParameter("CP", "75.000");
    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    ASSERT_EQ(p.ActiveLabel->text(), "Active");
    Sim->ClearReceived();
    const QString point(QLocale().decimalPoint());

    Dialogs->AnswerNext(mrNo);
    p.ModeGroup->Button(1)->click();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "The carriage is active. In Position Mode it moves at once to 75" +
                                          point +
                                          "00 mm. Change to "
                                          "Position Mode?");
    EXPECT_EQ(Dialogs->Boxes[0].Buttons, TMsgButtons::YesNo);
    EXPECT_TRUE(Commands(*Sim).empty());
    EXPECT_EQ(p.ModeGroup->ItemIndex(), 0);

    Dialogs->AnswerNext(mrYes);
    p.ModeGroup->Button(1)->click();
    EXPECT_EQ(Commands(*Sim), (TLines{"0:PM 1", "0:CM 0"}));
    EXPECT_EQ(p.ModeGroup->ItemIndex(), 1);

    Sim->ClearReceived();
    Dialogs->Boxes.clear();
    Dialogs->AnswerNext(mrYes);
    p.ModeGroup->Button(0)->click();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Text, "The carriage is active. Change to Force Mode?");
    EXPECT_EQ(Commands(*Sim), (TLines{"0:PM 0", "0:CM 0"}));

    // Retracted: no question.
    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    ASSERT_EQ(p.ActiveLabel->text(), "Retracted");
    Dialogs->Boxes.clear();
    p.ModeGroup->Button(1)->click();
    EXPECT_TRUE(Dialogs->Boxes.empty());
    EXPECT_EQ(p.ModeGroup->ItemIndex(), 1);
}

TEST_F(TCommandsTest, PositionModeScalesTheBarAndRefusesNegativeCommands) {
    TKorvaControlPanel& p = Online();
    p.ModeGroup->Button(1)->click();
    EXPECT_EQ(Commands(*Sim), (TLines{"0:PM 1", "0:CM 0"}));
    EXPECT_EQ(p.CommandBarLabel2->text(), "Position");
    ASSERT_EQ(p.CommandBar->minimum(), -15000); // MP 150 mm in hundredths
    ASSERT_EQ(p.CommandBar->maximum(), 0);

    Sim->ClearReceived();
    QTest::mouseClick(p.CommandValue, Qt::LeftButton);
    TypeAndEnter(p.CommandEdit, "-0.01");
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Text,
              "Command value is too small! The smallest is 0" + QString(QLocale().decimalPoint()) + "00 mm.");
    TypeAndEnter(p.CommandEdit, "150.01");
    ASSERT_EQ(Dialogs->Boxes.size(), 2u);
    EXPECT_EQ(Dialogs->Boxes[1].Text, "Command value is too large! The largest is 150" +
                                          QString(QLocale().decimalPoint()) + "00 mm.");
    TypeAndEnter(p.CommandEdit, "150.00");
    EXPECT_EQ(Commands(*Sim), TLines{"0:CP 150.000"});
    EXPECT_EQ(p.CommandValue->text(), "150.00");

    // One arrow step of the bar is one hundredth, and sends at once.
    Sim->ClearReceived();
    p.CommandBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(Commands(*Sim), TLines{"0:CP 149.990"});
    EXPECT_EQ(p.CommandValue->text(), "149.99");
}

TEST_F(TCommandsTest, ATypedPositionIsSentAsTypedNotAHundredthLow) {
    TKorvaControlPanel& p = Online();
    p.ModeGroup->Button(1)->click();
    const QString point(QLocale().decimalPoint());
    const struct {
        const char* Typed; // with "." for the decimal separator
        const char* Sent;
    } rows[] = {
        {"0.29", "0:CP 0.290"}, {"0.57", "0:CP 0.570"},     {"1.15", "0:CP 1.150"},
        {"4.35", "0:CP 4.350"}, {"123.45", "0:CP 123.450"}, {"0.299", "0:CP 0.299"}, // as typed
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Typed);
        Sim->ClearReceived();
        QTest::mouseClick(p.CommandValue, Qt::LeftButton);
        TypeAndEnter(p.CommandEdit, QString(row.Typed).replace(".", point));
        EXPECT_EQ(Commands(*Sim), TLines{row.Sent});
    }
    EXPECT_EQ(p.CommandValue->text(), "0" + point + "30"); // 0.299 at two decimals
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

TEST_F(TCommandsTest, AnEditorStaysOpenWhileItsContextMenuIsUp) {
    TKorvaControlPanel& p = Online();
    p.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&p));
    QTest::mouseClick(p.CommandValue, Qt::LeftButton);
    ASSERT_FALSE(p.CommandEdit->isHidden());
    bool openWhileMenuUp = false;
    QTimer::singleShot(50, [&] {
        QWidget* menu = QApplication::activePopupWidget();
        openWhileMenuUp = menu && !p.CommandEdit->isHidden();
        if (menu)
            menu->close();
    });
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(5, 5),
                           p.CommandEdit->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(p.CommandEdit, &menu);
    QTest::qWait(100);
    EXPECT_TRUE(openWhileMenuUp);
    EXPECT_FALSE(p.CommandEdit->isHidden());
    // A move of the focus inside the window closes it.
    p.ActiveButton->setFocus();
    EXPECT_TRUE(p.CommandEdit->isHidden());
    EXPECT_FALSE(p.CommandValue->isHidden());
}

TEST_F(TCommandsTest, TheCommandIsTypedOnlyWhileTheBarIsShownAndTheOverrideBringsItBack) {
    sim::TSimOptions options;
    TKorvaControlPanel& p = Online(options);
    Sim->SetParameter("CFI", "1"); // the command comes from another interface
    p.SetupCommandBar();
    ASSERT_EQ(p.CommandValue->Color(), clr::Silver);
    QTest::mouseClick(p.CommandValue, Qt::LeftButton);
    EXPECT_TRUE(p.CommandEdit->isHidden());

    p.SerialOverrideBox->click();
    EXPECT_EQ(Commands(*Sim), TLines{"0:SPO 1"});
    EXPECT_FALSE(p.CommandBar->isHidden());
    EXPECT_EQ(p.CommandValue->Color(), clr::Olive);
    QTest::mouseClick(p.CommandValue, Qt::LeftButton);
    EXPECT_FALSE(p.CommandEdit->isHidden());
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

TEST_F(TCommandsTest, OneSpinnerClickSendsTheToolNumberTwice) {
    TKorvaControlPanel& p = Online();
    Sim->SetParameter("TW", "7.25", 1);
    QTest::mouseClick(p.ToolNumberUpDown->UpButton(), Qt::LeftButton);
    EXPECT_EQ(Commands(*Sim), (TLines{"0:TN 0", "0:TN 1"}));
    EXPECT_EQ(p.ToolNumberUpDown->Position(), 1);
    EXPECT_EQ(p.ToolWeightValue->text(), "7.25");

    // Refused before the change: the spinner stays, and the error shows once the click is over.
    Sim->ClearReceived();
    Sim->ScriptReply("TN 1", {"Error 3", "OK"});
    QTest::mouseClick(p.ToolNumberUpDown->UpButton(), Qt::LeftButton);
    EXPECT_EQ(Commands(*Sim), TLines{"0:TN 1"});
    EXPECT_EQ(p.ToolNumberUpDown->Position(), 1);
    EXPECT_TRUE(Dialogs->Boxes.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Dialogs->Boxes.empty(); }, 2000));
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 3: value out of range\n\nRefused: TN 1");

    // Refused after the change (the new number): the spinner has moved; shown the same way.
    Sim->ClearReceived();
    Sim->ScriptReply("TN 0", {"Error 4", "OK"});
    QTest::mouseClick(p.ToolNumberUpDown->DownButton(), Qt::LeftButton);
    EXPECT_EQ(Commands(*Sim), (TLines{"0:TN 1", "0:TN 0"}));
    EXPECT_EQ(p.ToolNumberUpDown->Position(), 0);
    EXPECT_EQ(Dialogs->Boxes.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Dialogs->Boxes.size() == 2; }, 2000));
    EXPECT_EQ(Dialogs->Boxes[1].Text, "Error 4: the parameter can only be read\n\nRefused: TN 0");
}

TEST_F(TCommandsTest, ATypedToolWeightIsSentForTheShownToolAndSavedWithoutAQuestion) {
    TKorvaControlPanel& p = Online();
    QTest::mouseClick(p.ToolNumberUpDown->UpButton(), Qt::LeftButton);
    QTest::mouseClick(p.ToolNumberUpDown->UpButton(), Qt::LeftButton);
    ASSERT_EQ(p.ToolNumberUpDown->Position(), 2);

    Sim->ClearReceived();
    QTest::mouseClick(p.ToolWeightValue, Qt::LeftButton);
    ASSERT_FALSE(p.ToolWeightEdit->isHidden());
    TypeAndEnter(p.ToolWeightEdit, "x1");
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Data Entry Error");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Bad value for Tool Weight!");
    EXPECT_FALSE(p.ToolWeightEdit->isHidden());
    EXPECT_TRUE(Commands(*Sim).empty());

    TypeAndEnter(p.ToolWeightEdit, "3.50");
    EXPECT_EQ(Commands(*Sim), (TLines{"0:TW 2 3.500", "0:SC"}));
    EXPECT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_TRUE(p.ToolWeightEdit->isHidden());
    EXPECT_EQ(p.ToolWeightValue->text(), "3.50");
    EXPECT_EQ(SavingWindowsAlive(), 0);

    // A save the controller refuses is reported, not passed off as done; the busy window is gone by
    // then.
    Sim->ClearReceived();
    Sim->ScriptReply("SC", {"Error 9", "OK"});
    int savingAtBox = -1;
    Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { savingAtBox = SavingWindowsAlive(); };
    QTest::mouseClick(p.ToolWeightValue, Qt::LeftButton);
    TypeAndEnter(p.ToolWeightEdit, "4.00");
    EXPECT_EQ(Commands(*Sim), (TLines{"0:TW 2 4.000", "0:SC"}));
    ASSERT_EQ(Dialogs->Boxes.size(), 2u);
    EXPECT_EQ(Dialogs->Boxes[1].Caption, "Korva Windows Error");
    EXPECT_EQ(Dialogs->Boxes[1].Text, "Error 9\n\nRefused: SC");
    EXPECT_EQ(savingAtBox, 0);
    EXPECT_TRUE(p.ToolWeightEdit->isHidden());
}

TEST_F(TCommandsTest, ARefusedToolWeightNamesTheCommandAndValue) {
    TKorvaControlPanel& p = Online();
    Sim->ScriptReply("TW 0 -5.000", {"Error 3", "OK"});
    QTest::mouseClick(p.ToolWeightValue, Qt::LeftButton);
    TypeAndEnter(p.ToolWeightEdit, "-5");
    EXPECT_EQ(Commands(*Sim), TLines{"0:TW 0 -5.000"});
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 3: value out of range\n\nRefused: TW 0 -5.000");
}

// A weighing of 1.2 s instead of 3: still past the ordinary reply limit, which it must not meet.
static sim::TSimOptions ShortWeighing() {
    sim::TSimOptions options;
    options.WeighMs = 1200;
    return options;
}

TEST_F(TCommandsTest, WeighingAsksBeforeItSavesAndADeviceErrorAsksNothing) {
    TKorvaControlPanel& p = Online(ShortWeighing());
    Sim->ScriptReply("ATW 0", {"Error 5", "OK"});
    QTest::mouseClick(p.WeighButton, Qt::LeftButton);
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 5: refused in the present state\n\nRefused: ATW 0");
    EXPECT_EQ(Commands(*Sim), TLines{"0:ATW 0"});

    Sim->ClearReceived();
    Dialogs->Boxes.clear();
    TLines sentAtQuestion;
    Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { sentAtQuestion = Commands(*Sim); };
    Dialogs->AnswerNext(mrYes);
    QTest::mouseClick(p.WeighButton, Qt::LeftButton); // the simulator weighs for a few seconds
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
    EXPECT_EQ(
        Dialogs->Boxes[0].Text,
        "Auto Tool Weigh Successful! Do you want to save tool weight to non-volatile memory?\n\nWeighed: " +
            FormatFloat("0.00", std::stod(Sim->Parameter("TW", std::stoi(Sim->Parameter("TN"))))) + " kg");
    EXPECT_EQ(Dialogs->Boxes[0].Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(sentAtQuestion, TLines{"0:ATW 0"});
    EXPECT_EQ(Commands(*Sim), (TLines{"0:ATW 0", "0:SC 1"}));
    EXPECT_EQ(p.Link->Timeout, 1000);
}

TEST_F(TCommandsTest, ABusyWindowStandsWhileTheToolIsWeighed) {
    TKorvaControlPanel& p = Online(ShortWeighing());
    // What the controller had received when the busy window came and when it went.
    struct TBusy {
        QString Text;
        bool WeighSentAtShow = true;
        bool WeighSentAtEnd = false;
    } busy;
    const auto weighSent = [this] {
        const TLines received = Sim->Received();
        return std::find(received.begin(), received.end(), "0:ATW 0") != received.end();
    };
    TEventSpy spy([&](QObject* watched, QEvent* event) {
        auto* window = dynamic_cast<TSavingConfig*>(watched);
        if (!window || event->type() != QEvent::Show)
            return;
        busy.Text = window->Message->text();
        busy.WeighSentAtShow = weighSent();
        QObject::connect(window, &QObject::destroyed, [&] { busy.WeighSentAtEnd = weighSent(); });
    });
    int busyAtQuestion = -1;
    Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { busyAtQuestion = SavingWindowsAlive(); };
    QTest::mouseClick(p.WeighButton, Qt::LeftButton);
    EXPECT_EQ(busy.Text, "Weighing Tool...");
    EXPECT_FALSE(busy.WeighSentAtShow);
    EXPECT_TRUE(busy.WeighSentAtEnd);
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(
        Dialogs->Boxes[0].Text,
        "Auto Tool Weigh Successful! Do you want to save tool weight to non-volatile memory?\n\nWeighed: " +
            FormatFloat("0.00", std::stod(Sim->Parameter("TW", std::stoi(Sim->Parameter("TN"))))) + " kg");
    EXPECT_EQ(busyAtQuestion, 0);
}

// A save asked for just before the line was lost sends nothing and says that it was not made.
TEST_F(TCommandsTest, SavingWhileOfflineSendsNothingAndSaysSo) {
    StartSimulator().InjectFault(sim::TSimFault::Silent, -1); // a line that would carry a save
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(Sim->WaitReceived(1, 3000)); // the monitor's handshake went unanswered
    p.SaveControllerConfig(true);
    p.SaveControllerConfig(false);
    ASSERT_EQ(Dialogs->Boxes.size(), 2u);
    for (const auto& box : Dialogs->Boxes)
        EXPECT_EQ(box.Text, "IXA not connected!\n\nThe configuration was not saved to non-volatile memory.");
    EXPECT_EQ(SavingWindowsAlive(), 0);
    EXPECT_TRUE(Commands(*Sim).empty());
}

size_t CountOf(const TLines& lines, const std::string& line) {
    return size_t(std::count(lines.begin(), lines.end(), line));
}

// One step: the handshake with the unit at the new address follows once the steps have stopped for
// half a second, with the display as a click always gave it.
TEST_F(TCommandsTest, TheAddressSpinnerTalksToTheUnitAtTheNewAddress) {
    sim::TSimOptions options;
    options.NetAddress = 1;
    StartSimulator(options);
    TKorvaControlPanel& p = OpenPanel();
    // Nobody answers at address 0.
    ASSERT_TRUE(Sim->WaitReceived(1, 3000));
    EXPECT_EQ(p.OnlineStatus->text(), "Offline");

    const auto clicked = std::chrono::steady_clock::now();
    QTest::mouseClick(p.AddressUpDown->UpButton(), Qt::LeftButton);
    EXPECT_EQ(p.AddressText->text(), "1");
    EXPECT_EQ(p.Link->Address, 0); // the steps may not have stopped yet
    ASSERT_TRUE(QTest::qWaitFor([&] { return CountOf(Sim->Received(), "1:VER?") > 0; }, 5000));
    EXPECT_GE(std::chrono::steady_clock::now() - clicked, std::chrono::milliseconds(400));
    EXPECT_EQ(p.Link->Address, 1);
    EXPECT_TRUE(WaitOnline());
    EXPECT_TRUE(p.Link->Connected);
    EXPECT_EQ(p.OnlineStatus->text(), ToQString(Sim->Parameter("CN")));
    EXPECT_TRUE(Commands(*Sim).empty()); // the address change itself sends nothing
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

// Steps in quick succession make one switch, to the last address: the units stepped through are
// never asked, and the panel shows the old unit, not Offline, until the new one answers.
TEST_F(TCommandsTest, QuickStepsOfTheAddressSpinnerMakeOneHandshakeAtTheLastAddress) {
    sim::TSimOptions options;
    options.Units = {0, 3};
    TKorvaControlPanel& p = Online(options);
    const QString first = p.OnlineStatus->text();
    ASSERT_EQ(first, "IXA Cell 1");
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(p.AddressUpDown->UpButton(), Qt::LeftButton);
    EXPECT_EQ(p.AddressText->text(), "3");
    EXPECT_EQ(p.Link->Address, 0);
    EXPECT_EQ(p.OnlineStatus->text(), first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "IXA Cell 2"; }, 8000));
    QTest::qWait(300); // anything still on its way
    const TLines sent = Sim->Received();
    EXPECT_EQ(CountOf(sent, "1:VER?"), 0u);
    EXPECT_EQ(CountOf(sent, "2:VER?"), 0u);
    EXPECT_EQ(CountOf(sent, "3:VER?"), 1u);
    EXPECT_EQ(p.Link->Address, 3);
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

// A click elsewhere while the steps may go on goes to the unit the address field shows: the switch
// comes first. A unit chosen in the network windows is used at once, and a step waiting is dropped.
TEST_F(TCommandsTest, ACommandDuringTheAddressWaitGoesToTheNewUnitAndAChosenUnitEndsTheWait) {
    sim::TSimOptions options;
    options.Units = {0, 3, 7};
    TKorvaControlPanel& p = Online(options);
    p.AddressUpDown->SetPosition(2);
    QTest::mouseClick(p.AddressUpDown->UpButton(), Qt::LeftButton);
    ASSERT_EQ(p.Link->Address, 0);
    QTest::mouseClick(p.ModeGroup->Button(1), Qt::LeftButton);
    EXPECT_EQ(p.Link->Address, 3);
    EXPECT_EQ(Commands(*Sim), (TLines{"3:PM 1", "3:CM 0"}));
    EXPECT_EQ(Sim->UnitParameter(3, "PM"), "1");
    EXPECT_EQ(Sim->UnitParameter(0, "PM"), "0");

    Sim->ClearReceived();
    QTest::mouseClick(p.AddressUpDown->DownButton(), Qt::LeftButton);
    p.Maintenance.UseNetworkAddress(7);
    EXPECT_EQ(p.Link->Address, 7);
    EXPECT_EQ(p.AddressText->text(), "7");
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "IXA Cell 3"; }, 8000));
    QTest::qWait(2 * TAddressWait::WaitMs);
    EXPECT_EQ(p.Link->Address, 7);
    const TLines sent = Sim->Received();
    EXPECT_EQ(CountOf(sent, "2:VER?"), 0u);
    EXPECT_EQ(CountOf(sent, "7:VER?"), 1u);
}

// ---- A protocol failure met by an operator action

TEST_F(TCommandsTest, AControllerSilencedDuringAClickGivesOneErrorAndTheBarSendsAgainOnceBack) {
    TKorvaControlPanel& p = Online();
    ASSERT_EQ(p.CommandBar->value(), -500); // CF 50 N
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    p.ModeGroup->Button(1)->click();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows");
    // The click's own read times out, or finds the link already dropped by the monitor's poll.
    const QString text = Dialogs->Boxes[0].Text;
    EXPECT_TRUE(text == "IXA disconnected!" || text == "IXA not connected!") << text.toStdString();
    EXPECT_EQ(Dialogs->Boxes[0].Icon, TMsgIcon::Error);

    ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "Offline"; }, 8000));
    EXPECT_EQ(p.ToolTypeStatus->text(), "No Tool");
    EXPECT_EQ(p.ActiveLabel->text(), "Unknown");
    // No command is known offline, although the monitor never delivered the one the bar showed.
    EXPECT_EQ(p.CommandValue->text(), QString::fromUtf8("\u2014"));
    for (QWidget* c :
         std::initializer_list<QWidget*>{p.ModeGroup, p.ActiveButton, p.CommandBar, p.CommandValue})
        EXPECT_FALSE(c->isEnabled()) << c->metaObject()->className();
    EXPECT_EQ(Dialogs->Boxes.size(), 1u); // the monitor going offline adds none

    Sim->ClearFaults();
    ASSERT_TRUE(WaitOnline());
    EXPECT_EQ(p.ModeGroup->ItemIndex(), 0); // the mode never reached the controller
    EXPECT_EQ(Sim->Parameter("PM"), "0");
    Sim->ClearReceived();
    p.CommandBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(Commands(*Sim), TLines{"0:CF 49.900"});
    EXPECT_EQ(p.CommandValue->text(), "49.9");

    // A reply the link cannot read half-way through the bar's own update (its command read, after
    // the mode is set): the update shows the failure in the command's field, and the bar still sends.
    Sim->ScriptReply("CP?", {"75.000", "KO"});
    p.ModeGroup->Button(1)->click();
    EXPECT_EQ(Sim->Parameter("PM"), "1");
    EXPECT_EQ(p.CommandBarUnits->text(), "mm");
    EXPECT_EQ(p.CommandValue->text(), "IXA Communication Error!");
    Sim->ClearReceived();
    p.CommandBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(Commands(*Sim), TLines{"0:CP 4.980"});
    EXPECT_EQ(Dialogs->Boxes.size(), 1u);
}
