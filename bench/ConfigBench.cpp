// What a compare costs at the line's real speed: the controller's 51-line dump uploaded into memory
// at 9600-baud pacing, read and compared with a file, against the wire time of the dump's exchange
// (the command and its echo, every dump line and the "OK", each with its LF, 10 bits a byte).
//
//     korva-config-bench [runs]

#include "config/ConfigCompare.h"
#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "sim/Simulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
constexpr double ByteMs = 10.0 / 9600 * 1000;
using TClock = std::chrono::steady_clock;
double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}
} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    sim::TSimOptions options;
    options.Paced = true;
    options.RecordReceived = false;
    sim::TSimulator sim(options);
    TCommPort port;
    port.Open(sim.SlavePath());
    TIxaInterface link(&port);
    link.Connect();
    if (!link.Connected) {
        std::fprintf(stderr, "no handshake with the simulator\n");
        return 1;
    }
    // The file: the dump with three values changed.
    TStringList fileLines = link.UploadCfgLines("DCC");
    fileLines[1] = "CN Other cell";
    fileLines[7] = "FS 2.000";
    fileLines[27] = "FL 3 99.000"; // after CU..PO (13 lines) and CMF 0..10
    const TConfigText file = TConfigText::FromLines(fileLines);

    std::vector<double> total, upload;
    size_t bytes = 0, lines = 0, differences = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = TClock::now();
        const TStringList dump = link.UploadCfgLines("DCC");
        const auto uploaded = TClock::now();
        const TConfigCompare result = TConfigCompare::Compare(file, TConfigText::FromLines(dump));
        const auto done = TClock::now();
        upload.push_back(Ms(uploaded - start));
        total.push_back(Ms(done - start));
        differences = result.Differences();
        lines = dump.size();
        bytes = 2 * (2 + 3 + 1) + 3; // "0:DCC" LF and its echo, "OK" LF
        for (const AnsiString& line : dump)
            bytes += line.size() + 1;
    }
    std::sort(total.begin(), total.end());
    std::sort(upload.begin(), upload.end());
    const double wire = double(bytes) * ByteMs;
    std::printf("compare with a %zu-line dump at 9600-baud pacing, %d runs (%zu differences found)\n", lines,
                runs, differences);
    std::printf("  wire time   %zu bytes  %8.1f ms\n", bytes, wire);
    std::printf("  upload      median %8.1f ms  (min %.1f, max %.1f)\n", upload[upload.size() / 2],
                upload.front(), upload.back());
    std::printf("  whole       median %8.1f ms  (min %.1f, max %.1f)  ratio %.3f\n", total[total.size() / 2],
                total.front(), total.back(), total[total.size() / 2] / wire);
    std::printf("  read + compare alone  %.3f ms\n", total[total.size() / 2] - upload[upload.size() / 2]);
    return 0;
}
