// The small texts the simulator's command line and device file take:
// command codes by name or number, "CODE:MS", "CODE=VALUE", "ADDR:HEX".
// Each parser throws std::invalid_argument with a short reason.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nxtka::sim {

// "GetMode", "57" or "0x39".
int parseCode(const std::string& text);
// The command's name, or its number when it has none.
std::string codeText(int code);
// "GetMode:300": a code and milliseconds.
std::pair<int, std::uint32_t> parseCodeMs(const std::string& text);
// "GetMode=3", "GetControl=0x28": a code and a value.
std::pair<int, std::uint64_t> parseCodeValue(const std::string& text);
// "16:0A0B0C": a memory address and the bytes from it on.
std::pair<std::size_t, std::vector<std::uint8_t>> parseMemory(const std::string& text);
// "12:3": start after 12 s, last 3 s.
std::pair<double, double> parseSpan(const std::string& text);
// Two hex digits per byte, upper case.
std::string hexBytes(const std::uint8_t* bytes, std::size_t count);

}  // namespace nxtka::sim
