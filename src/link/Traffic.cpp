#include "link/Traffic.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

thread_local TTrafficOrigin threadOrigin = TTrafficOrigin::Operator;

// std::localtime shares one buffer between callers.
std::mutex localTimeMutex;

} // namespace

void SetTrafficOrigin(TTrafficOrigin origin) {
    threadOrigin = origin;
}

TTrafficOrigin CurrentTrafficOrigin() {
    return threadOrigin;
}

const char* TrafficMarkText(TTrafficMark mark) {
    switch (mark) {
    case TTrafficMark::None:
        return "";
    case TTrafficMark::ErrorReply:
        return "error reply";
    case TTrafficMark::Timeout:
        return "time-out";
    case TTrafficMark::WrongEcho:
        return "wrong echo";
    case TTrafficMark::BadReply:
        return "bad reply";
    case TTrafficMark::PortFailed:
        return "port failed";
    }
    return "";
}

bool HiddenWithPolling(const TTrafficEvent& event) {
    return event.Origin == TTrafficOrigin::Polling && event.Direction != TTrafficDirection::Link;
}

AnsiString FormatTrafficLine(const TTrafficEvent& event, bool withDate) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(event.Time.time_since_epoch());
    const auto seconds = static_cast<std::time_t>(floor<std::chrono::seconds>(sinceEpoch).count());
    const auto millis = static_cast<int>(sinceEpoch.count() - seconds * 1000);
    std::tm local{};
    {
        std::lock_guard guard(localTimeMutex);
        if (const std::tm* tm = std::localtime(&seconds))
            local = *tm;
    }
    char date[48] = "";
    if (withDate)
        std::snprintf(date, sizeof date, "%04d-%02d-%02d ", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday);
    const char* origin = event.Origin == TTrafficOrigin::Polling ? "polling"
                         : event.Origin == TTrafficOrigin::Plant ? "plant"
                                                                 : "operator";
    char head[128];
    if (event.Direction == TTrafficDirection::Link)
        std::snprintf(head, sizeof head, "%s%02d:%02d:%02d.%03d  link      ", date, local.tm_hour,
                      local.tm_min, local.tm_sec, millis);
    else
        std::snprintf(head, sizeof head, "%s%02d:%02d:%02d.%03d  %-8s  %s  %7.1f ms  ", date, local.tm_hour,
                      local.tm_min, local.tm_sec, millis, origin,
                      event.Direction == TTrafficDirection::Sent ? "sent" : "recv",
                      static_cast<double>(event.Elapsed.count()) / 1000.0);
    AnsiString line = head + event.Line;
    if (event.Mark != TTrafficMark::None) {
        line += AnsiString("  [") + TrafficMarkText(event.Mark);
        if (!event.Detail.empty())
            line += ": " + event.Detail;
        line += "]";
    }
    return line;
}

TTrafficLog::TTrafficLog(size_t capacity) : Ring(std::max<size_t>(capacity, 1)) {}

void TTrafficLog::OnTraffic(const TTrafficEvent& event) noexcept {
    std::lock_guard guard(Mutex);
    if (IsPaused)
        return;
    // Assigning into a kept slot reuses its string's storage once the ring has gone round.
    TTrafficEvent& slot = Ring[Next % Ring.size()];
    slot.Time = event.Time;
    slot.Elapsed = event.Elapsed;
    slot.Direction = event.Direction;
    slot.Origin = event.Origin;
    slot.Mark = event.Mark;
    try {
        slot.Line.assign(event.Line);
        slot.Detail.assign(event.Detail);
    } catch (...) {
        slot.Line.clear(); // out of memory: keep the event without its text
        slot.Detail.clear();
    }
    ++Next;
    Count = std::min(Count + 1, Ring.size());
}

void TTrafficLog::SetPaused(bool paused) {
    std::lock_guard guard(Mutex);
    IsPaused = paused;
}

bool TTrafficLog::Paused() const {
    std::lock_guard guard(Mutex);
    return IsPaused;
}

void TTrafficLog::Clear() {
    std::lock_guard guard(Mutex);
    Count = 0;
}

size_t TTrafficLog::Size() const {
    std::lock_guard guard(Mutex);
    return Count;
}

uint64_t TTrafficLog::NextSequence() const {
    std::lock_guard guard(Mutex);
    return Next;
}

uint64_t TTrafficLog::CopySince(uint64_t from, std::vector<TTrafficEvent>& out) const {
    std::lock_guard guard(Mutex);
    for (uint64_t seq = std::max<uint64_t>(from, Next - Count); seq < Next; ++seq)
        out.push_back(Ring[seq % Ring.size()]);
    return Next;
}

AnsiString TTrafficLog::Text(bool hidePolling, bool withDate) const {
    std::vector<TTrafficEvent> events;
    CopySince(0, events);
    AnsiString text;
    for (const TTrafficEvent& event : events) {
        if (hidePolling && HiddenWithPolling(event))
            continue;
        text += FormatTrafficLine(event, withDate);
        text += '\n';
    }
    return text;
}
