#include "publish/StateFeed.h"

#include "monitor/Ixamonitor.h"
#include "operations/DisplayRules.h"

TStateFeed::TStateFeed(TPublisher& publisher) : Publisher(publisher) {}

template <typename T> void TStateFeed::Take(T& field, T value) {
    if (field != value) {
        field = value;
        Changed = true;
        if (!SentInPass && !Whole)
            Send();
    }
}

void TStateFeed::Send() {
    Changed = false;
    SentInPass = true;
    Now.Time = std::chrono::system_clock::now();
    Publisher.PublishState(Now);
}

void TStateFeed::CommandForce(double value) {
    Take(Now.CommandForce, value);
}
void TStateFeed::ActualForce(double value) {
    Take(Now.ActualForce, value);
}
void TStateFeed::Position(double value) {
    Take(Now.Position, value);
}
void TStateFeed::SlideAcceleration(double value) {
    Take(Now.Orientation, OrientationAngle(value));
}
void TStateFeed::Active(bool value) {
    Take(Now.Active, value);
}
void TStateFeed::Mode(uint8_t value) {
    Take(Now.Mode, value);
}
void TStateFeed::ToolNumber(int32_t value) {
    Take(Now.ToolNumber, value);
}
void TStateFeed::ToolPresent(bool value) {
    Take(Now.ToolPresent, value);
}
void TStateFeed::EnglishUnits(bool value) {
    Take(Now.EnglishUnits, value);
}

void TStateFeed::PassEnd() {
    if (Changed && !SentInPass)
        Send();
    SentInPass = false;
    Whole = false;
}

void TStateFeed::Forget() {
    Changed = true;
    Whole = true;
}

void TStateFeed::Attach(TIxaMonitor& monitor) {
    monitor.OnCommandForce = [this](TIxaMonitor&, double v) { CommandForce(v); };
    monitor.OnActualForce = [this](TIxaMonitor&, double v) { ActualForce(v); };
    monitor.OnPosition = [this](TIxaMonitor&, double v) { Position(v); };
    monitor.OnSlideAcceleration = [this](TIxaMonitor&, double v) { SlideAcceleration(v); };
    monitor.OnActive = [this](TIxaMonitor&, bool v) { Active(v); };
    monitor.OnMode = [this](TIxaMonitor&, uint8_t v) { Mode(v); };
    monitor.OnToolNumber = [this](TIxaMonitor&, int32_t v) { ToolNumber(v); };
    monitor.OnToolConnect = [this](TIxaMonitor&) { ToolPresent(true); };
    monitor.OnToolDisconnect = [this](TIxaMonitor&) { ToolPresent(false); };
    monitor.OnPassEnd = [this](TIxaMonitor&) { PassEnd(); };
}

TUnitState StateOf(const TBusUnitValues& values, bool englishUnits) {
    TUnitState state;
    state.CommandForce = values.CommandForce;
    state.ActualForce = values.ActualForce;
    state.Position = values.Position;
    state.Active = values.Active;
    state.Mode = values.Mode;
    state.ToolPresent = values.SlowKnown;
    state.ToolNumber = values.ToolNumber;
    state.EnglishUnits = englishUnits;
    // The poller's reading time is the steady clock's; the message carries the wall clock's.
    state.Time =
        std::chrono::system_clock::now() - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                               TBusUnitValues::TClock::now() - values.At);
    return state;
}
