// The trend's data side: the ring, the step lines drawn from it, and the CSV recording, alone with
// chosen times and fed by the monitor from the simulated controller through the real port and link.
// The test's own thread is the main thread: it serves the monitor's events while it waits.

#include "monitor/Ixamonitor.h"
#include "record/TrendLog.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using TRow = std::vector<std::string>;
using enum TTrendChannel;

TTrendTime At(double seconds) {
    TTrendTime t;
    t.Seconds = seconds;
    t.Wall = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765200000000LL)) +
             std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    return t;
}

// The cells of one CSV line as a spreadsheet reads them: quoted cells unquoted, "" as one quote.
TRow Split(const std::string& line) {
    TRow cells(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            cells.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            cells.emplace_back();
        } else {
            cells.back() += c;
        }
    }
    EXPECT_FALSE(quoted) << "an open quote: " << line;
    return cells;
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The data rows of a recording (after the comment and header lines; comment lines left out).
std::vector<TRow> Rows(const std::string& path) {
    std::vector<TRow> rows;
    const auto lines = Lines(path);
    for (size_t i = 2; i < lines.size(); ++i)
        if (lines[i].rfind('#', 0) != 0)
            rows.push_back(Split(lines[i]));
    return rows;
}

class TTempFile {
public:
    TTempFile() {
        char name[] = "/tmp/korva-trend-XXXXXX";
        const int fd = mkstemp(name);
        close(fd);
        Path = std::string(name) + ".csv";
        std::remove(name);
    }
    ~TTempFile() { std::remove(Path.c_str()); }
    std::string Path;
};

size_t PointCount(const std::vector<TTrendSegment>& segments) {
    size_t n = 0;
    for (const auto& s : segments)
        n += s.size();
    return n;
}

} // namespace

// The ring holds an hour of one change per line in every polling pass, the most the monitor delivers.
static_assert(TTrendHistory::DefaultCapacity >= 3600 * 1000 / TIxaMonitor::OnlinePeriod);

TEST(TrendRing, DropsTheOldestPointsWhenFull) {
    TTrendRing ring(4);
    for (int i = 0; i < 6; ++i)
        ring.Push({double(i), double(i * 10)});
    ASSERT_EQ(ring.Size(), 4u);
    EXPECT_EQ(ring.Dropped(), 2u);
    EXPECT_EQ(ring[0].Time, 2);
    EXPECT_EQ(ring.Back().Value, 50);
    EXPECT_EQ(ring.UpperBound(1.5), 0u);
    EXPECT_EQ(ring.UpperBound(3), 2u);
    EXPECT_EQ(ring.UpperBound(9), 4u);

    // In the history, the time before the oldest kept point has no value any more.
    TTrendHistory history(3);
    for (int i = 0; i < 5; ++i)
        history.Deliver(CommandForce, i, i);
    EXPECT_TRUE(std::isnan(history.ValueAt(CommandForce, 1.5)));
    EXPECT_EQ(history.ValueAt(CommandForce, 2.5), 2);
    EXPECT_EQ(history.Points(CommandForce).Dropped(), 2u);

    // How far back there is anything: the oldest point any channel still holds, once the ring drops.
    EXPECT_EQ(history.FirstTime(), 2);
    history.Deliver(Mode, 1, 6);
    EXPECT_EQ(history.FirstTime(), 2);
    for (int i = 7; i < 12; ++i)
        history.Deliver(CommandForce, i, i);
    EXPECT_EQ(history.FirstTime(), 6); // the mode's lone point is now the oldest
    EXPECT_EQ(TTrendHistory().FirstTime(), 0);
}

TEST(TrendHistory, HoldsValuesAsStepsAndBreaksAtOfflineStretches) {
    TTrendHistory history;
    EXPECT_TRUE(std::isnan(history.Held(Position)));
    history.Deliver(Position, 10, 1);
    history.Deliver(Position, 10, 1.5); // unchanged: no point
    history.Deliver(Position, 12, 2);
    history.Disconnect(3);
    EXPECT_FALSE(history.Online());
    EXPECT_TRUE(std::isnan(history.Held(Position)));
    history.Deliver(Position, 5, 6);
    EXPECT_EQ(history.Points(Position).Size(), 4u);

    EXPECT_EQ(history.ValueAt(Position, 1.9), 10);
    EXPECT_TRUE(std::isnan(history.ValueAt(Position, 4)));
    const auto steps = history.Steps(Position, 0, 8, 1000);
    ASSERT_EQ(steps.size(), 2u);
    // 10 from 1, a step at 2 to 12, held up to the loss at 3; nothing in between; 5 from 6 to the end.
    const std::vector<std::pair<double, double>> first = {{1, 10}, {2, 10}, {2, 12}, {3, 12}};
    ASSERT_EQ(steps[0].size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(steps[0][i].Time, first[i].first) << i;
        EXPECT_EQ(steps[0][i].Value, first[i].second) << i;
    }
    ASSERT_EQ(steps[1].size(), 2u);
    EXPECT_EQ(steps[1][0].Time, 6);
    EXPECT_EQ(steps[1][1].Time, 8);
    EXPECT_EQ(steps[1][1].Value, 5);

    // A window that starts inside a held stretch starts with the value held there.
    const auto late = history.Steps(Position, 2.5, 8, 1000);
    ASSERT_EQ(late.size(), 2u);
    EXPECT_EQ(late[0].front().Time, 2.5);
    EXPECT_EQ(late[0].front().Value, 12);
}

TEST(TrendHistory, ThinsBusyColumnsButKeepsTheirRange) {
    TTrendHistory history;
    // 1 h of a value changing at every 200 ms pass, drawn 1000 columns wide.
    for (int i = 0; i < 18000; ++i)
        history.Deliver(ActualForce, (i % 7 == 0) ? 100 + i % 3 : i % 50, i * 0.2);
    const auto steps = history.Steps(ActualForce, 0, 3600, 1000);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_LE(PointCount(steps), 4u * 1000 + 2);
    double lo = 1e9, hi = -1e9;
    for (const auto& p : steps[0]) {
        lo = std::min(lo, p.Value);
        hi = std::max(hi, p.Value);
        EXPECT_GE(p.Time, 0);
        EXPECT_LE(p.Time, 3600);
    }
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 102);
    for (size_t i = 1; i < steps[0].size(); ++i)
        EXPECT_LE(steps[0][i - 1].Time, steps[0][i].Time) << i;
}

TEST(TrendRecorder, WritesHeaderUnitsHeldValuesAndEmptyCellsOffline) {
    TTempFile file;
    TTrendLog log;
    log.Connect(At(0));
    log.Deliver(CommandForce, 12.5, At(0.1));
    log.StartRecording(file.Path, {"IXA40 Cell 3", 4.2, "lbf", "in"}, At(0.2));
    log.Deliver(ActualForce, 12.25, At(0.3));
    log.Deliver(Orientation, OrientationDegrees(0.5), At(0.4));
    log.Deliver(Active, 1, At(0.5));
    log.Deliver(Mode, 2, At(0.5));
    log.Deliver(ToolNumber, 3, At(0.5));
    log.Disconnect(At(0.7));
    log.Tick(At(1.3)); // the second from 1 to 2 has no row yet
    log.Tick(At(1.6));
    log.StopRecording();

    const auto lines = Lines(file.Path);
    ASSERT_GE(lines.size(), 3u);
    const TRow first = Split(lines[0]);
    ASSERT_EQ(first.size(), 15u) << lines[0];
    EXPECT_EQ((TRow(first.begin(), first.begin() + 9)),
              (TRow{"# Korva trend recording", "controller", "IXA40 Cell 3", "version", "4.2", "port", "",
                    "address", "0"}));
    EXPECT_EQ(first[9], "started");
    EXPECT_EQ(first[10].rfind("20", 0), 0u);
    EXPECT_EQ((TRow(first.begin() + 11, first.end())),
              (TRow{"Active", "1 active, 0 retracted", "Mode", "0 force, 1 position, 2 contour"}));
    EXPECT_EQ(lines[1], "\"Time\",\"Seconds [s]\",\"Address\",\"Command force [lbf]\",\"Actual force [lbf]\","
                        "\"Position [in]\",\"Orientation [deg]\",\"Active\",\"Mode\",\"Tool number\"");
    const auto rows = Rows(file.Path);
    // start, five deliveries, the loss, one row in the second after
    ASSERT_EQ(rows.size(), 8u);
    for (const auto& row : rows)
        ASSERT_EQ(row.size(), 10u);
    EXPECT_EQ(rows[0][1], "0.000");
    EXPECT_EQ(rows[0][2], "0");
    EXPECT_EQ(rows[0][3], "12.5");
    EXPECT_EQ(rows[0][4], ""); // not delivered yet
    EXPECT_EQ(rows[5][1], "0.300");
    EXPECT_EQ(rows[5][4], "12.25");
    EXPECT_EQ(rows[5][6], "30.000");
    EXPECT_EQ((TRow(rows[5].begin() + 7, rows[5].end())), (TRow{"1", "2", "3"}));
    for (size_t c = 3; c < 10; ++c) {
        EXPECT_EQ(rows[6][c], "") << c;
        EXPECT_EQ(rows[7][c], "") << c;
    }
    EXPECT_EQ(rows[7][1], "1.100");
    // Local time with milliseconds and the offset: 2025-12-08T14:20:00.300+01:00 or the like.
    EXPECT_EQ(rows[1][0].size(), 29u) << rows[1][0];
    EXPECT_EQ(rows[1][0][10], 'T');
    EXPECT_EQ(rows[1][0].substr(19, 4), ".300");
    EXPECT_EQ(rows[1][0][26], ':');
}

TEST(TrendRecorder, AddsARowEachSecondAndFlushesWhileItRuns) {
    TTempFile file;
    TTrendLog log;
    log.Deliver(Position, 1.5, At(0));
    log.StartRecording(file.Path, {"C", 4.2}, At(0));
    for (int i = 1; i <= 50; ++i)
        log.Tick(At(i * 0.2));
    // Still open: what it wrote is on disk.
    const auto rows = Rows(file.Path);
    ASSERT_EQ(rows.size(), 11u); // the start and one in each of the ten seconds after
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(std::stod(rows[i][1]), double(i)) << i;
        EXPECT_EQ(rows[i][5], "1.5");
    }
    EXPECT_EQ(log.Recorded()->Rows(), 11u);
}

// Units switched while recording: one comment line with the new units where they change, none for
// a check that finds them as they were; the rows go on after it.
TEST(TrendRecorder, AUnitsChangeIsACommentLineWithTheNewUnits) {
    TTempFile file;
    TTrendLog log;
    log.Deliver(CommandForce, 50, At(0));
    log.StartRecording(file.Path, {"C", 4.2, "N", "mm"}, At(0));
    log.SetUnits("N", "mm", At(0.5));
    log.SetUnits("Lbf.", "In.", At(1.0));
    log.Deliver(CommandForce, 11.24, At(1.1));
    log.SetUnits("Lbf.", "In.", At(1.5));
    log.StopRecording();

    const auto lines = Lines(file.Path);
    std::vector<size_t> comments;
    for (size_t i = 2; i < lines.size(); ++i)
        if (lines[i].rfind('#', 0) == 0)
            comments.push_back(i);
    ASSERT_EQ(comments.size(), 1u);
    const std::string& note = lines[comments[0]];
    EXPECT_NE(note.find("units changed"), std::string::npos) << note;
    EXPECT_NE(note.find("Command force [Lbf.]"), std::string::npos) << note;
    EXPECT_NE(note.find("Position [In.]"), std::string::npos) << note;
    EXPECT_EQ(note.find("[N]"), std::string::npos) << note;
    EXPECT_EQ(comments[0], 3u); // after the start's row, before the next
    ASSERT_EQ(lines.size(), 5u);
    // The time, the seconds and the address, then the command force.
    EXPECT_EQ(Split(lines[4]).at(3), "11.24");
}

TEST(TrendRecorder, FailingFileStopsTheRecordingWithItsReason) {
    TTrendLog log;
    EXPECT_THROW(log.StartRecording("/nonexistent-folder/x.csv", {}, At(0)), ETrendRecord);
    EXPECT_FALSE(log.Recording());

    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    // A full disk: the header fits the buffer, the flush fails; the caller's delivery goes on.
    try {
        log.StartRecording("/dev/full", {}, At(0));
    } catch (const ETrendRecord& e) {
        EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos);
        return;
    }
    for (int i = 0; i < 2000 && log.Recording(); ++i) {
        log.Deliver(CommandForce, i, At(i * 0.01));
        log.Tick(At(i * 0.01));
    }
    EXPECT_FALSE(log.Recording());
    EXPECT_NE(log.RecordError().find("/dev/full"), std::string::npos);
    EXPECT_EQ(log.History.Held(CommandForce), 1999);
}

// A deleted file stops the recording as a full disk does, instead of counting rows into nothing.
TEST(TrendRecorder, ADeletedFileStopsTheRecordingWithAMessage) {
    TTempFile file;
    TTrendLog log;
    log.StartRecording(file.Path, {"C", 4.2}, At(0));
    log.Tick(At(0.2));
    ASSERT_TRUE(log.Recording());
    std::filesystem::remove(file.Path);
    log.Deliver(CommandForce, 5, At(0.3));
    log.Tick(At(0.4));
    EXPECT_FALSE(log.Recording());
    EXPECT_NE(log.RecordError().find(file.Path), std::string::npos) << log.RecordError();
    EXPECT_NE(log.RecordError().find("deleted"), std::string::npos) << log.RecordError();
    EXPECT_EQ(log.History.Held(CommandForce), 5);
}

// A controller's name and unit texts are cells of their own that a spreadsheet shows and never runs:
// every line splits into the cells written, and no cell starts with a formula character.
TEST(TrendRecorder, TextsFromTheControllerCannotBecomeFormulas) {
    const std::string names[] = {"x,=cmd|' /C calc'!A0,",
                                 "Cell,=1+1,\"@SUM(1)",
                                 "=HYPERLINK(\"x\")",
                                 "+1",
                                 "-2",
                                 "@A1",
                                 "\tTab",
                                 "two\nlines"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        TTempFile file;
        {
            TTrendLog log;
            log.Connect(At(0));
            log.StartRecording(file.Path, {name, 4.2, "=N", "+mm", "-x", 0}, At(0));
            log.SetUnit({"/dev/=tty", 3, name, 4.2}, At(0.5));
            log.SetUnits("@lbf", "in", At(0.6));
            log.Deliver(CommandForce, -5, At(0.7));
        }
        const auto lines = Lines(file.Path);
        ASSERT_EQ(lines.size(), 6u);
        for (const std::string& line : lines)
            for (const std::string& cell : Split(line))
                EXPECT_TRUE(cell.empty() || std::string("=+-@\t\r").find(cell[0]) == std::string::npos ||
                            cell == "-5")
                    << cell << " in " << line;
        const TRow first = Split(lines[0]);
        ASSERT_GE(first.size(), 3u);
        const std::string shown =
            std::string("=+-@\t").find(name[0]) != std::string::npos ? "'" + name : name;
        std::string oneLine = shown;
        std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
        EXPECT_EQ(first[2], oneLine);
        EXPECT_EQ(Split(lines[1])[3], "Command force [=N]");
        EXPECT_EQ(Split(lines[5]).back(), "");
    }
}

// The rows follow the unit: each carries its address, and a comment line marks a change of port or
// address at once, and a new name when it is known.
TEST(TrendRecorder, AUnitSwitchIsMarkedAndTheRowsCarryTheAddress) {
    TTempFile file;
    {
        TTrendLog log;
        log.Connect(At(0));
        log.Deliver(Position, 10, At(0));
        log.StartRecording(file.Path, {"Cell A", 4.2, "N", "mm", "/dev/ttyS0", 0}, At(0));
        log.SetUnit({"/dev/ttyS0", 0, "Cell A", 4.2}, At(0.1)); // the same unit: nothing
        log.Deliver(Position, 11, At(0.2));
        log.Disconnect(At(0.3));
        log.SetUnit({"/dev/ttyS0", 0, "", 0}, At(0.35)); // a name not known is no change
        log.SetUnit({"/dev/ttyS0", 3, "", 0}, At(0.4));
        log.Tick(At(1.1));
        log.Connect(At(1.2));
        log.SetUnit({"/dev/ttyS0", 3, "Cell B", 4.3}, At(1.3));
        log.Deliver(Position, 20, At(1.3));
        log.SetUnit({"/dev/ttyUSB1", 3, "Cell B", 4.3}, At(1.4));
        log.Deliver(Position, 21, At(1.4));
    }
    std::vector<std::string> shape; // comment lines by their first cell, rows by address and position
    const auto lines = Lines(file.Path);
    for (size_t i = 2; i < lines.size(); ++i) {
        const TRow cells = Split(lines[i]);
        if (lines[i].rfind("# ", 0) == 0) {
            ASSERT_GE(cells.size(), 9u) << lines[i];
            EXPECT_EQ(cells[0], "# unit changed");
            shape.push_back(cells[4] + " " + cells[6] + " " + cells[8]); // port, address, controller
        } else {
            ASSERT_EQ(cells.size(), 10u) << lines[i];
            shape.push_back(cells[2] + ":" + cells[5]);
        }
    }
    EXPECT_EQ(shape, (std::vector<std::string>{"0:10", "0:11", "0:", "/dev/ttyS0 3 (unknown)",
                                               "3:", "/dev/ttyS0 3 Cell B", "3:20", "/dev/ttyUSB1 3 Cell B",
                                               "3:21"}));
}

// The monitor feeding the log as the panel's hooks do, against the simulated controller.
class TrendFromMonitor : public ::testing::Test {
protected:
    void SetUp() override { SetMainThread(); }
    void TearDown() override {
        Monitor.reset();
        Link.reset();
        Port.reset();
        Sim.reset();
    }
    void Open() {
        Sim = std::make_unique<sim::TSimulator>();
        Port = std::make_unique<TCommPort>();
        Port->Open(Sim->SlavePath());
        ASSERT_TRUE(Port->IsOpen()) << Port->OpenFailure();
        Link = std::make_unique<TIxaInterface>(Port.get());
        Monitor = std::make_unique<TIxaMonitor>(*Link);
        auto& m = *Monitor;
        const auto now = [] { return TTrendTime::Now(); };
        m.OnConnect = [this, now](TIxaMonitor&) { Log.Connect(now()); };
        m.OnDisconnect = [this, now](TIxaMonitor&) { Log.Disconnect(now()); };
        m.OnCommandForce = [this, now](TIxaMonitor&, double v) { Log.Deliver(CommandForce, v, now()); };
        m.OnActualForce = [this, now](TIxaMonitor&, double v) { Log.Deliver(ActualForce, v, now()); };
        m.OnPosition = [this, now](TIxaMonitor&, double v) { Log.Deliver(Position, v, now()); };
        m.OnSlideAcceleration = [this, now](TIxaMonitor&, double v) {
            Log.Deliver(Orientation, OrientationDegrees(v), now());
        };
        m.OnActive = [this, now](TIxaMonitor&, bool v) { Log.Deliver(Active, v, now()); };
        m.OnMode = [this, now](TIxaMonitor&, uint8_t v) { Log.Deliver(Mode, v, now()); };
        m.OnToolNumber = [this, now](TIxaMonitor&, int32_t v) { Log.Deliver(ToolNumber, v, now()); };
    }
    bool WaitFor(const std::function<bool()>& done, unsigned ms = 8000) { return ServeUntil(done, ms); }

    TTrendLog Log;
    std::unique_ptr<sim::TSimulator> Sim;
    std::unique_ptr<TCommPort> Port;
    std::unique_ptr<TIxaInterface> Link;
    std::unique_ptr<TIxaMonitor> Monitor;
};

TEST_F(TrendFromMonitor, ForceStepThroughTheLinkReachesHistoryAndRecordingInOrder) {
    Open();
    ASSERT_TRUE(WaitFor([&] { return !std::isnan(Log.History.Held(Position)); }));
    Link->GetEnglishUnits();
    Link->SetActive(true); // the actual force follows the command only while active
    ASSERT_TRUE(WaitFor([&] { return Log.History.Held(Active) == 1; }));
    TTempFile file;
    Log.StartRecording(file.Path, {"Sim", Link->Version, Link->ForceUnits, Link->LengthUnits},
                       TTrendTime::Now());
    const double before = Log.History.Held(CommandForce);
    Link->SetCommandForce(before == 37.5 ? 12.5 : 37.5);
    const double step = before == 37.5 ? 12.5 : 37.5;
    ASSERT_TRUE(WaitFor([&] { return Log.History.Held(CommandForce) == step; }));
    // The actual force follows the command: let it move a while. Counted from the step, since the
    // points gathered before it are already in the history and none of them is in the recording.
    const size_t atStep = Log.History.Points(ActualForce).Size();
    ASSERT_TRUE(WaitFor([&] { return Log.History.Points(ActualForce).Size() >= atStep + 3; }))
        << "the actual force did not move after the step";
    Log.StopRecording();

    const TTrendRing& cf = Log.History.Points(CommandForce);
    EXPECT_EQ(cf.Back().Value, step);
    const auto lines = Lines(file.Path);
    EXPECT_NE(lines[1].find("Command force [N]"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("Position [mm]"), std::string::npos) << lines[1];
    const auto rows = Rows(file.Path);
    ASSERT_GE(rows.size(), 3u);
    std::vector<double> commands;
    double lastSeconds = -1;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 10u);
        const double seconds = std::stod(row[1]);
        EXPECT_GE(seconds, lastSeconds);
        lastSeconds = seconds;
        if (commands.empty() || commands.back() != std::stod(row[3]))
            commands.push_back(std::stod(row[3]));
    }
    EXPECT_EQ(commands, (std::vector<double>{before, step}));
    std::ostringstream expected;
    expected << step;
    EXPECT_EQ(rows.back()[3], expected.str());
}

TEST_F(TrendFromMonitor, OfflineStretchIsAGapAndEmptyCells) {
    Open();
    ASSERT_TRUE(WaitFor([&] { return !std::isnan(Log.History.Held(Position)); }));
    TTempFile file;
    Log.StartRecording(file.Path, {"Sim", 4.2}, TTrendTime::Now());
    const double lost = TTrendTime::Now().Seconds;
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(WaitFor([&] { return !Log.History.Online(); }));
    // Offline, the recording still has its row a second, with the values left empty.
    const uint64_t rowsAtLoss = Log.Recorded()->Rows();
    ASSERT_TRUE(WaitFor([&] {
        Log.Tick(TTrendTime::Now());
        return Log.Recorded()->Rows() >= rowsAtLoss + 2;
    }));
    Sim->ClearFaults();
    ASSERT_TRUE(WaitFor([&] { return !std::isnan(Log.History.Held(Position)); }, 10000));
    const double back = TTrendTime::Now().Seconds;
    Log.StopRecording();

    const auto steps = Log.History.Steps(Position, lost - 5, back, 500);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_LT(steps[0].back().Time, steps[1].front().Time);
    const auto rows = Rows(file.Path);
    size_t empty = 0;
    bool valuesAfter = false;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 10u);
        if (row[3].empty() && row[5].empty() && row[9].empty())
            ++empty;
        else if (empty > 0)
            valuesAfter = true;
    }
    EXPECT_GE(empty, 3u); // the loss and two seconds offline
    EXPECT_TRUE(valuesAfter);
}

TEST(TrendRecorderLocale, CommaDecimalLocaleStillWritesPoints) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 not installed (scripts/deps.sh makes it)";
    std::locale::global(std::locale("de_DE.UTF-8"));
    TTempFile file;
    {
        TTrendLog log;
        log.StartRecording(file.Path, {"C", 4.2}, At(0));
        log.Deliver(CommandForce, 1234.5, At(0.25));
        log.Deliver(Orientation, -12.75, At(0.5));
    }
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, saved.c_str());
    const auto lines = Lines(file.Path);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find(",\"version\",4.2,"), std::string::npos) << lines[0];
    const auto rows = Rows(file.Path);
    EXPECT_EQ(rows[2][1], "0.500");
    EXPECT_EQ(rows[2][3], "1234.5");
    EXPECT_EQ(rows[2][6], "-12.750");
}

// A recording is offered under the controller's name and the local minute, in the console's folder.
TEST(TrendRecordingName, NamesTheControllerAndTheMinuteInAFileNameAnySystemTakes) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 8;
    t.tm_min = 2;
    t.tm_sec = 59;
    EXPECT_EQ(TrendRecordingName("IXA Cell 1", t), "IXA Cell 1 2026-12-09 0802.csv");
    EXPECT_EQ(TrendRecordingName(R"(a<b>c:d"e/f\g|h?i*j)", t), "a_b_c_d_e_f_g_h_i_j 2026-12-09 0802.csv");
    EXPECT_EQ(TrendRecordingName(std::string("tab\there\x7f\n", 10), t), "tab_here__ 2026-12-09 0802.csv");
    // Blanks and dots at the ends would be lost or refused by Windows; letters of any script stay.
    EXPECT_EQ(TrendRecordingName(" .Prüfstand 3. ", t), "Prüfstand 3 2026-12-09 0802.csv");
    EXPECT_EQ(TrendRecordingName("", t), "Trend 2026-12-09 0802.csv");
    EXPECT_EQ(TrendRecordingName(" ..", t), "Trend 2026-12-09 0802.csv");
    // A long name is cut at a character's start: 63 bytes, then a two-byte letter across byte 64.
    const std::string longName = std::string(63, 'x') + "\xC3\xBC" + "tail";
    EXPECT_EQ(TrendRecordingName(longName, t), std::string(63, 'x') + " 2026-12-09 0802.csv");
    EXPECT_EQ(TrendRecordingName(std::string(70, 'y'), t), std::string(64, 'y') + " 2026-12-09 0802.csv");

    EXPECT_EQ(TrendRecordingFolder("/home/u/.local/share"),
              std::filesystem::path("/home/u/.local/share/Halvane/KorvaWin 3.0/Recordings"));
}
