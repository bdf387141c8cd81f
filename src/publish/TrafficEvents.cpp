#include "publish/TrafficEvents.h"

#include "link/IxaInterface.h"

void TPlantTraffic::OnTraffic(const TTrafficEvent& event) noexcept {
    try {
        std::lock_guard lock(Mutex);
        if (!Publisher)
            return;
        if (event.Direction == TTrafficDirection::Sent) {
            LastCommand = event.Line;
            // A command that asks nothing, sent for this console's operator (the plant's writes
            // have a result of their own, the monitor only asks). A downloaded file's lines are
            // one event of their own when the download ends.
            if (event.Origin == TTrafficOrigin::Operator && event.Mark == TTrafficMark::None &&
                !event.Transfer && event.Line.find('?') == std::string::npos)
                Publisher->PublishEvent(TPlantEvent::OperatorCommand, event.Line);
        } else if (event.Direction == TTrafficDirection::Received && event.Mark == TTrafficMark::ErrorReply) {
            Publisher->PublishEvent(TPlantEvent::ErrorReply,
                                    IxaErrorText(event.Line) + " (to " + LastCommand + ")");
        }
        if (event.Mark != TTrafficMark::None && event.Mark != TTrafficMark::ErrorReply) {
            LastFailure = TrafficMarkText(event.Mark);
            if (!event.Detail.empty())
                LastFailure += ": " + event.Detail;
        }
    } catch (...) {
        // Out of memory at worst: the event is not published.
    }
}

std::string TPlantTraffic::LostReason(const std::string& otherwise) {
    std::lock_guard lock(Mutex);
    std::string reason = LastFailure.empty() ? otherwise : LastFailure;
    LastFailure.clear();
    return reason;
}
