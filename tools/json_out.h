// The --json forms of the tool's output, one JSON document per command.
#pragma once

#include "nxtka.h"
#include "port_list.h"
#include "settings.h"
#include "stream_view.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nxtka_cli {

struct Scale;

// {"setting": name, "value": plain value or null, "unit": "bit/s" (only when
// there is one), "text": the decoded text, or "error": why it failed}
std::string readingJson(const std::string& name, const Reading& reading);

// {"device", "port", "library", "settings": {name: reading as above}}
std::string infoJson(const std::string& device, std::uint32_t port, const std::string& library,
                     const std::vector<std::pair<std::string, Reading>>& readings);

// [{"name", "get", "set", "unit", "range", "meaning"}]
std::string listJson();

// [{"device", "by_id", "transport", "usb_id", "serial", "description", "holder"}]
std::string portsJson(const std::vector<PortInfo>& ports);

// {"device", "values", "seconds", "rate", "min", "max", "mean",
//  "statuses": {"0x00": n}, "interrupted", "csv": path or null, "csv_rows",
//  with a scale "scale": {"unit", "factor", "offset", "source"}}
std::string summaryJson(const std::string& device, const StreamResult& result, const std::string& csvPath,
                        std::uint64_t csvRows, const Scale* scale = nullptr);

// {"setting", "set": the value as given, "value", "unit", "text": what the
// amplifier holds afterwards (null when it is not read back), "holds": true
// when that is the value set}
std::string setJson(const std::string& name, const std::string& asked, const Reading* back, bool holds);

// {"procedure", "came_back", "seconds"}
std::string adjustJson(const std::string& procedure, bool cameBack, double seconds);

struct RangeEntry {
    std::uint32_t first, second;
    std::int32_t status;
    double value;
};
// [{"first", "second", "status", "value"}]
std::string rangesJson(const std::vector<RangeEntry>& entries);

// {"from", "bytes": [numbers]}
std::string memoryJson(std::uint32_t from, const std::vector<std::uint8_t>& bytes);
// {"from", "count", "faulty": [{"address", "status", "meaning"}]}
struct FaultyByte {
    std::uint32_t address;
    std::int32_t status;
    std::string meaning;
};
std::string memoryCheckJson(std::uint32_t from, std::int32_t count, const std::vector<FaultyByte>& faulty);
// {"from", "written"}
std::string memoryWriteJson(std::uint32_t from, std::size_t written);

// {"table": path or null, "points": [[input, output]], "extra": [input, output]}
std::string linearTableJson(const std::string& table, const std::vector<LinearPoint>& points, LinearPoint extra);
// {"action": "write" or "check", "points", "written": bool}
std::string linearWriteJson(const std::string& action, std::int32_t points, bool written);

// {"device", "sent": [numbers], "received": [numbers] (with --wait), "wait_ms"}
std::string sendJson(const std::string& device, const std::vector<std::uint8_t>& sent,
                     const std::vector<std::uint8_t>* received, std::int64_t waitMs);

}  // namespace nxtka_cli
