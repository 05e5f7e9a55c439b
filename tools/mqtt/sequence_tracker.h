// What a subscriber makes of the batches of one amplifier: per session the
// next sequence number it expects; a batch before it is a duplicate (QoS 1
// may deliver a batch twice, a restarted gateway sends its spool again), a
// batch after it shows a gap. Pure.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

namespace nxtka_cli::mqtt {

struct Admission {
    std::uint64_t skip = 0;  // leading values already seen: drop them
    std::uint64_t take = 0;  // the values after those: new
    std::optional<std::pair<std::uint64_t, std::uint64_t>> gap;  // [from, to) never seen before this batch
};

class SequenceTracker {
public:
    Admission add(std::uint64_t session, std::uint64_t first, std::uint64_t count) {
        Admission a;
        const auto it = next_.find(session);
        if (it == next_.end()) {
            // The first batch of a session: from 0 on, or where a late
            // subscriber came in; nothing before it counts as missing.
            next_[session] = first + count;
            a.take = count;
            ++sessions_;
        } else if (first + count <= it->second) {
            a.skip = count;
        } else {
            if (first > it->second) {
                a.gap = std::make_pair(it->second, first);
                missing_ += first - it->second;
                ++gaps_;
            }
            a.skip = first < it->second ? it->second - first : 0;
            a.take = count - a.skip;
            it->second = first + count;
        }
        duplicates_ += a.skip;
        values_ += a.take;
        return a;
    }
    std::uint64_t values() const { return values_; }
    std::uint64_t duplicates() const { return duplicates_; }
    std::uint64_t missing() const { return missing_; }
    std::uint64_t gaps() const { return gaps_; }
    std::uint64_t sessions() const { return sessions_; }

private:
    std::map<std::uint64_t, std::uint64_t> next_;
    std::uint64_t values_ = 0, duplicates_ = 0, missing_ = 0, gaps_ = 0, sessions_ = 0;
};

}  // namespace nxtka_cli::mqtt
