#include "csv_sink.h"

#include "units.h"

#include "cli_core.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace nxtka_cli {
namespace {

// The sample number of a whole row "7,12.340000,0.41234500,0".
bool sampleOfRow(const std::string& line, std::uint64_t& sample) {
    unsigned long long n = 0;
    double t = 0, v = 0;
    unsigned status = 0;
    int end = -1;
    if (std::sscanf(line.c_str(), "%llu,%lf,%lf,%u%n", &n, &t, &v, &status, &end) != 4 ||
        end != static_cast<int>(line.size()))
        return false;
    sample = n;
    return true;
}

// For --append: the sample number the next row gets, after checking that the
// file holds this tool's header and ends with a whole row. A missing or
// empty file starts at 0.
std::uint64_t nextSampleOf(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        if (errno == ENOENT) return 0;
        throw ToolError("--append: cannot read " + path + ": " + std::strerror(errno), kExitUsage);
    }
    char head[256] = {};
    const bool hasHead = std::fgets(head, sizeof head, f) != nullptr;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::string tail(static_cast<std::size_t>(std::min<long>(size, 4096)), '\0');
    std::fseek(f, size - static_cast<long>(tail.size()), SEEK_SET);
    const std::size_t got = std::fread(tail.data(), 1, tail.size(), f);
    std::fclose(f);
    if (!hasHead) return 0;
    std::string first = head;
    if (!first.empty() && first.back() == '\n') first.pop_back();
    if (first != kCsvHeader)
        throw ToolError("--append: " + path + " begins with '" + first + "', not this tool's header " + kCsvHeader +
                            " (append to a file of monitor rows, or write a new one)",
                        kExitUsage);
    tail.resize(got);
    if (tail.empty() || tail.back() != '\n')
        throw ToolError("--append: the last line of " + path + " is cut short (no line end)", kExitUsage);
    tail.pop_back();
    const std::string last = tail.substr(tail.rfind('\n') == std::string::npos ? 0 : tail.rfind('\n') + 1);
    if (last == kCsvHeader) return 0;
    std::uint64_t sample = 0;
    if (!sampleOfRow(last, sample))
        throw ToolError(
            "--append: the last line of " + path + " is not a row of sample,read_time_s,value,status: " + last,
            kExitUsage);
    return sample + 1;
}

}  // namespace

CsvSink::CsvSink(const std::string& path, bool append) : path_(path), append_(append) {
    if (path_.empty()) return;
    if (!append_) {
        output_ = std::make_unique<OutputFile>(path_, "--csv");
        return;
    }
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw ToolError("--csv " + path_ + " is a directory", kExitUsage);
        if (::access(path_.c_str(), W_OK) != 0)
            throw ToolError("cannot write " + path_ + ": " + std::strerror(errno), kExitUsage);
    } else {
        OutputFile check(path_, "--csv");  // the directory takes a new file
    }
    firstSample_ = nextSampleOf(path_);
}

void CsvSink::setScale(const Scale* scale) {
    if (scale != nullptr && append_)
        throw ToolError("--append adds normalized rows only: leave out --unit and --scale", kExitUsage);
    scale_ = scale;
}

CsvSink::~CsvSink() {
    if (appended_ != nullptr) std::fclose(appended_);
}

std::FILE* CsvSink::stream() {
    if (output_) {
        const bool first = rows_ == 0;
        std::FILE* f = output_->stream();
        if (first && scale_ != nullptr)
            std::fprintf(f, "# scale %s: %s\n%s,scaled_value,unit\n", scale_->unit.c_str(), scale_->source.c_str(),
                         kCsvHeader);
        else if (first)
            std::fprintf(f, "%s\n", kCsvHeader);
        return f;
    }
    if (appended_ == nullptr) {
        appended_ = std::fopen(path_.c_str(), "a");
        if (appended_ == nullptr) throw ToolError("cannot write " + path_ + ": " + std::strerror(errno));
        if (std::ftell(appended_) == 0) std::fprintf(appended_, "%s\n", kCsvHeader);
    }
    return appended_;
}

void CsvSink::row(std::uint64_t index, double readTimeS, double value, std::uint8_t status) {
    if (!enabled()) return;
    std::FILE* f = stream();
    if (scale_ != nullptr)
        std::fprintf(f, "%s,%.10g,%s\n", formatCsvRow(firstSample_ + index, readTimeS, value, status).c_str(),
                     scale_->apply(value), scale_->unit.c_str());
    else
        std::fprintf(f, "%s\n", formatCsvRow(firstSample_ + index, readTimeS, value, status).c_str());
    ++rows_;
}

bool CsvSink::flush() {
    if (rows_ == 0) return true;
    std::FILE* f = output_ ? output_->stream() : appended_;
    if (std::fflush(f) == 0 && !std::ferror(f)) return true;
    if (toStdout() && errno == EPIPE) return false;
    throw ToolError("writing " + (toStdout() ? std::string("the CSV rows") : path_) +
                    " failed: " + std::strerror(errno));
}

void CsvSink::finish() {
    if (rows_ == 0) return;
    if (output_) {
        output_->commit();
        return;
    }
    const bool written = std::fflush(appended_) == 0 && !std::ferror(appended_);
    const int err = errno;
    std::fclose(appended_);
    appended_ = nullptr;
    if (!written) throw ToolError("writing " + path_ + " failed: " + std::strerror(err));
}

std::string CsvSink::keepPartial() {
    if (rows_ == 0 || toStdout()) return {};
    if (output_) return output_->keepPartial();
    finish();
    return path_;
}

}  // namespace nxtka_cli
