#include "cli/Commands.h"
#include "cli/Output.h"
#ifdef KORVA_WITH_BRIDGE
#include "cli/Bridge.h"
#endif

#include "bus/BusScan.h"
#include "link/IxaInterface.h"
#include "link/IxaParameterTable.h"
#include "link/WireFormat.h"
#include "monitor/BusPoller.h"
#include "operations/ConfigOperations.h"
#include "platform/SerialPorts.h"
#include "platform/StoredSetting.h"
#include "record/TrendCsv.h"
#include "record/TrendHistory.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <thread>

namespace {

struct TSession {
    TCliOptions Options;
    std::string PortName;
    TCommPort Port;
    TIxaInterface Link{&Port};
};

std::string ResolvePort(const TCliOptions& options) {
    if (!options.Port.empty())
        return options.Port;
    if (const char* env = std::getenv("KORVA_PORT"); env && *env)
        return env;
    if (auto stored = ReadStoredSetting("CommPort"); stored && !stored->empty())
        return *stored;
    throw EUsage("no port: give --port NAME, set KORVA_PORT, or choose one in the console's Program Options");
}

// Opens the port (exit 3 when it cannot be opened).
void Open(TSession& s) {
    s.PortName = ResolvePort(s.Options);
    s.Port.SetBaudRate(9600);
    s.Port.SetByteSize(8);
    s.Port.SetParity(0);
    s.Port.SetStopBits(0);
    s.Port.Open(s.PortName);
    if (!s.Port.IsOpen())
        throw EPortOpen(s.Port.OpenFailure().empty() ? "Cannot open " + s.PortName : s.Port.OpenFailure());
    s.Link.Address = s.Options.Address;
}

// The handshake, as the console makes it: a controller must answer and be of version 4.0 or later.
void Handshake(TSession& s) {
    s.Link.Connect();
    if (s.Link.Refused())
        throw EIxaInterface(TLinkError::Incompatible);
    if (!s.Link.Connected && s.Port.Lost())
        throw EIxaInterface(TLinkError::Disconnected,
                            s.Port.OpenFailure()); // the connection ended: closed, reset, in use
    if (!s.Link.Connected)
        throw EIxaInterface(TLinkError::Disconnected, "No answer at address " +
                                                          std::to_string(s.Options.Address) + " on " +
                                                          s.PortName);
    s.Link.Timeout = s.Options.Timeout;
}

std::string FormatNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    // the C library's locale is "C" here: the program never calls setlocale
    return text;
}

void Print(const TSession& s, const Json& json, const std::string& text) {
    Print(s.Options, json, text);
}

const TIxaParameter& Parameter(const std::string& name) {
    const TIxaParameter* p = FindIxaParameter(name);
    if (!p)
        throw EUsage("no parameter '" + name + "' (korva params lists them)");
    return *p;
}

// An index typed for the parameter: a whole number within its known index range.
int ParseIndex(const TIxaParameter& p, const std::string& text) {
    int index = 0;
    try {
        index = StrToInt(text);
    } catch (const EConvertError&) {
        throw EUsage("'" + text + "' is no index");
    }
    try {
        CheckIxaIndex(p, index);
    } catch (const EIxaValue& e) {
        throw EUsage(e.what());
    }
    return index;
}

// A command's arguments: its known flags and valued options taken out, the rest positional.
struct TArgs {
    std::vector<std::string> Positional;
    std::map<std::string, std::string> Options;
};

TArgs SplitArgs(const std::vector<std::string>& args, std::initializer_list<const char*> flags,
                std::initializer_list<const char*> valued) {
    TArgs out;
    for (size_t i = 0; i < args.size(); ++i) {
        bool taken = false;
        for (const char* f : flags)
            if (args[i] == f) {
                out.Options[f] = "";
                taken = true;
            }
        for (const char* v : valued)
            if (args[i] == v) {
                if (i + 1 == args.size())
                    throw EUsage(std::string(v) + " needs a value");
                out.Options[v] = args[++i];
                taken = true;
            }
        if (!taken) {
            if (args[i].size() > 2 && args[i].compare(0, 2, "--") == 0)
                throw EUsage("unknown option '" + args[i] + "'");
            out.Positional.push_back(args[i]);
        }
    }
    return out;
}

void ExpectCount(const TArgs& a, size_t low, size_t high, const char* usage) {
    if (a.Positional.size() < low || a.Positional.size() > high)
        throw EUsage(std::string("usage: ") + usage);
}

long OptionNumber(const TArgs& a, const char* name, long fallback, long low, long high) {
    const auto it = a.Options.find(name);
    if (it == a.Options.end())
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(it->second.c_str(), &end, 10);
    if (it->second.empty() || *end || value < low || value > high)
        throw EUsage(std::string(name) + " needs a number from " + std::to_string(low) + " to " +
                     std::to_string(high));
    return value;
}

// ---- the commands ----

int Info(TSession& s, const std::vector<std::string>& args) {
    ExpectCount(SplitArgs(args, {}, {}), 0, 0, "korva info");
    Open(s);
    Handshake(s);
    // Controller texts reach the terminal as UTF-8.
    const std::string name = ControllerTextToUtf8(s.Link.GetControllerName());
    const std::string toolType = ControllerTextToUtf8(s.Link.GetToolType());
    const bool english = s.Link.GetEnglishUnits();
    const bool tool = s.Link.GetToolConnected();
    const std::string version = FormatNumber(s.Link.Version);
    Json json = {{"port", s.PortName},
                 {"address", s.Options.Address},
                 {"version", version},
                 {"name", name},
                 {"toolType", toolType},
                 {"units", english ? "english" : "metric"},
                 {"lengthUnits", s.Link.LengthUnits},
                 {"forceUnits", s.Link.ForceUnits},
                 {"weightUnits", s.Link.WeightUnits},
                 {"toolPresent", tool}};
    const std::string note = s.Port.SettingNote();
    if (!note.empty())
        json["portNote"] = note;
    std::string text =
        "version:      " + version + "\n" + "name:         " + name + "\n" + "tool type:    " + toolType +
        "\n" + "units:        " + (english ? "english" : "metric") + " (" + s.Link.LengthUnits + ", " +
        s.Link.ForceUnits + ", " + s.Link.WeightUnits + ")\n" + "tool present: " + (tool ? "yes" : "no") +
        "\n" + (note.empty() ? "" : "port note:    " + note + "\n");
    Print(s, json, text);
    return ExitOk;
}

int Get(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {}, {});
    ExpectCount(a, 1, 2, "korva get PARAM [INDEX]");
    const TIxaParameter& p = Parameter(a.Positional[0]);
    if (!p.Readable())
        throw EUsage(std::string(p.Mnemonic) + " can only be written");
    if (p.Indexed() != (a.Positional.size() == 2))
        throw EUsage(std::string(p.Mnemonic) + (p.Indexed() ? " needs an index" : " takes no index"));
    const int index = p.Indexed() ? ParseIndex(p, a.Positional[1]) : 0;
    Open(s);
    Handshake(s);
    const std::string name = p.Mnemonic;
    Json json = {{"parameter", name}};
    if (p.Indexed())
        json["index"] = index;
    std::string text;
    switch (p.Kind) {
    case TIxaValueKind::Text: {
        const std::string v = ControllerTextToUtf8(p.Indexed() ? s.Link.GetStringArrayProp(name, index)
                                                               : s.Link.GetStringProp(name));
        json["value"] = v;
        text = v;
        break;
    }
    case TIxaValueKind::Int:
    case TIxaValueKind::Flag: {
        const int v = p.Indexed() ? s.Link.GetIntArrayProp(name, index) : s.Link.GetIntProp(name);
        json["value"] = p.Kind == TIxaValueKind::Flag ? Json(v == 1) : Json(v);
        text = std::to_string(v);
        break;
    }
    case TIxaValueKind::Real: {
        const double v = p.Indexed() ? s.Link.GetRealArrayProp(name, index) : s.Link.GetRealProp(name);
        json["value"] = v;
        text = FormatNumber(v);
        break;
    }
    }
    Print(s, json, text + "\n");
    return ExitOk;
}

int Set(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {}, {});
    ExpectCount(a, 2, 3, "korva set PARAM [INDEX] VALUE");
    const TIxaParameter& p = Parameter(a.Positional[0]);
    if (!p.Writable())
        throw EUsage(std::string(p.Mnemonic) + " can only be read");
    if (p.Indexed() != (a.Positional.size() == 3))
        throw EUsage(std::string(p.Mnemonic) +
                     (p.Indexed() ? " needs an index and a value" : " takes no index"));
    const int index = p.Indexed() ? ParseIndex(p, a.Positional[1]) : 0;
    const std::string& text = a.Positional.back();
    // Read whole or refused, and held to the range known without asking, before the port is opened.
    TIxaValue value;
    try {
        value = ParseIxaValue(p, text);
    } catch (const EIxaValue& e) {
        throw EUsage(e.what());
    }
    Open(s);
    Handshake(s);
    // The upper end the controller sets (its maximum force, ...), asked before the write.
    if (const auto upper = ControllerUpperEnd(s.Link, p)) {
        const double low = p.HasRange() ? p.Low : -std::numeric_limits<double>::infinity();
        s.Link.GetEnglishUnits();
        const std::string units = p.Unit == TIxaUnit::None ? "" : IxaUnitText(p.Unit, s.Link.EnglishUnits);
        try {
            CheckIxaRange(p, value.Number, low, upper->first, units, upper->second);
        } catch (const EIxaValue& e) {
            throw EUsage(e.what());
        }
    }
    const std::string name = p.Mnemonic;
    switch (p.Kind) {
    case TIxaValueKind::Text:
        s.Link.SetStringProp(name, value.Text);
        break;
    case TIxaValueKind::Int:
    case TIxaValueKind::Flag:
        if (p.Indexed())
            s.Link.SetIntArrayProp(name, index, static_cast<int>(value.Number));
        else
            s.Link.SetIntProp(name, static_cast<int>(value.Number));
        break;
    case TIxaValueKind::Real:
        if (p.Indexed())
            s.Link.SetRealArrayProp(name, index, value.Number);
        else
            s.Link.SetRealProp(name, value.Number);
        break;
    }
    Print(s, Json{{"parameter", p.Mnemonic}, {"value", text}, {"ok", true}}, "");
    return ExitOk;
}

int Send(TSession& s, const std::vector<std::string>& args) {
    if (args.empty())
        throw EUsage("usage: korva send LINE");
    std::string line;
    for (const std::string& word : args)
        line += (line.empty() ? "" : " ") + word;
    if (line.find_first_of("\r\n") != std::string::npos)
        throw EUsage("a line cannot hold a line break");
    Open(s);
    s.Link.Timeout = s.Options.Timeout;
    std::vector<std::string> replies;
    {
        TLinkLock lock(s.Link);
        s.Link.SendString(line);
        std::string reply = s.Link.ReadString();
        while (reply != "OK") {
            replies.push_back(reply);
            if (replies.size() > 2)
                throw EIxaInterface(
                    TLinkError::CommunicationError); // a reply is at most one line before its OK
            reply = s.Link.ReadString();
        }
    }
    std::string text;
    for (const std::string& r : replies)
        text += r + "\n";
    text += "OK\n";
    Json json = {{"command", line}, {"replies", replies}};
    const bool error = !replies.empty() && replies[0].compare(0, 5, "Error") == 0;
    Print(s, json, text);
    if (error)
        throw EIxa(replies[0]);
    return ExitOk;
}

TBusScanOptions ScanOptions(const TSession& s);

// Every unit of the line, one row each per round, through the console's bus poller: a round gives
// each unit not waiting out its backoff one turn; a silent unit costs one time-limit, then shows as
// offline with its last values until it answers again.
int WatchAll(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {"--all", "--csv"}, {"--interval", "--count", "--units"});
    ExpectCount(a, 0, 0, "korva watch --all [--units LIST] [--interval MS] [--count N] [--csv]");
    const long interval = OptionNumber(a, "--interval", 200, 0, 3600000);
    const long count = OptionNumber(a, "--count", 0, 0, 1000000000);
    const bool csv = a.Options.count("--csv") != 0;
    Open(s);
    std::vector<int> units;
    std::map<int, std::string> names;
    if (auto given = a.Options.find("--units"); given != a.Options.end()) {
        units = UnitList(given->second);
    } else {
        TBusScan scan(s.Link, ScanOptions(s));
        for (const TBusUnit& unit : scan.Run()) {
            units.push_back(unit.Address);
            names[unit.Address] = unit.Name;
        }
        if (units.empty())
            throw EIxaInterface(TLinkError::Disconnected, "No unit answers on " + s.PortName);
    }
    TBusPollerOptions options;
    options.TimeLimit = s.Options.TimeoutGiven ? unsigned(s.Options.Timeout) : 250;
    TBusPoller poller(s.Link, options);
    poller.SetUnits(units);
    units = poller.Units();
    if (csv && !s.Options.Json)
        std::printf("time,address,name,online,active,mode,tool,command force,actual force,position,age\n");
    std::map<int, TBusUnitValues> last;
    const auto start = std::chrono::steady_clock::now();
    for (long round = 0; count == 0 || round < count; ++round) {
        if (round > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(interval));
        std::set<int> done;
        const auto far = std::chrono::steady_clock::now() + std::chrono::hours(1);
        while (poller.Poll(
            far, [&](int address) { return done.count(address) != 0; }, {},
            [&](const TBusUnitValues& v) {
                last[v.Address] = v;
                done.insert(v.Address);
            })) {
        }
        const auto now = std::chrono::steady_clock::now();
        char time[16];
        std::snprintf(time, sizeof time, "%.3f", std::chrono::duration<double>(now - start).count());
        for (int address : units) {
            auto found = last.find(address);
            const bool known =
                found != last.end() && found->second.At != TBusUnitValues::TClock::time_point{};
            const TBusUnitValues v = found != last.end() ? found->second : TBusUnitValues{};
            const bool online = found != last.end() && v.Online;
            const std::string name = !v.Name.empty() ? std::string(v.Name) : names[address];
            char age[16] = "";
            if (known)
                std::snprintf(age, sizeof age, "%.1f", std::chrono::duration<double>(now - v.At).count());
            if (s.Options.Json) {
                Json row = {
                    {"time", std::stod(time)}, {"address", address}, {"name", name}, {"online", online}};
                if (known) {
                    row["active"] = v.Active;
                    row["commandForce"] = v.CommandForce;
                    row["actualForce"] = v.ActualForce;
                    row["position"] = v.Position;
                    row["mode"] = v.SlowKnown ? Json(v.Mode) : Json(nullptr);
                    row["tool"] = v.SlowKnown ? Json(v.ToolNumber) : Json(nullptr);
                    row["age"] = std::stod(age);
                }
                Print(s, row, "");
            } else if (csv) {
                std::string quoted = Shown(name);
                for (size_t at = quoted.find('"'); at != std::string::npos; at = quoted.find('"', at + 2))
                    quoted.insert(at, 1, '"');
                std::printf("%s,%d,\"%s\",%d,%s,%s,%s,%s,%s,%s,%s\n", time, address, quoted.c_str(),
                            online ? 1 : 0, known ? (v.Active ? "1" : "0") : "",
                            known && v.SlowKnown ? std::to_string(v.Mode).c_str() : "",
                            known && v.SlowKnown ? std::to_string(v.ToolNumber).c_str() : "",
                            known ? FormatReal3(v.CommandForce).c_str() : "",
                            known ? FormatReal3(v.ActualForce).c_str() : "",
                            known ? FormatReal3(v.Position).c_str() : "", age);
            } else {
                static const char* const modes[] = {"force", "position", "contour"};
                if (!known) {
                    std::printf("%8ss  %2d  %-16s offline\n", time, address, Shown(name).c_str());
                    continue;
                }
                std::printf("%8ss  %2d  %-16s %-7s  CF %9s  AF %9s  POS %8s  %-9s %-8s tool %s  age %ss\n",
                            time, address, Shown(name).c_str(), online ? "online" : "offline",
                            FormatReal3(v.CommandForce).c_str(), FormatReal3(v.ActualForce).c_str(),
                            FormatReal3(v.Position).c_str(), v.Active ? "active" : "retracted",
                            v.SlowKnown ? modes[v.Mode % 3] : "?",
                            v.SlowKnown ? std::to_string(v.ToolNumber).c_str() : "?", age);
            }
        }
        CheckOutput();
    }
    return ExitOk;
}

int Watch(TSession& s, const std::vector<std::string>& args) {
    if (std::find(args.begin(), args.end(), "--all") != args.end())
        return WatchAll(s, args);
    const TArgs a = SplitArgs(args, {"--csv"}, {"--interval", "--count"});
    ExpectCount(a, 0, 0, "korva watch [--interval MS] [--count N] [--csv]");
    const long interval = OptionNumber(a, "--interval", 200, 0, 3600000);
    const long count = OptionNumber(a, "--count", 0, 0, 1000000000);
    const bool csv = a.Options.count("--csv") != 0;
    Open(s);
    Handshake(s);
    s.Link.GetEnglishUnits();
    const std::string f = s.Link.ForceUnits, l = s.Link.LengthUnits;
    // The columns of a trend recording.
    if (csv && !s.Options.Json)
        std::printf("%s", TrendCsvHeader(f, l).c_str());
    const auto start = std::chrono::steady_clock::now();
    for (long pass = 0; count == 0 || pass < count; ++pass) {
        if (pass > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(interval));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const auto wall = std::chrono::system_clock::now();
        const double cf = s.Link.GetCommandForce();
        const double af = s.Link.GetActualForce();
        const double pos = s.Link.GetPosition();
        const double sa = s.Link.GetSlideAcceleration();
        const bool active = s.Link.GetActive();
        const int mode = s.Link.GetPositionMode() ? 1 : s.Link.GetContourMode() ? 2 : 0;
        const int tool = s.Link.GetToolConnected() ? s.Link.GetToolNumber() : -1;
        char time[16];
        std::snprintf(time, sizeof time, "%.3f", seconds);
        if (s.Options.Json) {
            Json row = {{"time", std::stod(time)},
                        {"commandForce", cf},
                        {"actualForce", af},
                        {"position", pos},
                        {"slideAcceleration", sa},
                        {"active", active},
                        {"mode", mode},
                        {"tool", tool < 0 ? Json(nullptr) : Json(tool)}};
            Print(s, row, "");
        } else if (csv) {
            const double none = std::nan("");
            std::printf("%s", TrendCsvRow(wall, seconds, s.Link.Address,
                                          {cf, af, pos, OrientationDegrees(sa), active ? 1.0 : 0.0,
                                           double(mode), tool < 0 ? none : double(tool)})
                                  .c_str());
        } else {
            static const char* const modes[] = {"force", "position", "contour"};
            std::printf("%8ss  CF %9s %s  AF %9s %s  POS %8s %s  SA %7s  %-9s %-8s tool %s\n", time,
                        FormatReal3(cf).c_str(), f.c_str(), FormatReal3(af).c_str(), f.c_str(),
                        FormatReal3(pos).c_str(), l.c_str(), FormatReal3(sa).c_str(),
                        active ? "active" : "retracted", modes[mode],
                        tool < 0 ? "none" : std::to_string(tool).c_str());
        }
        CheckOutput();
    }
    return ExitOk;
}

int Weigh(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {"--save"}, {});
    ExpectCount(a, 0, 0, "korva weigh [--save]");
    Open(s);
    Handshake(s);
    const TWeighResult weighed = WeighTool(s.Link, a.Options.count("--save") != 0);
    Print(s, Json{{"weight", weighed.Weight}, {"units", weighed.Units}, {"saved", weighed.Saved}},
          "tool weight: " + FormatReal3(weighed.Weight) + " " + weighed.Units +
              (weighed.Saved ? " (saved)" : "") + "\n");
    return ExitOk;
}

// "0-15", or "0-n" for the indices of a function-name list; empty without an index.
std::string IndexRange(const TIxaParameter& p) {
    if (!p.Indexed())
        return "";
    return p.IndexCount < 0 ? "0-n" : "0-" + std::to_string(p.LastIndex());
}

// The range known without asking, with the controller's part named: "0-15", "<= MF", "0 - MP".
std::string ValueRange(const TIxaParameter& p) {
    static const char* const limits[] = {"", "MF", "MP", "MW", "NDIF-1", "NDOF-1", "NAOF-1"};
    const char* upper = limits[int(p.Limit)];
    if (p.Kind == TIxaValueKind::Flag)
        return "0/1";
    if (!p.HasRange())
        return *upper ? std::string("<= ") + upper : "";
    const std::string low = FormatNumber(p.Low);
    if (*upper)
        return low + "-" + upper;
    return low + "-" + FormatNumber(p.High);
}

int Params(TSession& s, const std::vector<std::string>& args) {
    ExpectCount(SplitArgs(args, {}, {}), 0, 0, "korva params");
    static const char* const kinds[] = {"text", "integer", "number", "flag"};
    Json list = Json::array();
    std::string text;
    for (size_t i = 0; i < IxaParameterCount; ++i) {
        const TIxaParameter& p = IxaParameters[i];
        const std::string access = std::string(p.Readable() ? "r" : "-") + (p.Writable() ? "w" : "-");
        const char* kind = kinds[int(p.Kind)];
        const char* method = *p.GetMethod ? p.GetMethod : p.SetMethod;
        const std::string units = IxaUnitText(p.Unit, false);
        list.push_back({{"mnemonic", p.Mnemonic},
                        {"name", *method ? std::string(method + 3) : std::string(p.Mnemonic)},
                        {"kind", kind},
                        {"indexed", p.Indexed()},
                        {"indices", IndexRange(p)},
                        {"access", access},
                        {"units", units},
                        {"range", ValueRange(p)},
                        {"plainName", p.Name},
                        {"meaning", p.Meaning}});
        char row[240];
        std::snprintf(row, sizeof row, "%-5s %-2s %-7s %-6s %-4s %-10s %s\n", p.Mnemonic, access.c_str(),
                      kind, p.Indexed() ? ("[" + IndexRange(p) + "]").c_str() : "", units.c_str(),
                      ValueRange(p).c_str(), p.Meaning);
        text += row;
    }
    Print(s, list, text);
    return ExitOk;
}

// A probe waits 250 ms for each reply line unless --timeout says otherwise: a unit answers within a
// few byte times, and a silent line of 16 addresses then takes about 4 s.
TBusScanOptions ScanOptions(const TSession& s) {
    TBusScanOptions options;
    options.ProbeTimeLimit = s.Options.TimeoutGiven ? unsigned(s.Options.Timeout) : 250;
    return options;
}

// The console's backup folder, or the one given.
std::filesystem::path BackupRoot(const TArgs& a) {
    if (!a.Positional.empty())
        return a.Positional[0];
    const auto data = UserDataFolder();
    if (!data)
        throw EUsage("no user data folder known: give the backup folder");
    return BackupFolder(*data);
}

int Backup(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {"--all"}, {});
    ExpectCount(a, 0, 1, "korva backup [DIR] [--all]");
    const TConfigBackups backups(BackupRoot(a));
    Open(s);
    std::vector<int> addresses{s.Options.Address};
    if (a.Options.count("--all")) {
        addresses.clear();
        TBusScan scan(s.Link, ScanOptions(s));
        for (const TBusUnit& unit : scan.Run())
            addresses.push_back(unit.Address);
        if (addresses.empty())
            throw EIxaInterface(TLinkError::Disconnected, "No unit answers on " + s.PortName);
    }
    Json list = Json::array();
    std::string text;
    for (const int address : addresses) {
        s.Options.Address = address;
        s.Link.Address = address;
        Handshake(s);
        const TBackupResult result = BackUpController(s.Link, backups, std::time(nullptr));
        for (const std::string& warning : result.Warnings)
            std::fprintf(stderr, "korva: warning: %s\n", Shown(warning).c_str());
        const TConfigBackups::TBackup& backup = result.Backup;
        list.push_back({{"address", address},
                        {"controller", backup.Controller.string()},
                        {"tool", backup.Tool.string()}});
        text += "address " + std::to_string(address) + ": " + backup.Controller.string() + "\n" + "address " +
                std::to_string(address) + ": " + backup.Tool.string() + "\n";
    }
    Print(s, list, text);
    return ExitOk;
}

// One note on standard error, beside the result: a line left out, a backup taken.
void Note(const TSession& s, const std::string& text) {
    if (s.Options.Json)
        std::fputs((JsonText(Json{{"note", text}}) + "\n").c_str(), stderr);
    else
        std::fprintf(stderr, "korva: %s\n", Shown(text).c_str());
    std::fflush(stderr);
}

int Restore(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {"--save", "--move", "--rename", "--active", "--backup"}, {});
    ExpectCount(a, 1, 1, "korva restore FILE [--save] [--move] [--rename] [--active] [--backup]");
    const std::string& file = a.Positional[0];
    const bool move = a.Options.count("--move") != 0, rename = a.Options.count("--rename") != 0;
    std::optional<std::filesystem::path> backupRoot;
    if (a.Options.count("--backup")) {
        const auto data = UserDataFolder();
        if (!data)
            throw EUsage("no user data folder known for the backup");
        backupRoot = BackupFolder(*data);
    }
    ReadConfigurationFile(file); // before the port: a file that is no configuration sends nothing
    Open(s);
    Handshake(s);
    TDownloadPlan plan;
    try {
        plan = PlanDownload(s.Link, file);
    } catch (const EConfigRefused& refused) {
        if (s.Options.Json)
            return ReportError(true, ExitLink, refused.Message);
        // One line of standard error for each refused line of the file.
        ReportError(false, ExitLink, refused.Message.substr(0, refused.Message.find('\n')));
        for (const TRefusedLine& line : refused.Refused)
            ReportError(false, ExitLink,
                        "line " + std::to_string(line.LineNumber) + " (\"" + line.Line +
                            "\"): " + line.Reason);
        return ExitLink;
    }
    if (plan.Active && !a.Options.count("--active"))
        throw EUsage("the carriage is active: retract it first, or give --active to download all the same");
    for (const TIdentityChange& change : plan.Changes) {
        const bool allowed = change.Move() ? move : rename;
        const std::string what = change.Move()
                                     ? "move the unit at address " + change.Now + " to address " +
                                           change.File + (change.Taken ? ", where another unit answers" : "")
                                     : "rename the unit \"" + change.Now + "\" to \"" + change.File + "\"";
        Note(s, "line " + std::to_string(change.LineNumber) + " (\"" +
                    plan.File.Entries[change.LineNumber - 1].Line + "\") " +
                    (allowed ? "will " + what
                             : "left out: it would " + what +
                                   (change.Move() ? "; give --move" : "; give --rename") + " to apply it"));
    }
    std::optional<TBackupResult> backup;
    if (backupRoot) {
        backup = BackUpController(s.Link, TConfigBackups(*backupRoot), std::time(nullptr));
        for (const std::string& warning : backup->Warnings)
            Note(s, "warning: " + warning);
        Note(s, "backed up to " + backup->Backup.Controller.string());
    }
    TRestoreResult result;
    try {
        result = DownloadPlanned(s.Link, plan, IdentityLinesLeftOut(plan, move, rename));
    } catch (const ERestoreRefused& refused) {
        std::string message = refused.Message;
        if (backup)
            message += " The backup taken before it puts the controller back: korva --address " +
                       std::to_string(s.Options.Address) + " restore '" + backup->Backup.Controller.string() +
                       "'";
        return ReportError(s.Options.Json, ExitController, message);
    }
    bool saved = false;
    if (a.Options.count("--save") && !result.MovedTo) {
        SaveControllerConfiguration(s.Link, true);
        saved = true;
    }
    if (result.MovedTo)
        Note(s, "the unit now answers at address " + std::to_string(*result.MovedTo) +
                    "; its configuration there is not saved");
    Json json{{"file", file}, {"lines", result.Lines}, {"leftOut", result.LeftOut}, {"saved", saved}};
    if (result.MovedTo)
        json["movedTo"] = *result.MovedTo;
    Print(s, json,
          "restored " + file + " (" + std::to_string(result.Lines) + " lines)" + (saved ? " (saved)" : "") +
              "\n");
    return ExitOk;
}

int Diff(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {}, {});
    ExpectCount(a, 1, 1, "korva diff FILE");
    TConfigText file = ReadConfigurationFile(a.Positional[0]); // before the port: a bad file sends nothing
    Open(s);
    Handshake(s);
    const TControllerCompare compared = CompareWithController(s.Link, std::move(file));
    const TConfigCompare& compare = compared.Result;
    static const char* const states[] = {"same", "differs", "file only", "controller only"};
    Json rows = Json::array();
    std::string out;
    if (compare.UnitsDiffer())
        out += "warning: " + compare.UnitsWarning() + "\n";
    for (const TCompareRow& row : compare.Rows) {
        if (row.State == TCompareState::Same)
            continue;
        rows.push_back({{"parameter", row.Parameter},
                        {"name", row.Name},
                        {"state", states[int(row.State)]},
                        {"file", row.FileValue},
                        {"controller", row.ControllerValue},
                        {"fileLine", row.FileLine},
                        {"controllerLine", row.ControllerLine}});
        switch (row.State) {
        case TCompareState::Differs:
            out += row.Parameter + ": file " + row.FileValue + ", controller " + row.ControllerValue + "\n";
            break;
        case TCompareState::FileOnly:
            out += row.Parameter + ": only in the file (" + row.FileValue + ")\n";
            break;
        case TCompareState::ControllerOnly:
            out += row.Parameter + ": only in the controller (" + row.ControllerValue + ")\n";
            break;
        case TCompareState::Same:
            break;
        }
    }
    const size_t differences = compare.Differences();
    Print(s,
          Json{{"file", a.Positional[0]},
               {"dump", compared.Dump()},
               {"differences", differences},
               {"unitsDiffer", compare.UnitsDiffer()},
               {"rows", rows}},
          out);
    return differences == 0 ? ExitOk : ExitDifferent;
}

int Scan(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {}, {});
    ExpectCount(a, 0, 0, "korva scan");
    Open(s);
    TBusScan scan(s.Link, ScanOptions(s));
    Json list = Json::array();
    std::string text;
    for (const TBusUnit& unit : scan.Run()) {
        const std::string name = ControllerTextToUtf8(unit.Name),
                          toolType = ControllerTextToUtf8(unit.ToolType);
        list.push_back(
            {{"address", unit.Address}, {"name", name}, {"version", unit.Version}, {"toolType", toolType}});
        char row[1200];
        std::snprintf(row, sizeof row, "%2d  %-24s %-6s %s\n", unit.Address, name.c_str(),
                      unit.Version.c_str(), toolType.c_str());
        text += row;
    }
    if (list.empty())
        text = "no unit answers on " + Shown(s.PortName) + "\n";
    Print(s, list, text);
    return ExitOk;
}

// The machine's serial devices, no port opened; --root reads the dev/ and sys/ of another tree.
int Ports(TSession& s, const std::vector<std::string>& args) {
    const TArgs a = SplitArgs(args, {}, {"--root"});
    ExpectCount(a, 0, 0, "korva ports");
    const auto root = a.Options.find("--root");
    Json list = Json::array();
    std::string text;
    for (const TSerialPortInfo& port : ListSerialPorts(root == a.Options.end() ? "" : root->second)) {
        list.push_back({{"path", port.Path},
                        {"device", port.Device},
                        {"vendor", port.Vendor},
                        {"product", port.Product},
                        {"serial", port.Serial},
                        {"vendorId", port.VendorId},
                        {"productId", port.ProductId},
                        {"driver", port.Driver}});
        text += port.Path + "\n    " + port.Description() + "\n";
    }
    if (list.empty())
        text = "no serial device found (COM1 to COM10 and network names can still be given)\n";
    Print(s, list, text);
    return ExitOk;
}

#ifdef KORVA_WITH_BRIDGE
int Bridge(TSession& s, const std::vector<std::string>& args) {
    std::string port;
    try {
        port = ResolvePort(s.Options);
    } catch (const EUsage&) {
        // the bridge may be given its port among its own options
    }
    s.PortName = port;
    return RunBridge(s.Options, port, args);
}
#endif

struct TCommand {
    const char* Name;
    int (*Run)(TSession&, const std::vector<std::string>&);
    const char* Synopsis; // the command and its arguments, as the usage lists it
    const char* Summary;  // one line for the usage
    const char* Help;     // korva help NAME
};

// clang-format off
const TCommand Commands[] = {
    {"info", Info, "info", "version, name, tool type, units, tool present",
     "usage: korva info\n\nThe handshake, then the controller's version, name, tool type, units and\n"
     "whether a tool is present.\n"},
    {"get", Get, "get PARAM [INDEX]", "read a parameter, by mnemonic (CF) or accessor name (CommandForce)",
     "usage: korva get PARAM [INDEX]\n\n"
     "Reads one parameter. PARAM is a mnemonic (CF, FL) or an accessor name\n"
     "(CommandForce, GetForceLevel); indexed parameters take an INDEX. 'korva params' lists them.\n"
     "  korva get CF\n  korva get ForceLevel 3\n"},
    {"set", Set, "set PARAM [INDEX] VALUE", "write a parameter, checked against its type and range",
     "usage: korva set PARAM [INDEX] VALUE\n\n"
     "Writes one parameter, checked against its type: whole numbers for\n"
     "integers, numbers with '.' and at most three decimals for reals, 0/1/on/off for flags,\n"
     "text without control characters for texts; a value out of the known range (korva params)\n"
     "is refused before anything is sent.\n"
     "  korva set CF 12.5\n  korva set FL 3 40\n  korva set CN \"Cell 4\"\n"},
    {"send", Send, "send LINE", "one raw exchange; prints the reply lines",
     "usage: korva send LINE\n\nOne raw exchange: sends LINE with the address prefix, checks the echo and\n"
     "prints the reply lines. An Error reply exits with 5.\n  korva send 'FL? 3'\n"},
    {"watch", Watch, "watch [--interval MS] [--count N] [--csv]", "live values, one line per pass",
     "usage: korva watch [--interval MS] [--count N] [--csv]\n\n"
     "Live values, one line per pass: command force,\n"
     "actual force, position, slide acceleration, active, mode and tool (none without a tool).\n"
     "--interval is the pause between passes (default 200 ms), --count the number of passes\n"
     "(default: until interrupted), --csv writes the columns of a trend recording (clock time,\n"
     "seconds, address, orientation in degrees instead of slide acceleration).\n"
     "--all [--units LIST]: every unit of the line (LIST, or those a scan finds), one row per\n"
     "unit per round; a silent unit shows as offline and is asked again every 3 s.\n"},
    {"weigh", Weigh, "weigh [--save]", "weigh the current tool; --save keeps it (SC 1)",
     "usage: korva weigh [--save]\n\n"
     "Weighs the current tool (up to 20 s) and prints its weight; --save keeps\n"
     "it in the controller's memory (SC 1).\n"},
    {"restore", Restore, "restore FILE [--save] [--move] [--rename] [--active] [--backup]",
     "download a configuration file; --save keeps it (SC 1)",
     "usage: korva restore FILE [--save] [--move] [--rename] [--active] [--backup]\n\n"
     "Downloads a configuration file, as the console does: the whole file is\n"
     "checked first (every value against its parameter's kind and known range), and a file with\n"
     "a line the controller cannot take sends nothing (exit code 4, each line named). A line that\n"
     "would move the unit to another address (NA) or rename it (CN) is left out, with a note on\n"
     "standard error, unless --move or --rename is given. An active carriage is refused (exit 2)\n"
     "unless --active is given. --backup backs the controller up first, into the console's backup\n"
     "folder.\n"
     "A line the controller still refuses stops the download with exit code 5; the message names\n"
     "the lines that were applied (and the backup that puts them back).\n"
     "--save keeps the result in the controller's memory (SC 1), unless the unit moved.\n"},
    {"backup", Backup, "backup [DIR] [--all]", "back up the controller and tool configuration; --all every unit",
     "usage: korva backup [DIR] [--all]\n\n"
     "Uploads the controller and the tool configuration into a new backup,\n"
     "as the console's Back Up Controller does: DIR/<controller name> (address N)/<date>_<time>\n"
     "controller.cfg and ... tool.cfg, keeping the newest 50 of that unit (folders named by the\n"
     "controller name alone, from before, are left as they are). DIR defaults to the console's backup\n"
     "folder. --all backs up every unit a scan finds on the line.\n"},
    {"diff", Diff, "diff FILE", "compare a configuration file with the controller's; 1 when different",
     "usage: korva diff FILE\n\n"
     "Compares a configuration file with the controller's (the tool dump for a tool\n"
     "file), by value as the controller takes them, and prints what differs. Exits 0 when equal,\n"
     "1 when different.\n"},
    {"scan", Scan, "scan", "list the units on the RS-485 line (addresses 0 to 15)",
     "usage: korva scan\n\nProbes the addresses 0 to 15 of the RS-485 line (version, then name and tool\n"
     "type for a unit that answers) and lists the units found.\n"},
    {"ports", Ports, "ports [--root DIR]", "the serial devices of this machine, with what is known of each",
     "usage: korva ports [--root DIR]\n\n"
     "Lists the serial devices of this machine, stable /dev/serial/by-id names first, with what is\n"
     "known of each: vendor, product, serial number, driver, USB ids and the device node.\n"
     "--root DIR reads DIR/dev and DIR/sys instead of the running system's.\n"},
    {"params", Params, "params", "the parameters get and set know",
     "usage: korva params\n\n"
     "The parameters that get and set know: mnemonic, access, kind, indices, metric\n"
     "units, the range checked before a value is sent (MF, MP, MW: the controller's maximum\n"
     "force, position, tool weight), meaning.\n"},
#ifdef KORVA_WITH_BRIDGE
    {"bridge", Bridge, BridgeSynopsis, "publish the controller on an MQTT broker until stopped", BridgeHelp},
#endif
};
// clang-format on

} // namespace

std::vector<int> UnitList(const std::string& text) {
    std::vector<int> units;
    size_t at = 0;
    while (true) {
        const size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        char* end = nullptr;
        const long address = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || address < 0 || address > 15)
            throw EUsage("--units needs addresses from 0 to 15, such as 0,3,7");
        units.push_back(static_cast<int>(address));
        if (comma == std::string::npos)
            return units;
        at = comma + 1;
    }
}

std::string CommandList() {
    // A synopsis too long for its column stands on a line of its own, its summary under it.
    constexpr size_t column = 25;
    std::string list;
    for (const TCommand& c : Commands) {
        const std::string synopsis = c.Synopsis;
        list += "  " + synopsis;
        if (synopsis.size() >= column)
            list += "\n" + std::string(column + 2, ' ');
        else
            list += std::string(column - synopsis.size(), ' ');
        list += std::string(c.Summary) + "\n";
    }
    return list;
}

const char* CommandHelp(const std::string& command) {
    for (const TCommand& c : Commands)
        if (command == c.Name)
            return c.Help;
    return nullptr;
}

int RunCommand(const std::string& command, const std::vector<std::string>& args, const TCliOptions& options) {
    const TCommand* found = nullptr;
    for (const TCommand& c : Commands)
        if (command == c.Name)
            found = &c;
    if (!found)
        return ReportError(options.Json, ExitUsage, "no command '" + command + "'", "korva --help");
    TSession s;
    s.Options = options;
    try {
        return found->Run(s, args);
    } catch (...) {
        return ReportFailure(s.Options, command, s.PortName);
    }
}
