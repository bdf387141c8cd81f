#include "record/TrendLog.h"

template <typename F> void TTrendLog::Record(F&& write) {
    if (!Recorder)
        return;
    try {
        write(*Recorder);
    } catch (const ETrendRecord& e) {
        Error = e.what();
        Recorder.reset();
    }
}

void TTrendLog::Connect(const TTrendTime& now) {
    History.Connect(now.Seconds);
}

void TTrendLog::Deliver(TTrendChannel channel, double value, const TTrendTime& now) {
    History.Deliver(channel, value, now.Seconds);
    Record([&](TTrendRecorder& r) { r.Row(History, now); });
}

void TTrendLog::Disconnect(const TTrendTime& now) {
    const bool wasOnline = History.Online();
    History.Disconnect(now.Seconds);
    if (wasOnline)
        Record([&](TTrendRecorder& r) { r.Row(History, now); });
}

void TTrendLog::Tick(const TTrendTime& now) {
    Record([&](TTrendRecorder& r) { r.Tick(History, now); });
}

void TTrendLog::StartRecording(const std::filesystem::path& path, const TTrendRecordHeader& header,
                               const TTrendTime& now) {
    StopRecording();
    Error.clear();
    Recorder = std::make_unique<TTrendRecorder>(path, header, now);
    Record([&](TTrendRecorder& r) { r.Row(History, now); });
}

void TTrendLog::StopRecording() {
    Record([](TTrendRecorder& r) { r.Close(); });
    Recorder.reset();
}

void TTrendLog::SetUnits(const std::string& forceUnits, const std::string& lengthUnits,
                         const TTrendTime& now) {
    Record([&](TTrendRecorder& r) { r.SetUnits(forceUnits, lengthUnits, now); });
}

void TTrendLog::SetUnit(const TTrendUnit& unit, const TTrendTime& now) {
    Record([&](TTrendRecorder& r) { r.SetUnit(unit, now); });
}
