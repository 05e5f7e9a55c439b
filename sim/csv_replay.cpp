#include "csv_replay.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace nxtka::sim {
namespace {

std::vector<std::string> splitRow(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line);
    std::string cell;
    while (std::getline(in, cell, ',')) {
        while (!cell.empty() && (cell.back() == '\r' || cell.back() == ' ')) cell.pop_back();
        while (!cell.empty() && cell.front() == ' ') cell.erase(0, 1);
        cells.push_back(cell);
    }
    return cells;
}

}  // namespace

std::vector<double> readReplayValues(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::string line;
    std::size_t lineNo = 0;
    std::size_t column = 0;
    bool haveHeader = false;
    std::vector<double> values;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty() || line == "\r" || line[0] == '#') continue;
        const std::vector<std::string> cells = splitRow(line);
        if (!haveHeader) {
            column = cells.empty() ? 0 : cells.size() - 1;
            for (std::size_t i = 0; i < cells.size(); ++i)
                if (cells[i] == "value") column = i;
            haveHeader = true;
            continue;
        }
        const std::string where = path + ":" + std::to_string(lineNo);
        if (column >= cells.size()) throw std::runtime_error(where + ": no value column");
        const char* text = cells[column].c_str();
        char* end = nullptr;
        const double v = std::strtod(text, &end);
        if (end == text || *end != '\0') throw std::runtime_error(where + ": '" + cells[column] + "' is not a number");
        values.push_back(v);
    }
    if (values.empty()) throw std::runtime_error(path + " holds no values");
    return values;
}

}  // namespace nxtka::sim
