// Parser plus ring store in memory: the receive thread's work per frame
// without the operating system (reads are served from a prepared buffer in
// pieces of up to 4096 bytes, as the device layer hands them over).
#include "bench/memory_device.h"
#include "core/session.h"
#include "stream/receive_thread.h"

#include <benchmark/benchmark.h>

namespace {

using namespace nxtka;

std::vector<std::uint8_t> makeStream(std::uint8_t kind, std::size_t frames) {
    std::vector<std::uint8_t> s;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::uint32_t>(i * 2654435761u);
        if (kind == ',') {
            s.insert(s.end(), {',', 0x01, static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v)});
        } else if (kind == 0xA5) {
            s.insert(s.end(), {0xA5, static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
        } else {
            const char* t = "+  12.3456\r\n";
            s.insert(s.end(), t, t + 12);
        }
    }
    return s;
}

void receivePath(benchmark::State& state, std::uint8_t kind) {
    const std::size_t frames = 100000;
    const std::vector<std::uint8_t> stream = makeStream(kind, frames);
    platform::Mutex ringMutex;
    PortSession s;
    s.ringMutex = &ringMutex;
    s.rxBuffer.reset(new std::uint8_t[kRxBufferSize]);
    s.ring.allocate(1 << 16);
    s.holdValues = 0;
    auto device = std::make_unique<bench::MemoryDevice>(stream);
    auto* dev = device.get();
    s.device = std::move(device);
    for (auto _ : state) {
        dev->rewind();
        while (!dev->atEnd()) receiveOnce(s);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * frames));
    s.device.reset();
}

void BM_ReceivePath24Bit(benchmark::State& state) { receivePath(state, ','); }
void BM_ReceivePath16Bit(benchmark::State& state) { receivePath(state, 0xA5); }
void BM_ReceivePathText(benchmark::State& state) { receivePath(state, '+'); }

BENCHMARK(BM_ReceivePath24Bit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceivePath16Bit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceivePathText)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
