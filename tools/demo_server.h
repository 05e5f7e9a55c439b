// The simulated amplifier of `nxtka demo`, served on a pseudo-terminal in
// this process. Only the simulator lives here: the tool talks to it through
// the library like to any device.
#pragma once

#include <memory>
#include <string>

namespace nxtka_cli {

struct DemoSignal {
    double rate = 50.0;       // values per second
    double amplitude = 0.8;   // of the sine, on the normalized scale
    unsigned period = 100;    // values per sine period
};

class DemoServer {
public:
    // Throws ToolError when no pseudo-terminal can be had.
    explicit DemoServer(const DemoSignal& signal);
    ~DemoServer();
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    const std::string& device() const;
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace nxtka_cli
