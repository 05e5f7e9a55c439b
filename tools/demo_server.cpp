#include "demo_server.h"

#include "cli_core.h"
#include "pty_amplifier.h"

#include <exception>

namespace nxtka_cli {

struct DemoServer::Impl {
    explicit Impl(const nxtka::sim::Config& config) : amplifier(config) {}
    nxtka::sim::PtyAmplifier amplifier;
};

DemoServer::DemoServer(const DemoSignal& signal) {
    nxtka::sim::Config config;
    config.reportUndefinedToStderr = false;
    config.stream.rate = signal.rate;
    config.stream.waveform = nxtka::sim::Waveform::Sine;
    config.stream.level = 0.0;
    config.stream.amplitude = signal.amplitude;
    config.stream.period = signal.period;
    try {
        impl_ = std::make_unique<Impl>(config);
    } catch (const std::exception& e) {
        throw ToolError(std::string("cannot start the simulated amplifier: ") + e.what());
    }
}

DemoServer::~DemoServer() = default;

const std::string& DemoServer::device() const { return impl_->amplifier.slavePath(); }

void DemoServer::stop() { impl_->amplifier.stop(); }

}  // namespace nxtka_cli
