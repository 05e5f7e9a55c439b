// The batch layouts against bytes written out by hand from docs/mqtt.md, and
// the spool across reopenings (a restart of the gateway).
#include "mqtt/batch_codec.h"
#include "mqtt/sequence_tracker.h"
#include "mqtt/spool.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace nxtka_cli::mqtt {
namespace {

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
}

// The example of docs/mqtt.md: 0.5 and -1.0, status 0 and 3, session 1,
// first 7, times 1000 and 2000 ns.
const std::string kExample = bytes({1, 0, 0, 0, 2, 0, 0, 0,                     // version, count
                                    1, 0, 0, 0, 0, 0, 0, 0,                     // session
                                    7, 0, 0, 0, 0, 0, 0, 0,                     // first
                                    0xe8, 3, 0, 0, 0, 0, 0, 0, 0xd0, 7, 0, 0, 0, 0, 0, 0,  // times
                                    0, 0, 0, 0, 0, 0, 0xe0, 0x3f, 0, 0, 0, 0, 0, 0, 0xf0, 0xbf,  // values
                                    0, 3});

ValueBatch example() { return ValueBatch{1, 7, {1000, 2000}, {0.5, -1.0}, {0, 3}}; }

TEST(BatchCodec, BinaryLayoutIsTheDocumentedBytes) {
    EXPECT_EQ(kExample.size(), 58u);
    EXPECT_EQ(encodeBinary(example()), kExample);
    EXPECT_EQ(decodeBinary(kExample), example());
    // A negative time and a full 64-bit sequence survive.
    const ValueBatch wide{~0ull, ~0ull - 1, {-5}, {1e-300}, {255}};
    EXPECT_EQ(decodeBinary(encodeBinary(wide)), wide);
}

TEST(BatchCodec, MalformedBinaryIsRefused) {
    const std::string cases[] = {
        "",
        kExample.substr(0, 57),                              // one byte short
        kExample + '\0',                                     // one byte long
        bytes({2}) + kExample.substr(1),                     // unknown version
        bytes({1, 0, 0, 0, 0, 0, 0, 0}) + std::string(16, '\0'),  // no values
        bytes({1, 0, 0, 0, 3, 0, 0, 0}) + kExample.substr(8),     // count says 3, bytes hold 2
    };
    for (const std::string& c : cases) EXPECT_FALSE(decodeBinary(c)) << c.size();
}

TEST(BatchCodec, JsonLayoutReadsBackExactly) {
    const std::string json = encodeJson(example());
    EXPECT_EQ(json,
              "{\"format\": \"nxtka-batch 1\", \"session\": 1, \"first\": 7, \"count\": 2, \"times\": [1000, 2000], "
              "\"values\": [0.5, -1], \"statuses\": [0, 3]}");
    const ValueBatch awkward{1765321234123456789ull, 3, {1765321234123456789ll}, {0.1 + 0.2}, {9}};
    EXPECT_EQ(decodeAny(encodeJson(awkward)), awkward);
    EXPECT_EQ(decodeAny(kExample), example());
    EXPECT_FALSE(decodeJson(R"({"format": "nxtka-batch 1", "session": 1, "first": 0, "count": 2,
        "times": [1], "values": [1.0], "statuses": [0]})"));
    EXPECT_FALSE(decodeJson(R"({"format": "other", "session": 1, "first": 0, "count": 1,
        "times": [1], "values": [1.0], "statuses": [0]})"));
    EXPECT_FALSE(decodeJson("{not json"));
}

class SpoolTest : public ::testing::Test {
protected:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("nxtka-spool-" + std::to_string(::getpid()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { std::filesystem::remove_all(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static ValueBatch batch(std::uint64_t first, std::size_t n, std::uint64_t session = 42) {
        ValueBatch b{session, first, {}, {}, {}};
        for (std::size_t i = 0; i < n; ++i) {
            b.times.push_back(static_cast<std::int64_t>(1000 * (first + i)));
            b.values.push_back(0.25 * static_cast<double>(first + i));
            b.statuses.push_back(static_cast<std::uint8_t>(i));
        }
        return b;
    }
    static std::vector<std::uint64_t> firsts(const Spool& s) {
        std::vector<std::uint64_t> out;
        for (const auto& [id, e] : s.waiting()) out.push_back(e.first);
        return out;
    }
};

TEST_F(SpoolTest, UnacknowledgedBatchesSurviveAReopenInOrder) {
    for (auto policy : {FsyncPolicy::never, FsyncPolicy::batch, FsyncPolicy::interval}) {
        std::filesystem::remove_all(dir);
        {
            Spool s(dir, 1 << 20, policy);
            std::vector<std::uint64_t> ids;
            for (std::uint64_t f = 0; f < 50; f += 10) ids.push_back(s.append(batch(f, 10)));
            s.acknowledge(ids[0]);
            s.acknowledge(ids[2]);
            s.acknowledge(9999);  // unknown: ignored
        }
        Spool again(dir, 1 << 20, policy);
        EXPECT_EQ(firsts(again), (std::vector<std::uint64_t>{10, 30, 40}));
        EXPECT_EQ(decodeBinary(again.waiting().begin()->second.payload), batch(10, 10));
        // Appends after the restart come after the old ones.
        again.append(batch(0, 3, 43));
        EXPECT_EQ(firsts(again), (std::vector<std::uint64_t>{10, 30, 40, 0}));
    }
}

TEST_F(SpoolTest, ATornRecordAtTheEndIsCutOff) {
    {
        Spool s(dir, 1 << 20, FsyncPolicy::never);
        s.append(batch(0, 5));
        s.append(batch(5, 5));
    }
    // The gateway died in the middle of the second record.
    const auto seg = dir / "00000001.seg";
    const auto size = std::filesystem::file_size(seg);
    std::filesystem::resize_file(seg, size - 20);
    Spool s(dir, 1 << 20, FsyncPolicy::never);
    EXPECT_EQ(firsts(s), (std::vector<std::uint64_t>{0}));
    // A record is 1 kind + 4 length + (24 + 17*5) batch + 4 check = 118 bytes.
    EXPECT_EQ(std::filesystem::file_size(seg), 118u);
}

TEST_F(SpoolTest, AFullSpoolDropsTheOldestAndCountsIt) {
    // Each batch of 10 values is 24 + 170 = 194 bytes: 3 fit in 600.
    Spool s(dir, 600, FsyncPolicy::never);
    for (std::uint64_t f = 0; f < 50; f += 10) s.append(batch(f, 10));
    EXPECT_EQ(firsts(s), (std::vector<std::uint64_t>{20, 30, 40}));
    EXPECT_EQ(s.droppedBatches(), 2u);
    EXPECT_EQ(s.droppedValues(), 20u);
    EXPECT_EQ(s.waitingBytes(), 3u * 194u);
    s.acknowledge(s.waiting().begin()->first);
    Spool::Entry last = s.waiting().rbegin()->second;
    EXPECT_EQ(last.first, 40u);
}

TEST_F(SpoolTest, AcknowledgedSegmentsAreDeletedOldestFirst) {
    // Segments turn over past an eighth of 32768 bytes: a record is
    // 194 + 9 bytes, so about 21 records make a segment.
    Spool s(dir, 32768, FsyncPolicy::never);
    std::vector<std::uint64_t> ids;
    for (std::uint64_t f = 0; f < 1000; f += 10) ids.push_back(s.append(batch(f, 10)));
    EXPECT_GE(s.segmentCount(), 4u);
    const std::size_t before = s.segmentCount();
    // Acknowledging a late batch frees nothing: older segments still wait.
    s.acknowledge(ids[60]);
    EXPECT_EQ(s.segmentCount(), before);
    for (std::size_t i = 0; i < 50; ++i) s.acknowledge(ids[i]);
    EXPECT_LT(s.segmentCount(), before);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++files;
    EXPECT_EQ(files, s.segmentCount());
    const auto waitingBefore = firsts(s);
    Spool again(dir, 32768, FsyncPolicy::never);
    EXPECT_EQ(firsts(again), waitingBefore);
}

TEST(SequenceTracker, DuplicatesAreSkippedAndGapsNamed) {
    struct Row {
        std::uint64_t session, first, count;
        std::uint64_t skip, take;
        std::optional<std::pair<std::uint64_t, std::uint64_t>> gap;
    };
    const Row rows[] = {
        {1, 0, 10, 0, 10, {}},           // the first batch
        {1, 10, 5, 0, 5, {}},            // next in line
        {1, 5, 10, 10, 0, {}},           // sent again: all seen
        {1, 12, 6, 3, 3, {}},            // overlaps the end by 3
        {1, 25, 5, 0, 5, {{18, 25}}},    // 18..24 never came
        {2, 0, 4, 0, 4, {}},             // a restarted gateway: a new session
        {1, 30, 1, 0, 1, {}},            // the old session goes on where it was
    };
    SequenceTracker t;
    for (const Row& r : rows) {
        const Admission a = t.add(r.session, r.first, r.count);
        EXPECT_EQ(a.skip, r.skip) << r.first;
        EXPECT_EQ(a.take, r.take) << r.first;
        EXPECT_EQ(a.gap, r.gap) << r.first;
    }
    EXPECT_EQ(t.values(), 28u);
    EXPECT_EQ(t.duplicates(), 13u);
    EXPECT_EQ(t.missing(), 7u);
    EXPECT_EQ(t.gaps(), 1u);
    EXPECT_EQ(t.sessions(), 2u);
}

}  // namespace
}  // namespace nxtka_cli::mqtt
