// The setting table and its row macros: a row calls its function, decodes
// what it returns, and checks a value before it is passed on.
#include "settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

// Stand-ins for exported functions, visible where the rows are made.
std::int32_t fakeEquipment(std::uint32_t port) { return port == 7 ? 0x2D : -1; }
double fakeFactor(std::uint32_t port) { return port == 7 ? 2.05 : -1.0; }
std::int32_t fakeSerial(std::uint32_t port, char* text) {
    if (port != 7) return -1;
    std::memcpy(text, "AB12\x01" "XYZ", 8);
    return 0;
}
std::int32_t gLastGain = -100;
std::int32_t fakeSetGain(std::uint32_t port, std::int32_t gain) {
    if (port != 7) return -1;
    gLastGain = gain;
    return 0;
}
std::int32_t gLastSwitch = -100;
std::int32_t fakeSwitch(std::uint32_t port, std::int32_t on) {
    gLastSwitch = on;
    return port == 7 ? 0 : -1;
}
std::string gLastSerial;
std::int32_t fakeWriteSerial(std::uint32_t port, const char* text) {
    gLastSerial.assign(text, 8);
    return port == 7 ? 0 : -1;
}
double gLastNorm = 0.0;
std::int32_t fakeSetNorm(std::uint32_t port, double norm) {
    gLastNorm = norm;
    return port == 7 ? 0 : -1;
}

}  // namespace

namespace nxtka_cli {
namespace {

TEST(SettingRows, GettersAreCalledAndDecoded) {
    constexpr Setting word{"equipment", nullptr, NXTKA_GET(fakeEquipment, decodeEquipment), NXTKA_NO_SET, "", "", ""};
    EXPECT_STREQ(word.getName, "fakeEquipment");
    const Reading ok = word.get(7);
    EXPECT_EQ(ok.outcome, Outcome::ok);
    EXPECT_EQ(ok.text, "45 (0x2D): LCD, UII, SI, AF");
    EXPECT_EQ(word.get(8).outcome, Outcome::failed);

    constexpr Setting real{"factor", nullptr, NXTKA_GET(fakeFactor, formatReal), NXTKA_NO_SET, "", "", ""};
    EXPECT_EQ(real.get(7).text, "2.05");
    EXPECT_EQ(real.get(1).outcome, Outcome::failed);

    constexpr Setting text{"serial", nullptr, NXTKA_GET_TEXT(fakeSerial, 8), NXTKA_NO_SET, "", "", ""};
    EXPECT_EQ(text.get(7).text, "AB12\\x01XYZ");
    EXPECT_EQ(text.get(3).outcome, Outcome::failed);
}

TEST(SettingRows, SettersParseTheirRangeBeforeCalling) {
    constexpr Setting gain{"gain", nullptr, NXTKA_NO_GET, NXTKA_SET_INT(fakeSetGain, 0, 7), "", "", ""};
    EXPECT_EQ(gain.set(7, "5", true), Outcome::ok);
    EXPECT_EQ(gLastGain, 5);
    EXPECT_EQ(gain.set(7, "0x7", true), Outcome::ok);
    EXPECT_EQ(gLastGain, 7);
    gLastGain = -100;
    EXPECT_THROW(gain.set(7, "8", true), ToolError);
    EXPECT_THROW(gain.set(7, "five", true), ToolError);
    EXPECT_EQ(gLastGain, -100);  // never called with a bad value
    EXPECT_EQ(gain.set(8, "1", true), Outcome::failed);

    constexpr Setting norm{"norm", nullptr, NXTKA_NO_GET, NXTKA_SET_REAL(fakeSetNorm), "", "", ""};
    EXPECT_EQ(norm.set(7, "1.25", true), Outcome::ok);
    EXPECT_DOUBLE_EQ(gLastNorm, 1.25);
    EXPECT_THROW(norm.set(7, "x", true), ToolError);
}

TEST(SettingRows, SwitchAndTextSettersPassWhatTheFunctionTakes) {
    constexpr Setting sw{"switch", nullptr, NXTKA_NO_GET, NXTKA_SET_SWITCH(fakeSwitch), "", "", ""};
    constexpr Setting serial{"serial", nullptr, NXTKA_NO_GET, NXTKA_SET_TEXT(fakeWriteSerial, 8), "", "", ""};
    struct Row {
        const Setting* setting;
        const char* value;
        Outcome outcome;
        std::int32_t lastSwitch;
        const char* lastSerial;
    };
    const Row rows[] = {
        {&sw, "on", Outcome::ok, 1, ""},
        {&sw, "off", Outcome::ok, 0, ""},
        {&sw, "yes", Outcome::ok, 1, ""},
        {&serial, "NX-00042", Outcome::ok, -100, "NX-00042"},
    };
    for (const Row& row : rows) {
        gLastSwitch = -100;
        gLastSerial.clear();
        EXPECT_EQ(row.setting->set(7, row.value, true), row.outcome) << row.value;
        EXPECT_EQ(gLastSwitch, row.lastSwitch) << row.value;
        EXPECT_EQ(gLastSerial, row.lastSerial) << row.value;
    }
    gLastSwitch = -100;
    gLastSerial.clear();
    EXPECT_THROW(sw.set(7, "5", true), ToolError);
    EXPECT_THROW(serial.set(7, "NX-0004", true), ToolError);    // 7 characters
    EXPECT_THROW(serial.set(7, "NX-000420", true), ToolError);  // 9
    EXPECT_EQ(gLastSwitch, -100);
    EXPECT_EQ(gLastSerial, "");
    EXPECT_EQ(sw.set(8, "on", true), Outcome::failed);
}

TEST(SettingTable, NamesAreUniqueAndEveryRowDoesSomething) {
    std::set<std::string> names;
    for (const Setting& s : settingsTable()) {
        EXPECT_TRUE(names.insert(s.name).second) << s.name;
        EXPECT_TRUE(s.get != nullptr || s.set != nullptr) << s.name;
        EXPECT_EQ(s.get != nullptr, s.getName != nullptr) << s.name;
        EXPECT_EQ(s.set != nullptr, s.setName != nullptr) << s.name;
        EXPECT_NE(s.help, nullptr);
        EXPECT_EQ(findSetting(s.name), &s);
    }
    EXPECT_EQ(findSetting("no-such-setting"), nullptr);
}

TEST(SettingTable, RowsFailOnAnInactivePort) {
    for (const char* name : {"model", "baud", "received"}) {
        const Setting* s = findSetting(name);
        ASSERT_NE(s, nullptr) << name;
        EXPECT_EQ(s->get(1000).outcome, Outcome::failed) << name;  // never activated
    }
    const Setting* transmit = findSetting("transmit");
    ASSERT_NE(transmit, nullptr);
    EXPECT_EQ(transmit->set(1000, "on", true), Outcome::failed);
    EXPECT_THROW(transmit->set(1000, "sideways", false), ToolError);
}

}  // namespace
}  // namespace nxtka_cli
