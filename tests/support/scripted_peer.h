// A scripted amplifier for the exchange tests: it reads whole commands (code
// plus the table's parameter bytes) from the other end of the line and
// answers each one as the test says, optionally late. It records every
// command with its arrival time.
#pragma once

#include "core/command_table.h"
#include "platform/platform.h"
#include "platform/virtual_device.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nxtka::test {

// The far end of a line.
class PeerEnd {
public:
    virtual ~PeerEnd() = default;
    // Up to `max` bytes, waiting at most `ms` for the first; 0 on time-out.
    virtual std::size_t read(std::uint8_t* buf, std::size_t max, std::uint32_t ms) = 0;
    virtual void write(const std::vector<std::uint8_t>& bytes) = 0;
};

class VirtualPeerEnd final : public PeerEnd {
public:
    explicit VirtualPeerEnd(std::shared_ptr<platform::VirtualLink> link) : link_(std::move(link)) {}
    std::size_t read(std::uint8_t* buf, std::size_t max, std::uint32_t ms) override {
        return link_->peerRead(buf, max, ms);
    }
    void write(const std::vector<std::uint8_t>& bytes) override { link_->peerWrite(bytes); }

private:
    std::shared_ptr<platform::VirtualLink> link_;
};

// A pseudo-terminal: the test holds the master, the library opens the slave.
class PtyPeerEnd final : public PeerEnd {
public:
    PtyPeerEnd() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0) return;
        slavePath_ = name;
        // Keep one slave handle open, raw, so the master never sees a hang-up
        // between the library's opens and nothing is echoed back.
        keep_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (keep_ >= 0 && tcgetattr(keep_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(keep_, TCSANOW, &t);
        }
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPeerEnd() override {
        if (keep_ >= 0) close(keep_);
        if (master_ >= 0) close(master_);
    }
    const std::string& slavePath() const { return slavePath_; }
    bool ok() const { return master_ >= 0 && keep_ >= 0; }
    // Closes the master: the library's side hangs up.
    void hangUp() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

    std::size_t read(std::uint8_t* buf, std::size_t max, std::uint32_t ms) override {
        if (master_ < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return 0;
        }
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(ms)) <= 0) return 0;
        const ssize_t n = ::read(master_, buf, max);
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    void write(const std::vector<std::uint8_t>& bytes) override {
        std::size_t done = 0;
        while (master_ >= 0 && done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                poll(&p, 1, 100);
            } else {
                return;
            }
        }
    }

private:
    int master_ = -1;
    int keep_ = -1;
    std::string slavePath_;
};

struct Reply {
    std::vector<std::uint8_t> bytes;  // empty: no answer
    std::uint32_t delayMs = 0;
};

struct ReceivedCommand {
    int code;
    std::vector<std::uint8_t> params;
    std::uint32_t tick;
};

class ScriptedPeer {
public:
    using Script = std::function<Reply(int code, const std::vector<std::uint8_t>& params)>;

    ScriptedPeer(PeerEnd& end, Script script) : end_(end), script_(std::move(script)) {
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedPeer() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    std::vector<ReceivedCommand> commands() const {
        std::lock_guard<std::mutex> l(mu_);
        return commands_;
    }
    std::vector<int> codes() const {
        std::vector<int> out;
        for (const auto& c : commands()) out.push_back(c.code);
        return out;
    }
    // Waits until `n` commands have arrived (at most `ms`).
    bool waitForCommands(std::size_t n, std::uint32_t ms = 3000) const {
        const std::uint32_t start = platform::tickCount();
        while (commands().size() < n) {
            if (platform::tickCount() - start > ms) return false;
            platform::sleepMs(2);
        }
        return true;
    }

private:
    void run() {
        std::vector<std::uint8_t> pending;
        std::uint8_t buf[256];
        while (!stop_) {
            const std::size_t n = end_.read(buf, sizeof buf, 20);
            pending.insert(pending.end(), buf, buf + n);
            while (!pending.empty()) {
                const int code = pending[0];
                const int p = paramBytesOf(code) > 0 ? paramBytesOf(code) : 0;
                if (pending.size() < static_cast<std::size_t>(1 + p)) break;
                std::vector<std::uint8_t> params(pending.begin() + 1, pending.begin() + 1 + p);
                pending.erase(pending.begin(), pending.begin() + 1 + p);
                {
                    std::lock_guard<std::mutex> l(mu_);
                    commands_.push_back({code, params, platform::tickCount()});
                }
                Reply r = script_(code, params);
                if (r.delayMs != 0) platform::sleepMs(r.delayMs);
                if (!r.bytes.empty()) end_.write(r.bytes);
            }
        }
    }

    PeerEnd& end_;
    Script script_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mu_;
    std::vector<ReceivedCommand> commands_;
    std::thread thread_;
};

// ";" followed by the answer's bytes, most significant first.
inline std::vector<std::uint8_t> answer(std::uint32_t value, int bytes) {
    std::vector<std::uint8_t> out{';'};
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}

}  // namespace nxtka::test
