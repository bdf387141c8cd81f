// korva: the controller from a script. The same link as the console, one exchange after another,
// with plain output for people, --json for programs, and exit codes to branch on:
//   0 done, 1 a difference (diff), 2 usage, 3 port, 4 link or protocol, 5 controller error.

#include "cli/Commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace {

const char* const Usage =
    "usage: korva [--port NAME] [--address N] [--timeout MS] [--json] COMMAND [ARGS]\n"
    "\n"
    "The controller from a script, over the console's own link.\n"
    "\n"
    "commands:\n"
    "  info                     version, name, tool type, units, tool present\n"
    "  get PARAM [INDEX]        read a parameter, by mnemonic (CF) or accessor name (CommandForce)\n"
    "  set PARAM [INDEX] VALUE  write a parameter, checked against its type\n"
    "  send LINE                one raw exchange; prints the reply lines\n"
    "  watch [--interval MS] [--count N] [--csv]\n"
    "                           live values, one line per pass\n"
    "  weigh [--save]           weigh the current tool; --save keeps it (SC 1)\n"
    "  restore FILE [--save]    download a configuration file; --save keeps it (SC 1)\n"
    "  params                   the parameters get and set know\n"
    "  ports                    the serial devices of this machine, with what is known of each\n"
    "  help [COMMAND]           this text, or one command's\n"
    "\n"
    "options:\n"
    "  --port NAME      the port; else $KORVA_PORT, else the port the console was set to\n"
    "  --address N      the controller's network address, 0 to 15 (default 0)\n"
    "  --timeout MS     the reply time limit per line (default 1000)\n"
    "  --json           one JSON object (one per line for watch) instead of text\n"
    "  --help           this text\n"
    "\n"
    "exit codes: 0 done, 1 a difference, 2 usage, 3 port, 4 link or protocol, 5 controller error\n";

int Fail(const char* message) {
    std::fprintf(stderr, "korva: %s\nTry 'korva --help'.\n", message);
    return ExitUsage;
}

bool ParseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return *text && !*end && errno == 0 && value >= low && value <= high;
}

} // namespace

int main(int argc, char** argv) {
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
            options.Json = true;
            break;
        case 'h':
            std::fputs(Usage, stdout);
            return ExitOk;
        default: {
            const std::string text = "unknown option '" + std::string(argv[optind - 1]) + "'";
            return Fail(text.c_str());
        }
        }
    }
    if (optind >= argc)
        return Fail("no command given");
    const std::string command = argv[optind];
    std::vector<std::string> args(argv + optind + 1, argv + argc);
    if (command == "help" || command == "--help") {
        if (args.empty()) {
            std::fputs(Usage, stdout);
            return ExitOk;
        }
        const char* help = CommandHelp(args[0]);
        if (!help)
            return Fail(("no command '" + args[0] + "'").c_str());
        std::fputs(help, stdout);
        return ExitOk;
    }
    return RunCommand(command, args, options);
}
