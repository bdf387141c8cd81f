#pragma once
// The link's traffic as plant events: the operator's commands, the controller's error replies,
// and why the link was lost. Shared by the console and the bridge.

#include "link/Traffic.h"
#include "publish/Publisher.h"

#include <mutex>
#include <string>

class TPlantTraffic final : public TTrafficObserver {
public:
    void OnTraffic(const TTrafficEvent& event) noexcept override;
    // What went wrong on the line last (a time limit, a wrong echo, the port's failure), once.
    std::string LostReason(const std::string& otherwise = "the controller did not answer");
    TPublisher* Publisher = nullptr; // set while listening

private:
    std::mutex Mutex;
    std::string LastCommand, LastFailure;
};
