#include "operations/OperationNotices.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {
std::mutex listenersMutex;
std::vector<TOperationListener*> listeners;
} // namespace

void AddOperationListener(TOperationListener* listener) {
    std::lock_guard lock(listenersMutex);
    if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end())
        listeners.push_back(listener);
}

void RemoveOperationListener(TOperationListener* listener) {
    std::lock_guard lock(listenersMutex);
    std::erase(listeners, listener);
}

void NotifyOperation(const TIxaInterface& link, TOperationNotice notice, const std::string& detail) {
    std::lock_guard lock(listenersMutex);
    for (TOperationListener* listener : listeners)
        listener->OnOperation(link, notice, detail);
}
