#include "stream_view.h"

#include "units.h"

#include "active_port.h"
#include "csv_sink.h"
#include "nxtka.h"
#include "signals.h"

#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstring>
#include <string>

namespace nxtka_cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLineBarWidth = 31;
constexpr double kRedrawS = 0.1;
constexpr double kStallS = 2.0;
constexpr std::int32_t kBatch = 256;

int terminalColumns() {
    winsize ws{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

// The column labels of the line view, the scale over the bar.
void printLineHeader(int barWidth) {
    std::string scale(static_cast<std::size_t>(barWidth) + 2, ' ');
    if (barWidth >= 15) {
        scale.replace(0, 5, "-1.05");
        scale.replace(static_cast<std::size_t>(1 + barWidth / 2), 1, "0");
        scale.replace(scale.size() - 5, 5, "+1.05");
    }
    std::printf("%10s  %10s  %-6s %s\n", "time", "value", "status", scale.c_str());
}

// The bar of the line view, narrower on a narrow terminal.
int lineBarWidth() {
    if (::isatty(STDOUT_FILENO) == 0) return kLineBarWidth;
    return std::clamp(terminalColumns() - 34, 5, kLineBarWidth);
}

void printLine(double t, double value, std::uint8_t status, int barWidth, bool utf8, const Scale* scale) {
    if (scale != nullptr)
        std::printf("%8.3f s  %+10.6f  0x%02X   %s  %.6g %s\n", t, value, static_cast<unsigned>(status),
                    renderBar(value, barWidth, utf8).c_str(), scale->apply(value), scale->unit.c_str());
    else
        std::printf("%8.3f s  %+10.6f  0x%02X   %s\n", t, value, static_cast<unsigned>(status),
                    renderBar(value, barWidth, utf8).c_str());
}

// Cuts a line to the terminal's width, so that it never wraps and the panel
// can be redrawn in place.
std::string fitted(std::string line, int columns) {
    std::size_t cells = 0, i = 0;
    for (; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;
        if (static_cast<int>(cells) == columns - 1) break;
        ++cells;
    }
    line.resize(i);
    return line;
}

// The live panel: three lines redrawn in place.
//   value  +0.412345   status 0x00   [·······████│·······]
//   rate  50.0 values/s   count 123   min -0.800000   max +0.800000
//   ▁▂▃▄▅▆▇██▇▆▅▄▃▂▁ (the most recent values)
class LivePanel {
public:
    explicit LivePanel(bool utf8) : utf8_(utf8) {}

    void draw(const StreamStats& stats, double now, double lastValue, std::uint8_t lastStatus, double sinceLast) {
        const int columns = terminalColumns();
        char buf[200];
        std::string l1, l2, l3;
        if (stats.count() == 0) {
            std::snprintf(buf, sizeof buf, "  waiting for values ... %.0f s", now);
            l1 = buf;
        } else {
            std::snprintf(buf, sizeof buf, "  value %+.6f   status 0x%02X   ", lastValue,
                          static_cast<unsigned>(lastStatus));
            l1 = buf + renderBar(lastValue, kLineBarWidth, utf8_);
            std::snprintf(buf, sizeof buf, "  rate %6.1f values/s   count %llu   min %+.6f   max %+.6f",
                          stats.recentRate(now), static_cast<unsigned long long>(stats.count()), stats.min(),
                          stats.max());
            l2 = buf;
            if (sinceLast >= kStallS) {
                std::snprintf(buf, sizeof buf, "   (no values for %.0f s)", sinceLast);
                l2 += buf;
            }
            l3 = "  " + renderSparkline(stats.recent(static_cast<std::size_t>(std::max(columns - 4, 1))), utf8_);
        }
        if (drawn_) std::printf("\033[2A");
        std::printf("\r%s\033[K\n%s\033[K\n%s\033[K", fitted(l1, columns).c_str(), fitted(l2, columns).c_str(),
                    fitted(l3, columns).c_str());
        std::fflush(stdout);
        drawn_ = true;
    }

private:
    bool utf8_;
    bool drawn_ = false;
};

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

ViewMode viewModeNamed(const std::string& view) {
    if (view == "lines" || ::isatty(STDOUT_FILENO) == 0) return ViewMode::lines;
    return ViewMode::live;
}

bool terminalIsUtf8() {
    if (::isatty(STDOUT_FILENO) == 0) return false;
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    const bool utf8 = codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    std::setlocale(LC_CTYPE, "C");
    return utf8;
}

StreamResult runStream(const ActivePort& port, const StreamOptions& options, SignalWatch& signals) {
    StreamResult result;
    const bool live = options.mode == ViewMode::live;
    const NXTKA_EVENT event = NXrequestEvent(port.port());
    double values[kBatch];
    unsigned char statuses[kBatch];
    double lastValue = 0.0, lastRedraw = -1.0, lastArrival = 0.0;
    std::uint8_t lastStatus = 0;
    bool stallReported = false;
    LivePanel panel(options.utf8);

    const bool lines = options.mode == ViewMode::lines;
    const int barWidth = lineBarWidth() | 1;
    if (lines) printLineHeader(barWidth);
    std::fflush(stdout);

    const Clock::time_point start = Clock::now();
    for (;;) {
        double now = secondsSince(start);
        if (signals.stopRequested()) {
            result.interrupted = true;
            break;
        }
        if (options.count && result.stats.count() >= *options.count) break;
        if (options.seconds && now >= *options.seconds) break;

        double waitS = kRedrawS;
        if (options.seconds) waitS = std::min(waitS, *options.seconds - now);
        pollfd fds[2] = {{signals.wakeFd(), POLLIN, 0}, {event, POLLIN, 0}};
        const nfds_t nfds = event > 0 ? 2 : 1;
        if (event <= 0) waitS = std::min(waitS, 0.02);
        const int ready = ::poll(fds, nfds, std::max(0, static_cast<int>(waitS * 1000.0 + 0.5)));
        if (ready < 0 && errno != EINTR)
            throw ToolError(std::string("waiting for values failed: ") + std::strerror(errno));

        // Take everything that is waiting, but never more than the count asks.
        for (;;) {
            std::int32_t want = kBatch;
            if (options.count)
                want =
                    static_cast<std::int32_t>(std::min<std::uint64_t>(kBatch, *options.count - result.stats.count()));
            if (want <= 0) break;
            std::int32_t delivered = 0;
            const std::int32_t r = TKAreadStatusMultiple(port.port(), values, statuses, want, &delivered);
            if (r < 0)
                throw ToolError("reading values from " + port.device() +
                                " failed (the port is no longer active; check the connection)");
            if (r == 0 || delivered <= 0) break;
            now = secondsSince(start);
            lastArrival = now;
            stallReported = false;
            for (std::int32_t i = 0; i < delivered; ++i) {
                if (options.csv != nullptr) options.csv->row(result.stats.count(), now, values[i], statuses[i]);
                result.stats.add(now, values[i], statuses[i]);
                if (lines) printLine(now, values[i], statuses[i], barWidth, options.utf8, options.scale);
            }
            if (options.csv != nullptr && !options.csv->flush()) {
                result.readerGone = true;
                break;
            }
            lastValue = values[delivered - 1];
            lastStatus = statuses[delivered - 1];
            if (delivered < want) break;
        }

        now = secondsSince(start);
        const double sinceLast = now - (result.stats.count() ? lastArrival : 0.0);
        if (live) {
            if (now - lastRedraw >= kRedrawS) {
                panel.draw(result.stats, now, lastValue, lastStatus, sinceLast);
                lastRedraw = now;
            }
        } else if (lines) {
            if (sinceLast >= kStallS && !stallReported) {
                std::printf("%8.3f s  (no values for %.0f s: is the amplifier transmitting?)\n", now, sinceLast);
                stallReported = true;
            }
            std::fflush(stdout);
        }
        if (result.readerGone || std::ferror(stdout)) {  // e.g. the reader of a pipe went away
            result.readerGone = true;
            break;
        }
    }
    result.elapsedS = secondsSince(start);
    if (live) {
        panel.draw(result.stats, result.elapsedS, lastValue, lastStatus, result.elapsedS - lastArrival);
        std::printf("\n");
    }
    return result;
}

void printSummary(const StreamResult& result, bool utf8, std::FILE* to) {
    const StreamStats& s = result.stats;
    std::fprintf(to, "\n");
    if (result.interrupted) std::fprintf(to, "interrupted\n");
    if (s.count() == 0) {
        std::fprintf(to, "no values in %.1f s (is the amplifier transmitting? try: set transmit on)\n",
                     result.elapsedS);
        return;
    }
    std::fprintf(to, "%llu values in %.2f s, %.1f values/s\n", static_cast<unsigned long long>(s.count()),
                 result.elapsedS, s.overallRate());
    std::fprintf(to, "  min %+.6f  max %+.6f  mean %+.6f\n", s.min(), s.max(), s.mean());
    std::string statuses;
    for (const auto& [status, n] : s.statuses()) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%s0x%02X %s %llu", statuses.empty() ? "" : ", ", static_cast<unsigned>(status),
                      utf8 ? "\u00D7" : "x", static_cast<unsigned long long>(n));
        statuses += buf;
    }
    std::fprintf(to, "  status %s\n", statuses.c_str());
    const int room = ::isatty(::fileno(to)) ? std::min(60, terminalColumns() - 9) : 60;
    std::fprintf(to, "  last %s\n",
                 renderSparkline(s.recent(static_cast<std::size_t>(std::max(room, 1))), utf8).c_str());
}

}  // namespace nxtka_cli
