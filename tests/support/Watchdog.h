#pragma once
// Ends the test program with a message when a scope outlives its deadline, so that a deadlock shows
// as a failure naming the case instead of a run that never ends.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class TWatchdog {
public:
    TWatchdog(unsigned ms, std::string what) : What(std::move(what)) {
        Guard = std::thread([this, ms] {
            std::unique_lock lock(Mutex);
            if (!Cancelled.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Done; })) {
                std::fprintf(stderr, "deadlock: %s did not finish within %u ms\n", What.c_str(), ms);
                std::abort();
            }
        });
    }
    ~TWatchdog() {
        {
            std::lock_guard lock(Mutex);
            Done = true;
        }
        Cancelled.notify_all();
        Guard.join();
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

private:
    std::string What;
    std::mutex Mutex;
    std::condition_variable Cancelled;
    bool Done = false;
    std::thread Guard;
};
