#include "gateway.h"

#include "amplifier_session.h"
#include "broker_link.h"
#include "cli_core.h"
#include "library_failure.h"
#include "nxtka.h"
#include "settings.h"
#include "settings_snapshot.h"
#include "subcommand.h"
#include "units.h"
#include "value_gatherer.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <atomic>
#include <thread>

namespace nxtka_cli::mqtt {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kWindow = 200;  // batches published and not yet acknowledged, per amplifier
// How often acknowledgements are taken and due batches sealed and sent.
constexpr std::chrono::milliseconds kTick{10};
// Amplifiers opened at once at start.
constexpr std::size_t kOpeners = 8;

std::uint64_t nowNs() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

struct Amplifier {
    const AmplifierEntry* entry = nullptr;
    std::string topic;  // PREFIX/NAME
    std::unique_ptr<Spool> spool;
    std::unique_ptr<BrokerLink> link;
    std::unique_ptr<AmplifierSession> amplifier;
    Scale scale;
    std::uint64_t session = 0;
    std::string info;  // the retained info document
    std::string state = "online", reason;

    ValueBatch pending;
    Clock::time_point pendingSince;
    std::map<int, std::uint64_t> inflight;  // message id -> spool id
    std::uint64_t nextToSend = 0;
    std::uint64_t generation = 0;
    bool awayAtStart = false;  // the broker was not there when the gateway started
    std::uint64_t reportedDrops = 0;
    Clock::time_point lastDropLog{};
    Clock::time_point lastRingCheck{};

    // Settings documents from PREFIX/NAME/set (remote_settings), taken on the
    // broker's thread, applied on the gathering one.
    std::unique_ptr<std::mutex> setMutex = std::make_unique<std::mutex>();
    std::vector<std::string> setRequests;

    std::uint64_t values = 0, batches = 0, acknowledged = 0;
    std::uint64_t ringDropped = 0;
    bool failed = false;
};

std::string stateJson(const Amplifier& a) {
    nlohmann::json j{{"state", a.state},
                     {"session", a.session},
                     {"spool_dropped_batches", a.spool->droppedBatches()},
                     {"spool_dropped_values", a.spool->droppedValues()},
                     {"ring_dropped", a.ringDropped}};
    if (!a.reason.empty()) j["reason"] = a.reason;
    return j.dump();
}

std::string infoJson(Amplifier& a, const GatewayConfig& config) {
    ActivePort& port = a.amplifier->port();
    nlohmann::json j{{"format", "nxtka-info 1"},
                     {"amplifier", a.entry->name},
                     {"device", port.device()},
                     {"port", port.port()},
                     {"baud", port.baud()},
                     {"identity", nlohmann::json::parse(identityJson(a.amplifier->identity()))},
                     {"snapshot", takeSnapshot(port.port())},
                     {"scale", {{"factor", a.scale.factor}, {"offset", a.scale.offset}, {"unit", a.scale.unit},
                                {"source", a.scale.source}}},
                     {"payload", config.publish.format == PayloadFormat::json ? "json" : "binary"},
                     {"session", a.session}};
    return j.dump();
}

class Gateway {
public:
    Gateway(const GatewayConfig& config, const GatewayRun& run, Context& context)
        : config_(config), run_(run), context_(context) {}
    ~Gateway() {
        for (int fd : wake_)
            if (fd >= 0) ::close(fd);
    }

    int operator()();

private:
    void start();
    void take(Amplifier& a, const Batch& batch);
    void tick();
    void seal(Amplifier& a);
    void send(Amplifier& a);
    void takeAcks(Amplifier& a);
    void publishState(Amplifier& a);
    void lineFailed(Amplifier& a, const std::string& reason);
    void applySettings(Amplifier& a, const std::string& document);
    void finish();
    int summary(bool interrupted);
    void log(const std::string& line) { std::fprintf(stderr, "publish: %s\n", line.c_str()); }

    const GatewayConfig& config_;
    const GatewayRun& run_;
    Context& context_;
    int wake_[2] = {-1, -1};
    std::vector<Amplifier> amps_;
    std::vector<bool> lost_;
};

void Gateway::start() {
    SignalWatch& signals = context_.signals();  // before any thread
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw ToolError("cannot make a pipe");
    amps_.resize(config_.amplifiers.size());
    bool brokerAway = false;
    for (std::size_t i = 0; i < amps_.size(); ++i) {
        Amplifier& a = amps_[i];
        a.entry = &config_.amplifiers[i];
        a.topic = config_.broker.prefix + "/" + a.entry->name;
        try {
            a.spool = std::make_unique<Spool>(std::filesystem::path(config_.publish.spoolDir) / a.entry->name,
                                              config_.publish.spoolBytes, config_.publish.fsync);
        } catch (const std::runtime_error& e) {
            throw ToolError(e.what());
        }
        if (!a.spool->waiting().empty())
            log(a.entry->name + ": " + std::to_string(a.spool->waiting().size()) +
                " batches from an earlier run wait in the spool; they go first");
        const std::string will = R"({"state": "offline", "reason": "gateway gone"})";
        a.link = std::make_unique<BrokerLink>(config_.broker, config_.broker.clientId + "-" + a.entry->name,
                                              Will{a.topic + "/state", will}, wake_[1]);
        if (config_.publish.remoteSettings) a.link->subscribe(a.topic + "/set");
        Amplifier* self = &a;
        // A broker that is not there costs no value: the amplifiers are
        // opened all the same, their batches wait in the spool, the link
        // keeps trying. Once one link found it away, the others wait less.
        const bool there = a.link->connect(brokerAway ? 2 : 10, [self](const std::string& topic, std::string_view payload) {
            if (topic != self->topic + "/set") return;
            std::lock_guard lock(*self->setMutex);
            self->setRequests.emplace_back(payload);
        }, true);
        if (!there) {
            if (!brokerAway)
                log(a.link->lastProblem() + "; the values go to the spool, trying again with back-off");
            brokerAway = true;
            a.awayAtStart = true;
        }
        context_.stopHere("made the links to the broker, no amplifier activated yet");
    }
    // The amplifiers are opened a few at a time (each activation and
    // settings snapshot waits for its amplifier's answers, one port does not
    // hold up the next); the first failure ends the start.
    std::atomic<std::size_t> next{0};
    std::mutex failureMutex;
    std::optional<ToolError> failure;
    const auto open = [&] {
        for (std::size_t i; (i = next++) < amps_.size();) {
            Amplifier& a = amps_[i];
            try {
                {
                    std::lock_guard lock(failureMutex);
                    if (failure || signals.stopRequested()) return;
                }
                a.amplifier = std::make_unique<AmplifierSession>(*a.entry, signals);
                a.scale = resolveScale(a.amplifier->port().port(), a.entry->scale);
                a.session = nowNs();
                a.info = infoJson(a, config_);
            } catch (const ToolError& e) {
                std::lock_guard lock(failureMutex);
                if (!failure) failure.emplace(a.entry->name + ": " + e.what(), e.status());
                return;
            }
        }
    };
    std::vector<std::thread> openers;
    for (std::size_t t = 0; t < std::min<std::size_t>(kOpeners, amps_.size()); ++t) openers.emplace_back(open);
    for (std::thread& t : openers) t.join();
    if (failure) throw *failure;
    context_.stopHere("activated the amplifiers, nothing published");
    lost_.resize(amps_.size());
    for (std::size_t i = 0; i < amps_.size(); ++i) lost_[i] = amps_[i].awayAtStart;  // said at start already
}

void Gateway::take(Amplifier& a, const Batch& batch) {
    for (std::size_t i = 0; i < batch.values.size(); ++i) {
        if (!a.pending.values.empty() && batch.sequences[i] != a.pending.end()) seal(a);  // a gap ends the batch
        if (a.pending.values.empty()) {
            a.pending.session = a.session;
            a.pending.first = batch.sequences[i];
            a.pendingSince = Clock::now();
        }
        a.pending.times.push_back(batch.times[i]);
        a.pending.values.push_back(batch.values[i]);
        a.pending.statuses.push_back(batch.statuses[i]);
        ++a.values;
        if (a.pending.values.size() >= config_.publish.maxValues) seal(a);
    }
}

void Gateway::seal(Amplifier& a) {
    if (a.pending.values.empty()) return;
    try {
        a.spool->append(a.pending);
    } catch (const std::runtime_error& e) {
        throw ToolError(a.entry->name + ": " + e.what());
    }
    ++a.batches;
    a.pending = ValueBatch{};
    if (a.spool->droppedBatches() != a.reportedDrops) {
        a.reportedDrops = a.spool->droppedBatches();
        if (Clock::now() - a.lastDropLog > std::chrono::seconds(1)) {
            a.lastDropLog = Clock::now();
            log(a.entry->name + ": the spool is full: dropped the oldest batches, " +
                std::to_string(a.spool->droppedBatches()) + " batches (" + std::to_string(a.spool->droppedValues()) +
                " values) so far");
        }
        publishState(a);
    }
}

void Gateway::publishState(Amplifier& a) {
    if (a.link->connected()) a.link->publish(a.topic + "/state", stateJson(a), true);
}

void Gateway::send(Amplifier& a) {
    if (!a.link->connected()) return;
    const std::uint64_t generation = a.link->generation();
    if (generation != a.generation) {
        if (a.generation != 0) log(a.entry->name + ": connected to the broker again; sending the spool");
        if (a.generation == 0 && a.awayAtStart) log(a.entry->name + ": connected to the broker at last; sending the spool");
        a.generation = generation;
        a.inflight.clear();
        a.nextToSend = 0;
        a.link->publish(a.topic + "/info", a.info, true);
        publishState(a);
    }
    const auto& waiting = a.spool->waiting();
    for (auto it = waiting.lower_bound(a.nextToSend); it != waiting.end() && a.inflight.size() < kWindow; ++it) {
        std::optional<int> mid;
        if (config_.publish.format == PayloadFormat::binary) {
            mid = a.link->publish(a.topic + "/values", it->second.payload, false);
        } else {
            mid = a.link->publish(a.topic + "/values", encodeJson(*decodeBinary(it->second.payload)), false);
        }
        if (!mid) break;
        a.inflight[*mid] = it->first;
        a.nextToSend = it->first + 1;
    }
}

void Gateway::takeAcks(Amplifier& a) {
    for (int mid : a.link->takeAcknowledged()) {
        const auto it = a.inflight.find(mid);
        if (it == a.inflight.end()) continue;
        if (a.spool->waiting().count(it->second)) ++a.acknowledged;
        a.spool->acknowledge(it->second);
        a.inflight.erase(it);
    }
    a.spool->tick();
}

void Gateway::lineFailed(Amplifier& a, const std::string& reason) {
    seal(a);
    a.failed = true;
    a.state = "line failed";
    a.reason = reason;
    NXgetDroppedValues(a.amplifier->port().port(), &a.ringDropped);
    a.amplifier->release();
    log(a.entry->name + ": line failed: " + reason + "; going on with the others");
    publishState(a);
}

// Every few milliseconds: batches that are due sealed, acknowledgements
// taken, what the spool holds sent while the broker is there.
void Gateway::tick() {
    char buf[256];
    while (::read(wake_[0], buf, sizeof buf) > 0) {
    }
    const auto interval = std::chrono::milliseconds(config_.publish.intervalMs);
    for (std::size_t i = 0; i < amps_.size(); ++i) {
        Amplifier& a = amps_[i];
        if (!a.pending.values.empty() && Clock::now() - a.pendingSince >= interval) seal(a);
        // Values the library's full ring dropped: counted in the state once a second.
        if (!a.failed && Clock::now() - a.lastRingCheck >= std::chrono::seconds(1)) {
            a.lastRingCheck = Clock::now();
            std::uint64_t dropped = a.ringDropped;
            NXgetDroppedValues(a.amplifier->port().port(), &dropped);
            if (dropped != a.ringDropped) {
                log(a.entry->name + ": the ring was full: " + std::to_string(dropped) + " values dropped so far");
                a.ringDropped = dropped;
                publishState(a);
            }
        }
        a.link->retry();
        takeAcks(a);
        std::vector<std::string> requests;
        {
            std::lock_guard lock(*a.setMutex);
            requests.swap(a.setRequests);
        }
        for (const std::string& r : requests) applySettings(a, r);
        send(a);
        const bool down = !a.link->connected();
        if (down != lost_[i]) {
            lost_[i] = down;
            if (down) log(a.entry->name + ": " + a.link->lastProblem() + "; values go to the spool until it is back");
        }
    }
}

// A settings document from PREFIX/NAME/set, applied as `nxtka set --from`
// applies a file; the outcome goes to PREFIX/NAME/set/result, and the info
// is published anew with the settings now held.
void Gateway::applySettings(Amplifier& a, const std::string& document) {
    nlohmann::json result{{"format", "nxtka-set-result 1"}};
    if (a.failed) {
        result["ok"] = false;
        result["error"] = "the amplifier's line failed: " + a.reason;
    } else {
        try {
            const nlohmann::json doc = nlohmann::json::parse(document, nullptr, false);
            if (doc.is_discarded()) throw ToolError("the document is not JSON", kExitUsage);
            const bool force = doc.is_object() && doc.value("force", false);
            checkSnapshot(doc, &a.amplifier->identity(), force);
            nlohmann::json items = nlohmann::json::array();
            bool ok = true;
            for (const RestoreItem& item : restoreSnapshot(a.amplifier->port().port(), doc)) {
                nlohmann::json i{{"setting", item.name}, {"value", item.value}, {"outcome", outcomeWord(item.outcome)}};
                if (!item.held.empty()) i["held"] = item.held;
                if (!item.reason.empty()) i["reason"] = item.reason;
                ok = ok && item.outcome != RestoreItem::Outcome::failed && item.outcome != RestoreItem::Outcome::differs;
                items.push_back(i);
            }
            result["ok"] = ok;
            result["settings"] = items;
            log(a.entry->name + ": applied a settings document from " + a.topic + "/set" +
                (ok ? "" : "; some settings were not taken (see set/result)"));
            a.info = infoJson(a, config_);
            if (a.link->connected()) a.link->publish(a.topic + "/info", a.info, true);
        } catch (const ToolError& e) {
            result["ok"] = false;
            result["error"] = e.what();
            log(a.entry->name + ": refused a settings document: " + e.what());
        }
    }
    if (a.link->connected()) a.link->publish(a.topic + "/set/result", result.dump(), false);
}

void Gateway::finish() {
    for (Amplifier& a : amps_) {
        if (a.failed) continue;
        seal(a);
    }
    // What the spool holds goes out while the broker is there, for a few
    // seconds at most; the rest waits for the next start.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        bool waiting = false;
        for (Amplifier& a : amps_) {
            takeAcks(a);
            send(a);
            if (!a.spool->waiting().empty() && a.link->connected()) waiting = true;
        }
        if (!waiting || Clock::now() > deadline) break;
        pollfd p{wake_[0], POLLIN, 0};
        ::poll(&p, 1, 50);
        char buf[256];
        while (::read(wake_[0], buf, sizeof buf) > 0) {
        }
    }
    for (Amplifier& a : amps_) {
        if (!a.failed) {
            if (a.amplifier) NXgetDroppedValues(a.amplifier->port().port(), &a.ringDropped);
            a.state = "offline";
            a.reason = "the gateway stopped";
        }
        std::optional<int> mid;
        if (a.link->connected()) mid = a.link->publish(a.topic + "/state", stateJson(a), true);
        const auto until = Clock::now() + std::chrono::seconds(2);
        while (mid && Clock::now() < until && a.link->connected()) {
            bool acked = false;
            for (int m : a.link->takeAcknowledged()) acked = acked || m == *mid;
            if (acked) break;
            ::usleep(10000);
        }
        a.link->close();
    }
}

int Gateway::summary(bool interrupted) {
    bool anyFailed = false;
    nlohmann::json list = nlohmann::json::array();
    for (const Amplifier& a : amps_) {
        anyFailed = anyFailed || a.failed;
        list.push_back({{"name", a.entry->name},
                        {"values", a.values},
                        {"batches", a.batches},
                        {"acknowledged", a.acknowledged},
                        {"waiting", a.spool->waiting().size()},
                        {"spool_dropped_batches", a.spool->droppedBatches()},
                        {"spool_dropped_values", a.spool->droppedValues()},
                        {"ring_dropped", a.ringDropped},
                        {"state", a.state},
                        {"reason", a.failed ? nlohmann::json(a.reason) : nlohmann::json(nullptr)}});
        if (!context_.json)
            std::printf("%s: %llu values in %llu batches, %llu acknowledged by the broker, %zu batches left in the "
                        "spool, %llu dropped by the full spool, %llu dropped by the ring%s%s\n",
                        a.entry->name.c_str(), static_cast<unsigned long long>(a.values),
                        static_cast<unsigned long long>(a.batches), static_cast<unsigned long long>(a.acknowledged),
                        a.spool->waiting().size(), static_cast<unsigned long long>(a.spool->droppedBatches()),
                        static_cast<unsigned long long>(a.ringDropped), a.failed ? "; line failed: " : "",
                        a.failed ? a.reason.c_str() : "");
    }
    if (context_.json)
        std::printf("%s\n", nlohmann::json{{"amplifiers", list}, {"interrupted", interrupted}}.dump().c_str());
    std::fflush(stdout);
    if (anyFailed) return kExitFailed;
    return interrupted ? kExitInterrupted : kExitDone;
}

int Gateway::operator()() {
    start();
    SignalWatch& signals = context_.signals();
    signals.setStopPoint("when the values read are in the spool");
    std::fprintf(stderr, "publishing %zu amplifiers to %s:%d under %s/%s\n", amps_.size(),
                 config_.broker.host.c_str(), config_.broker.port, config_.broker.prefix.c_str(),
                 ::isatty(STDERR_FILENO) ? " (Ctrl-C stops)" : "");
    std::vector<std::uint32_t> ports;
    for (Amplifier& a : amps_) ports.push_back(a.amplifier->port().port());
    GatherOptions options;
    options.wakeFd = signals.wakeFd();
    if (run_.seconds)
        options.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(*run_.seconds));
    options.tick = kTick;
    GatherCallbacks callbacks;
    callbacks.onBatch = [this](const Batch& b) { take(amps_[b.amplifier], b); };
    callbacks.onFailure = [this](std::size_t i, const std::string& reason) { lineFailed(amps_[i], reason); };
    callbacks.onTick = [this] { tick(); };
    const GatherEnd end = gather(ports, options, callbacks);
    const bool interrupted = end == GatherEnd::stopped && signals.stopRequested();
    finish();
    return summary(interrupted);
}

}  // namespace

int runGateway(const GatewayConfig& config, const GatewayRun& run, Context& context) {
    Gateway gateway(config, run, context);
    return gateway();
}

}  // namespace nxtka_cli::mqtt
