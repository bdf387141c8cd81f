#pragma once
// TTrendLog: the trend's data side as the window uses it. Every delivery goes into the history and,
// while recording, into a CSV row; Tick keeps the recording's once-a-second row and flush.
// A recording that fails (disk full, file gone) stops by itself and keeps its reason: a failing file
// never disturbs the caller, which is the panel's delivery of a monitor event.
// Threads: one thread at a time (the main thread in the console).

#include "record/TrendHistory.h"
#include "record/TrendRecorder.h"

#include <memory>
#include <string>

class TTrendLog {
public:
    explicit TTrendLog(size_t capacity = TTrendHistory::DefaultCapacity) : History(capacity) {}

    void Connect(const TTrendTime& now);
    void Deliver(TTrendChannel channel, double value, const TTrendTime& now);
    void Disconnect(const TTrendTime& now);
    void Tick(const TTrendTime& now);

    // Starts a new recording (ends one in progress). Raises ETrendRecord when the file cannot be made.
    void StartRecording(const std::filesystem::path& path, const TTrendRecordHeader& header,
                        const TTrendTime& now);
    void StopRecording();
    void SetUnits(const std::string& forceUnits, const std::string& lengthUnits, const TTrendTime& now);
    // The unit the next deliveries come from (see TTrendRecorder::SetUnit).
    void SetUnit(const TTrendUnit& unit, const TTrendTime& now);
    bool Recording() const { return Recorder != nullptr; }
    const TTrendRecorder* Recorded() const { return Recorder.get(); }
    // Why the last recording stopped by itself (empty when it did not).
    const std::string& RecordError() const { return Error; }

    TTrendHistory History;

private:
    template <typename F> void Record(F&& write);

    std::unique_ptr<TTrendRecorder> Recorder;
    std::string Error;
};
