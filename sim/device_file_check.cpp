#include "device_file_check.h"

#include <fstream>

namespace nxtka::sim {
namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::string unquoted(const std::string& s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) return s.substr(1, s.size() - 2);
    return s;
}

}  // namespace

// Reads lines as the parser does: lines shorter than 3 characters, comments
// (';', '#') and [sections] carry no setting; a value that opens an array
// with '[' runs on to the line that closes it.
std::string deviceFileProblem(const std::string& path, const std::function<bool(const std::string& key)>& takesKey) {
    std::ifstream in(path);
    std::string section;
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        const std::string line = trimmed(raw);
        if (line.size() < 3 || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = trimmed(line.substr(1, line.size() - 2));
            if (section == "default" || section == "DEFAULT") section.clear();
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string key = unquoted(trimmed(line.substr(0, equals)));
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (!section.empty() && takesKey(key))
            return where + "'" + key + "' stands in section [" + section + "]; settings come before any section";
        if (!section.empty() || !takesKey(key))
            return where + "'" + (section.empty() ? key : section + "." + key) +
                   "' is not a setting (a line is KEY = VALUE, KEY a long option without '--' as "
                   "nxtka-sim --help lists them)";
        if (equals == std::string::npos) continue;
        std::string value = trimmed(line.substr(equals + 1));
        if (value.size() > 1 && value.front() == '[') {
            while (value.back() != ']' && std::getline(in, raw)) {
                ++number;
                value += trimmed(raw);
            }
        }
    }
    return {};
}

}  // namespace nxtka::sim
