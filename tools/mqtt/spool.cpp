#include "spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace nxtka_cli::mqtt {
namespace {

std::uint32_t fnv1a(std::string_view bytes) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
    return h;
}

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void putU64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
std::uint64_t getLE(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return v;
}

std::string keyBody(std::uint64_t session, std::uint64_t first) {
    std::string body;
    putU64(body, session);
    putU64(body, first);
    return body;
}

[[noreturn]] void fail(const std::filesystem::path& path, const char* what) {
    throw std::runtime_error("spool " + path.string() + ": " + what + ": " + std::strerror(errno));
}

}  // namespace

std::optional<FsyncPolicy> fsyncPolicyNamed(std::string_view name) {
    if (name == "never") return FsyncPolicy::never;
    if (name == "batch") return FsyncPolicy::batch;
    if (name == "interval") return FsyncPolicy::interval;
    return std::nullopt;
}

Spool::Spool(std::filesystem::path dir, std::uint64_t maxBytes, FsyncPolicy fsync)
    : dir_(std::move(dir)), maxBytes_(maxBytes), fsync_(fsync) {
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    if (ec) throw std::runtime_error("spool " + dir_.string() + ": cannot make the directory: " + ec.message());
    load();
}

Spool::~Spool() {
    if (fd_ >= 0) {
        if (fsync_ != FsyncPolicy::never && dirty_) ::fdatasync(fd_);
        ::close(fd_);
    }
}

std::filesystem::path Spool::segmentPath(std::uint32_t number) const {
    char name[32];
    std::snprintf(name, sizeof name, "%08u.seg", number);
    return dir_ / name;
}

void Spool::load() {
    std::vector<std::uint32_t> numbers;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
        const std::string name = e.path().filename().string();
        if (name.size() == 12 && name.ends_with(".seg") &&
            std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; }))
            numbers.push_back(static_cast<std::uint32_t>(std::stoul(name.substr(0, 8))));
    }
    std::sort(numbers.begin(), numbers.end());
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> byKey;
    for (std::uint32_t number : numbers) {
        const auto path = segmentPath(number);
        std::ifstream in(path, std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        live_[number] = 0;
        std::size_t at = 0;
        while (at + 9 <= data.size()) {
            const char kind = data[at];
            const std::uint64_t length = getLE(data, at + 1, 4);
            if (at + 5 + length + 4 > data.size()) break;
            const std::string_view record(data.data() + at, 5 + length);
            if (getLE(data, at + 5 + length, 4) != fnv1a(record)) break;
            const std::string_view body = record.substr(5);
            if (kind == 'B') {
                if (auto b = decodeBinary(body)) {
                    const std::uint64_t id = nextId_++;
                    waiting_[id] = Entry{b->session, b->first, static_cast<std::uint32_t>(b->count()),
                                         std::string(body), number};
                    byKey[{b->session, b->first}] = id;
                    ++live_[number];
                    waitingBytes_ += body.size();
                }
            } else if ((kind == 'A' || kind == 'D') && length == 16) {
                const auto it = byKey.find({getLE(body, 0, 8), getLE(body, 8, 8)});
                if (it != byKey.end()) {
                    const auto w = waiting_.find(it->second);
                    if (w != waiting_.end()) {
                        --live_[w->second.segment];
                        waitingBytes_ -= w->second.payload.size();
                        waiting_.erase(w);
                    }
                    byKey.erase(it);
                }
            }
            at += 5 + length + 4;
        }
        if (at < data.size()) {
            // A torn record: the gateway stopped while writing it. Cut it off.
            if (::truncate(path.c_str(), static_cast<off_t>(at)) != 0) fail(path, "cannot cut off a torn record");
        }
    }
    current_ = numbers.empty() ? 0 : numbers.back() + 1;
    trimSegments();
    openSegment(numbers.empty() ? 1 : numbers.back() + 1);
}

void Spool::openSegment(std::uint32_t number) {
    if (fd_ >= 0) {
        if (fsync_ != FsyncPolicy::never && dirty_) ::fdatasync(fd_);
        ::close(fd_);
        fd_ = -1;
    }
    const std::uint32_t previous = current_;
    current_ = number;
    if (live_.count(previous)) trimSegments();
    const auto path = segmentPath(number);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) fail(path, "cannot open");
    if (fsync_ != FsyncPolicy::never) {
        // The new file's name must survive a crash too.
        const int d = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            ::fsync(d);
            ::close(d);
        }
    }
    currentBytes_ = 0;
    live_[number] = 0;
}

void Spool::writeRecord(char kind, const std::string& body, bool sync) {
    std::string record(1, kind);
    putU32(record, static_cast<std::uint32_t>(body.size()));
    record += body;
    putU32(record, fnv1a(record));
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(fd_, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(segmentPath(current_), "cannot write");
        done += static_cast<std::size_t>(n);
    }
    currentBytes_ += record.size();
    dirty_ = true;
    if (sync && fsync_ == FsyncPolicy::batch) {
        ::fdatasync(fd_);
        dirty_ = false;
    }
    tick();
}

void Spool::tick() {
    if (fsync_ != FsyncPolicy::interval || !dirty_ || fd_ < 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync_ < std::chrono::seconds(1)) return;
    ::fdatasync(fd_);
    dirty_ = false;
    lastSync_ = now;
}

std::uint64_t Spool::append(const ValueBatch& batch) {
    std::string payload = encodeBinary(batch);
    while (!waiting_.empty() && waitingBytes_ + payload.size() > maxBytes_) {
        const auto& oldest = waiting_.begin()->second;
        ++droppedBatches_;
        droppedValues_ += oldest.count;
        release(waiting_.begin()->first, 'D');
    }
    if (currentBytes_ > std::max<std::uint64_t>(maxBytes_ / 8, 4096)) openSegment(current_ + 1);
    writeRecord('B', payload, true);
    const std::uint64_t id = nextId_++;
    waitingBytes_ += payload.size();
    ++live_[current_];
    waiting_[id] = Entry{batch.session, batch.first, static_cast<std::uint32_t>(batch.count()), std::move(payload),
                         current_};
    return id;
}

void Spool::acknowledge(std::uint64_t id) { release(id, 'A'); }

void Spool::release(std::uint64_t id, char kind) {
    const auto it = waiting_.find(id);
    if (it == waiting_.end()) return;
    writeRecord(kind, keyBody(it->second.session, it->second.first), false);
    const std::uint32_t segment = it->second.segment;
    waitingBytes_ -= it->second.payload.size();
    waiting_.erase(it);
    --live_[segment];
    trimSegments();
}

// Only the oldest segments go: a later one may hold the acknowledgements of
// batches in an earlier one, which must not come back after a restart.
void Spool::trimSegments() {
    while (!live_.empty() && live_.begin()->second == 0 && live_.begin()->first != current_) {
        std::filesystem::remove(segmentPath(live_.begin()->first));
        live_.erase(live_.begin());
    }
}

}  // namespace nxtka_cli::mqtt
