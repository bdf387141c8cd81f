// The terminal: what typing sends, what arrives on screen, and the port failures it reports.
// The controller is either the simulator or a bare pseudo-terminal whose far end the test drives
// byte by byte.

#include "maintenance/Terminal.h"
#include "../support/HelpKey.h"
#include "WaitFor.h"
#include "sim/PtyLine.h"
#include "sim/Simulator.h"
#include "support/ScriptedDialogs.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QElapsedTimer>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {

// The far end of the line, read and written raw.
struct TFarEnd {
    TFarEnd() { Port.Open(Line.SlavePath()); }
    void Send(const std::string& bytes) {
        ASSERT_EQ(Line.Write(bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Everything the console sent until `count` bytes have come (or timeoutMs have passed).
    std::string Read(size_t count, int timeoutMs = 2000) {
        std::string got;
        WaitFor(
            [&] {
                char buf[256];
                const ssize_t n = Line.Read(buf, sizeof buf);
                if (n > 0)
                    got.append(buf, size_t(n));
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }
    sim::TPtyLine Line;
    TCommPort Port;
};

// Hands the form every byte that waits, as the idle poll does while the window is visible.
// Waits until all `expected` bytes are in, then makes one idle call per byte.
void Drain(TTerminalForm& form, TCommPort& port, size_t expected) {
    ASSERT_TRUE(WaitFor([&] { return size_t(port.InQueue()) >= expected; }, 2000));
    for (size_t i = 0; i < expected; ++i) {
        bool done = true;
        form.TerminalIdle(done);
        ASSERT_FALSE(done);
    }
    EXPECT_EQ(port.InQueue(), 0);
}

QString Screen(const TTerminalForm& form) {
    return form.TerminalText->toPlainText();
}

TEST(Terminal, TypedCommandGoesOutAtOnceAndOnlyTheReplyShows) {
    sim::TSimulator sim;
    TCommPort port;
    port.Open(sim.SlavePath());
    TTerminalForm form(nullptr, &port);
    form.show();
    ASSERT_TRUE(sim.WaitReceived(1, 2000)); // the opening CR LF: an empty line
    QTest::keyClicks(form.TerminalText, "0:VER?");
    EXPECT_EQ(Screen(form), ""); // no local echo
    QTest::keyClick(form.TerminalText, Qt::Key_Return);
    ASSERT_TRUE(sim.WaitReceived(2, 2000));
    EXPECT_EQ(sim.Received(), (std::vector<std::string>{"", "0:VER?"}));
    EXPECT_TRUE(WaitFor([&] { return Screen(form) == "0:VER?\n4.2\nOK\n"; })) << Screen(form).toStdString();
    form.hide();
}

TEST(Terminal, EnterIsCrLfAndKeysWithoutCharacterStayLocal) {
    TFarEnd far;
    TTerminalForm form(nullptr, &far.Port);
    form.show();
    EXPECT_EQ(far.Read(2), "\r\n");
    QTest::keyClicks(form.TerminalText, "VER?");
    QTest::keyClick(form.TerminalText, Qt::Key_Left);
    QTest::keyClick(form.TerminalText, Qt::Key_Delete);
    QTest::keyClick(form.TerminalText, Qt::Key_Return);
    EXPECT_EQ(far.Read(6), "VER?\r\n");
    EXPECT_EQ(far.Read(1, 300), ""); // nothing more
    form.hide();
}

// ---- The command line and its history

void SendFromCommandLine(TTerminalForm& form, const char* line) {
    QTest::keyClicks(form.CommandLine, line);
    QTest::keyClick(form.CommandLine, Qt::Key_Return);
}

TEST(Terminal, TheCommandLineSendsAsTypingWouldAndRecallsItsLines) {
    WriteSetting("TerminalHistory", "");
    TFarEnd far;
    {
        TTerminalForm form(nullptr, &far.Port);
        form.show();
        EXPECT_EQ(far.Read(2), "\r\n");
        SendFromCommandLine(form, "0:VER?");
        EXPECT_EQ(far.Read(8), "0:VER?\r\n");
        EXPECT_EQ(form.CommandLine->text(), "");
        EXPECT_EQ(Screen(form), ""); // no local echo here either
        SendFromCommandLine(form, "0:ACT 1");
        SendFromCommandLine(form, "0:ACT 1"); // a repeat is sent, not kept twice
        SendFromCommandLine(form, "");        // Enter alone: CR LF, nothing kept
        EXPECT_EQ(far.Read(20), "0:ACT 1\r\n0:ACT 1\r\n\r\n");

        QTest::keyClicks(form.CommandLine, "0:TN");
        const auto press = [&](Qt::Key key) {
            QTest::keyClick(form.CommandLine, key);
            return form.CommandLine->text().toStdString();
        };
        EXPECT_EQ(press(Qt::Key_Up), "0:ACT 1");
        EXPECT_EQ(press(Qt::Key_Up), "0:VER?");
        EXPECT_EQ(press(Qt::Key_Up), "0:VER?"); // the oldest stays
        EXPECT_EQ(press(Qt::Key_Down), "0:ACT 1");
        EXPECT_EQ(press(Qt::Key_Down), "0:TN"); // back to what was being typed
        EXPECT_EQ(press(Qt::Key_Down), "0:TN");
        EXPECT_EQ(far.Read(1, 300), ""); // browsing sends nothing
        form.hide();
    }
    // The next opening (or start) recalls the same lines; a recalled line is sent as it reads.
    TTerminalForm again(nullptr, &far.Port);
    again.show();
    far.Read(2);
    QTest::keyClick(again.CommandLine, Qt::Key_Up);
    QTest::keyClick(again.CommandLine, Qt::Key_Up);
    QTest::keyClick(again.CommandLine, Qt::Key_Return);
    EXPECT_EQ(far.Read(8), "0:VER?\r\n");
    // Sent again, it is the newest.
    EXPECT_EQ(again.CommandLine->History.Lines(), (std::vector<QString>{"0:VER?", "0:ACT 1", "0:VER?"}));
    again.hide();
}

TEST(Terminal, F1OpensItsPage) {
    TTerminalForm form(nullptr, nullptr);
    form.show();
    ExpectF1AsksFor(&form, TerminalHelpContext);
    EXPECT_EQ(Screen(form), ""); // the key is not typed
    form.hide();
}

TEST(Terminal, TheHistoryKeepsTheNewestHundredLines) {
    TCommandHistory history;
    for (int i = 0; i < 105; ++i)
        history.Add(QString("L%1").arg(i));
    ASSERT_EQ(history.Lines().size(), TCommandHistory::MaxLines);
    EXPECT_EQ(history.Lines().front(), "L5");
    history.Store();
    TCommandHistory loaded;
    loaded.Load();
    ASSERT_EQ(loaded.Lines().size(), TCommandHistory::MaxLines);
    EXPECT_EQ(loaded.Lines().front(), "L5");
    EXPECT_EQ(loaded.Lines().back(), "L104");
    EXPECT_EQ(loaded.Older(""), "L104");
    // A stored value longer than the bound (edited by hand) is cut to the newest lines too.
    WriteSetting("TerminalHistory",
                 "a\nb\n" +
                     ToSystemName(QStringList(history.Lines().begin(), history.Lines().end()).join('\n')));
    loaded.Load();
    EXPECT_EQ(loaded.Lines().size(), TCommandHistory::MaxLines);
    EXPECT_EQ(loaded.Lines().front(), "L5");
}

TEST(Terminal, ReceivedBytesOnScreen) {
    const struct {
        const char* Name;
        uint8_t LastBefore; // what the previous opening took last
        std::string Bytes;
        QString Shown;
    } rows[] = {
        {"CR LF is one break", 0, "A\r\nB", "A\nB"},
        {"a lone LF is passed on", 0, "A\nB", "A\nB"},
        {"LF CR is two breaks", 0, "A\n\rB", "A\n\nB"},
        {"LF first after a CR last time", 13, "\nA", "A"},
        {"LF first after anything else", 'x', "\nA", "\nA"},
        {"BEL inserts nothing", 0, "A\aB", "AB"},
        {"Latin-1 bytes unchanged", 0, "\xb5m", QString::fromLatin1("\xb5m")},
    };
    for (const auto& row : rows) {
        TFarEnd far;
        LastReceived = row.LastBefore;
        TTerminalForm form(nullptr, &far.Port);
        far.Send(row.Bytes);
        Drain(form, far.Port, row.Bytes.size());
        EXPECT_EQ(Screen(form), row.Shown) << row.Name;
        EXPECT_EQ(LastReceived, uint8_t(row.Bytes.back())) << row.Name;
    }
}

TEST(Terminal, LastReceivedCarriesAcrossOpenings) {
    TFarEnd far;
    {
        TTerminalForm first(nullptr, &far.Port);
        far.Send("OK\r");
        Drain(first, far.Port, 3);
    }
    TTerminalForm second(nullptr, &far.Port);
    EXPECT_EQ(Screen(second), "");
    far.Send("\nX");
    Drain(second, far.Port, 2);
    EXPECT_EQ(Screen(second), "X");
}

TEST(Terminal, KeepsEighteenLinesAndAppendsAtTheEnd) {
    TFarEnd far;
    TTerminalForm form(nullptr, &far.Port);
    std::string dump;
    for (int i = 1; i <= 17; ++i)
        dump += "DOF 0 1 line " + std::to_string(i) + std::string(60, '.') + "\r\n";
    dump += "last";
    far.Send(dump);
    Drain(form, far.Port, dump.size());
    ASSERT_EQ(form.TerminalText->LineCount(), 18);
    ASSERT_GT(Screen(form).size(), 1000);
    ASSERT_TRUE(Screen(form).startsWith("DOF 0 1 line 1."));

    // The operator puts the caret at the top; what arrives still goes to the end.
    QTextCursor top = form.TerminalText->textCursor();
    top.movePosition(QTextCursor::Start);
    form.TerminalText->setTextCursor(top);
    far.Send("\r\nnext");
    Drain(form, far.Port, 6);
    EXPECT_EQ(form.TerminalText->LineCount(), 18);
    EXPECT_TRUE(Screen(form).startsWith("DOF 0 1 line 2.")) << Screen(form).left(40).toStdString();
    EXPECT_TRUE(Screen(form).endsWith("last\nnext"));
}

TEST(Terminal, SendFailureIsReportedAndTheWindowStays) {
    TScriptedDialogsScope dialogs;
    TFarEnd far;
    TTerminalForm form(nullptr, &far.Port);
    form.show();
    far.Read(2);
    far.Line.Close(); // the line hangs up
    QTest::keyClick(form.TerminalText, 'A');
    ASSERT_EQ(dialogs->Boxes.size(), 1u);
    EXPECT_EQ(dialogs->Boxes[0].Caption, "Halvane Terminal Error");
    EXPECT_EQ(dialogs->Boxes[0].Text, "Error writing to serial port!");
    EXPECT_EQ(dialogs->Boxes[0].Buttons, TMsgButtons::Ok);
    EXPECT_EQ(dialogs->Boxes[0].Icon, TMsgIcon::None);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Screen(form), "");
    form.hide();
}

TEST(Terminal, ARefusedCommandLineIsReportedOnce) {
    TScriptedDialogsScope dialogs;
    TFarEnd far;
    TTerminalForm form(nullptr, &far.Port);
    form.show();
    far.Read(2);
    far.Line.Close();
    QTest::keyClicks(form.CommandLine, "0:VER?");
    QTest::keyClick(form.CommandLine, Qt::Key_Return);
    ASSERT_EQ(dialogs->Boxes.size(), 1u);
    EXPECT_EQ(dialogs->Boxes[0].Text, "Error writing to serial port!");
    EXPECT_TRUE(form.isVisible());
    QTest::keyClick(form.CommandLine, Qt::Key_Up); // kept all the same, to send again later
    EXPECT_EQ(form.CommandLine->text(), "0:VER?");
    form.hide();
}

TEST(Terminal, OpeningFailureIsReportedAndTheWindowCloses) {
    TScriptedDialogsScope dialogs;
    TFarEnd far;
    far.Line.Close();
    TTerminalForm form(nullptr, &far.Port);
    form.open();
    ASSERT_EQ(dialogs->Boxes.size(), 1u);
    EXPECT_EQ(dialogs->Boxes[0].Caption, "Halvane Terminal Error");
    EXPECT_EQ(dialogs->Boxes[0].Text, "Error writing to serial port!");
    EXPECT_TRUE(WaitFor([&] { return !form.isVisible(); }));
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST(Terminal, ClosedPortOrNoPort) {
    TScriptedDialogsScope dialogs;
    TCommPort closed;
    TTerminalForm quiet(nullptr, &closed);
    quiet.show();
    QTest::keyClicks(quiet.TerminalText, "abc");
    QTest::keyClick(quiet.TerminalText, Qt::Key_Return);
    EXPECT_EQ(Screen(quiet), ""); // typed characters vanish
    quiet.hide();

    TTerminalForm local(nullptr, nullptr);
    local.show();
    QTest::keyClicks(local.TerminalText, "abc");
    EXPECT_EQ(Screen(local), "abc"); // no port: the text area takes what is typed
    QTest::keyClicks(local.CommandLine, "de");
    QTest::keyClick(local.CommandLine, Qt::Key_Return);
    EXPECT_EQ(Screen(local), "abcde\n"); // and so what the command line sends
    local.hide();
    EXPECT_TRUE(dialogs->Boxes.empty());
}

// Feeds the bytes through the line in pieces, each taken in by idle calls until none waits, and
// returns the seconds that took.
double Feed(TTerminalForm& form, TFarEnd& far, const std::string& bytes) {
    QElapsedTimer took;
    took.start();
    for (size_t at = 0; at < bytes.size(); at += 1000) {
        const std::string piece = bytes.substr(at, 1000);
        far.Send(piece);
        EXPECT_TRUE(WaitFor([&] { return size_t(far.Port.InQueue()) >= piece.size(); }, 2000));
        while (far.Port.InQueue() > 0) {
            bool done = true;
            form.TerminalIdle(done);
        }
    }
    return double(took.nsecsElapsed()) / 1e9;
}

// Received text costs the same per byte however long its line is: a long line goes on on the next
// line after 256 characters, and runs of text go in with one insert. (Byte by byte into one line,
// 5,000 bytes without a line end took seconds, and each further byte longer than the last.)
TEST(Terminal, AByteCostsTheSameHoweverLongItsLine) {
    std::string lines, stream;
    for (int i = 0; i < 200; ++i)
        lines += std::string(78, char('a' + i % 26)) + "\r\n";
    for (int i = 0; i < 16000; ++i)
        stream += char('a' + i % 26);
    double shortLines = 0, oneLine = 0;
    {
        TFarEnd far;
        TTerminalForm form(nullptr, &far.Port);
        shortLines = Feed(form, far, lines);
    }
    TFarEnd far;
    TTerminalForm form(nullptr, &far.Port);
    oneLine = Feed(form, far, stream);
    std::printf("terminal: 16,000 bytes in 80-byte lines %.3f s, in one line %.3f s\n", shortLines, oneLine);
    // Far below the line's own 17 s for 16,000 bytes at 960 bytes/s, and no dearer than short lines
    // (with a wide margin for a loaded machine).
    EXPECT_LT(oneLine, 3 * shortLines + 1.0);

    const QStringList shown = Screen(form).split('\n');
    EXPECT_EQ(shown.size(), 18);
    for (const QString& line : shown)
        EXPECT_LE(line.size(), 256);
    // Nothing lost: the last 18 lines hold the end of the stream as it came.
    EXPECT_TRUE(QString::fromLatin1(stream.c_str()).endsWith(shown.join(""))) << shown.join("").size();
    EXPECT_EQ(shown.join("").size(), 17 * 256 + 16000 % 256);
}

} // namespace
