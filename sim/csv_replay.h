// Values recorded by the tool's CSV output (or any CSV with a header line),
// read back for replay: the column named "value" (else the last column).
#pragma once

#include <string>
#include <vector>

namespace nxtka::sim {

// Throws std::runtime_error naming the file and line when it cannot be read
// or a row's value is not a number.
std::vector<double> readReplayValues(const std::string& path);

}  // namespace nxtka::sim
