#include "publish/Publisher.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using Json = nlohmann::json;

namespace {

struct TBroker {
    bool Tls = false;
    std::string Host;
    int Port = 0;
};

// "mqtt://host[:port]" or "mqtts://host[:port]"; "[::1]:port" for an IPv6 address. A user or a
// password in the URL is refused: it would show in the process list.
TBroker ParseBroker(const std::string& url) {
    TBroker broker;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        broker.Tls = true;
        rest = url.substr(8);
    } else {
        throw EPublish("The broker \"" + url + "\" is no mqtt:// or mqtts:// URL");
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('@') != std::string::npos)
        throw EPublish("The broker URL holds a user name: give it in a credentials file instead");
    if (rest.find_first_of("/?#") != std::string::npos)
        throw EPublish("The broker URL \"" + url + "\" has a path; give mqtt[s]://host[:port]");
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos)
            throw EPublish("The broker URL \"" + url + "\" has no closing \"]\"");
        broker.Host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':')
                throw EPublish("The broker URL \"" + url + "\" is not mqtt[s]://host[:port]");
            port = rest.substr(close + 2);
        }
    } else {
        const size_t colon = rest.find(':');
        broker.Host = rest.substr(0, colon);
        if (colon != std::string::npos)
            port = rest.substr(colon + 1);
    }
    if (broker.Host.empty())
        throw EPublish("The broker URL \"" + url + "\" names no host");
    broker.Port = broker.Tls ? 8883 : 1883;
    if (!port.empty()) {
        long n = 0;
        for (char c : port) {
            if (c < '0' || c > '9' || n > 65535)
                throw EPublish("The broker's port \"" + port + "\" is no port number");
            n = n * 10 + (c - '0');
        }
        if (n < 1 || n > 65535)
            throw EPublish("The broker's port \"" + port + "\" is no port number");
        broker.Port = int(n);
    }
    return broker;
}

std::string UtcStamp(std::chrono::system_clock::time_point t) {
    if (t == std::chrono::system_clock::time_point{})
        t = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(ms % 1000));
    return text;
}

const char* ModeName(uint8_t mode) {
    static const char* const names[] = {"force", "position", "contour"};
    return mode < 3 ? names[mode] : "unknown";
}

struct TMessage {
    std::string Topic;
    std::string Payload;
    bool Retain = false;
    int Qos = 0;
    std::string CorrelationData; // MQTT 5, for a result sent to a response topic
};

constexpr uint32_t MaxPacket = 64 * 1024;

void LibraryInit() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

struct TPublisher::TImpl {
    TPublisher& Owner;
    TPublisherOptions Options;
    TBroker Broker;
    std::optional<TCredentials> Credentials;
    std::string Base; // <root>/<unit>
    std::string ClientId;

    mutable std::mutex Mutex; // everything below, up to the thread's own state
    std::condition_variable Changed;
    TPublisherStatus Status;
    std::optional<std::string> Info;  // the latest info payload
    std::optional<std::string> State; // the latest state payload
    bool StatePending = false;        // State not yet handed to the broker
    std::deque<TMessage> Queue;       // events and results, oldest first
    bool StopRequested = false;
    bool Connected = false;
    uint64_t NextWriteId = 1;
    int Address = -1; // from the latest info

    int WakeFd = -1;
    std::thread Thread;

    // The thread's own (no lock).
    mosquitto* Mosq = nullptr;
    bool ConnAckSeen = false;
    int ConnAckCode = 0;
    std::string LastTlsError;

    TImpl(TPublisher& owner, TPublisherOptions options, const std::string& unit)
        : Owner(owner), Options(std::move(options)) {
        Broker = ParseBroker(Options.Broker);
        if (Options.Root.empty())
            Options.Root = DefaultRoot();
        // The root may hold levels of its own; a wildcard in it would make a topic nobody can publish.
        if (Options.Root.find_first_of("+#") != std::string::npos || Options.Root.front() == '/' ||
            Options.Root.back() == '/')
            throw EPublish("The topic root \"" + Options.Root +
                           "\" holds \"+\" or \"#\" or starts or ends in \"/\"");
        if (!Options.CredentialsFile.empty())
            Credentials = ReadCredentials(Options.CredentialsFile);
        if (!Options.CaFile.empty()) {
            struct stat st {};
            if (::stat(Options.CaFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                throw EPublish("The CA file " + Options.CaFile + " cannot be read");
            if (!Broker.Tls)
                throw EPublish("A CA file is given for a plain mqtt:// broker; use mqtts://");
        }
        if (Credentials && !Broker.Tls && Broker.Host != "localhost" && Broker.Host != "127.0.0.1" &&
            Broker.Host != "::1")
            Log("warning: the password goes to " + Broker.Host + " unencrypted; use mqtts://");
        Base = Options.Root + "/" + TopicLevel(unit);
        ClientId = Options.ClientId;
        if (ClientId.empty()) {
            char host[64] = "";
            gethostname(host, sizeof host - 1);
            ClientId = "korva-" + TopicLevel(host) + "-" + std::to_string(getpid()) + "-" + TopicLevel(unit);
        }
        if (ClientId.size() > 200)
            ClientId.resize(200);
        WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (WakeFd < 0)
            throw EPublish(std::string("eventfd: ") + std::strerror(errno));
    }

    ~TImpl() {
        if (WakeFd >= 0)
            ::close(WakeFd);
    }

    void Log(const std::string& text) {
        if (Owner.OnLog)
            Owner.OnLog(text);
    }

    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(WakeFd, &one, sizeof one);
    }

    // Not under Mutex: the callback runs without it.
    void SetState(TPublisherState state, const std::string& detail) {
        TPublisherStatus copy;
        {
            std::lock_guard lock(Mutex);
            if (Status.State == state && Status.Detail == detail)
                return;
            Status.State = state;
            Status.Detail = detail;
            copy = Status;
        }
        if (Owner.OnStatus)
            Owner.OnStatus(copy);
    }

    void Enqueue(TMessage message) {
        {
            std::lock_guard lock(Mutex);
            if (Queue.size() >= std::max<size_t>(Options.QueueLimit, 1)) {
                Queue.pop_front();
                ++Status.Dropped;
            }
            Queue.push_back(std::move(message));
        }
        Wake();
    }

    // The thread.
    void Run();
    bool ConnectOnce(std::string& why);
    void Serve();
    void Flush(bool reconnected);
    bool Publish(const TMessage& m);
    void Goodbye();
    void OnMessage(const mosquitto_message* message, const mosquitto_property* props);
    void Result(const TPlantWrite* write, const std::string& mnemonic, const TPlantWriteResult& result,
                const std::string& responseTopic, const std::string& correlation);
    bool Stopping() {
        std::lock_guard lock(Mutex);
        return StopRequested;
    }
    // Waits up to ms, or until a stop is asked for.
    void Backoff(unsigned ms) {
        std::unique_lock lock(Mutex);
        Changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return StopRequested; });
    }
};

TPublisher::TPublisher(TPublisherOptions options, std::string unitLevel)
    : Impl(std::make_unique<TImpl>(*this, std::move(options), unitLevel)) {
    LibraryInit();
}

TPublisher::~TPublisher() {
    {
        std::lock_guard lock(Impl->Mutex);
        Impl->StopRequested = true;
    }
    Impl->Changed.notify_all();
    Impl->Wake();
    if (Impl->Thread.joinable())
        Impl->Thread.join();
}

void TPublisher::Start() {
    if (Impl->Thread.joinable())
        return;
    Impl->SetState(TPublisherState::Connecting, "");
    Impl->Thread = std::thread([this] { Impl->Run(); });
}

const std::string& TPublisher::Topic() const {
    return Impl->Base;
}

TPublisherStatus TPublisher::Status() const {
    std::lock_guard lock(Impl->Mutex);
    return Impl->Status;
}

void TPublisher::SetInfo(const TUnitInfo& info) {
    Json json = {{"controllerName", info.ControllerName},
                 {"version", info.Version},
                 {"units", info.EnglishUnits ? "english" : "metric"},
                 {"toolType", info.ToolType},
                 {"toolNumber", info.ToolNumber},
                 {"address", info.Address},
                 {"port", info.Port},
                 {"consoleVersion", Impl->Options.ConsoleVersion}};
    // A name the controller holds need not be valid UTF-8 after all; never let it break the message.
    std::string payload = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    {
        std::lock_guard lock(Impl->Mutex);
        Impl->Info = std::move(payload);
        Impl->Address = info.Address;
        if (Impl->Connected)
            Impl->Queue.push_back({Impl->Base + "/info", *Impl->Info, true, 1, {}});
    }
    Impl->Wake();
}

void TPublisher::PublishState(const TUnitState& state) {
    const Json json = {{"commandForce", state.CommandForce},
                       {"actualForce", state.ActualForce},
                       {"position", state.Position},
                       {"orientation", state.Orientation},
                       {"active", state.Active},
                       {"mode", ModeName(state.Mode)},
                       {"tool", state.ToolPresent ? Json(state.ToolNumber) : Json(nullptr)},
                       {"units", state.EnglishUnits ? "english" : "metric"},
                       {"time", UtcStamp(state.Time)}};
    std::string payload = json.dump();
    {
        std::lock_guard lock(Impl->Mutex);
        Impl->State = std::move(payload);
        Impl->StatePending = true;
    }
    Impl->Wake();
}

void TPublisher::PublishEvent(TPlantEvent kind, const std::string& detail) {
    const char* key = "detail";
    switch (kind) {
    case TPlantEvent::LinkLost:
    case TPlantEvent::LinkRegained:
        key = "reason";
        break;
    case TPlantEvent::ConfigurationDownloaded:
        key = "file";
        break;
    case TPlantEvent::BackupTaken:
        key = "backup";
        break;
    case TPlantEvent::ErrorReply:
        key = "error";
        break;
    case TPlantEvent::OperatorCommand:
        key = "command";
        break;
    case TPlantEvent::SavedToController:
        break;
    }
    const Json json = {{"event", PlantEventName(kind)}, {key, detail}, {"time", UtcStamp({})}};
    Impl->Enqueue(
        {Impl->Base + "/event", json.dump(-1, ' ', false, Json::error_handler_t::replace), false, 1, {}});
}

void TPublisher::Complete(const TPlantWrite& write, const TPlantWriteResult& result) {
    Impl->Result(&write, write.Parameter ? write.Parameter->Mnemonic : "", result, write.ResponseTopic,
                 write.CorrelationData);
}

void TPublisher::TImpl::Result(const TPlantWrite* write, const std::string& mnemonic,
                               const TPlantWriteResult& result, const std::string& responseTopic,
                               const std::string& correlation) {
    Json json = {{"parameter", mnemonic}, {"ok", result.Ok}, {"time", UtcStamp({})}};
    if (write) {
        json["id"] = write->Id;
        if (write->Index >= 0)
            json["index"] = write->Index;
        json["value"] = write->Value.Wire;
    }
    if (!result.Ok)
        json["error"] = result.Error;
    const std::string payload = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    {
        std::lock_guard lock(Mutex);
        ++(result.Ok ? Status.Writes : Status.RefusedWrites);
    }
    Enqueue({Base + "/result", payload, false, 1, {}});
    if (!responseTopic.empty())
        Enqueue({responseTopic, payload, false, 1, correlation});
}

// The publisher's thread: connect, serve until the connection ends, wait out the backoff, again.
void TPublisher::TImpl::Run() {
    pthread_setname_np(pthread_self(), "korva-publish"); // for top and the benchmark
    unsigned backoff = Options.BackoffMinMs;
    while (!Stopping()) {
        std::string why;
        if (ConnectOnce(why)) {
            backoff = Options.BackoffMinMs;
            Serve();
            {
                std::lock_guard lock(Mutex);
                Connected = false;
            }
            if (Stopping())
                Goodbye();
            mosquitto_disconnect(Mosq);
            mosquitto_destroy(Mosq);
            Mosq = nullptr;
            if (Stopping())
                break;
            SetState(TPublisherState::Connecting, "connection to the broker lost");
            Log("connection to " + Broker.Host + " lost; connecting again");
        } else {
            if (Mosq) {
                mosquitto_destroy(Mosq);
                Mosq = nullptr;
            }
            Log("broker " + Broker.Host + ":" + std::to_string(Broker.Port) + ": " + why);
        }
        Backoff(backoff);
        backoff = std::min(std::max(backoff * 2, 1u), std::max(Options.BackoffMaxMs, Options.BackoffMinMs));
    }
    SetState(TPublisherState::Stopped, "");
}

bool TPublisher::TImpl::ConnectOnce(std::string& why) {
    Mosq = mosquitto_new(ClientId.c_str(), true, this);
    if (!Mosq) {
        why = "out of memory";
        return false;
    }
    mosquitto_int_option(Mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    const std::string statusTopic = Base + "/status";
    mosquitto_will_set_v5(Mosq, statusTopic.c_str(), 7, "offline", 1, true, nullptr);
    if (Credentials)
        mosquitto_username_pw_set(Mosq, Credentials->UserName.c_str(),
                                  Credentials->Password.empty() ? nullptr : Credentials->Password.c_str());
    LastTlsError.clear();
    mosquitto_log_callback_set(Mosq, [](mosquitto*, void* self, int level, const char* text) {
        if (level == MOSQ_LOG_ERR && text && std::strstr(text, "OpenSSL"))
            static_cast<TImpl*>(self)->LastTlsError = text;
    });
    if (Broker.Tls) {
        int rc;
        if (Options.CaFile.empty()) {
            rc = mosquitto_int_option(Mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_tls_set(Mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        } else {
            rc = mosquitto_tls_set(Mosq, Options.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        }
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_opts_set(Mosq, 1, nullptr, nullptr); // verify the peer
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_insecure_set(Mosq, false); // and its host name
        if (rc != MOSQ_ERR_SUCCESS) {
            why = std::string("TLS set-up: ") + mosquitto_strerror(rc);
            SetState(TPublisherState::Refused, why);
            return false;
        }
    }
    mosquitto_connect_v5_callback_set(Mosq,
                                      [](mosquitto*, void* self, int rc, int, const mosquitto_property*) {
                                          auto* impl = static_cast<TImpl*>(self);
                                          impl->ConnAckSeen = true;
                                          impl->ConnAckCode = rc;
                                      });
    mosquitto_message_v5_callback_set(
        Mosq, [](mosquitto*, void* self, const mosquitto_message* message, const mosquitto_property* props) {
            static_cast<TImpl*>(self)->OnMessage(message, props);
        });
    ConnAckSeen = false;
    // The broker is told not to send a packet larger than this at all; a payload above MaxPayload
    // that still fits is refused when it is read.
    mosquitto_property* connectProps = nullptr;
    mosquitto_property_add_int32(&connectProps, MQTT_PROP_MAXIMUM_PACKET_SIZE, MaxPacket);
    int rc = mosquitto_connect_bind_v5(Mosq, Broker.Host.c_str(), Broker.Port, int(Options.KeepAliveSeconds),
                                       nullptr, connectProps);
    mosquitto_property_free_all(&connectProps);
    const auto refused = [&](const std::string& text, bool tls) {
        why = text;
        SetState(tls ? TPublisherState::Refused : TPublisherState::Connecting, why);
        return false;
    };
    if (rc != MOSQ_ERR_SUCCESS) {
        if (rc == MOSQ_ERR_TLS || !LastTlsError.empty())
            return refused(
                "TLS refused: " + (LastTlsError.empty() ? std::string("handshake failed") : LastTlsError) +
                    " (the broker's certificate does not match the CA or the host name " + Broker.Host + ")",
                true);
        return refused(std::string("cannot connect: ") +
                           (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc)),
                       false);
    }
    // Wait for the broker's answer, at most a keep-alive period.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(std::max(Options.KeepAliveSeconds, 2u));
    while (!ConnAckSeen && std::chrono::steady_clock::now() < deadline && !Stopping()) {
        pollfd fds[2] = {
            {mosquitto_socket(Mosq), short(POLLIN | (mosquitto_want_write(Mosq) ? POLLOUT : 0)), 0},
            {WakeFd, POLLIN, 0}};
        ::poll(fds, 2, 100);
        rc = mosquitto_loop(Mosq, 0, 1);
        if (rc != MOSQ_ERR_SUCCESS && !ConnAckSeen) {
            if (rc == MOSQ_ERR_TLS || !LastTlsError.empty())
                return refused("TLS refused: " +
                                   (LastTlsError.empty() ? std::string("handshake failed") : LastTlsError) +
                                   " (the broker's certificate does not match the CA or the host name " +
                                   Broker.Host + ")",
                               true);
            return refused(std::string("connection ended: ") + mosquitto_strerror(rc), false);
        }
    }
    if (!ConnAckSeen)
        return refused("the broker did not answer", false);
    if (ConnAckCode != 0)
        return refused(std::string("the broker refused: ") + mosquitto_reason_string(ConnAckCode), true);
    // Writes from the plant: one subscription for every parameter, so that a refused one is answered.
    if (!Options.AllowedWrites.empty()) {
        const std::string sets = Base + "/set/+";
        mosquitto_subscribe_v5(Mosq, nullptr, sets.c_str(), 1, 0, nullptr);
    }
    Flush(true);
    SetState(TPublisherState::Connected, Broker.Host + ":" + std::to_string(Broker.Port));
    return true;
}

bool TPublisher::TImpl::Publish(const TMessage& m) {
    mosquitto_property* props = nullptr;
    if (!m.CorrelationData.empty())
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, m.CorrelationData.data(),
                                      uint16_t(std::min<size_t>(m.CorrelationData.size(), 65535)));
    const int rc = mosquitto_publish_v5(Mosq, nullptr, m.Topic.c_str(), int(m.Payload.size()),
                                        m.Payload.data(), m.Qos, m.Retain, props);
    mosquitto_property_free_all(&props);
    if (rc == MOSQ_ERR_SUCCESS) {
        std::lock_guard lock(Mutex);
        ++Status.Published;
    } else if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST) {
        Log("cannot publish on " + m.Topic + ": " + mosquitto_strerror(rc));
        return true; // a message the broker cannot take (a bad response topic): dropped, not retried
    }
    return rc == MOSQ_ERR_SUCCESS;
}

// Hands what waits to the broker; after a reconnect the retained status and info and the latest
// state go first.
void TPublisher::TImpl::Flush(bool reconnected) {
    std::vector<TMessage> batch;
    {
        std::lock_guard lock(Mutex);
        if (reconnected) {
            Connected = true;
            batch.push_back({Base + "/status", "online", true, 1, {}});
            if (Info)
                batch.push_back({Base + "/info", *Info, true, 1, {}});
            if (State)
                StatePending = true;
        }
        if (StatePending && State) {
            batch.push_back({Base + "/state", *State, false, 0, {}});
            StatePending = false;
        }
        for (auto& m : Queue)
            batch.push_back(std::move(m));
        Queue.clear();
    }
    for (size_t i = 0; i < batch.size(); ++i) {
        if (!Publish(batch[i])) {
            // The connection went meanwhile: what was not sent waits for the next one.
            std::lock_guard lock(Mutex);
            for (size_t j = batch.size(); j-- > i;) {
                if (batch[j].Topic == Base + "/state")
                    StatePending = true;
                else if (batch[j].Topic != Base + "/status" && batch[j].Topic != Base + "/info")
                    Queue.push_front(std::move(batch[j]));
            }
            while (Queue.size() > std::max<size_t>(Options.QueueLimit, 1)) {
                Queue.pop_front();
                ++Status.Dropped;
            }
            return;
        }
    }
}

void TPublisher::TImpl::Serve() {
    while (!Stopping()) {
        pollfd fds[2] = {
            {mosquitto_socket(Mosq), short(POLLIN | (mosquitto_want_write(Mosq) ? POLLOUT : 0)), 0},
            {WakeFd, POLLIN, 0}};
        const int n = ::poll(fds, 2, 1000);
        if (n > 0 && (fds[1].revents & POLLIN)) {
            uint64_t count;
            [[maybe_unused]] ssize_t got = ::read(WakeFd, &count, sizeof count);
            Flush(false);
        }
        const int rc = mosquitto_loop(Mosq, 0, 1);
        if (rc != MOSQ_ERR_SUCCESS)
            return;
    }
}

// A clean goodbye: the status goes offline (a clean disconnect does not fire the will), then the
// messages still queued are written, for a second at most.
void TPublisher::TImpl::Goodbye() {
    Flush(false);
    Publish({Base + "/status", "offline", true, 1, {}});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (mosquitto_want_write(Mosq) && std::chrono::steady_clock::now() < deadline) {
        pollfd fd = {mosquitto_socket(Mosq), POLLOUT, 0};
        ::poll(&fd, 1, 50);
        if (mosquitto_loop(Mosq, 0, 1) != MOSQ_ERR_SUCCESS)
            break;
    }
}

void TPublisher::TImpl::OnMessage(const mosquitto_message* message, const mosquitto_property* props) {
    std::string responseTopic, correlation;
    for (const mosquitto_property* p = props; p; p = mosquitto_property_next(p)) {
        if (mosquitto_property_identifier(p) == MQTT_PROP_RESPONSE_TOPIC) {
            char* value = nullptr;
            if (mosquitto_property_read_string(p, MQTT_PROP_RESPONSE_TOPIC, &value, false) && value) {
                responseTopic = value;
                free(value);
            }
        } else if (mosquitto_property_identifier(p) == MQTT_PROP_CORRELATION_DATA) {
            void* value = nullptr;
            uint16_t length = 0;
            if (mosquitto_property_read_binary(p, MQTT_PROP_CORRELATION_DATA, &value, &length, false) &&
                value) {
                correlation.assign(static_cast<const char*>(value), length);
                free(value);
            }
        }
    }
    // A response topic with a wildcard cannot be published to; answer on result alone.
    if (responseTopic.find_first_of("+#") != std::string::npos)
        responseTopic.clear();
    const std::string prefix = Base + "/set/";
    const std::string topic = message->topic ? message->topic : "";
    if (topic.rfind(prefix, 0) != 0)
        return;
    const std::string mnemonic = topic.substr(prefix.size());
    const auto refuse = [&](const std::string& why) {
        Log("write from the plant refused: " + TopicLevel(mnemonic) + ": " + why);
        Result(nullptr, TopicLevel(mnemonic), {false, why}, responseTopic, correlation);
    };
    const auto& allowed = Options.AllowedWrites;
    if (std::find(allowed.begin(), allowed.end(), mnemonic) == allowed.end())
        return refuse("writes of " + TopicLevel(mnemonic) + " are not allowed");
    const TIxaParameter* parameter = FindIxaMnemonic(mnemonic);
    if (!parameter || !parameter->Writable())
        return refuse(TopicLevel(mnemonic) + " cannot be written");
    if (message->retain)
        return refuse("a retained write is not taken: it would be made again on every connect");
    TPlantWrite write;
    try {
        const TPlantCommand command =
            ParsePlantCommand(*parameter, std::string_view(static_cast<const char*>(message->payload),
                                                           size_t(message->payloadlen)));
        write.Parameter = parameter;
        write.Index = command.Index;
        write.Value = command.Value;
    } catch (const std::exception& e) {
        return refuse(e.what());
    }
    write.ResponseTopic = responseTopic;
    write.CorrelationData = correlation;
    {
        std::lock_guard lock(Mutex);
        write.Id = NextWriteId++;
        write.Address = Address;
    }
    if (!Owner.OnWrite)
        return refuse("writes are not taken here");
    Log("write from the plant: " + std::string(parameter->Mnemonic) +
        (write.Index >= 0 ? " " + std::to_string(write.Index) : "") + " " + write.Value.Wire);
    Owner.OnWrite(write);
}
