// korva: the controller from a script. The same link as the console, one exchange after another,
// with plain output for people, --json for programs, and exit codes to branch on:
//   0 done, 1 a difference (diff), 2 usage, 3 port, 4 link, protocol or output, 5 controller error.

#include "cli/Commands.h"
#include "cli/Output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>

namespace {

const char* const UsageHead =
    "usage: korva [--port NAME] [--address N] [--timeout MS] [--json] COMMAND [ARGS]\n"
    "\n"
    "The controller from a script, over the console's own link.\n"
    "\n"
    "commands:\n";
const char* const UsageTail =
    "  help [COMMAND]           this text, or one command's\n"
    "\n"
    "options:\n"
    "  --port NAME      the port; else $KORVA_PORT, else the port the console was set to\n"
    "  --address N      the controller's network address, 0 to 15 (default 0)\n"
    "  --timeout MS     the reply time limit per line (default 1000)\n"
    "  --json           one JSON object (one per line for watch) instead of text; an error,\n"
    "                   a wrong call too, is one object {\"error\", \"exit\"} on standard error\n"
    "  --help           this text\n"
    "\n"
    "Control characters in text output are shown as \\xNN.\n"
    "\n"
    "exit codes: 0 done, 1 a difference, 2 usage, 3 port, 4 link, protocol or output,\n"
    "5 controller error\n";

// Whether --json comes among the program's options, before the command: a wrong call is then
// reported as JSON too, even when it comes before --json.
bool JsonAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json")
            return true;
        if (arg == "--port" || arg == "--address" || arg == "--timeout")
            ++i; // its value
        else if (arg == "--" || arg.empty() || arg[0] != '-')
            return false; // the command
    }
    return false;
}

bool jsonErrors = false; // errors as JSON: --json given

int Fail(const std::string& message) {
    return ReportError(jsonErrors, ExitUsage, message, "korva --help");
}

// The usage, its commands from the command table.
std::string Usage() {
    return UsageHead + CommandList() + UsageTail;
}

int Show(const std::string& text) {
    try {
        WriteOut(text);
        return ExitOk;
    } catch (const EOutput& e) {
        return ReportError(jsonErrors, ExitLink, e.what());
    }
}

bool ParseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return *text && !*end && errno == 0 && value >= low && value <= high;
}

} // namespace

int main(int argc, char** argv) {
    GuardStandardStreams();
    jsonErrors = JsonAsked(argc, argv);
    TCliOptions options;
    static const option longOptions[] = {
        {"port", required_argument, nullptr, 'p'},    {"address", required_argument, nullptr, 'a'},
        {"timeout", required_argument, nullptr, 't'}, {"json", no_argument, nullptr, 'j'},
        {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c = 0;
    // "+": the options end at the command, so that its own arguments (a value of -2.5) stay its own.
    while ((c = getopt_long(argc, argv, "+", longOptions, nullptr)) != -1) {
        long value = 0;
        switch (c) {
        case 'p':
            options.Port = optarg;
            break;
        case 'a':
            if (!ParseNumber(optarg, 0, 15, value))
                return Fail("--address needs a number from 0 to 15");
            options.Address = int(value);
            break;
        case 't':
            if (!ParseNumber(optarg, 1, 600000, value))
                return Fail("--timeout needs a number of milliseconds from 1 to 600000");
            options.Timeout = int(value);
            options.TimeoutGiven = true;
            break;
        case 'j':
            options.Json = jsonErrors = true;
            break;
        case 'h':
            return Show(Usage());
        default:
            return Fail("unknown option '" + std::string(argv[optind - 1]) + "'");
        }
    }
    if (optind >= argc)
        return Fail("no command given");
    const std::string command = argv[optind];
    std::vector<std::string> args(argv + optind + 1, argv + argc);
    if (command == "help" || command == "--help") {
        if (args.empty())
            return Show(Usage());
        const char* help = CommandHelp(args[0]);
        if (!help)
            return Fail("no command '" + args[0] + "'");
        return Show(help);
    }
    return RunCommand(command, args, options);
}
