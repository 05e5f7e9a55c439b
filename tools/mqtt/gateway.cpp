#include "gateway.h"

#include "broker_link.h"
#include "cli_core.h"
#include "library_failure.h"
#include "nxtka.h"
#include "settings.h"
#include "subcommand.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

namespace nxtka_cli::mqtt {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kWindow = 200;  // batches published and not yet acknowledged, per amplifier
constexpr std::int32_t kReadChunk = 4096;

std::uint64_t nowNs() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

struct Amplifier {
    const GatewayAmplifier* entry = nullptr;
    std::string topic;  // PREFIX/NAME
    std::unique_ptr<Spool> spool;
    std::unique_ptr<BrokerLink> link;
    std::unique_ptr<ActivePort> port;
    NXTKA_EVENT event = -1;
    std::uint64_t session = 0;
    std::string info;  // the retained info document
    std::string state = "online", reason;

    ValueBatch pending;
    Clock::time_point pendingSince;
    std::map<int, std::uint64_t> inflight;  // message id -> spool id
    std::uint64_t nextToSend = 0;
    std::uint64_t generation = 0;
    std::uint64_t reportedDrops = 0;
    Clock::time_point lastDropLog{};

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

std::string infoJson(const Amplifier& a, const GatewayConfig& config) {
    const std::uint32_t port = a.port->port();
    const auto text = [port](const char* name) -> nlohmann::json {
        const Setting* s = findSetting(name);
        if (!s) return nullptr;
        const Reading r = readSetting(*s, port);
        if (r.outcome != Outcome::ok) return nullptr;
        return r.text;
    };
    nlohmann::json settings = nlohmann::json::object();
    for (const Setting& s : settingsTable()) {
        if (!s.get) continue;
        const Reading r = readSetting(s, port);
        if (r.outcome == Outcome::ok) settings[s.name] = r.text;
    }
    nlohmann::json j{{"format", "nxtka-info 1"},
                     {"amplifier", a.entry->name},
                     {"device", a.port->device()},
                     {"port", port},
                     {"baud", a.port->baud()},
                     {"identity", {{"model", TKAmodel(port)}, {"serial", text("serial")}, {"firmware", text("firmware")},
                                   {"level", TKAmodel(port)}}},
                     {"settings", {{"format", "nxtka-settings 1"}, {"settings", settings}}},
                     {"scale", {{"factor", 1.0}, {"offset", 0.0}, {"unit", "normalized"}, {"source", "normalized"}}},
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
    void readValues(Amplifier& a);
    void seal(Amplifier& a);
    void send(Amplifier& a);
    void takeAcks(Amplifier& a);
    void publishState(Amplifier& a);
    void lineFailed(Amplifier& a, const std::string& reason);
    void finish();
    int summary(bool interrupted);
    void log(const std::string& line) { std::fprintf(stderr, "publish: %s\n", line.c_str()); }

    const GatewayConfig& config_;
    const GatewayRun& run_;
    Context& context_;
    int wake_[2] = {-1, -1};
    std::vector<Amplifier> amps_;
};

void Gateway::start() {
    SignalWatch& signals = context_.signals();  // before any thread
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw ToolError("cannot make a pipe");
    amps_.resize(config_.amplifiers.size());
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
        a.link->connect(10);
        context_.stopHere("connected to the broker, no amplifier activated yet");
    }
    for (Amplifier& a : amps_) {
        Target target;
        target.device = a.entry->device;
        target.port = a.entry->port;
        if (a.entry->baud) target.baud = *a.entry->baud;
        try {
            checkTarget(target);
            a.port = std::make_unique<ActivePort>(target, signals);
        } catch (const ToolError& e) {
            throw ToolError(a.entry->name + ": " + e.what(), e.status());
        }
        a.session = nowNs();
        for (const auto& [name, value] : a.entry->settings) {
            const Setting& s = settingNamed(name);
            if (!s.set) throw ToolError(a.entry->name + ": setting '" + name + "' can only be read", kExitUsage);
            if (s.set(a.port->port(), value, true) != Outcome::ok)
                throw ToolError(a.entry->name + ": setting " + name + " to " + value + " failed: " +
                                lastLibraryFailure().text);
        }
        a.info = infoJson(a, config_);
        a.event = NXrequestEvent(a.port->port());
        context_.stopHere("activated the amplifiers, nothing published");
    }
}

void Gateway::readValues(Amplifier& a) {
    std::vector<double> values(kReadChunk);
    std::vector<unsigned char> statuses(kReadChunk);
    std::vector<std::int64_t> times(kReadChunk);
    std::vector<std::uint64_t> sequences(kReadChunk);
    for (;;) {
        std::int32_t delivered = 0;
        const std::int32_t r = NXreadTimed(a.port->port(), values.data(), statuses.data(), times.data(),
                                           sequences.data(), kReadChunk, &delivered);
        if (r < 0 && delivered <= 0) {
            const LibraryFailure f = lastLibraryFailure();
            lineFailed(a, f.text.empty() ? "the line failed" : f.text);
            return;
        }
        if (delivered <= 0) return;
        for (std::int32_t i = 0; i < delivered; ++i) {
            if (!a.pending.values.empty() && sequences[i] != a.pending.end()) seal(a);  // a gap ends the batch
            if (a.pending.values.empty()) {
                a.pending.session = a.session;
                a.pending.first = sequences[i];
                a.pendingSince = Clock::now();
            }
            a.pending.times.push_back(times[i]);
            a.pending.values.push_back(values[i]);
            a.pending.statuses.push_back(statuses[i]);
            ++a.values;
            if (a.pending.values.size() >= config_.publish.maxValues) seal(a);
        }
        if (delivered < kReadChunk) return;
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
    NXgetDroppedValues(a.port->port(), &a.ringDropped);
    a.port->release();
    a.event = -1;
    log(a.entry->name + ": line failed: " + reason + "; going on with the others");
    publishState(a);
}

void Gateway::finish() {
    for (Amplifier& a : amps_) {
        if (a.failed) continue;
        readValues(a);
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
            if (a.port) NXgetDroppedValues(a.port->port(), &a.ringDropped);
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
    const auto startedAt = Clock::now();
    const auto interval = std::chrono::milliseconds(config_.publish.intervalMs);
    std::vector<pollfd> fds;
    std::vector<bool> lost(amps_.size(), false);
    bool interrupted = false;
    for (;;) {
        if (signals.stopRequested()) {
            interrupted = true;
            break;
        }
        if (run_.seconds && Clock::now() - startedAt >= std::chrono::duration<double>(*run_.seconds)) break;
        bool anyActive = false;
        for (const Amplifier& a : amps_) anyActive = anyActive || !a.failed;
        if (!anyActive) break;

        fds.clear();
        fds.push_back({signals.wakeFd(), POLLIN, 0});
        fds.push_back({wake_[0], POLLIN, 0});
        int timeout = 200;
        for (const Amplifier& a : amps_) {
            if (a.failed) continue;
            fds.push_back({a.event, POLLIN, 0});
            if (!a.pending.values.empty()) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    a.pendingSince + interval - Clock::now());
                timeout = std::min(timeout, std::max(0, static_cast<int>(left.count())));
            }
        }
        ::poll(fds.data(), fds.size(), timeout);
        char buf[256];
        while (::read(wake_[0], buf, sizeof buf) > 0) {
        }
        std::size_t at = 2;
        for (std::size_t i = 0; i < amps_.size(); ++i) {
            Amplifier& a = amps_[i];
            if (a.failed) continue;
            if (fds[at++].revents & POLLIN) readValues(a);
            if (a.failed) continue;
            if (!a.pending.values.empty() && Clock::now() - a.pendingSince >= interval) seal(a);
        }
        for (std::size_t i = 0; i < amps_.size(); ++i) {
            Amplifier& a = amps_[i];
            takeAcks(a);
            send(a);
            const bool down = !a.link->connected();
            if (down != lost[i]) {
                lost[i] = down;
                if (down) log(a.entry->name + ": " + a.link->lastProblem() + "; values go to the spool until it is back");
            }
        }
    }
    finish();
    return summary(interrupted);
}

}  // namespace

int runGateway(const GatewayConfig& config, const GatewayRun& run, Context& context) {
    Gateway gateway(config, run, context);
    return gateway();
}

}  // namespace nxtka_cli::mqtt
