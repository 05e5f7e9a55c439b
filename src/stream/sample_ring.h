// The per-port ring of raw measured values. Records stay raw until the
// application reads them, so the receive thread does as little as possible
// per frame. Not synchronised: every user holds the port's ring mutex.
//
// Beside the records the ring keeps their arrival times as runs: the records
// of one append share a time, so a read that stores 800 frames writes one
// run, not 800 times. Sequence numbers need
// no storage: the records in the ring are numbered without a gap from the
// oldest one's number on, and every record that leaves the ring (read,
// dropped when full, discarded) moves that number on by one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace nxtka {

// One received measured value, exactly as the frame carried it.
struct SampleRecord {
    std::uint32_t value;  // 16/24-bit raw code, or the bit pattern of a float (text frames)
    std::uint8_t status;  // the frame's status byte, 0 for frames without one
    std::uint8_t kind;    // 0xA5 (16-bit), ',' (24-bit), '+' or '-' (text)
    std::uint16_t reserved;
};
static_assert(sizeof(SampleRecord) == 8);

inline constexpr std::uint8_t kKind16 = 0xA5;
inline constexpr std::uint8_t kKind24 = ',';

inline constexpr std::uint32_t kMaxRingCapacity = 0x1FFFFFFF;

class SampleRing {
public:
    // Allocates `capacity` slots (clamped to 1..kMaxRingCapacity). False when
    // the storage cannot be had.
    bool allocate(std::int64_t capacity) {
        if (capacity < 1) capacity = 1;
        if (capacity > kMaxRingCapacity) capacity = kMaxRingCapacity;
        slots_.reset(new (std::nothrow) SampleRecord[static_cast<std::size_t>(capacity)]);
        // Every run holds at least one record, so `capacity` runs always suffice.
        runs_.reset(new (std::nothrow) TimeRun[static_cast<std::size_t>(capacity)]);
        if (!slots_ || !runs_) {
            slots_.reset();
            runs_.reset();
            return false;
        }
        capacity_ = static_cast<std::uint32_t>(capacity);
        head_ = tail_ = count_ = 0;
        runTail_ = runCount_ = 0;
        tailSequence_ = 0;
        overflowed_ = 0;
        return true;
    }

    // Appends, dropping the oldest record when full. True when the record
    // entered an empty ring (the moment the data event is set).
    bool append(const SampleRecord& r, std::int64_t timeNs = 0) { return append(&r, 1, timeNs); }

    // Appends `n` records in order, all arrived at `timeNs`, as n single
    // appends would: when they do not fit, the oldest (already stored or
    // among these) are dropped and counted. True when the ring was empty
    // before and `n` is not 0.
    bool append(const SampleRecord* r, std::uint32_t n, std::int64_t timeNs = 0) {
        if (n == 0) return false;
        const bool wasEmpty = count_ == 0;
        const bool overflows = n > capacity_ - count_;
        if (overflows) {
            const std::uint64_t lost = std::uint64_t{count_} + n - capacity_;
            tailSequence_ += lost;
            overflowed_ += lost;
            popTimes(static_cast<std::uint32_t>(std::min<std::uint64_t>(lost, count_)), nullptr);
        }
        if (n > capacity_) {
            // Only the newest `capacity_` survive; they land where single
            // appends would have put them.
            const std::uint32_t skip = n - capacity_;
            head_ = static_cast<std::uint32_t>((static_cast<std::uint64_t>(head_) + skip) % capacity_);
            r += skip;
            n = capacity_;
        }
        const std::uint32_t first = std::min(n, capacity_ - head_);
        std::memcpy(&slots_[head_], r, first * sizeof(SampleRecord));
        std::memcpy(&slots_[0], r + first, (n - first) * sizeof(SampleRecord));
        pushRun(timeNs, n);
        head_ = after(head_, first, n);
        if (overflows) {
            count_ = capacity_;
            tail_ = head_;
        } else {
            count_ += n;
        }
        return wasEmpty;
    }

    // The oldest record, taken off the ring. Only with count() > 0.
    SampleRecord takeOldest() {
        SampleRecord r{};
        take(&r, 1);
        return r;
    }

    // Takes the `n` oldest records (n <= count()) off the ring into `out`,
    // oldest first; `out` needs no alignment. Their arrival times go to
    // `times` unless it is null.
    void take(void* out, std::uint32_t n, std::int64_t* times = nullptr) {
        auto* dest = static_cast<unsigned char*>(out);
        const std::uint32_t first = std::min(n, capacity_ - tail_);
        std::memcpy(dest, &slots_[tail_], first * sizeof(SampleRecord));
        std::memcpy(dest + first * sizeof(SampleRecord), &slots_[0], (n - first) * sizeof(SampleRecord));
        popTimes(n, times);
        tail_ = after(tail_, first, n);
        count_ -= n;
        tailSequence_ += n;
    }

    // Drops every unread record, keeping the write position; returns how many.
    std::uint32_t dropAll() {
        const std::uint32_t n = count_;
        tail_ = static_cast<std::uint32_t>((static_cast<std::uint64_t>(tail_) + n) % capacity_);
        count_ = 0;
        runTail_ = runCount_ = 0;
        tailSequence_ += n;
        return n;
    }

    // Empties the ring and starts it afresh at slot 0; the numbering goes on.
    void clear() {
        tailSequence_ += count_;
        head_ = tail_ = count_ = 0;
        runTail_ = runCount_ = 0;
    }

    // The sequence number of the oldest record (of the next one to arrive
    // when the ring is empty): the count of records stored before it.
    std::uint64_t oldestSequence() const { return tailSequence_; }
    // Records dropped because the ring was full.
    std::uint64_t overflowed() const { return overflowed_; }

    std::uint32_t count() const { return count_; }
    std::uint32_t capacity() const { return capacity_; }
    std::uint32_t head() const { return head_; }
    std::uint32_t tail() const { return tail_; }

private:
    struct TimeRun {
        std::int64_t time;    // ns since 1970 (UTC)
        std::uint32_t count;  // records of this time, at least 1
    };

    std::uint32_t nextRun(std::uint32_t i) const { return i + 1 == capacity_ ? 0 : i + 1; }

    // Adds the time of `n` new records (n >= 1); a run of the same time grows.
    void pushRun(std::int64_t timeNs, std::uint32_t n) {
        if (runCount_ != 0) {
            const std::uint32_t last = runTail_ + runCount_ - 1;
            TimeRun& run = runs_[last >= capacity_ ? last - capacity_ : last];
            if (run.time == timeNs) {
                run.count += n;
                return;
            }
        }
        const std::uint32_t at = runTail_ + runCount_;
        runs_[at >= capacity_ ? at - capacity_ : at] = {timeNs, n};
        ++runCount_;
    }

    // Removes the times of the `n` oldest records, copied to `out` unless it is null.
    void popTimes(std::uint32_t n, std::int64_t* out) {
        while (n != 0) {
            TimeRun& run = runs_[runTail_];
            const std::uint32_t k = std::min(n, run.count);
            if (out != nullptr) out = std::fill_n(out, k, run.time);
            run.count -= k;
            n -= k;
            if (run.count == 0) {
                runTail_ = nextRun(runTail_);
                --runCount_;
            }
        }
    }

    // The slot behind `n` records copied from `pos`, `first` of them before the wrap.
    std::uint32_t after(std::uint32_t pos, std::uint32_t first, std::uint32_t n) const {
        return n - first != 0 ? n - first : (pos + first == capacity_ ? 0 : pos + first);
    }

    std::unique_ptr<SampleRecord[]> slots_;
    std::unique_ptr<TimeRun[]> runs_;  // a ring of runs beside the slots, oldest at runTail_
    std::uint32_t runTail_ = 0;
    std::uint32_t runCount_ = 0;
    std::uint64_t tailSequence_ = 0;
    std::uint64_t overflowed_ = 0;
    std::uint32_t capacity_ = 0;
    std::uint32_t head_ = 0;
    std::uint32_t tail_ = 0;
    std::uint32_t count_ = 0;
};

}  // namespace nxtka
