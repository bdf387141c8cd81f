#pragma once
// What the dialog tests share: the simulated controller on its pseudo-terminal with the real port
// and link (connected or not), the scripted message boxes and the recorded help requests.

#include "NothingWritten.h"
#include "support/LinkRig.h"
#include "support/ScriptedDialogs.h"
#include "toolkit/Help.h"

#include <QString>
#include <algorithm>
#include <string>
#include <vector>

struct TDialogRig {
    explicit TDialogRig(bool connect = true, sim::TSimOptions options = {}) : Link(options, connect) {
        if (connect)
            Link.Link.GetEnglishUnits(); // the unit texts, as the monitor's first refresh reads them
        Link.Sim.ClearReceived();
    }
    // The lines the console sent since the last call (waits for count of them).
    std::vector<std::string> Sent(size_t count = 0) {
        if (count == 0) {
            auto lines = Link.Sim.Received();
            Link.Sim.ClearReceived();
            return lines;
        }
        return Link.Sent(count);
    }
    // The commands among lines that set something (no "?" query).
    static std::vector<std::string> Writes(const std::vector<std::string>& lines) {
        std::vector<std::string> writes;
        for (const std::string& line : lines)
            if (line.find('?') == std::string::npos)
                writes.push_back(line.substr(line.find(':') + 1));
        return writes;
    }

    TLinkRig Link;
    TScriptedDialogsScope Dialogs;
    THelpRecorderScope Help;
};

// The one help request a Help button must make: context number, and nothing else asked.
inline void ExpectHelpContext(const THelpRecorderScope& help, long context) {
    ASSERT_EQ(help.Requests.size(), 1u);
    EXPECT_EQ(help.Requests[0].Command, HELP_CONTEXT);
    EXPECT_EQ(help.Requests[0].Data, context);
}

// The last box shown is that box, with this text.
inline void ExpectNothingWrittenBox(const TScriptedDialogsScope& dialogs, const char* text) {
    ASSERT_FALSE(dialogs->Boxes.empty());
    EXPECT_EQ(dialogs->Boxes.back().Caption, "Korva Windows");
    EXPECT_EQ(dialogs->Boxes.back().Text, text);
}

// The controller comes back after the dialog opened offline: the link's handshake succeeds.
inline void ControllerBack(TDialogRig& rig) {
    rig.Link.Link.Connect();
    ASSERT_TRUE(rig.Link.Link.Connected);
    rig.Link.Link.GetEnglishUnits();
    rig.Sent();
}

// The controller goes silent and the link finds it gone.
inline void LinkLost(TDialogRig& rig) {
    rig.Link.Sim.InjectFault(sim::TSimFault::Silent, -1);
    rig.Link.Link.Connect();
    ASSERT_FALSE(rig.Link.Link.Connected);
    rig.Link.Sim.ClearFaults();
    rig.Sent();
}
