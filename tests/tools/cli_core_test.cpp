// The tool's pure helpers: byte arguments, number parsing, decoding of
// identification words, bars, sparklines and stream statistics.
#include "cli_core.h"

#include <gtest/gtest.h>

#include <cmath>

namespace nxtka_cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HexBytes, AcceptsTheServiceNotations) {
    EXPECT_EQ(parseHexBytes({"2a 03"}), (Bytes{0x2A, 0x03}));
    EXPECT_EQ(parseHexBytes({"2a03"}), (Bytes{0x2A, 0x03}));
    EXPECT_EQ(parseHexBytes({"0x2a"}), (Bytes{0x2A}));
    EXPECT_EQ(parseHexBytes({"0X2A03FF"}), (Bytes{0x2A, 0x03, 0xFF}));
    EXPECT_EQ(parseHexBytes({"2a,03", "0x3b", "5"}), (Bytes{0x2A, 0x03, 0x3B, 0x05}));
    EXPECT_EQ(parseHexBytes({"  ff\t00 "}), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(parseHexBytes({"0x5"}), (Bytes{0x05}));
}

TEST(HexBytes, RejectsWhatIsNotBytesNamingTheWord) {
    for (const char* bad : {"2a3", "zz", "0x", "2g", "0x2a3", "--"}) {
        try {
            parseHexBytes({"2a", bad});
            ADD_FAILURE() << bad << " was accepted";
        } catch (const ToolError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("'") + bad + "'"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(parseHexBytes({}), ToolError);
    EXPECT_THROW(parseHexBytes({" ", ","}), ToolError);
}

TEST(HexBytes, FormatsUpperCaseSpaced) {
    EXPECT_EQ(formatHex({0x2A, 0x03, 0xFF}), "2A 03 FF");
    EXPECT_EQ(formatHex({}), "");
}

TEST(Values, IntegersDecimalOrHexWithinRange) {
    EXPECT_EQ(parseInteger("7", 0, 7), 7);
    EXPECT_EQ(parseInteger("0x10", 0, 255), 16);
    EXPECT_EQ(parseInteger("-3", -5, 5), -3);
    EXPECT_THROW(parseInteger("8", 0, 7), ToolError);
    EXPECT_THROW(parseInteger("-1", 0, 7), ToolError);
    EXPECT_THROW(parseInteger("12abc", 0, 100), ToolError);
    EXPECT_THROW(parseInteger("", 0, 100), ToolError);
    EXPECT_THROW(parseInteger("99999999999999999999", 0, 100), ToolError);
}

TEST(Values, NumbersAndSwitches) {
    EXPECT_DOUBLE_EQ(parseNumber("2.05"), 2.05);
    EXPECT_DOUBLE_EQ(parseNumber("-1e3"), -1000.0);
    EXPECT_THROW(parseNumber("2.0x"), ToolError);
    EXPECT_THROW(parseNumber("nan"), ToolError);
    EXPECT_TRUE(parseSwitch("on"));
    EXPECT_TRUE(parseSwitch("YES"));
    EXPECT_TRUE(parseSwitch("1"));
    EXPECT_FALSE(parseSwitch("off"));
    EXPECT_FALSE(parseSwitch("false"));
    EXPECT_THROW(parseSwitch("2"), ToolError);
}

TEST(Identification, LibraryVersionFromItsTwoWords) {
    EXPECT_EQ(formatLibraryVersion(0x00010035, 0x00000020), "1.53.0.32");
    EXPECT_EQ(formatLibraryVersion(0x00020001, 0x00030004), "2.1.3.4");
    EXPECT_EQ(formatLibraryVersion(-1, 0), "unknown");
}

TEST(Identification, OptionsWordInWords) {
    const std::string all = decodeOptions(0x0007C1);
    EXPECT_EQ(all, "1985 (0x0007C1): code 1, extension 3, linearization, extension 21, sleep mode, command test");
    const std::string some = decodeOptions(0x000841);
    EXPECT_EQ(some, "2113 (0x000841): code 1, extension 3, bits 11-23: 0x0001");
    EXPECT_EQ(decodeOptions(0x00003F), "63 (0x00003F): code 63");
}

TEST(Identification, EquipmentWordInWords) {
    EXPECT_EQ(decodeEquipment(0x2D), "45 (0x2D): LCD, UII, SI, AF");
    EXPECT_EQ(decodeEquipment(0x12), "18 (0x12): ADC, WL");
    EXPECT_EQ(decodeEquipment(0), "0 (0x00): none");
    EXPECT_EQ(decodeEquipment(0xC0), "192 (0xC0): bit 6, bit 7");
}

TEST(Identification, ControlWordAndModeInWords) {
    struct Row {
        std::string (*decode)(std::int64_t);
        std::int64_t word;
        const char* text;
    };
    const Row rows[] = {
        {decodeControl, 0x1C1028, "1839144 (0x1C1028): gain 7, unipolar, channel 0, divisor 40"},
        {decodeControl, 0x020000, "131072 (0x020000): gain 0, bipolar, channel 1, divisor 0"},
        {decodeControl, 0x0407FF, "264191 (0x0407FF): gain 1, bipolar, channel 0, divisor 2047"},
        {decodeControl, 0xFFFFFF,
         "16777215 (0xFFFFFF): gain 7, unipolar, channel 1, divisor 2047, other bits 0xE1E800"},
        {decodeControl, 0x000800, "2048 (0x000800): gain 0, bipolar, channel 0, divisor 0, other bits 0x000800"},
        {decodeMode, 0x41, "65 (0x41): SI, linear"},
        {decodeMode, 0x00, "0 (0x00): none"},
        {decodeMode, 0x80, "128 (0x80): lock"},
        {decodeMode, 0x3E, "62 (0x3E): text, max, log, window, average"},
        {decodeTxMode, 0x23, "35 (0x23): config, transmit4, bit 5"},
        {decodeTxMode, 0x1C, "28 (0x1C): repeat3, transmit5, read-only"},
        {decodeSpecialMode, 0x8041, "32833 (0x8041): slow, sleep, noise cut"},
        {decodeSpecialMode, 0x40BE, "16574 (0x40BE): average, filter, max, filter auto, filter order 5, bit 7, auto-zero"},
        {decodeSpecialMode, 0x0000, "0 (0x0000): none"},
        {formatPolarity, 1, "bipolar"},
        {formatPolarity, 0, "unipolar"},
        {formatOnOff, 1, "on"},
        {formatOnOff, 0, "off"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.decode(row.word), row.text);
}

TEST(Identification, FirmwareAndText) {
    EXPECT_EQ(formatFirmware(0x0C10), "3088 (0x0C10)");
    EXPECT_EQ(printableText("1234\x01" "5"), "1234\\x015");
    EXPECT_EQ(printableText("a\\b"), "a\\x5Cb");
}

// Cells of a rendered ASCII bar, without the brackets.
std::string cells(const std::string& bar) { return bar.substr(1, bar.size() - 2); }

TEST(Bar, ZeroInTheMiddleFillsTowardsTheSign) {
    EXPECT_EQ(renderBar(0.0, 11, false), "[-----|-----]");
    EXPECT_EQ(renderBar(kEndOfScale, 11, false), "[-----|#####]");
    EXPECT_EQ(renderBar(-kEndOfScale, 11, false), "[#####|-----]");
    EXPECT_EQ(renderBar(kEndOfScale * 0.4, 11, false), "[-----|##---]");
    EXPECT_EQ(renderBar(-kEndOfScale * 0.6, 11, false), "[--###|-----]");
}

TEST(Bar, BeyondTheEndOfScaleIsMarked) {
    EXPECT_EQ(renderBar(2.0, 11, false), "[-----|####>]");
    EXPECT_EQ(renderBar(-1.2, 11, false), "[<####|-----]");
    EXPECT_EQ(renderBar(std::nan(""), 11, false), "[-----|-----]");
}

TEST(Bar, WidthIsMadeOddAndUtf8HasTheSameCellCount) {
    EXPECT_EQ(cells(renderBar(0.5, 10, false)).size(), 11u);
    const std::string u = renderBar(0.7, 21, true);
    EXPECT_EQ(displayWidth(u), 23u);
    EXPECT_NE(u.find("\u2588"), std::string::npos);
}

TEST(Sparkline, ScaledBetweenSmallestAndLargest) {
    EXPECT_EQ(renderSparkline({0.0, 1.0}, false), "_#");
    EXPECT_EQ(renderSparkline({-0.5, -0.5, -0.5}, false), ":::");
    EXPECT_EQ(renderSparkline({0, 1, 2, 3, 4, 5, 6, 7}, false), "_.-:=+*#");
    EXPECT_EQ(renderSparkline({}, false), "");
    const std::string u = renderSparkline({0, 1, 2, 3, 4, 5, 6, 7, 8}, true);
    EXPECT_EQ(displayWidth(u), 9u);
    EXPECT_EQ(u.substr(0, 3), "\u2581");
    EXPECT_EQ(u.substr(u.size() - 3), "\u2588");
}

TEST(Stats, RangeMeanStatusesAndRecentValues) {
    StreamStats s;
    EXPECT_EQ(s.count(), 0u);
    EXPECT_EQ(s.recentRate(1.0), 0.0);
    s.add(0.0, 0.5, 0);
    s.add(0.1, -0.25, 3);
    s.add(0.2, 1.0, 3);
    EXPECT_EQ(s.count(), 3u);
    EXPECT_DOUBLE_EQ(s.min(), -0.25);
    EXPECT_DOUBLE_EQ(s.max(), 1.0);
    EXPECT_DOUBLE_EQ(s.mean(), 1.25 / 3);
    EXPECT_EQ(s.statuses().at(0), 1u);
    EXPECT_EQ(s.statuses().at(3), 2u);
    EXPECT_EQ(s.recent(2), (std::vector<double>{-0.25, 1.0}));
    EXPECT_EQ(s.recent(10).size(), 3u);
}

TEST(Stats, RatesOverTheLastSecondAndOverall) {
    StreamStats s;
    for (int i = 0; i < 300; ++i) s.add(i * 0.01, 0.0, 0);  // 100 values/s for 3 s
    EXPECT_NEAR(s.recentRate(2.995), 100.0, 2.0);
    EXPECT_NEAR(s.overallRate(), 100.0, 1e-9);
    // Nothing new for a while: the recent rate falls, the overall rate stays.
    EXPECT_NEAR(s.recentRate(3.5), 50.0, 2.0);
    EXPECT_EQ(s.recentRate(5.0), 0.0);
    EXPECT_NEAR(s.overallRate(), 100.0, 1e-9);
}

TEST(Csv, RowsMatchTheHeader) {
    EXPECT_STREQ(kCsvHeader, "sample,read_time_s,value,status");
    EXPECT_EQ(formatCsvRow(0, 1.5, -0.25, 7), "0,1.500000,-0.25000000,7");
    EXPECT_EQ(formatCsvRow(18446744073709551615ull, 0.0, 1.05, 255), "18446744073709551615,0.000000,1.05000000,255");
}

}  // namespace
}  // namespace nxtka_cli
