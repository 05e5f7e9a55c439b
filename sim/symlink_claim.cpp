#include "symlink_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace nxtka::sim {

SymlinkClaim::SymlinkClaim(const std::string& link) : path_(link + ".owner") {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw std::runtime_error("cannot create " + path_ + ": " + std::strerror(errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        char pid[32] = {};
        const ssize_t n = ::pread(fd_, pid, sizeof pid - 1, 0);
        ::close(fd_);
        fd_ = -1;
        std::string owner = n > 0 ? std::string(pid, static_cast<std::size_t>(n)) : std::string("?");
        while (!owner.empty() && owner.back() == '\n') owner.pop_back();
        throw std::runtime_error(link + " belongs to another running simulator (pid " + owner + ")");
    }
    const std::string mine = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, mine.data(), mine.size(), 0) < 0) {
        // the lock alone keeps the name; the pid is only for the message
    }
}

SymlinkClaim::~SymlinkClaim() {
    if (fd_ < 0) return;
    ::unlink(path_.c_str());
    ::close(fd_);
}

}  // namespace nxtka::sim
