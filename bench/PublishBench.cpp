// What the plant publisher costs and how fast it is, against Debian's mosquitto started here:
//   1. the delay from a change in the controller to its state message at a subscriber, beside the
//      delay to the panel's display (the monitor's event on the main thread);
//   2. the CPU time of the publisher's thread and the memory the publisher adds, a state each pass;
//   3. the messages per second one broker takes from 16 publishers at once, and whether any is lost.
// Usage: korva-publish-bench [STEPS]   (default 60 force steps)
#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "monitor/Ixamonitor.h"
#include "platform/Thread.h"
#include "publish/Publisher.h"
#include "publish/StateFeed.h"
#include "sim/Simulator.h"

#include "publish/Broker.h"

#include <mosquitto.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <random>

namespace {

using TClock = std::chrono::steady_clock;

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

long RssKb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// CPU seconds of the threads of this process named name.
double ThreadCpu(const std::string& name) {
    double seconds = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* e = dir ? readdir(dir) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(base + "/comm"), comm);
        if (comm != name)
            continue;
        std::string stat;
        std::getline(std::ifstream(base + "/stat"), stat);
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        unsigned long utime = 0, stime = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14)
                utime = std::stoul(field);
            if (i == 15) {
                stime = std::stoul(field);
                break;
            }
        }
        seconds += double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    }
    if (dir)
        closedir(dir);
    return seconds;
}

// A subscriber of our own, on the broker's loop thread: when each message arrived.
struct TSubscriber {
    mosquitto* Mosq = nullptr;
    std::mutex Mutex;
    std::map<double, TClock::time_point> ForceSeen; // commandForce -> arrival
    std::atomic<uint64_t> Count{0};
    std::atomic<TClock::time_point> Last{};
    explicit TSubscriber(const broker::TBroker& b, const std::string& topic) {
        Mosq = mosquitto_new(nullptr, true, this);
        mosquitto_username_pw_set(Mosq, "plant", "secret");
        mosquitto_message_callback_set(Mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<TSubscriber*>(self);
            const auto at = TClock::now();
            ++s->Count;
            s->Last = at;
            const std::string payload(static_cast<const char*>(m->payload), size_t(m->payloadlen));
            const auto json = nlohmann::json::parse(payload, nullptr, false);
            if (json.is_object() && json.contains("commandForce")) {
                std::lock_guard lock(s->Mutex);
                s->ForceSeen.emplace(json["commandForce"].get<double>(), at);
            }
        });
        mosquitto_connect(Mosq, "127.0.0.1", b.Port, 30);
        mosquitto_subscribe(Mosq, nullptr, topic.c_str(), 1);
        mosquitto_loop_start(Mosq);
    }
    ~TSubscriber() {
        mosquitto_disconnect(Mosq);
        mosquitto_loop_stop(Mosq, false);
        mosquitto_destroy(Mosq);
    }
    std::optional<TClock::time_point> Seen(double force) {
        std::lock_guard lock(Mutex);
        auto it = ForceSeen.find(force);
        return it == ForceSeen.end() ? std::nullopt : std::optional(it->second);
    }
};

TPublisherOptions Options(const broker::TBroker& b) {
    TPublisherOptions o;
    o.Broker = b.Url();
    o.Root = "korva/bench";
    o.CredentialsFile = b.Credentials();
    return o;
}

} // namespace

int main(int argc, char** argv) {
    const int steps = argc > 1 ? std::atoi(argv[1]) : 60;
    const bool paced = argc > 2 && std::string(argv[2]) == "--paced";
    const int only = argc > 3 ? std::atoi(argv[3]) : 0; // 3: the throughput alone
    if (!broker::Missing().empty()) {
        std::printf("skipped: %s\n", broker::Missing().c_str());
        return 0;
    }
    mosquitto_lib_init();
    SetMainThread();
    broker::TBroker b;
    sim::TSimOptions simOptions;
    simOptions.Paced = paced;
    sim::TSimulator sim(simOptions);
    TCommPort port;
    port.Open(sim.SlavePath());
    TIxaInterface link(&port);
    link.Connect();
    const long rssBefore = RssKb();

    if (only == 3)
        goto throughput;
    {
        // 1. Latency.
        auto publisher = std::make_unique<TPublisher>(Options(b), "bench");
        TStateFeed feed(*publisher);
        publisher->Start();
        TSubscriber sub(b, "korva/bench/bench/state");
        broker::WaitFor([&] { return publisher->Status().State == TPublisherState::Connected; });
        std::map<double, TClock::time_point> shown;
        std::vector<double> display, message;
        {
            TIxaMonitor monitor(link);
            feed.Attach(monitor);
            monitor.OnCommandForce = [&](TIxaMonitor&, double v) {
                shown.emplace(v, TClock::now());
                feed.CommandForce(v);
            };
            ServeUntil([&] { return monitor.Online.load(); }, 5000);
            std::mt19937 random(7);
            for (int i = 0; i < steps; ++i) {
                // A random phase against the monitor's passes, as a real change comes.
                ServeUntil([] { return false; }, unsigned(random() % 200));
                const double value = 100 + i;
                char text[32];
                std::snprintf(text, sizeof text, "%.3f", value);
                const auto t0 = TClock::now();
                sim.SetParameter("CF", text);
                ServeUntil([&] { return shown.count(value) && sub.Seen(value); }, 3000);
                const auto seen = sub.Seen(value);
                if (!shown.count(value) || !seen) {
                    std::printf("step %d: not seen\n", i);
                    continue;
                }
                display.push_back(Ms(shown[value] - t0));
                message.push_back(Ms(*seen - t0));
            }
        }
        std::vector<double> extra;
        for (size_t i = 0; i < message.size(); ++i)
            extra.push_back(message[i] - display[i]);
        std::printf("latency over %zu steps (ms)    median   p95\n", message.size());
        std::printf("  to the panel's display       %6.1f %6.1f\n", Percentile(display, 0.5),
                    Percentile(display, 0.95));
        std::printf("  to the subscriber            %6.1f %6.1f\n", Percentile(message, 0.5),
                    Percentile(message, 0.95));
        std::printf("  publisher's extra            %6.1f %6.1f\n", Percentile(extra, 0.5),
                    Percentile(extra, 0.95));

        // 2. CPU and memory: a state every pass for 30 s (the force changes each pass).
        {
            TIxaMonitor monitor(link);
            feed.Attach(monitor);
            const double cpu0 = ThreadCpu("korva-publish");
            const auto start = TClock::now();
            double value = 0;
            while (TClock::now() - start < std::chrono::seconds(30)) {
                char text[32];
                std::snprintf(text, sizeof text, "%.3f", value += 1);
                sim.SetParameter("CF", text);
                ServeUntil([] { return false; }, 200);
            }
            const double seconds = Ms(TClock::now() - start) / 1000;
            const double cpu = ThreadCpu("korva-publish") - cpu0;
            std::printf(
                "publisher's thread: %.3f %% of a core over %.0f s, %llu messages; memory added: %ld kB\n",
                100 * cpu / seconds, seconds, (unsigned long long)publisher->Status().Published,
                RssKb() - rssBefore);
        }
    }
throughput:

    // 3. Throughput: 16 publishers, each a burst of events, one subscriber counting.
    {
        constexpr int bridges = 16;
        TSubscriber counter(b, "korva/bench/+/event");
        std::vector<std::unique_ptr<TPublisher>> many;
        for (int i = 0; i < bridges; ++i) {
            TPublisherOptions o = Options(b);
            many.push_back(std::make_unique<TPublisher>(o, "unit-" + std::to_string(i)));
            many.back()->OnLog = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
            many.back()->Start();
        }
        broker::WaitFor([&] {
            return std::all_of(many.begin(), many.end(),
                               [](const auto& p) { return p->Status().State == TPublisherState::Connected; });
        });
        ServeUntil([] { return false; }, 300); // the subscription
        // Each publisher at a steady rate for 3 s; the rate doubles until the broker loses messages.
        for (int rate = 25; rate <= 1600; rate *= 2) {
            const uint64_t before = counter.Count;
            const int each = rate * 3;
            const auto start = TClock::now();
            for (int n = 0; n < each; ++n) {
                for (auto& p : many)
                    p->PublishEvent(TPlantEvent::OperatorCommand, "0:CF " + std::to_string(n));
                std::this_thread::sleep_until(start + std::chrono::microseconds(1000000LL * (n + 1) / rate));
            }
            const uint64_t sent = uint64_t(bridges) * each;
            broker::WaitFor([&] { return counter.Count - before >= sent; }, 5000);
            const uint64_t got = counter.Count - before;
            std::printf("16 publishers at %4d messages/s each: %6.0f messages/s, %llu of %llu arrived\n",
                        rate, double(got) / (Ms(counter.Last.load() - start) / 1000), (unsigned long long)got,
                        (unsigned long long)sent);
            if (got < sent)
                break;
            ServeUntil([] { return false; }, 500);
        }
    }
    return 0;
}
