// korva-sim: the simulated IXA controller as a program. Prints the device path to connect to
// (one line, nothing else on standard output) and serves it until interrupted.

#include "sim/Simulator.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>
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
    "  --silent LIST units of --units that start silent (as if unplugged), e.g. 7\n"
    "  --control     read lines from standard input: \"silent N\" makes unit N go silent, \"answer N\"\n"
    "                brings it back (\"ok\" or \"error: ...\" on standard error)\n"
    "  --link PATH   also make PATH a symbolic link to the device, replaced at each start, so that\n"
    "                the console keeps one port name while the simulator is restarted (an\n"
    "                existing PATH that is not a symbolic link is refused)\n"
    "  --late-unit ADDRESS:MS  the unit at ADDRESS answers (echo and reply) MS ms late, as a slow\n"
    "                unit on a long line does\n"
    "  --garbled-unit ADDRESS  the unit at ADDRESS echoes each command with its last byte missing\n"
    "  --trace       print each line received, as received, on standard error (\"received: 0:CF?\")\n"
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

// Reads "silent N" and "answer N" lines until the input ends; each changes one unit of the line.
// Runs on a thread of its own; `live` guards the simulator, which main clears before it goes.
void ServeControl(sim::TSimulator* simulator, std::mutex& live, bool& alive) {
    std::string line;
    while (std::getline(std::cin, line)) {
        const size_t space = line.find(' ');
        const std::string verb = line.substr(0, space);
        int address = -1;
        if ((verb != "silent" && verb != "answer") || space == std::string::npos ||
            !Parse(std::string_view(line).substr(space + 1), address)) {
            std::cerr << "error: expected \"silent N\" or \"answer N\"" << std::endl;
            continue;
        }
        std::lock_guard lock(live);
        if (!alive)
            return;
        try {
            simulator->SetUnitSilent(address, verb == "silent");
            std::cerr << "ok" << std::endl;
        } catch (const std::exception& e) {
            std::cerr << "error: " << e.what() << std::endl;
        }
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
    bool control = false;
    std::vector<int> silent;
    struct TUnitFault {
        int Address;
        sim::TSimFault Fault;
        unsigned DelayMs;
    };
    std::vector<TUnitFault> unitFaults;
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
        } else if (arg == "--silent") {
            if (!hasValue || !ParseUnits(argv[i + 1], silent))
                return Refuse("--silent needs addresses from 0 to 15, each once, such as 7");
            ++i;
        } else if (arg == "--control") {
            control = true;
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
        } else if (arg == "--late-unit") {
            const std::string_view value = hasValue ? std::string_view(argv[i + 1]) : std::string_view();
            const size_t colon = value.find(':');
            int address = -1;
            unsigned ms = 0;
            if (colon == std::string_view::npos || !Parse(value.substr(0, colon), address) || address < 0 ||
                address > 15 || !Parse(value.substr(colon + 1), ms) || ms > 60000)
                return Refuse(
                    "--late-unit needs an address from 0 to 15 and a delay up to 60000 ms, such as 3:250");
            unitFaults.push_back({address, sim::TSimFault::LateEcho, ms});
            ++i;
        } else if (arg == "--garbled-unit") {
            int address = -1;
            if (!hasValue || !Parse(argv[i + 1], address) || address < 0 || address > 15)
                return Refuse("--garbled-unit needs an address from 0 to 15");
            unitFaults.push_back({address, sim::TSimFault::WrongEcho, 0});
            ++i;
        } else if (arg == "--trace") {
            options.OnReceived = [](const std::string& line) {
                std::fprintf(stderr, "received: %s\n", line.c_str());
                std::fflush(stderr);
            };
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
        for (int address : silent)
            simulator.SetUnitSilent(address, true); // refuses an address that is no unit
        // Leaked on purpose: the reader may still be blocked on standard input when main returns.
        auto* live = new std::mutex;
        auto* alive = new bool(true);
        if (control)
            std::thread(ServeControl, &simulator, std::ref(*live), std::ref(*alive)).detach();
        for (const TUnitFault& f : unitFaults)
            simulator.InjectUnitFault(f.Address, f.Fault, -1, f.DelayMs);
        std::cout << (options.LinkPath.empty() ? simulator.SlavePath() : options.LinkPath) << std::endl;
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::lock_guard lock(*live);
        *alive = false;
    } catch (const std::exception& e) {
        std::cerr << "korva-sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
