// The gateway's on-disk spool of one amplifier (docs/mqtt.md): every batch is
// appended before it is published and stays until the broker acknowledged
// it; a restart finds the batches still waiting. Append-only segment files,
// bounded by bytes: a full spool drops its oldest waiting batch and counts it.
#pragma once

#include "batch_codec.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace nxtka_cli::mqtt {

enum class FsyncPolicy { never, batch, interval };
// "never", "batch", "interval"; nullopt for anything else.
std::optional<FsyncPolicy> fsyncPolicyNamed(std::string_view name);

class Spool {
public:
    struct Entry {
        std::uint64_t session = 0, first = 0;
        std::uint32_t count = 0;
        std::string payload;  // the binary layout
        std::uint32_t segment = 0;
    };

    // Opens (and makes) the directory and takes over the batches its segments
    // still hold; a torn record at the end of a segment is cut off. Throws
    // std::runtime_error naming the file and the reason.
    Spool(std::filesystem::path dir, std::uint64_t maxBytes, FsyncPolicy fsync);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Appends a batch; drops the oldest waiting batches first while the new
    // one would not fit (each counted). Returns its id (ids grow with every
    // append; waiting() is ordered by them). Throws std::runtime_error when
    // the disk refuses the write.
    std::uint64_t append(const ValueBatch& batch);
    // The broker has it: the batch leaves the spool. Unknown ids are ignored.
    void acknowledge(std::uint64_t id);
    // The batches waiting, oldest first.
    const std::map<std::uint64_t, Entry>& waiting() const { return waiting_; }
    std::uint64_t waitingBytes() const { return waitingBytes_; }
    std::uint64_t droppedBatches() const { return droppedBatches_; }
    std::uint64_t droppedValues() const { return droppedValues_; }
    // With FsyncPolicy::interval: writes back when the last time is a second
    // ago. Cheap to call often.
    void tick();
    // The segment files now on disk (for tests and the log).
    std::size_t segmentCount() const { return live_.size(); }

private:
    void load();
    void openSegment(std::uint32_t number);
    void writeRecord(char kind, const std::string& body, bool sync);
    void release(std::uint64_t id, char kind);
    void trimSegments();
    std::filesystem::path segmentPath(std::uint32_t number) const;

    std::filesystem::path dir_;
    std::uint64_t maxBytes_;
    FsyncPolicy fsync_;
    int fd_ = -1;
    std::uint32_t current_ = 0;
    std::uint64_t currentBytes_ = 0;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Entry> waiting_;
    std::map<std::uint32_t, std::size_t> live_;  // segment -> batches still waiting in it
    std::uint64_t waitingBytes_ = 0;
    std::uint64_t droppedBatches_ = 0, droppedValues_ = 0;
    bool dirty_ = false;
    std::chrono::steady_clock::time_point lastSync_{};
};

}  // namespace nxtka_cli::mqtt
