#include "cli_core.h"
#include "subcommand.h"

namespace nxtka_cli {

SignalWatch& Context::signals() {
    if (!signals_) {
        signals_.emplace();
        signals_->setStopPoint("when the amplifier has answered");
    }
    return *signals_;
}

void Context::stopHere(const std::string& progress) {
    if (signals_ && signals_->stopRequested())
        throw ToolError(progress.empty() ? "interrupted" : "interrupted: " + progress, kExitInterrupted);
}

}  // namespace nxtka_cli
