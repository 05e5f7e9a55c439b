// `nxtka subscribe FILTER`: the values a gateway publishes, as CSV rows, with
// gaps and duplicates found by their sequence numbers (docs/mqtt.md).
#include "cli_core.h"
#include "mqtt/batch_codec.h"
#include "mqtt/broker_link.h"
#include "mqtt/gateway_config.h"
#include "mqtt/sequence_tracker.h"
#include "output_file.h"
#include "subcommand.h"
#include "value_rows.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <map>
#include <mutex>

namespace nxtka_cli {
namespace {

struct SubscribeArgs {
    std::string filter;
    std::string config;
    std::string broker;
    std::string csvPath;
    std::string outDir;
    std::string clientId;
    std::optional<std::int64_t> count;
    std::optional<double> seconds;
    bool keepSession = false;
} args;

void addOptions(CLI::App& cmd) {
    cmd.add_option("filter", args.filter, "topic filter, e.g. nxtka/# or lab/bench7/left/#")->required();
    cmd.add_option("-c,--config", args.config, "take the broker (host, port, TLS files, user) from this file's [broker]");
    cmd.add_option("--broker", args.broker, "HOST or HOST:PORT of the broker (default localhost:1883)");
    cmd.add_option("--csv", args.csvPath,
                   "write the rows amplifier,session,time_utc,seconds,sequence,value,scaled,unit,status to this file "
                   "(-: stdout, the default without --json; seconds since the gateway's activation); the file is put "
                   "in place when the run ends. Gaps go to stderr as they show; duplicates are removed");
    cmd.add_option("--out", args.outDir,
                   "record into this directory one file per amplifier (NAME.csv), with the columns of nxtka record: "
                   "time_utc,seconds,sequence,value,scaled_value,unit,status; each put in place when the run ends");
    cmd.add_option("--client-id", args.clientId, "client id (default nxtka-sub-PID)");
    cmd.add_option("-n,--count", args.count, "stop after this many values");
    cmd.add_option("-s,--seconds", args.seconds, "stop after this many seconds");
    cmd.add_flag("--keep-session", args.keepSession,
                 "ask the broker to keep the subscription and queue the values while this client is away "
                 "(needs --client-id)");
}

constexpr const char* kHeader = "amplifier,session,time_utc,seconds,sequence,value,scaled,unit,status";



struct Amplifier {
    std::unique_ptr<OutputFile> file;  // with --out
    std::string source = "normalized";
    mqtt::SequenceTracker tracker;
    double factor = 1.0, offset = 0.0;
    std::string unit = "normalized";
    std::string state;
    nlohmann::json lastState;
    std::uint64_t badPayloads = 0;
};

struct Message {
    std::string topic, payload;
};

int run(Context& context) {
    if (args.count && *args.count < 1) throw ToolError("--count must be 1 or more", kExitUsage);
    if (args.seconds && !(std::isfinite(*args.seconds) && *args.seconds > 0))
        throw ToolError("--seconds must be a number above 0", kExitUsage);
    mqtt::BrokerConfig broker;
    if (!args.config.empty()) broker = mqtt::readGatewayConfig(args.config, false).broker;
    if (!args.broker.empty()) {
        const auto colon = args.broker.rfind(':');
        broker.host = args.broker.substr(0, colon);
        if (colon != std::string::npos)
            broker.port = static_cast<int>(parseInteger(args.broker.substr(colon + 1), 1, 65535));
        if (broker.host.empty()) throw ToolError("--broker needs a host name", kExitUsage);
    }
    if (!args.outDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(args.outDir, ec);
        if (ec || !std::filesystem::is_directory(args.outDir))
            throw ToolError("cannot make the directory " + args.outDir + ": " + ec.message(), kExitUsage);
    }
    const std::string csvPath =
        args.csvPath.empty() ? (context.json || !args.outDir.empty() ? "" : "-") : args.csvPath;
    std::optional<OutputFile> csv;
    if (!csvPath.empty()) csv.emplace(csvPath, "--csv");

    SignalWatch& signals = context.signals();
    signals.setStopPoint(nullptr);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) throw ToolError("cannot make a pipe");
    std::mutex mutex;
    std::deque<Message> queue;
    const std::string clientId = args.clientId.empty() ? "nxtka-sub-" + std::to_string(::getpid()) : args.clientId;
    if (args.keepSession && args.clientId.empty())
        throw ToolError("--keep-session needs --client-id: the broker finds the session by it", kExitUsage);
    mqtt::BrokerLink link(broker, clientId, std::nullopt, -1, args.keepSession);
    link.subscribe(args.filter);
    link.connect(10, [&](const std::string& topic, std::string_view payload) {
        {
            std::lock_guard lock(mutex);
            queue.push_back({topic, std::string(payload)});
        }
        const char b = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake[1], &b, 1);
    });
    std::fprintf(stderr, "subscribed to %s at %s:%d\n", args.filter.c_str(), broker.host.c_str(), broker.port);

    std::map<std::string, Amplifier> amps;
    std::uint64_t total = 0;
    bool headerDone = false;
    bool interrupted = false;
    const auto startedAt = std::chrono::steady_clock::now();
    const auto handle = [&](const Message& m) {
        const auto slash = m.topic.rfind('/');
        if (slash == std::string::npos || slash == 0) return;
        const std::string kind = m.topic.substr(slash + 1);
        const auto before = m.topic.rfind('/', slash - 1);
        const std::string name = m.topic.substr(before == std::string::npos ? 0 : before + 1,
                                                slash - (before == std::string::npos ? 0 : before + 1));
        if (kind == "info") {
            const nlohmann::json j = nlohmann::json::parse(m.payload, nullptr, false);
            if (j.is_object() && j.contains("scale") && j["scale"].is_object()) {
                Amplifier& a = amps[name];
                a.factor = j["scale"].value("factor", 1.0);
                a.offset = j["scale"].value("offset", 0.0);
                a.unit = j["scale"].value("unit", "normalized");
                a.source = j["scale"].value("source", "normalized");
            }
        } else if (kind == "state") {
            const nlohmann::json j = nlohmann::json::parse(m.payload, nullptr, false);
            if (!j.is_object()) return;
            Amplifier& a = amps[name];
            a.lastState = j;
            const std::string state = j.value("state", "");
            if (state != a.state) {
                std::fprintf(stderr, "%s: %s%s\n", name.c_str(), state.c_str(),
                             j.contains("reason") ? (" (" + j.value("reason", "") + ")").c_str() : "");
                a.state = state;
            }
        } else if (kind == "values") {
            Amplifier& a = amps[name];
            const auto batch = mqtt::decodeAny(m.payload);
            if (!batch) {
                ++a.badPayloads;
                std::fprintf(stderr, "%s: a values payload of %zu bytes that is no batch, skipped\n", name.c_str(),
                             m.payload.size());
                return;
            }
            const mqtt::Admission adm = a.tracker.add(batch->session, batch->first, batch->count());
            if (adm.gap)
                std::fprintf(stderr, "%s: gap: values %llu to %llu missing\n", name.c_str(),
                             static_cast<unsigned long long>(adm.gap->first),
                             static_cast<unsigned long long>(adm.gap->second - 1));
            if (!args.outDir.empty()) {
                if (!a.file) {
                    a.file = std::make_unique<OutputFile>(args.outDir + "/" + name + ".csv", "--out");
                    std::fprintf(a.file->stream(), "# nxtka subscribe: %s from %s; scale %s: %s\n", name.c_str(),
                                 m.topic.c_str(), a.unit.c_str(), a.source.c_str());
                    std::fprintf(a.file->stream(), "%s\n", kValueRowHeader);
                }
                for (std::uint64_t i = adm.skip; i < adm.skip + adm.take; ++i) {
                    const double v = batch->values[i];
                    writeValueRow(a.file->stream(), batch->times[i], static_cast<std::int64_t>(batch->session),
                                  batch->first + i, v, v * a.factor + a.offset, a.unit, batch->statuses[i]);
                }
            }
            if (!csv) {
                total += adm.take;
                return;
            }
            std::FILE* out = csv->stream();
            if (!headerDone) {
                std::fprintf(out, "%s\n", kHeader);
                headerDone = true;
            }
            for (std::uint64_t i = adm.skip; i < adm.skip + adm.take; ++i) {
                if (args.count && total >= static_cast<std::uint64_t>(*args.count)) break;
                const double v = batch->values[i];
                std::fprintf(out, "%s,%llu,%s,%.6f,%llu,%.9g,%.9g,%s,%u\n", name.c_str(),
                             static_cast<unsigned long long>(batch->session), isoTime(batch->times[i]).c_str(),
                             static_cast<double>(batch->times[i] - static_cast<std::int64_t>(batch->session)) / 1e9,
                             static_cast<unsigned long long>(batch->first + i), v, v * a.factor + a.offset,
                             a.unit.c_str(), static_cast<unsigned>(batch->statuses[i]));
                ++total;
            }
            if (csv->toStdout()) std::fflush(out);
        }
    };
    for (;;) {
        if (signals.stopRequested()) {
            interrupted = true;
            break;
        }
        if (args.count && total >= static_cast<std::uint64_t>(*args.count)) break;
        if (args.seconds &&
            std::chrono::steady_clock::now() - startedAt >= std::chrono::duration<double>(*args.seconds))
            break;
        pollfd fds[2] = {{signals.wakeFd(), POLLIN, 0}, {wake[0], POLLIN, 0}};
        ::poll(fds, 2, 100);
        char buf[256];
        while (::read(wake[0], buf, sizeof buf) > 0) {
        }
        std::deque<Message> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(queue);
        }
        for (const Message& m : batch) handle(m);
    }
    link.close();
    ::close(wake[0]);
    ::close(wake[1]);
    if (csv) {
        if (!headerDone) std::fprintf(csv->stream(), "%s\n", kHeader);
        csv->commit();
    }
    for (auto& [name, a] : amps)
        if (a.file) a.file->commit();

    nlohmann::json list = nlohmann::json::object();
    for (const auto& [name, a] : amps) {
        list[name] = {{"values", a.tracker.values()},       {"duplicates", a.tracker.duplicates()},
                      {"gaps", a.tracker.gaps()},           {"missing", a.tracker.missing()},
                      {"sessions", a.tracker.sessions()},   {"bad_payloads", a.badPayloads},
                      {"state", a.lastState.is_null() ? nlohmann::json(nullptr) : a.lastState}};
        if (!context.json)
            std::fprintf(stderr, "%s: %llu values, %llu duplicates removed, %llu missing in %llu gaps, %llu sessions\n",
                         name.c_str(), static_cast<unsigned long long>(a.tracker.values()),
                         static_cast<unsigned long long>(a.tracker.duplicates()),
                         static_cast<unsigned long long>(a.tracker.missing()),
                         static_cast<unsigned long long>(a.tracker.gaps()),
                         static_cast<unsigned long long>(a.tracker.sessions()));
    }
    if (context.json) {
        std::printf("%s\n", nlohmann::json{{"amplifiers", list}, {"values", total}, {"interrupted", interrupted}}
                                .dump()
                                .c_str());
        std::fflush(stdout);
    }
    if (interrupted) return kExitInterrupted;
    return total == 0 ? kExitNothingMeasured : kExitDone;
}

}  // namespace

extern const Subcommand kSubscribeCommand{
    "subscribe",
    "print or record the values a gateway publishes, gaps and duplicates found",
    false,
    true,
    "Examples:\n"
    "  nxtka subscribe nxtka/#                          CSV rows of every amplifier under the prefix nxtka\n"
    "  nxtka subscribe 'lab/+/#' --broker box:1883 --csv run.csv -s 60\n"
    "  nxtka subscribe 'lab/#' -c bench.toml --json -n 1000   TLS and login from the [broker] of bench.toml\n"
    "  nxtka subscribe 'lab/#' --out run1 -s 600      one CSV per amplifier, as nxtka record writes them\n",
    addOptions,
    run,
};

}  // namespace nxtka_cli
