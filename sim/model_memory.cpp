#include "amplifier_model.h"

#include "core/command_table.h"

namespace nxtka::sim {

// Memory cells and linearization tables.
void AmplifierModel::installMemoryHandlers() {
    using R = std::optional<std::uint64_t>;
    // Memory: ReadMemory reads the word at index*4 (data bytes, then status),
    // WriteMemory writes one byte.
    on(cmd::kReadMemory, [this](const ReceivedCommand& c) -> R {
        const std::size_t a = static_cast<std::size_t>(c.params[0]) * 4;
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | memory_[a + k];
        return (v << 8) | 0xA0;
    });
    on(cmd::kWriteMemory, [this](const ReceivedCommand& c) -> R {
        const std::size_t a = (static_cast<std::size_t>(c.params[0] & 3) << 8) | c.params[1];
        memory_[a] = c.params[2];
        return 0xA0;
    });

}

}  // namespace nxtka::sim
