// Table-driven wire checks for exported command functions: one row per
// export with a good call (the exact bytes it must put on the wire, and for
// getters the amplifier's answer and the decoded result) and, where the
// export checks its argument, a bad call (-1 and nothing sent).
#pragma once

// Rows leave their trailing fields at the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nxtka::test {

using Call = std::function<double(unsigned port)>;

// An export called with the port alone, its result as a double.
template <class F>
Call call(F f) {
    return [f](unsigned port) { return static_cast<double>(f(port)); };
}

struct Answer {
    int code;
    std::uint64_t value;
};

struct WireRow {
    const char* name;
    Call good;
    std::vector<std::uint8_t> wire;   // bytes the good call sends
    std::optional<Answer> answer;     // what the amplifier answers meanwhile
    double result = 0.0;              // result of the good call
    Call bad = nullptr;               // refused: -1, nothing sent
};

inline void PrintTo(const WireRow& row, std::ostream* os) { *os << row.name; }

inline std::string rowName(const ::testing::TestParamInfo<WireRow>& info) { return info.param.name; }

// Every byte the amplifier received, code and parameters, in order.
inline std::vector<std::uint8_t> receivedBytes(sim::AmplifierModel& model) {
    std::vector<std::uint8_t> out;
    for (const auto& c : model.commands()) {
        out.push_back(c.code);
        out.insert(out.end(), c.params.begin(), c.params.end());
    }
    return out;
}

// What `call` put on the wire: everything up to a round trip behind it.
inline std::vector<std::uint8_t> wireOf(SimPort& sp, const Call& call, double& result) {
    sp.model().clearRecord();
    result = call(sp.port());
    EXPECT_TRUE(roundTrip(sp.port()));
    std::vector<std::uint8_t> bytes = receivedBytes(sp.model());
    if (!bytes.empty() && bytes.back() == cmd::kGetFirmware) bytes.pop_back();
    return bytes;
}

inline void answerWith(SimPort& sp, const Answer& a) {
    const std::uint64_t value = a.value;
    sp.model().setHandler(a.code, [value](const sim::ReceivedCommand&) -> std::optional<std::uint64_t> { return value; });
}

// Runs one row on an active port.
inline void checkRow(SimPort& sp, const WireRow& row) {
    if (row.answer) answerWith(sp, *row.answer);
    double result = 0;
    EXPECT_EQ(wireOf(sp, row.good, result), row.wire);
    EXPECT_DOUBLE_EQ(result, row.result);
    if (row.bad) {
        EXPECT_TRUE(wireOf(sp, row.bad, result).empty());
        EXPECT_EQ(result, -1.0);
    }
}

// The row's good call on an active port (checkRow), and on a port that is
// not active and one out of range: -1 with nothing sent.
inline void checkRowOnActivePort(unsigned port, const WireRow& row) {
    SimPort sp(port, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    checkRow(sp, row);
}
inline void checkRowOnInactivePort(unsigned port, const WireRow& row) {
    SimPort sp(port, LineKind::Virtual);
    EXPECT_EQ(row.good(port), -1.0);
    EXPECT_EQ(row.good(1024), -1.0);
    EXPECT_TRUE(sp.model().commands().empty());
}

}  // namespace nxtka::test
