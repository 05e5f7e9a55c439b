#include "csv_sink.h"

#include "cli_core.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace nxtka_cli {
namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

ToolError writeError(const std::string& path, int err) {
    return ToolError("cannot write " + path + ": " + std::strerror(err));
}

}  // namespace

CsvSink::CsvSink(std::string path, bool append) : path_(std::move(path)), append_(append) {
    if (path_.empty() || path_ == "-") return;
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw ToolError("--csv " + path_ + " is a directory", kExitUsage);
        if (::access(path_.c_str(), W_OK) != 0 && append_)
            throw ToolError("cannot write " + path_ + ": " + std::strerror(errno), kExitUsage);
    }
    const std::string dir = directoryOf(path_);
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ToolError("--csv " + path_ + ": the directory " + dir + " does not exist", kExitUsage);
    if (!append_ && ::access(dir.c_str(), W_OK) != 0)
        throw ToolError("--csv " + path_ + ": cannot create files in " + dir + " (" + std::strerror(errno) + ")", kExitUsage);
}

CsvSink::~CsvSink() {
    if (file_ != nullptr) close(rows_ > 0);
}

void CsvSink::open() {
    if (toStdout()) {
        file_ = stdout;
        std::fprintf(file_, "%s\n", kCsvHeader);
        return;
    }
    if (append_) {
        file_ = std::fopen(path_.c_str(), "a");
        if (file_ == nullptr) throw writeError(path_, errno);
        struct stat st {};
        if (::fstat(::fileno(file_), &st) == 0 && st.st_size == 0) std::fprintf(file_, "%s\n", kCsvHeader);
        return;
    }
    std::string tmpl = path_ + ".partial-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) throw writeError(path_, errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        throw writeError(path_, err);
    }
    tempPath_ = tmpl;
    std::fprintf(file_, "%s\n", kCsvHeader);
}

void CsvSink::row(std::uint64_t index, double readTimeS, double value, std::uint8_t status) {
    if (!enabled()) return;
    if (file_ == nullptr) open();
    std::fprintf(file_, "%s\n", formatCsvRow(index, readTimeS, value, status).c_str());
    ++rows_;
}

bool CsvSink::flush() {
    if (file_ == nullptr) return true;
    if (std::fflush(file_) == 0 && !std::ferror(file_)) return true;
    if (toStdout() && errno == EPIPE) return false;
    {
        throw ToolError("writing " + (toStdout() ? std::string("the CSV rows") : path_) + " failed: " +
                        std::strerror(errno));
    }
}

void CsvSink::close(bool keep) {
    std::FILE* f = file_;
    file_ = nullptr;
    if (f == stdout) {
        std::fflush(f);
        return;
    }
    const bool written = std::fclose(f) == 0;
    if (tempPath_.empty()) return;
    if (keep && written && ::rename(tempPath_.c_str(), path_.c_str()) == 0) {
        tempPath_.clear();
        return;
    }
    if (!keep) ::unlink(tempPath_.c_str());
}

void CsvSink::finish() {
    if (file_ == nullptr) return;
    std::FILE* f = file_;
    if (f != stdout && std::fflush(f) != 0) throw writeError(path_, errno);
    close(true);
    if (!tempPath_.empty())
        throw ToolError("the rows are in " + tempPath_ + ": renaming it to " + path_ + " failed");
}

}  // namespace nxtka_cli
