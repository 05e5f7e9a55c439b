// Running programs for the tool's tests: one to completion with its output
// captured, and the simulator program kept running in the background.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace nxtka_cli::test {

struct RunResult {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out, err;
    bool timedOut = false;
};

inline std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> v;
    for (std::string& a : args) v.push_back(a.data());
    v.push_back(nullptr);
    return v;
}

// Runs the program with no standard input and kills it after `timeout`.
// With a `marker`, sends it SIGINT `interruptAfter` after its stdout showed
// the marker (without one, `interruptAfter` after the start, when that is
// not 0), and once more `secondInterrupt` later when that is given.
inline RunResult run(std::vector<std::string> args, std::chrono::milliseconds timeout = std::chrono::seconds(20),
                     const std::string& marker = {},
                     std::chrono::milliseconds interruptAfter = std::chrono::milliseconds(0),
                     std::chrono::milliseconds secondInterrupt = std::chrono::milliseconds(-1)) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<char*> argv = argvOf(args);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    RunResult r;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool interrupted = marker.empty() && interruptAfter.count() == 0;
    std::chrono::steady_clock::time_point markerSeen{};
    if (marker.empty()) markerSeen = std::chrono::steady_clock::now();
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!interrupted && markerSeen == std::chrono::steady_clock::time_point{} &&
            r.out.find(marker) != std::string::npos)
            markerSeen = std::chrono::steady_clock::now();
        if (!interrupted && markerSeen != std::chrono::steady_clock::time_point{} &&
            std::chrono::steady_clock::now() >= markerSeen + interruptAfter) {
            ::kill(pid, SIGINT);
            if (secondInterrupt.count() >= 0) {
                ::usleep(static_cast<useconds_t>(secondInterrupt.count() * 1000));
                ::kill(pid, SIGINT);
            }
            interrupted = true;
        }
        if (left.count() <= 0) {
            r.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        const int wait = interrupted ? static_cast<int>(left.count()) : 20;
        if (::poll(fds, 2, wait) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int ws = 0;
    ::waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    return r;
}

// A program started in the background with `device` as its standard input
// (so it holds the device open, without a lock), killed at the end.
class Holder {
public:
    Holder(const std::string& device, std::vector<std::string> args) {
        std::vector<char*> argv = argvOf(args);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
            if (fd < 0) ::_exit(127);
            ::dup2(fd, 0);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Holder() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// The simulator program (prints "device: PATH", then "ready"), stopped with
// SIGTERM at the end. Its stderr goes to a file (the command log with -v).
class SimProcess {
public:
    SimProcess(const std::string& program, std::vector<std::string> options, const std::string& logPath = "/dev/null") {
        std::vector<std::string> args{program};
        args.insert(args.end(), options.begin(), options.end());
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        std::vector<char*> argv = argvOf(args);
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out[1], 1);
            if (log >= 0) ::dup2(log, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (text.find("ready\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[256];
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        const auto at = text.find("device: ");
        if (at == std::string::npos || text.find("ready\n") == std::string::npos) {
            stop();
            throw std::runtime_error("the simulator did not start: " + text);
        }
        device_ = text.substr(at + 8, text.find('\n', at) - at - 8);
    }
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& device() const { return device_; }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int ws = 0;
            ::waitpid(pid_, &ws, 0);
            pid_ = -1;
        }
        if (out_ >= 0) ::close(out_);
        out_ = -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string device_;
};

}  // namespace nxtka_cli::test
