// korva-sim: the simulated IXA controller as a program. Prints the device path to connect to
// (one line, nothing else on standard output) and serves it until interrupted.

#include "sim/Simulator.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>
#include <pthread.h>
#include <string_view>
#include <vector>

namespace {

const char* const Usage =
    "Usage: korva-sim [options]\n"
    "Simulates an IXA controller on a pseudo-terminal and prints its device path.\n"
    "  --version X   controller version to report (default 4.2; below 4.0 the console refuses it)\n"
    "  --english     start in English units (In., Lbf., Lb.) instead of mm, N, kg\n"
    "  --address N   network address 0..15 (default 0)\n"
    "  --units LIST  several units on one line, one at each address of LIST (e.g. 0,3,7), each with\n"
    "                its own parameters and name (\"IXA Cell 1\", \"IXA Cell 2\", ...)\n"
    "  --paced       every byte takes its time at 9600 baud\n"
    "  --crlf        end lines with CR LF instead of LF\n"
    "  --no-tool     start with no tool plugged in\n"
    "  --endless-dump  a broken controller: its configuration dumps never end (until the next\n"
    "                command), to try what the console does with one\n"
    "  --link PATH   also make PATH a symbolic link to the device, replaced at each start, so that\n"
    "                the console keeps one port name while the simulator is restarted\n"
    "  --help        show this text\n";

template <typename T> bool Parse(std::string_view text, T& value) {
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
}

// "0,3,7": addresses 0..15, each once.
bool ParseUnits(std::string_view text, std::vector<int>& units) {
    units.clear();
    while (true) {
        const size_t comma = text.find(',');
        int address = -1;
        if (!Parse(text.substr(0, comma), address) || address < 0 || address > 15)
            return false;
        if (std::find(units.begin(), units.end(), address) != units.end())
            return false;
        units.push_back(address);
        if (comma == std::string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}

int Refuse(const std::string& message) {
    std::cerr << "korva-sim: " << message << "\n" << Usage;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    sim::TSimOptions options;
    options.RecordReceived = false; // runs until stopped; nobody reads the record
    bool endlessDump = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::cout << Usage;
            return 0;
        } else if (arg == "--version") {
            if (!hasValue || !Parse(argv[i + 1], options.Version) || options.Version < 0)
                return Refuse("--version needs a number such as 4.1");
            options.VersionText = argv[++i]; // answered as typed
        } else if (arg == "--address") {
            if (!hasValue || !Parse(argv[i + 1], options.NetAddress) || options.NetAddress < 0 ||
                options.NetAddress > 15)
                return Refuse("--address needs a number from 0 to 15");
            ++i;
        } else if (arg == "--units") {
            if (!hasValue || !ParseUnits(argv[i + 1], options.Units))
                return Refuse("--units needs addresses from 0 to 15, each once, such as 0,3,7");
            ++i;
        } else if (arg == "--english") {
            options.EnglishUnits = true;
        } else if (arg == "--paced") {
            options.Paced = true;
        } else if (arg == "--crlf") {
            options.CrLf = true;
        } else if (arg == "--no-tool") {
            options.ToolConnected = false;
        } else if (arg == "--endless-dump") {
            endlessDump = true;
        } else if (arg == "--link") {
            if (!hasValue || argv[i + 1][0] == '\0')
                return Refuse("--link needs a path");
            options.LinkPath = argv[++i];
        } else {
            return Refuse("unknown option " + std::string(arg));
        }
    }

    // Block the stop signals before the serving thread exists, so that it inherits the mask and
    // only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        sim::TSimulator simulator(options);
        if (endlessDump)
            simulator.InjectFault(sim::TSimFault::EndlessDump, -1);
        std::cout << (options.LinkPath.empty() ? simulator.SlavePath() : options.LinkPath) << std::endl;
        int signal = 0;
        sigwait(&stopSignals, &signal);
    } catch (const std::exception& e) {
        std::cerr << "korva-sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
