#include "output_file.h"

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

OutputFile::OutputFile(std::string path, const std::string& option) : path_(std::move(path)) {
    if (path_.empty()) throw ToolError(option + " needs a file name (-: standard output)", kExitUsage);
    if (toStdout()) return;
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw ToolError(option + " " + path_ + " is a directory", kExitUsage);
    const std::string dir = directoryOf(path_);
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ToolError(option + " " + path_ + ": the directory " + dir + " does not exist", kExitUsage);
    if (::access(dir.c_str(), W_OK) != 0)
        throw ToolError(option + " " + path_ + ": cannot create files in " + dir + " (" + std::strerror(errno) + ")",
                        kExitUsage);
}

OutputFile::~OutputFile() {
    if (file_ == nullptr || file_ == stdout) return;
    const bool empty = std::ftell(file_) <= 0;
    std::fclose(file_);
    if (empty) ::unlink(tempPath_.c_str());
}

std::FILE* OutputFile::stream() {
    if (file_ != nullptr) return file_;
    if (toStdout()) return file_ = stdout;
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
    return file_;
}

void OutputFile::commit() {
    std::FILE* f = stream();
    if (f == stdout) {
        std::fflush(stdout);
        return;
    }
    file_ = nullptr;
    const bool written = std::fflush(f) == 0 && !std::ferror(f);
    const int err = errno;
    if (std::fclose(f) != 0 || !written)
        throw ToolError("cannot write " + tempPath_ + ": " + std::strerror(err) + "; " + path_ + " is unchanged");
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0)
        throw ToolError("the result is in " + tempPath_ + ": renaming it to " + path_ + " failed (" +
                        std::strerror(errno) + ")");
}

std::string OutputFile::keepPartial() {
    if (file_ == nullptr || file_ == stdout) return {};
    std::FILE* f = file_;
    file_ = nullptr;
    const bool empty = std::ftell(f) <= 0;
    std::fclose(f);
    if (empty) {
        ::unlink(tempPath_.c_str());
        return {};
    }
    return tempPath_;
}

std::string partialNote(const std::string& path, const std::string& partial, const std::string& what) {
    if (partial.empty()) return {};
    struct stat st {};
    const std::string kept = ::stat(path.c_str(), &st) == 0 ? path + " is unchanged, " : "";
    return "; " + kept + what + " in " + partial;
}

}  // namespace nxtka_cli
