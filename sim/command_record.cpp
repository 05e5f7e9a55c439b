#include "command_record.h"

namespace nxtka::sim {

std::uint64_t ReceivedCommand::value() const {
    std::uint64_t v = 0;
    for (std::uint8_t b : params) v = (v << 8) | b;
    return v;
}

void CommandRecord::add(const ReceivedCommand& c) {
    ++counts_[c.code];
    ++total_;
    log_.push_back(c);
    if (log_.size() > kLogLimit) log_.pop_front();
    if (c.defined) return;
    ++undefinedCount_;
    if (undefined_.size() < kLogLimit) undefined_.push_back(c);
}

void CommandRecord::clear() {
    log_.clear();
    undefined_.clear();
    undefinedCount_ = 0;
    unmodelled_ = 0;
    counts_.fill(0);
    total_ = 0;
}

}  // namespace nxtka::sim
