#include "signals.h"

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace nxtka_cli {
namespace {

// SIGUSR2 only ends the watcher when the tool itself is done.
sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR2);
    return set;
}

void say(const char* text) {
    std::size_t n = 0;
    while (text[n] != '\0') ++n;
    [[maybe_unused]] const ssize_t w = ::write(STDERR_FILENO, text, n);
}

}  // namespace

SignalWatch::SignalWatch() {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
    thread_ = std::thread([this] { run(); });
}

SignalWatch::~SignalWatch() {
    quitting_.store(true);
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
    if (pipe_[0] >= 0) ::close(pipe_[0]);
    if (pipe_[1] >= 0) ::close(pipe_[1]);
}

void SignalWatch::run() {
    const sigset_t set = watchedSignals();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (sig == SIGUSR2) {
            if (quitting_.load()) return;
            continue;
        }
        if (interruptNow_.load()) {
            say("\nnxtka: interrupted\n");
            ::_exit(130);
        }
        if (const char* point = stopPoint_.load()) {
            say("\nnxtka: stopping ");
            say(point);
            say("\n");
        }
        if (stop_.exchange(true)) continue;
        if (pipe_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t w = ::write(pipe_[1], &byte, 1);
        }
    }
}

}  // namespace nxtka_cli
