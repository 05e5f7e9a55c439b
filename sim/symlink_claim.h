// A --symlink owned by one running simulator: a lock file next to it
// ("<link>.owner", holding the owner's process id) is locked for as long as
// the simulator runs, so a second one refuses the name instead of taking it.
#pragma once

#include <string>

namespace nxtka::sim {

class SymlinkClaim {
public:
    // Throws std::runtime_error naming the owner when another process holds it.
    explicit SymlinkClaim(const std::string& link);
    ~SymlinkClaim();
    SymlinkClaim(const SymlinkClaim&) = delete;
    SymlinkClaim& operator=(const SymlinkClaim&) = delete;

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace nxtka::sim
