// The amplifier list of record and publish, and the scales of --unit and
// --scale: what a file or an option gives, and what each refuses (with the
// key and the line).
#include "amplifier_list.h"
#include "cli_core.h"
#include "units.h"

#include <gtest/gtest.h>

#include <string>

namespace nxtka_cli {
namespace {

toml::table parsed(const std::string& text) { return toml::parse(text); }

// The message of the ToolError `f` throws (status 2); "" when it throws none.
template <class F>
std::string refusal(F f) {
    try {
        f();
    } catch (const ToolError& e) {
        EXPECT_EQ(e.status(), kExitUsage) << e.what();
        return e.what();
    }
    return {};
}

TEST(AmplifierList, EntriesWithDefaultsAndSettingsInFileOrder) {
    const auto list = amplifiersFrom(parsed(R"(
[[amplifier]]
name = "left"
device = "/dev/ttyUSB0"
[amplifier.settings]
rate = "100"
gain = 3
mode-si = true
adapt-threshold = 0.001

[[amplifier]]
name = "right_2"
device = "/dev/ttyUSB1"
port = 7
baud = 115200
unit = "sensor"
unit_name = "N"
)"));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "left");
    EXPECT_EQ(list[0].device, "/dev/ttyUSB0");
    EXPECT_EQ(list[0].port, 0u);  // its place in the list
    EXPECT_FALSE(list[0].baud);
    EXPECT_EQ(list[0].scale.kind, ScaleRequest::Kind::normalized);
    const std::vector<std::pair<std::string, std::string>> settings{
        {"rate", "100"}, {"gain", "3"}, {"mode-si", "on"}, {"adapt-threshold", "0.001"}};
    EXPECT_EQ(list[0].settings, settings);  // not sorted by name
    EXPECT_EQ(list[1].port, 7u);
    EXPECT_EQ(list[1].baud, 115200);
    EXPECT_EQ(list[1].scale.kind, ScaleRequest::Kind::sensor);
    EXPECT_EQ(list[1].scale.unitName, "N");
}

TEST(AmplifierList, RefusesABadEntryNamingKeyAndLine) {
    struct Row {
        const char* file;
        const char* says;
    };
    const Row rows[] = {
        {"x = 1\n", "names no amplifier"},
        {"[[amplifier]]\ndevice = \"/dev/a\"\n", "amplifier 1: name is missing"},
        {"[[amplifier]]\nname = \"a\"\n", "amplifier 'a': device is missing"},
        {"[[amplifier]]\nname = \"a b\"\ndevice = \"/dev/a\"\n", "may only hold letters, digits, '_' and '-' (line 2)"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\n[[amplifier]]\nname = \"a\"\ndevice = \"/dev/b\"\n",
         "amplifier name 'a' is used twice (line 5)"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\nport = 1\n[[amplifier]]\nname = \"b\"\ndevice = "
         "\"/dev/b\"\n",
         "amplifier 'b': port 1 is also amplifier 'a's"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\nport = 1024\n", "port 1024 is not 0 to 1023 (line 4)"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\nbaud = \"fast\"\n", "baud must be a whole number (line 4)"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\nspeed = 1\n", "unknown key 'speed' (line 4)"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\nunit = \"kg\"\n",
         "unit 'kg' is not one of normalized, mV/V, sensor (or give --scale) (line 4)"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\nscale = \"0=0\"\n", "takes two points"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\n[amplifier.settings]\nspeed = 1\n",
         "no setting 'speed' (nxtka get --list names them) (line 5)"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\n[amplifier.settings]\nfirmware = 1\n",
         "setting 'firmware' is read only (line 5)"},
        {"[[amplifier]]\nname = \"a\"\ndevice = \"/dev/a\"\n[amplifier.settings]\ngain = 9\n",
         "setting gain: "},
    };
    for (const Row& row : rows) {
        const std::string says = refusal([&] { amplifiersFrom(parsed(row.file)); });
        EXPECT_NE(says.find(row.says), std::string::npos) << row.file << "\n-> " << says;
    }
}

TEST(AmplifierList, RunSection) {
    const RunSection r = runSectionFrom(parsed("[run]\nseconds = 2.5\nout = \"here\"\n"));
    EXPECT_EQ(r.seconds, 2.5);
    EXPECT_EQ(r.out, "here");
    EXPECT_FALSE(runSectionFrom(parsed("")).seconds);
    EXPECT_NE(refusal([] { runSectionFrom(parsed("[run]\nseconds = 0\n")); }).find("above 0 (line 2)"),
              std::string::npos);
    EXPECT_NE(refusal([] { runSectionFrom(parsed("[run]\nformat = \"parquet\"\n")); }).find("the format is csv"),
              std::string::npos);
}

// Each scale from figures worked out by hand: normalized 1.0 is the input
// range in mV/V; the sensor gives its capacity at its rated output.
TEST(Units, ScalesFromTheAmplifiersFigures) {
    struct Row {
        const char* unit;
        const char* unitName;
        const char* scale;
        double range, rated, capacity;
        double at0, at1;  // the scaled values of normalized 0 and 1
        const char* shown;
    };
    const Row rows[] = {
        {"", "", "", 2.0, 0, 0, 0.0, 1.0, "normalized"},
        {"mV/V", "", "", 2.5, 0, 0, 0.0, 2.5, "mV/V"},
        // 2.5 mV/V at the end of the range, 2 mV/V is 500 N: 625 N
        {"sensor", "N", "", 2.5, 2.0, 500.0, 0.0, 625.0, "N"},
        {"sensor", "", "", 1.0, 4.0, 20.0, 0.0, 5.0, "sensor"},
        {"", "", "0=0,1=500", 9, 9, 9, 0.0, 500.0, "scaled"},
        {"mV/V", "kg", "0.1=10,0.6=60", 9, 9, 9, 0.0, 100.0, "kg"},  // the scale wins over --unit
        {"", "", "-1=-200,1=300", 9, 9, 9, 50.0, 300.0, "scaled"},
    };
    for (const Row& row : rows) {
        const Scale s = scaleOf(scaleFromOptions(row.unit, row.unitName, row.scale), row.range, row.rated,
                                row.capacity);
        EXPECT_NEAR(s.apply(0.0), row.at0, 1e-9) << row.unit << row.scale;
        EXPECT_NEAR(s.apply(1.0), row.at1, 1e-9) << row.unit << row.scale;
        EXPECT_EQ(s.unit, row.shown);
    }
}

TEST(Units, RefusesWhatIsNoScale) {
    struct Row {
        const char *unit, *unitName, *scale, *says;
    };
    const Row rows[] = {
        {"N", "", "", "unit 'N' is not one of normalized, mV/V, sensor"},
        {"mV/V", "N", "", "a unit name goes with the sensor unit"},
        {"", "", "1=0,1=5", "the two normalized values must differ"},
        {"", "", "0=0;1=5", "takes two points"},
        {"", "", "0=0,1=x", "'x' is not a number"},
        {"", "", "0=0,1=5,2=9", "takes two points"},
    };
    for (const Row& row : rows)
        EXPECT_NE(refusal([&] { scaleFromOptions(row.unit, row.unitName, row.scale); }).find(row.says),
                  std::string::npos)
            << row.scale;
    // An amplifier without a rated output gives no sensor scale; the
    // message names the setting that gives one.
    const ScaleRequest sensor = scaleFromOptions("sensor", "N", "");
    try {
        scaleOf(sensor, 2.0, 0.0, 500.0);
        ADD_FAILURE() << "a rated output of 0 was taken";
    } catch (const ToolError& e) {
        EXPECT_EQ(e.status(), kExitFailed);
        EXPECT_NE(std::string(e.what()).find("rated output is 0"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("nxtka set rated-output"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace nxtka_cli
