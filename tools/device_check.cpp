#include "device_check.h"

#include "nxtka.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <grp.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nxtka_cli {
namespace {

std::string canonical(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

std::string commandName(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::string groupHint(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    const struct group* g = ::getgrgid(st.st_gid);
    if (g == nullptr || g->gr_name == nullptr || std::strcmp(g->gr_name, "root") == 0) return {};
    return std::string(", or add the user to group '") + g->gr_name + "'";
}

std::string busyMessage(const std::string& path) {
    const std::string holder = deviceHolder(path);
    return path + " is in use by another process" + (holder.empty() ? "" : " (" + holder + ")") +
           "; close that program or choose another device";
}

}  // namespace

std::optional<std::string> precheckDevice(const std::string& path) {
    struct stat st {};
    if (path.empty()) return std::string("no device name given");
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) {
            struct stat lst {};
            if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode))
                return path + " is a symbolic link to nothing (check where it points, or the device behind it is gone)";
            return path + " does not exist (check the device name and that the adapter is plugged in)";
        }
        if (err == EACCES) return "no permission to look at " + path + " (check the permissions of its directory)";
        return "cannot look at " + path + ": " + std::strerror(err);
    }
    if (S_ISDIR(st.st_mode)) return path + " is a directory, not a device (give the serial port, e.g. /dev/ttyUSB0)";
    if (!S_ISCHR(st.st_mode))
        return path + " is not a character device (give the serial port, e.g. /dev/ttyS0 or /dev/ttyUSB0)";
    return std::nullopt;
}

std::optional<std::string> explainOpenFailure(const std::string& path) {
    char reason[256] = {};
    const int32_t why = NXgetLastFailure(reason, sizeof reason);
    if (why == NXTKA_FAILURE_TIMEOUT || why == NXTKA_FAILURE_NONE) return std::nullopt;
    if (why != NXTKA_FAILURE_DEVICE) return std::string(reason);
    // The device failed: look at it for a friendlier word (its holder, its group).
    if (auto pre = precheckDevice(path)) return pre;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EBUSY) return busyMessage(path);
        if (err == EACCES || err == EPERM)
            return "no permission to open " + path + " (check its mode" + groupHint(path) + ")";
        if (err == ENXIO || err == ENODEV || err == EIO)
            return path + " has no device behind it (" + std::strerror(err) + "; check the adapter or the driver)";
        return "cannot open " + path + ": " + std::strerror(err);
    }
    std::optional<std::string> problem;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        problem = errno == EWOULDBLOCK ? busyMessage(path)
                                       : "cannot lock " + path + ": " + std::strerror(errno);
    } else if (!::isatty(fd)) {
        problem = path + " is not a serial port (not a terminal device)";
    }
    ::close(fd);  // also drops the lock
    if (!problem) problem = std::string(reason);
    return problem;
}

namespace {

// The process holding a flock on the device's inode, from /proc/locks.
std::string lockHolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        char kind[16] = {}, mode[16] = {}, access[16] = {};
        long pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(line.c_str(), "%*d: %15s %15s %15s %ld %x:%x:%lu", kind, mode, access, &pid, &major, &minor,
                        &inode) != 7)
            continue;
        if (std::strcmp(kind, "FLOCK") != 0 || inode != st.st_ino || major != ::major(st.st_dev) ||
            minor != ::minor(st.st_dev) || pid == ::getpid())
            continue;
        const std::string p = std::to_string(pid);
        const std::string name = commandName(p);
        return "pid " + p + (name.empty() ? "" : ", " + name);
    }
    return {};
}

}  // namespace

namespace {

bool isPid(const std::string& name) {
    return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

std::string describe(const std::string& pid) {
    const std::string name = commandName(pid);
    return "pid " + pid + (name.empty() ? "" : ", " + name);
}

// Calls visit(pid, fd, target) for each open descriptor of every other
// process that can be seen; visit returns false to go to the next process.
template <class Visit>
void forEachDescriptor(Visit visit) {
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return;
    while (const dirent* e = ::readdir(proc)) {
        const std::string pid = e->d_name;
        if (!isPid(pid) || pid == self) continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) continue;
        while (const dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            char link[PATH_MAX];
            const ssize_t n = ::readlink((fdDir + "/" + f->d_name).c_str(), link, sizeof link - 1);
            if (n <= 0) continue;
            link[n] = '\0';
            if (!visit(pid, std::string(f->d_name), std::string(link))) break;
        }
        ::closedir(fds);
    }
    ::closedir(proc);
}

// N of /dev/pts/N, or -1.
long ptsIndex(const std::string& canonicalPath) {
    constexpr std::string_view prefix = "/dev/pts/";
    if (canonicalPath.rfind(prefix, 0) != 0) return -1;
    const std::string digits = canonicalPath.substr(prefix.size());
    return isPid(digits) ? std::strtol(digits.c_str(), nullptr, 10) : -1;
}

// The pids holding the master side of /dev/pts/N.
std::vector<std::string> masterHolders(long index) {
    std::vector<std::string> pids;
    if (index < 0) return pids;
    forEachDescriptor([&](const std::string& pid, const std::string& fd, const std::string& target) {
        if (target != "/dev/ptmx" && target != "/dev/pts/ptmx") return true;
        std::ifstream info("/proc/" + pid + "/fdinfo/" + fd);
        for (std::string line; std::getline(info, line);) {
            long n = -1;
            if (std::sscanf(line.c_str(), "tty-index: %ld", &n) == 1 && n == index) {
                pids.push_back(pid);
                return false;
            }
        }
        return true;
    });
    return pids;
}

}  // namespace

std::vector<std::string> deviceUsers(const std::string& path) {
    const std::string target = canonical(path);
    const std::vector<std::string> farEnd = masterHolders(ptsIndex(target));
    std::vector<std::string> users;
    forEachDescriptor([&](const std::string& pid, const std::string&, const std::string& link) {
        if (link != target) return true;
        if (std::find(farEnd.begin(), farEnd.end(), pid) == farEnd.end()) users.push_back(describe(pid));
        return false;
    });
    return users;
}

std::string pseudoTerminalFarEnd(const std::string& path) {
    const std::vector<std::string> pids = masterHolders(ptsIndex(canonical(path)));
    return pids.empty() ? std::string() : describe(pids.front());
}

std::string deviceHolder(const std::string& path) {
    if (std::string locker = lockHolder(path); !locker.empty()) return locker;
    const std::string target = canonical(path);
    std::string found;
    forEachDescriptor([&](const std::string& pid, const std::string&, const std::string& link) {
        if (link == target && found.empty()) found = describe(pid);
        return found.empty();
    });
    return found;
}

}  // namespace nxtka_cli
