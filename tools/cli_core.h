// Pure helpers of the nxtka tool: parsing of byte arguments, number
// formatting, decoding of identification words, the statistics and the small
// terminal graphics of the live views. Nothing here talks to a device.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nxtka_cli {

// The tool's exit statuses, as the README and the man page list them.
enum ExitStatus : int {
    kExitDone = 0,
    kExitFailed = 1,           // the device or the amplifier failed
    kExitUsage = 2,            // a bad argument, or a value the library refused
    kExitNothingMeasured = 3,  // a monitor that read no value
    kExitInterrupted = 130,    // stopped by Ctrl-C (or SIGTERM, SIGHUP)
};

// A failure the tool reports in one line and ends with a non-zero status.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message, int status = kExitFailed)
        : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

// End of scale of the library's normalized values.
inline constexpr double kEndOfScale = 1.05;

// Bytes from command-line words: "2a 03" (one word or several), "2a03",
// "0x2a", "0x2a03", "2a,03". A word of one digit is one byte. Throws
// ToolError naming the offending word.
std::vector<std::uint8_t> parseHexBytes(const std::vector<std::string>& words);
// "2A 03 FF"
std::string formatHex(const std::vector<std::uint8_t>& bytes);

// An integer setting value: decimal, or hexadecimal with 0x. Throws ToolError.
std::int64_t parseInteger(std::string_view text, std::int64_t min, std::int64_t max);
double parseNumber(std::string_view text);
// "on"/"off", "1"/"0", "true"/"false", "yes"/"no". Throws ToolError.
bool parseSwitch(std::string_view text);

// "1.53.0.32" from the two words of TKAversion and TKArevision.
std::string formatLibraryVersion(std::int32_t version, std::int32_t revision);
// "3088 (0x0C10)"
std::string formatFirmware(std::int64_t version);
// "1985 (0x0007C1): code 1, extension 3, linearization, command test"
std::string decodeOptions(std::int64_t word);
// "45 (0x2D): LCD, UII, SI, AF"
std::string decodeEquipment(std::int64_t word);
// "1839144 (0x1C1028): gain 7, unipolar, channel 0, divisor 40"; bits with no
// meaning are added as "other bits 0x...".
std::string decodeControl(std::int64_t word);
// "65 (0x41): SI, linear"
std::string decodeMode(std::int64_t mode);
// "35 (0x23): config, transmit4, bit 5"
std::string decodeTxMode(std::int64_t mode);
// "32833 (0x8041): slow, sleep, noise cut"; bits 7-13 as "bit N"
std::string decodeSpecialMode(std::int64_t word);
// 1 "bipolar", 0 "unipolar" (as TKAisBipol answers)
std::string formatPolarity(std::int64_t bipolar);
// 1 "on", 0 "off" (a flag)
std::string formatOnOff(std::int64_t flag);
// Printable characters kept, others shown as \xNN.
std::string printableText(std::string_view bytes);

// A bar for a value on the normalized scale, zero in the middle:
// "[-----|###  ]". Width counts the cells between the brackets; values
// beyond the end of scale fill their half and end in '<' or '>'.
std::string renderBar(double value, int width, bool utf8);
// One character per value, scaled between the smallest and largest of them.
std::string renderSparkline(const std::vector<double>& values, bool utf8);
// Display width of a string made by the two functions above (UTF-8 aware).
std::size_t displayWidth(std::string_view text);

// Running statistics of a stream of values.
class StreamStats {
public:
    void add(double timeS, double value, std::uint8_t status);
    std::uint64_t count() const { return count_; }
    double min() const { return min_; }
    double max() const { return max_; }
    double mean() const { return count_ ? sum_ / static_cast<double>(count_) : 0.0; }
    double firstTime() const { return first_; }
    double lastTime() const { return last_; }
    // Values per second over the last second before `nowS` (0 before the
    // first value).
    double recentRate(double nowS) const;
    // Values per second from the first to the last value.
    double overallRate() const;
    const std::map<std::uint8_t, std::uint64_t>& statuses() const { return statuses_; }
    // The most recent values, oldest first, at most `n`.
    std::vector<double> recent(std::size_t n) const;

private:
    static constexpr std::size_t kKeep = 512;
    std::uint64_t count_ = 0;
    double min_ = 0.0, max_ = 0.0, sum_ = 0.0, first_ = 0.0, last_ = 0.0;
    std::map<std::uint8_t, std::uint64_t> statuses_;
    std::deque<double> times_;   // of the last second or so
    std::deque<double> values_;  // the last kKeep
};

// "7,12.340000,0.41234500,0": the value's number from 0, the time in seconds
// since the start at which the tool read it from the library (not when the
// amplifier measured it), the value and its status byte.
std::string formatCsvRow(std::uint64_t sample, double readTimeS, double value, std::uint8_t status);
inline constexpr const char* kCsvHeader = "sample,read_time_s,value,status";

}  // namespace nxtka_cli
