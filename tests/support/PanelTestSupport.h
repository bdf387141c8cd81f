#pragma once
// The control panel as the program builds it, offscreen, with its settings in a folder of the test's
// own and every dialog answered by the scripted service; optionally a simulated controller on a
// pseudo-terminal as its port.

#include "panel/Panel.h"
#include "sim/Simulator.h"
#include "support/ScriptedDialogs.h"
#include "toolkit/Settings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using TLines = std::vector<std::string>;

// The commands the console sent since the last ClearReceived: queries (the monitor's polls) left out.
inline TLines Commands(const sim::TSimulator& sim) {
    TLines commands;
    for (const std::string& line : sim.Received())
        if (line.find('?') == std::string::npos)
            commands.push_back(line);
    return commands;
}

// Two long command lists compared with the first difference named (gtest prints only 32 elements).
inline ::testing::AssertionResult SameLines(const TLines& actual, const TLines& expected) {
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
        ++i;
    if (i == actual.size() && i == expected.size())
        return ::testing::AssertionSuccess();
    auto at = [](const TLines& lines, size_t k) { return k < lines.size() ? "\"" + lines[k] + "\"" : "(none)"; };
    auto result = ::testing::AssertionFailure();
    result << actual.size() << " lines where " << expected.size() << " were expected; first difference at "
           << i << ": " << at(actual, i) << " where " << at(expected, i) << " was expected. Sent:";
    for (size_t k = i; k < actual.size() && k < i + 8; ++k)
        result << "\n  " << actual[k];
    return result;
}

class TPanelTest : public ::testing::Test {
protected:
    TPanelTest() { SetSettingsFolder(SettingsDir.path()); }

    // Starts a simulator with these options (before the panel, as --simulate does).
    sim::TSimulator& StartSimulator(sim::TSimOptions options = {}) {
        Sim.emplace(options);
        return *Sim;
    }
    TKorvaControlPanel& OpenPanel(const AnsiString& port = "") {
        Panel = std::make_unique<TKorvaControlPanel>(nullptr, port.empty() && Sim ? Sim->SlavePath() : port);
        Panel->show();
        return *Panel;
    }
    // Waits (serving the event loop) until the panel shows the controller online with its tool.
    bool WaitOnline(unsigned ms = 8000) {
        return QTest::qWaitFor(
            [&] {
                return Panel->OnlineStatus->text() != "Offline" && Panel->ToolTypeStatus->text() != "No Tool";
            },
            static_cast<int>(ms));
    }
    // A simulator, the panel on it, online with its tool, and the record of what was sent emptied.
    TKorvaControlPanel& Online(sim::TSimOptions options = {}) {
        StartSimulator(options);
        TKorvaControlPanel& p = OpenPanel();
        EXPECT_TRUE(WaitOnline());
        Sim->ClearReceived();
        return p;
    }
    void ClosePanel() { Panel.reset(); }

    QTemporaryDir SettingsDir;
    TScriptedDialogsScope Dialogs;
    std::optional<sim::TSimulator> Sim; // outlives the panel (declared first)
    std::unique_ptr<TKorvaControlPanel> Panel;

    ~TPanelTest() override { Panel.reset(); }
};
