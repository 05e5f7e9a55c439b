// Bad arguments to every exported function: a port number out of range, an
// inactive port, null pointers, negative and huge counts; and good arguments
// on a line that has hung up, or to an amplifier that never confirms that
// the value stream is drained. Each gives the export's failure result, leaves
// every buffer it was given as it was, never runs the callback, puts nothing
// on any other line and leaves its own reason for NXgetLastFailure.
//
// The table of exports is generated from the export list and the header's
// prototypes; what to pass for each parameter follows from its type and its
// name, so a new export takes part without a new test. The few documented
// exceptions (outputs that may be null, outputs that a failure writes) are
// listed below by export and parameter name.
#include "support/sim_port.h"
#include "support/wire_rows.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace nxtka {
namespace {

using test::LineKind;
using test::SimPort;

enum class Kind { Port, PortList, Count, Reserved, Capacity, Int, Unsigned, Double, Buffer, Callback };

constexpr std::size_t kBufferBytes = 4096;
constexpr std::size_t kMaxParams = 8;
constexpr unsigned char kCanary = 0x5A;

// Parameters of this name are counts of the buffers beside them.
bool isCountName(const std::string& n) { return n == "count" || n == "maxCount" || n == "portCount" || n == "size"; }

template <class T>
Kind kindOf(const std::string& name) {
    if constexpr (std::is_pointer_v<T>) {
        if constexpr (std::is_function_v<std::remove_pointer_t<T>>) {
            return Kind::Callback;
        } else {
            return name == "ports" ? Kind::PortList : Kind::Buffer;
        }
    } else if constexpr (std::is_floating_point_v<T>) {
        return Kind::Double;
    } else {
        if (name == "port") return Kind::Port;
        if (isCountName(name)) return Kind::Count;
        if (name == "reserved") return Kind::Reserved;
        if (name == "bufferCapacity") return Kind::Capacity;
        return std::is_signed_v<T> ? Kind::Int : Kind::Unsigned;
    }
}

int callbackCalls = 0;
int32_t NXTKA_CALL countingCallback(uint32_t, int32_t) {
    ++callbackCalls;
    return 0;
}

struct alignas(16) Buffer {
    std::array<unsigned char, kBufferBytes> bytes;
};

// One call's arguments: the port, the count, which pointers are null, and a
// buffer of its own for every pointer parameter.
struct CallPlan {
    std::uint32_t port = 0;
    std::int32_t count = 1;
    std::set<std::size_t> nulls;
    std::array<Buffer, kMaxParams> buffers{};
};

template <class T>
T argument(std::size_t i, Kind kind, CallPlan& plan) {
    if constexpr (std::is_pointer_v<T>) {
        if (plan.nulls.count(i) != 0) return nullptr;
        if constexpr (std::is_function_v<std::remove_pointer_t<T>>) {
            return &countingCallback;
        } else {
            return reinterpret_cast<T>(plan.buffers[i].bytes.data());
        }
    } else if constexpr (std::is_floating_point_v<T>) {
        return T{1.0};
    } else {
        switch (kind) {
        case Kind::Port: return static_cast<T>(plan.port);
        case Kind::Count: return static_cast<T>(plan.count);
        case Kind::Reserved: return T{0};
        case Kind::Capacity: return T{16};
        case Kind::Int: return T{1};
        default: return T{0};
        }
    }
}

struct ExportRow {
    std::string name;
    std::vector<std::string> params;
    std::vector<Kind> kinds;
    bool returnsVoid = false;
    bool returnsDouble = false;
    std::function<double(CallPlan&)> call;  // the result as a double (0 for void)

    bool has(Kind k) const {
        for (Kind x : kinds) {
            if (x == k) return true;
        }
        return false;
    }
};

template <class R, class... A, std::size_t... I>
double invoke(R (*f)(A...), const std::vector<Kind>& kinds, CallPlan& plan, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
        f(argument<A>(I, kinds[I], plan)...);
        return 0.0;
    } else {
        return static_cast<double>(f(argument<A>(I, kinds[I], plan)...));
    }
}

template <class R, class... A>
ExportRow exportRow(const char* name, R(NXTKA_CALL* f)(A...), std::vector<std::string> params) {
    static_assert(sizeof...(A) <= kMaxParams);
    ExportRow row;
    row.name = name;
    row.params = std::move(params);
    EXPECT_EQ(row.params.size(), sizeof...(A)) << name << ": parameter names and types differ";
    row.params.resize(sizeof...(A));
    std::size_t i = 0;
    ((row.kinds.push_back(kindOf<A>(row.params[i])), ++i), ...);
    row.returnsVoid = std::is_void_v<R>;
    row.returnsDouble = std::is_floating_point_v<R>;
    const std::vector<Kind> kinds = row.kinds;
    row.call = [f, kinds](CallPlan& plan) { return invoke(f, kinds, plan, std::index_sequence_for<A...>{}); };
    return row;
}

}  // namespace
}  // namespace nxtka

namespace nxtka {
namespace {
#include "export_rows.h"

// ---- the documented exceptions, by export and parameter name

// Pointers the header allows to be null (the call then does something else or less).
const std::set<std::pair<std::string, std::string>> kNullable = {
    {"TKAreadStatus", "status"},          {"TKAreadStatusMultiple", "statuses"},
    {"NXasynchronousSendBytes", "event"}, {"TKAgetRanges", "value"},
    {"TKAgetSensorTextAssign", "second"}, {"TKAreadMemory", "status"},
    {"TKAwriteMemory", "status"},         {"TKAcopyLinear", "table"},
    {"TKAcopyLinear", "info"},            {"TKAsetUserText", "text"},
    {"NXsetDeviceName", "name"},          {"NXgetLastFailure", "text"},
    {"NXreadTimed", "values"},            {"NXreadTimed", "statuses"},
    {"NXreadTimed", "times"},             {"NXreadTimed", "sequences"},
    {"NXwriteMemoryVerified", "firstDifference"},
};

// Outputs a failure writes, and what it may write there.
bool allowedChange(const std::string& fn, const std::string& param, const Buffer& before, const Buffer& after) {
    if (std::memcmp(before.bytes.data() + 4, after.bytes.data() + 4, kBufferBytes - 4) != 0) return false;
    std::int32_t word = 0;
    std::memcpy(&word, after.bytes.data(), sizeof word);
    if (fn == "TKAgetSerialNo" && param == "text") return after.bytes[0] == 0;  // "text[0] is 0 after any failure"
    if ((fn == "TKAreadMemory" || fn == "TKAwriteMemory") && param == "status") return word == 255;  // refused
    if (fn == "TKAcopyLinear" && param == "info") return (static_cast<std::uint32_t>(word) & 0x80000000u) != 0;
    if (fn == "NXwriteMemoryVerified" && param == "firstDifference") return word == -1;  // "set to -1 first"
    if (fn == "NXasynchronousSendBytes" && param == "event") {  // "both set *event to 0"
        static_assert(sizeof(NXTKA_EVENT) == sizeof word);
        return word == 0;
    }
    return false;
}

// Exports that work on any port number up to 1023, active or not.
const std::set<std::string> kAnyPort = {"NXsetDeviceName", "NXgetDeviceName"};
// Counts whose sign selects what the export does (negative: write).
const std::set<std::string> kSignedCount = {"TKAcopyLinear"};
// Exports that cannot be given a bad argument (no port, no count, no pointer
// that must not be null); NXgetLastFailure copies nothing for a null text or
// a size below 1 and still reports its number.
const std::set<std::string> kNothingToRefuse = {"TKAversion", "TKArevision", "NXgetLastFailure"};

double failureOf(const ExportRow& row) {
    if (row.name == "NXrequestEvent") return 0.0;  // "The port's data event (0 on failure)"
    return -1.0;
}

constexpr unsigned kActive = 0;        // 1024 & 1023
constexpr unsigned kActiveHigh = 1023; // 0xFFFFFFFF & 1023
constexpr unsigned kInactive = 5;
constexpr unsigned kDead = 6;
constexpr unsigned kUnconfirmed = 7;

// What an active port answers without asking its amplifier (cached at
// activation, kept by the library, or the caller's own callback), release,
// which would end the port, and re-identification, which forgets the
// amplifier's protocol level when it fails (level-gated exports such as
// TKAisCanAvailable then answer 0 without asking).
const std::set<std::string> kNeedsNoAmplifier = {"TKAmodel",         "NXinternalStatus",       "NXrequestEvent",
                                                 "NXreservedExec",   "TKAsetSpecialModeSleep", "TKAgetSpecialModeSleep",
                                                 "TKArelease",       "TKAgetLocalBaudRate",    "TKAinitialize",
                                                 "NXgetDroppedValues"};

// Exports that end by having the amplifier confirm that the value stream is
// drained: it answers a marker once every value sent before has arrived. The
// adjustment procedures wait 5 s for it, so they make a row of their own.
const std::set<std::string> kConfirmsDrain = {"TKAflushBuffer",  "TKAstopTransmit",  "TKAstartTransmit",
                                              "TKAclearMaxValue", "TKADispSetNorm",   "TKADispSetDPoint",
                                              "TKADispCalcNorm"};
const std::set<std::string> kProceduresConfirmDrain = {"TKAsetCal", "TKAsetZero", "TKAsetScale", "TKAsetOffset"};

enum class Scenario {
    PortAbove,
    PortMinusOne,
    InactivePort,
    NullPointer,
    CountMinusOne,
    CountMin,
    HugeCountNulls,
    DeadLine,               // good arguments, but the port's line has hung up
    DrainUnconfirmed,       // good arguments; the amplifier answers all but the marker
    ProcedureUnconfirmed,   // the same for the adjustment procedures
};

struct ScenarioRow {
    const char* name;
    Scenario scenario;
};

// The reason a failing call may leave (a value refused before the port is
// looked at gives ARGUMENT in every scenario), and a call that leaves a
// different one first, so that a reason left over from before shows.
struct Reasons {
    std::set<int> allowed;
    std::function<void()> leaveOther;
};

Reasons reasonsOf(Scenario sc) {
    const auto notActive = [] { EXPECT_EQ(TKAmodel(kInactive), -1); };
    const auto portRange = [] { EXPECT_EQ(TKAmodel(4096), -1); };
    switch (sc) {
    case Scenario::PortAbove:
    case Scenario::PortMinusOne:
        return {{NXTKA_FAILURE_PORT_RANGE, NXTKA_FAILURE_ARGUMENT}, notActive};
    case Scenario::InactivePort:
        // Activating the port opens its (missing) device.
        return {{NXTKA_FAILURE_NOT_ACTIVE, NXTKA_FAILURE_ARGUMENT, NXTKA_FAILURE_DEVICE}, portRange};
    case Scenario::DeadLine:
        return {{NXTKA_FAILURE_BUSY, NXTKA_FAILURE_ARGUMENT, NXTKA_FAILURE_TIMEOUT, NXTKA_FAILURE_WRITE,
                 NXTKA_FAILURE_DEVICE, NXTKA_FAILURE_ALREADY_ACTIVE, NXTKA_FAILURE_NOT_ACTIVE},
                portRange};
    case Scenario::DrainUnconfirmed:
    case Scenario::ProcedureUnconfirmed:
        return {{NXTKA_FAILURE_TIMEOUT}, portRange};
    default:
        return {{NXTKA_FAILURE_ARGUMENT}, notActive};
    }
}
void PrintTo(const ScenarioRow& r, std::ostream* os) { *os << r.name; }

// Fills the buffers as a caller would: port lists name the plan's port, an
// activation record is valid, everything else holds a canary (text ends with
// a zero byte).
void fillBuffers(const ExportRow& row, CallPlan& plan) {
    for (std::size_t i = 0; i < row.kinds.size(); ++i) {
        Buffer& b = plan.buffers[i];
        b.bytes.fill(kCanary);
        b.bytes[kBufferBytes - 1] = 0;
        if (row.kinds[i] == Kind::PortList) {
            for (std::size_t k = 0; k < kBufferBytes / 4; ++k) std::memcpy(&b.bytes[k * 4], &plan.port, 4);
        } else if (row.params[i] == "params") {
            const ActivationParams p{16, 16, 0, 38400};
            std::memcpy(b.bytes.data(), &p, sizeof p);
        }
    }
}

// The plans a scenario makes for one export (none: it does not apply).
std::vector<std::pair<std::string, CallPlan>> plansFor(Scenario sc, const ExportRow& row) {
    std::vector<std::pair<std::string, CallPlan>> out;
    if (kNothingToRefuse.count(row.name) != 0) return out;
    const bool hasPort = row.has(Kind::Port) || row.has(Kind::PortList);
    const bool hasCount = row.has(Kind::Count) && kSignedCount.count(row.name) == 0;
    auto base = [&](std::uint32_t port) {
        CallPlan p;
        p.port = port;
        fillBuffers(row, p);
        return p;
    };
    switch (sc) {
    case Scenario::PortAbove:
        if (hasPort) out.emplace_back("port 1024", base(1024));
        break;
    case Scenario::PortMinusOne:
        if (hasPort) out.emplace_back("port 0xFFFFFFFF", base(0xFFFFFFFFu));
        break;
    case Scenario::InactivePort:
        if (hasPort && kAnyPort.count(row.name) == 0) out.emplace_back("inactive port", base(kInactive));
        break;
    case Scenario::NullPointer:
        for (std::size_t i = 0; i < row.kinds.size(); ++i) {
            const Kind k = row.kinds[i];
            if ((k != Kind::Buffer && k != Kind::PortList && k != Kind::Callback) ||
                kNullable.count({row.name, row.params[i]}) != 0)
                continue;
            CallPlan p = base(kActive);
            p.nulls.insert(i);
            out.emplace_back("null " + row.params[i], std::move(p));
        }
        break;
    case Scenario::CountMinusOne:
    case Scenario::CountMin:
        if (hasCount) {
            CallPlan p = base(kActive);
            p.count = sc == Scenario::CountMinusOne ? -1 : std::numeric_limits<std::int32_t>::min();
            out.emplace_back("count " + std::to_string(p.count), std::move(p));
        }
        break;
    case Scenario::DeadLine:
        if (hasPort && kAnyPort.count(row.name) == 0 && kNeedsNoAmplifier.count(row.name) == 0)
            out.emplace_back("dead line", base(kDead));
        break;
    case Scenario::DrainUnconfirmed:
        if (kConfirmsDrain.count(row.name) != 0) out.emplace_back("drain never confirmed", base(kUnconfirmed));
        break;
    case Scenario::ProcedureUnconfirmed:
        if (kProceduresConfirmDrain.count(row.name) != 0)
            out.emplace_back("drain never confirmed", base(kUnconfirmed));
        break;
    case Scenario::HugeCountNulls:
        if (hasCount) {
            // A huge count must be refused before any buffer is looked at:
            // every pointer that may not be null is null.
            CallPlan p = base(kActive);
            p.count = std::numeric_limits<std::int32_t>::max();
            for (std::size_t i = 0; i < row.kinds.size(); ++i) {
                const Kind k = row.kinds[i];
                if ((k == Kind::Buffer || k == Kind::PortList || k == Kind::Callback) &&
                    kNullable.count({row.name, row.params[i]}) == 0)
                    p.nulls.insert(i);
            }
            out.emplace_back("count 2147483647, pointers null", std::move(p));
        }
        break;
    }
    return out;
}

// The names in the export list, in order.
std::vector<std::string> listedExports() {
    std::ifstream in(NXTKA_EXPORT_LIST);
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        names.push_back(name);
    }
    return names;
}

TEST(BadArgumentTable, CoversEveryExport) {
    const std::vector<ExportRow> rows = allExports();
    const std::vector<std::string> listed = listedExports();
    ASSERT_EQ(static_cast<int>(rows.size()), kExportCount);
    ASSERT_EQ(rows.size(), listed.size());
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].name, listed[i]);
    // Every export but the few without anything to refuse meets at least the
    // port scenarios, or a null pointer.
    for (const ExportRow& row : rows) {
        int plans = 0;
        for (Scenario sc : {Scenario::PortAbove, Scenario::NullPointer, Scenario::CountMinusOne})
            plans += static_cast<int>(plansFor(sc, row).size());
        if (kNothingToRefuse.count(row.name) != 0) {
            EXPECT_EQ(plans, 0) << row.name;
        } else {
            EXPECT_GT(plans, 0) << row.name << " meets no bad argument";
        }
    }
}

class BadArguments : public ::testing::TestWithParam<ScenarioRow> {};

TEST_P(BadArguments, FailWithoutTouchingAnything) {
    setSettleAfterOpenMs(0);
    sim::Config c;
    c.stream.rate = 0;
    SimPort low(kActive, LineKind::Pty, c);
    SimPort high(kActiveHigh, LineKind::Pty, c);
    ASSERT_EQ(low.activate(16), 0);
    ASSERT_EQ(high.activate(16), 0);
    NXsetDeviceName(kInactive, "/nonexistent/nxtka-fault-suite");
    SimPort* sims[] = {&low, &high};
    std::unique_ptr<SimPort> dead;
    if (GetParam().scenario == Scenario::DeadLine) {
        sim::Config linear = c;
        linear.options = 0x80;  // with linearization tables, so that TKAcopyLinear asks
        dead = std::make_unique<SimPort>(kDead, LineKind::Pty, linear);
        ASSERT_EQ(dead->activate(16), 0);
        dead->model().hangUp();
        ASSERT_TRUE(test::eventually([] { return TKAreceived(kDead) == -1; }));
    }
    std::unique_ptr<SimPort> unconfirmed;
    if (GetParam().scenario == Scenario::DrainUnconfirmed || GetParam().scenario == Scenario::ProcedureUnconfirmed) {
        unconfirmed = std::make_unique<SimPort>(kUnconfirmed, LineKind::Pty, c);
        ASSERT_EQ(unconfirmed->activate(16), 0);
        unconfirmed->model().setFaults(sim::Faults{}.silence(cmd::kMarker.code));
    }

    const Reasons reasons = reasonsOf(GetParam().scenario);
    int checked = 0;
    for (const ExportRow& row : allExports()) {
        for (auto& [what, plan] : plansFor(GetParam().scenario, row)) {
            SCOPED_TRACE(row.name + ": " + what);
            for (SimPort* sp : sims) sp->model().clearRecord();
            const CallPlan before = plan;
            callbackCalls = 0;
            reasons.leaveOther();
            const int reasonBefore = NXgetLastFailure(nullptr, 0);
            const double result = row.call(plan);
            const int reason = NXgetLastFailure(nullptr, 0);
            ++checked;
            if (kAnyPort.count(row.name) != 0) {
                // Device names leave the record as it is.
                EXPECT_EQ(reason, reasonBefore);
            } else if (row.returnsVoid) {
                // Release has no failure; it forgets the previous reason.
                EXPECT_TRUE(reason == NXTKA_FAILURE_NONE || reasons.allowed.count(reason) == 1)
                    << "reason left: " << reason;
            } else {
                EXPECT_EQ(reasons.allowed.count(reason), 1u) << "reason left: " << reason;
            }
            if (!row.returnsVoid) {
                EXPECT_EQ(result, failureOf(row));
            }
            EXPECT_EQ(callbackCalls, 0) << "the callback ran";
            for (std::size_t i = 0; i < row.kinds.size(); ++i) {
                if (row.kinds[i] == Kind::Callback) continue;
                if (plan.buffers[i].bytes == before.buffers[i].bytes) continue;
                EXPECT_TRUE(allowedChange(row.name, row.params[i], before.buffers[i], plan.buffers[i]))
                    << "buffer " << row.params[i] << " was written";
            }
            for (SimPort* sp : sims) {
                ASSERT_EQ(TKAmodel(sp->port()), 3) << "port " << sp->port() << " is no longer active";
                ASSERT_TRUE(test::roundTrip(sp->port()));
                const std::vector<std::uint8_t> only{static_cast<std::uint8_t>(cmd::kGetFirmware.code)};
                EXPECT_EQ(test::receivedBytes(sp->model()), only) << "bytes went to port " << sp->port();
            }
        }
    }
    EXPECT_GT(checked, 0);
    NXsetDeviceName(kInactive, nullptr);
    setSettleAfterOpenMs(250);
}

INSTANTIATE_TEST_SUITE_P(Faults, BadArguments,
                         ::testing::Values(ScenarioRow{"PortAbove", Scenario::PortAbove},
                                           ScenarioRow{"PortMinusOne", Scenario::PortMinusOne},
                                           ScenarioRow{"InactivePort", Scenario::InactivePort},
                                           ScenarioRow{"NullPointer", Scenario::NullPointer},
                                           ScenarioRow{"CountMinusOne", Scenario::CountMinusOne},
                                           ScenarioRow{"CountMin", Scenario::CountMin},
                                           ScenarioRow{"HugeCountNulls", Scenario::HugeCountNulls},
                                           ScenarioRow{"DeadLine", Scenario::DeadLine},
                                           ScenarioRow{"DrainUnconfirmed", Scenario::DrainUnconfirmed},
                                           ScenarioRow{"ProcedureUnconfirmed", Scenario::ProcedureUnconfirmed}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace nxtka
