// `nxtka record LIST.toml`: the values of several amplifiers, read by one
// thread, into one directory per run: a CSV file per amplifier (time, number,
// value, scaled value, status) and run.json (who each amplifier is, its
// settings, its scale, and how many values were read, dropped and missed).
#include "amplifier_list.h"
#include "amplifier_session.h"
#include "cli_core.h"
#include "nxtka.h"
#include "output_file.h"
#include "settings.h"
#include "settings_snapshot.h"
#include "subcommand.h"
#include "units.h"
#include "value_gatherer.h"
#include "value_rows.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace nxtka_cli {
namespace {

struct RecordArgs {
    std::string config;
} args;

void addOptions(CLI::App& cmd) {
    cmd.add_option("list", args.config, "the amplifier list (TOML): [run] with seconds, out, ring; [[amplifier]] entries with name, device, port, "
                   "baud, unit, unit_name, scale and [amplifier.settings] (see the README)")->required();
}

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}


// "20261209T234039Z"
std::string runName(std::int64_t ns) {
    const std::time_t t = static_cast<std::time_t>(ns / 1'000'000'000);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
    return buf;
}


void makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        throw ToolError("cannot make the directory " + path + ": " + std::strerror(errno), kExitUsage);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ToolError(path + " is not a directory", kExitUsage);
}

// out/YYYYmmddTHHMMSSZ, made new (with -2, -3 ... when one of that second is
// there).
std::string makeRunDirectory(const std::string& out, std::int64_t startNs) {
    for (std::size_t at = 0; (at = out.find('/', at + 1)) != std::string::npos;) makeDirectory(out.substr(0, at));
    makeDirectory(out);
    const std::string base = out + "/" + runName(startNs);
    for (int n = 1; n < 100; ++n) {
        const std::string dir = n == 1 ? base : base + "-" + std::to_string(n);
        if (::mkdir(dir.c_str(), 0777) == 0) return dir;
        if (errno != EEXIST)
            throw ToolError("cannot make the run directory " + dir + ": " + std::strerror(errno), kExitUsage);
    }
    throw ToolError("too many runs in " + base + "*", kExitUsage);
}

struct Amplifier {
    AmplifierEntry entry;
    std::unique_ptr<AmplifierSession> session;
    std::unique_ptr<OutputFile> csv;
    std::string file;  // the CSV's name in the run directory
    Scale scale;
    nlohmann::ordered_json snapshot;
    std::uint64_t values = 0, dropped = 0, missing = 0, failedReads = 0;
    std::optional<std::uint64_t> firstSequence, lastSequence;
    double lastValue = 0.0;
    std::uint64_t valuesAtTick = 0;
    double rate = 0.0;
    std::string failure;  // empty while it works
};

std::string progressLine(const Amplifier& a, std::size_t nameWidth) {
    char buf[512];
    if (!a.failure.empty()) {
        std::snprintf(buf, sizeof buf, "%-*s  FAILED after %llu values: %s", static_cast<int>(nameWidth),
                      a.entry.name.c_str(), static_cast<unsigned long long>(a.values), a.failure.c_str());
    } else {
        std::snprintf(buf, sizeof buf, "%-*s  %8.1f values/s  %10llu values  %6llu dropped  last %.6g %s",
                      static_cast<int>(nameWidth), a.entry.name.c_str(), a.rate,
                      static_cast<unsigned long long>(a.values), static_cast<unsigned long long>(a.dropped),
                      a.scale.apply(a.lastValue), a.scale.unit.c_str());
    }
    return buf;
}

nlohmann::ordered_json amplifierJson(const Amplifier& a) {
    nlohmann::ordered_json j;
    j["name"] = a.entry.name;
    j["device"] = a.entry.device;
    j["port"] = a.entry.port;
    if (a.session)
        j["baud"] = a.session->port().baud();
    else
        j["baud"] = a.entry.baud ? nlohmann::ordered_json(*a.entry.baud) : nlohmann::ordered_json();
    j["file"] = a.file.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(a.file);
    j["identity"] = a.snapshot.contains("identity") ? a.snapshot["identity"] : nlohmann::ordered_json();
    j["settings"] = a.snapshot.contains("settings") ? a.snapshot["settings"] : nlohmann::ordered_json();
    if (a.snapshot.contains("unreadable")) j["unreadable"] = a.snapshot["unreadable"];
    j["scale"] = {{"unit", a.scale.unit}, {"factor", a.scale.factor}, {"offset", a.scale.offset},
                  {"source", a.scale.source}};
    j["values"] = a.values;
    j["dropped"] = a.dropped;
    j["missing"] = a.missing;
    j["failed_reads"] = a.failedReads;
    j["first_sequence"] = a.firstSequence ? nlohmann::ordered_json(*a.firstSequence) : nlohmann::ordered_json();
    j["last_sequence"] = a.lastSequence ? nlohmann::ordered_json(*a.lastSequence) : nlohmann::ordered_json();
    j["failure"] = a.failure.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(a.failure);
    return j;
}

// Opens one amplifier, reads its settings and scale, starts its file.
void open(Amplifier& a, const std::string& dir, Context& context, std::optional<std::int32_t> ring) {
    a.session = std::make_unique<AmplifierSession>(a.entry, context.signals(), ring);
    const std::uint32_t port = a.session->port().port();
    a.scale = resolveScale(port, a.entry.scale);
    a.snapshot = takeSnapshot(port);
    a.file = a.entry.name + ".csv";
    a.csv = std::make_unique<OutputFile>(dir + "/" + a.file, "record");
    std::FILE* f = a.csv->stream();
    std::fprintf(f, "# nxtka record: %s on %s, port %u; scale %s: %s\n", a.entry.name.c_str(),
                 a.session->port().device().c_str(), port, a.scale.unit.c_str(), a.scale.source.c_str());
    std::fprintf(f, "%s\n", kValueRowHeader);
}

int run(Context& context) {
    const toml::table file = readAmplifierFile(args.config);
    std::vector<Amplifier> amps;
    for (AmplifierEntry& e : amplifiersFrom(file)) {
        amps.emplace_back();
        amps.back().entry = std::move(e);
    }
    const RunSection section = runSectionFrom(file);
    SignalWatch& signals = context.signals();
    const std::int64_t startNs = nowNs();
    const std::string dir = makeRunDirectory(section.out, startNs);
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::FILE* text = context.json ? stderr : stdout;
    std::fprintf(text, "recording %zu amplifier%s into %s%s\n", amps.size(), amps.size() == 1 ? "" : "s", dir.c_str(),
                 terminal ? " (Ctrl-C ends the run)" : "");
    std::fflush(text);

    const auto report = [&](const Amplifier& a) {
        std::fprintf(stderr, "nxtka: %s failed: %s\n", a.entry.name.c_str(), a.failure.c_str());
    };
    std::vector<std::uint32_t> ports;
    std::vector<std::size_t> owners;  // amps index of each port gathered
    for (std::size_t i = 0; i < amps.size() && !signals.stopRequested(); ++i) {
        try {
            open(amps[i], dir, context, section.ring);
            ports.push_back(amps[i].session->port().port());
            owners.push_back(i);
        } catch (const ToolError& e) {
            amps[i].failure = e.what();
            amps[i].session.reset();  // released at once
            amps[i].csv.reset();
            amps[i].file.clear();
            report(amps[i]);
        }
    }

    std::size_t nameWidth = 0;
    for (const Amplifier& a : amps) nameWidth = std::max(nameWidth, a.entry.name.size());
    bool drawn = false;
    const auto draw = [&] {
        if (!terminal) return;
        if (drawn) std::fprintf(stderr, "\033[%zuA", amps.size());
        for (const Amplifier& a : amps) std::fprintf(stderr, "\r\033[K%s\n", progressLine(a, nameWidth).c_str());
        drawn = true;
        std::fflush(stderr);
    };
    const auto gatherStart = std::chrono::steady_clock::now();
    auto lastTick = gatherStart;
    std::string writeFailure;

    GatherCallbacks callbacks;
    callbacks.onBatch = [&](const Batch& batch) {
        Amplifier& a = amps[owners[batch.amplifier]];
        if (!a.failure.empty()) return;
        std::FILE* f = a.csv->stream();
        for (std::size_t k = 0; k < batch.values.size(); ++k) {
            const std::uint64_t seq = batch.sequences[k];
            if (!a.firstSequence) a.firstSequence = seq;
            if (a.lastSequence && seq > *a.lastSequence + 1) a.missing += seq - *a.lastSequence - 1;
            a.lastSequence = seq;
            const double v = batch.values[k];
            writeValueRow(f, batch.times[k], startNs, seq, v, a.scale.apply(v), a.scale.unit, batch.statuses[k]);
        }
        if (std::ferror(f) && writeFailure.empty()) writeFailure = "cannot write " + a.csv->path();
        a.values += batch.values.size();
        a.lastValue = batch.values.back();
    };
    callbacks.onFailure = [&](std::size_t index, const std::string& reason) {
        Amplifier& a = amps[owners[index]];
        ++a.failedReads;
        a.failure = "reading values failed: " + reason;
        if (!terminal) report(a);
        draw();
    };
    callbacks.onTick = [&] {
        const auto now = std::chrono::steady_clock::now();
        const double dt = std::chrono::duration<double>(now - lastTick).count();
        lastTick = now;
        for (std::size_t k = 0; k < ports.size(); ++k) {
            Amplifier& a = amps[owners[k]];
            a.rate = dt > 0 ? static_cast<double>(a.values - a.valuesAtTick) / dt : 0.0;
            a.valuesAtTick = a.values;
            std::uint64_t dropped = 0;
            if (a.failure.empty() && NXgetDroppedValues(ports[k], &dropped) == 0) a.dropped = dropped;
        }
        draw();
    };
    GatherOptions options;
    options.wakeFd = signals.wakeFd();
    options.tick = std::chrono::milliseconds(500);
    if (section.seconds)
        options.deadline = gatherStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(*section.seconds));
    signals.setStopPoint(nullptr);
    GatherEnd end = GatherEnd::allFailed;
    if (!ports.empty() && !signals.stopRequested()) end = gather(ports, options, callbacks);
    const bool interrupted = signals.stopRequested();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - gatherStart).count();

    for (std::size_t k = 0; k < ports.size(); ++k) {
        Amplifier& a = amps[owners[k]];
        std::uint64_t dropped = 0;
        if (NXgetDroppedValues(ports[k], &dropped) == 0) a.dropped = dropped;
    }
    draw();
    for (Amplifier& a : amps) {
        if (a.session) a.session->release();
        if (a.csv) a.csv->commit();
    }

    nlohmann::ordered_json runJson;
    runJson["format"] = "nxtka-run 1";
    runJson["list"] = args.config;
    runJson["directory"] = dir;
    runJson["started"] = isoTime(startNs);
    runJson["seconds"] = seconds;
    runJson["ended_by"] = interrupted ? "interrupt" : end == GatherEnd::deadline ? "time" : "failures";
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::size_t failed = 0;
    std::uint64_t total = 0;
    std::string failedNames;
    for (const Amplifier& a : amps) {
        list.push_back(amplifierJson(a));
        total += a.values;
        if (!a.failure.empty()) {
            failedNames += (failed++ ? ", " : "") + a.entry.name;
        }
    }
    runJson["amplifiers"] = std::move(list);
    OutputFile runFile(dir + "/run.json", "record");
    std::fprintf(runFile.stream(), "%s\n", runJson.dump(2).c_str());
    runFile.commit();

    if (context.json) {
        std::printf("%s\n", runJson.dump().c_str());
    } else {
        for (const Amplifier& a : amps)
            std::printf("%-*s  %s\n", static_cast<int>(nameWidth), a.entry.name.c_str(),
                        a.failure.empty()
                            ? (std::to_string(a.values) + " values, " + std::to_string(a.dropped) + " dropped, " +
                               std::to_string(a.missing) + " missing: " + dir + "/" + a.file)
                                  .c_str()
                            : ("failed after " + std::to_string(a.values) + " values: " + a.failure).c_str());
    }
    std::fflush(stdout);
    if (!writeFailure.empty()) throw ToolError(writeFailure + "; the run is in " + dir);
    if (failed > 0)
        throw ToolError(std::to_string(failed) + " of " + std::to_string(amps.size()) + " amplifiers failed (" +
                        failedNames + "); the run is in " + dir);
    if (interrupted && section.seconds)
        throw ToolError("interrupted after " + formatReal(std::round(seconds * 10) / 10) + " s; the run, complete up "
                        "to there, is in " + dir,
                        kExitInterrupted);
    return total == 0 ? kExitNothingMeasured : kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka record bench.toml                 until Ctrl-C (or [run] seconds), into runs/YYYYmmddTHHMMSSZ\n"
    "  nxtka record bench.toml --json          the run's summary (run.json) on stdout\n"
    "  nxtka record bench.toml > summary.txt   the end of each amplifier's file, or why it failed\n";

}  // namespace

extern const Subcommand kRecordCommand{
    "record", "record several amplifiers at once into CSV files and run.json", false, true, kExamples, addOptions,
    run};

}  // namespace nxtka_cli
