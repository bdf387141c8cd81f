#pragma once
// The subcommands of the korva program. Each opens the port, runs its exchanges through the link
// and prints its result on standard output (text, or JSON with --json); failures go to standard
// error as the link's own texts with the port and address named. Plain C++, no toolkit.

#include <string>
#include <vector>

enum TExitCode {
    ExitOk = 0,
    ExitDifferent = 1,
    ExitUsage = 2,
    ExitPort = 3,
    ExitLink = 4,
    ExitController = 5
};

struct TCliOptions {
    std::string Port; // empty: $KORVA_PORT, else the console's stored port
    int Address = 0;
    int Timeout = 1000;
    bool TimeoutGiven = false;
    bool Json = false;
};

// Runs command with its arguments; returns the exit code.
int RunCommand(const std::string& command, const std::vector<std::string>& args, const TCliOptions& options);

// The usage's list of commands, one synopsis and summary each, from the command table.
std::string CommandList();

// The help text of one command, or nullptr when there is no such command.
const char* CommandHelp(const std::string& command);

// "--units 0,3,7": addresses from 0 to 15, or EUsage.
std::vector<int> UnitList(const std::string& text);
