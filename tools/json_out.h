// The --json forms of the tool's output, one JSON document per command.
#pragma once

#include "port_list.h"
#include "settings.h"
#include "stream_view.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nxtka_cli {

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
//  "statuses": {"0x00": n}, "interrupted", "csv": path or null, "csv_rows"}
std::string summaryJson(const std::string& device, const StreamResult& result, const std::string& csvPath,
                        std::uint64_t csvRows);

}  // namespace nxtka_cli
