#include "record/TrendRecorder.h"

#include "platform/StoredSetting.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

// Messages name the file in UTF-8 whatever the system's own spelling.
std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// ,"key",value for each pair; a number's text goes unquoted.
struct TCell {
    std::string Text;
    bool Number = false;
};
std::string Pairs(std::initializer_list<std::pair<const char*, TCell>> pairs) {
    std::string text;
    for (const auto& [key, value] : pairs)
        text += ',' + CsvText(key) + ',' + (value.Number ? value.Text : CsvText(value.Text));
    return text;
}

} // namespace

std::string TrendRecordingName(const std::string& controllerName, const std::tm& t) {
    std::string name;
    for (const char c : controllerName) {
        const auto u = static_cast<unsigned char>(c);
        const bool unsafe = u < 0x20 || u == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr;
        name += unsafe ? '_' : c;
    }
    const auto trimmed = [](char c) { return c == ' ' || c == '.'; };
    const auto trimEnd = [&] {
        while (!name.empty() && trimmed(name.back()))
            name.pop_back();
    };
    trimEnd();
    size_t first = 0;
    while (first < name.size() && trimmed(name[first]))
        ++first;
    name.erase(0, first);
    if (name.size() > 64) {
        size_t cut = 64;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut; // not inside a character
        name.resize(cut);
        trimEnd();
    }
    if (name.empty())
        name = "Trend";
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, " %04d-%02d-%02d %02d%02d.csv", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min);
    return name + stamp;
}

std::filesystem::path TrendRecordingFolder(const std::filesystem::path& userDataFolder) {
    return userDataFolder / SettingsOrganization / SettingsApplication / "Recordings";
}

TTrendRecorder::TTrendRecorder(const std::filesystem::path& path, const TTrendRecordHeader& header,
                               const TTrendTime& start)
    : FilePath(path), Shown(Utf8(path)), Start(start), ForceUnits(header.ForceUnits),
      LengthUnits(header.LengthUnits) {
    Unit.Port = header.Port;
    Unit.Address = header.Address;
    Unit.ControllerName = header.ControllerName;
    Unit.Version = header.Version;
    File = OpenFile(path, "wb");
    if (!File)
        throw ETrendRecord(Shown + ": " + std::strerror(errno));
    std::string comment = "# Korva trend recording";
    comment += Pairs({{"controller", {header.ControllerName.empty() ? "(offline)" : header.ControllerName}}});
    if (!header.ControllerName.empty())
        comment += Pairs({{"version", {CsvNumber(header.Version), true}}});
    comment += Pairs({{"port", {header.Port}},
                      {"address", {std::to_string(header.Address), true}},
                      {"started", {IsoLocalTime(start.Wall)}},
                      {"Active", {"1 active, 0 retracted"}},
                      {"Mode", {"0 force, 1 position, 2 contour"}}});
    Write(comment + '\n');
    Write(TrendCsvHeader(ForceUnits, LengthUnits));
    Flush();
}

TTrendRecorder::~TTrendRecorder() {
    try {
        Close();
    } catch (const ETrendRecord&) {
        // Closing on the way out: nobody is left to tell.
    }
}

void TTrendRecorder::Close() {
    if (!File)
        return;
    std::FILE* file = File;
    File = nullptr;
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!flushed || !closed)
        throw ETrendRecord(Shown + ": " + std::strerror(errno));
}

void TTrendRecorder::Fail(const std::string& what) {
    const std::string reason = Shown + ": " + what;
    if (File) {
        std::fclose(File);
        File = nullptr;
    }
    throw ETrendRecord(reason);
}

void TTrendRecorder::Write(const std::string& text) {
    if (!File)
        return;
    if (std::fwrite(text.data(), 1, text.size(), File) != text.size())
        Fail(std::strerror(errno));
    Dirty = true;
}

void TTrendRecorder::Flush() {
    if (!File || !Dirty)
        return;
    if (std::fflush(File) != 0)
        Fail(std::strerror(errno));
    Dirty = false;
    // Rows written to a file nobody can open any more are lost: stop as on a full disk.
    if (FileIsGone(File))
        Fail("the file was deleted while it was recorded");
}

void TTrendRecorder::Row(const TTrendHistory& history, const TTrendTime& now) {
    if (!File)
        return;
    std::array<double, TrendChannelCount> values{};
    for (int c = 0; c < TrendChannelCount; ++c)
        values[size_t(c)] = history.Held(TTrendChannel(c));
    Write(TrendCsvRow(now.Wall, Elapsed(now), Unit.Address, values));
    ++RowCount;
    LastRowSecond = static_cast<int64_t>(std::floor(Elapsed(now)));
}

void TTrendRecorder::Tick(const TTrendHistory& history, const TTrendTime& now) {
    if (!File)
        return;
    if (static_cast<int64_t>(std::floor(Elapsed(now))) > LastRowSecond)
        Row(history, now);
    Flush();
}

void TTrendRecorder::SetUnits(const std::string& forceUnits, const std::string& lengthUnits,
                              const TTrendTime& now) {
    if (forceUnits == ForceUnits && lengthUnits == LengthUnits)
        return;
    ForceUnits = forceUnits;
    LengthUnits = lengthUnits;
    Write("# units changed" +
          Pairs({{"time", {IsoLocalTime(now.Wall)}}, {"force", {forceUnits}}, {"length", {lengthUnits}}}) +
          ",\"from here on\"," + TrendCsvHeader(forceUnits, lengthUnits));
}

void TTrendRecorder::SetUnit(const TTrendUnit& unit, const TTrendTime& now) {
    const bool moved = unit.Port != Unit.Port || unit.Address != Unit.Address;
    const bool renamed = !unit.ControllerName.empty() && unit.ControllerName != Unit.ControllerName;
    if (!moved && !renamed)
        return;
    Unit.Port = unit.Port;
    Unit.Address = unit.Address;
    // A name read for the last unit is none of this one's.
    Unit.ControllerName = unit.ControllerName;
    Unit.Version = unit.Version;
    std::string line = "# unit changed" + Pairs({{"time", {IsoLocalTime(now.Wall)}},
                                                 {"port", {unit.Port}},
                                                 {"address", {std::to_string(unit.Address), true}}});
    if (unit.ControllerName.empty())
        line += Pairs({{"controller", {"(unknown)"}}}); // not read yet, or nobody answers
    else
        line += Pairs({{"controller", {unit.ControllerName}}, {"version", {CsvNumber(unit.Version), true}}});
    Write(line + '\n');
}
