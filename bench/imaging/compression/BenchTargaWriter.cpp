// Run-length encoding of Targa rows, in megapixels per second. A row without
// repeats is the encoder's worst case: every packet is raw, and the search
// for the next repeat must stop after one packet for the rate to stay the
// same whatever the row's width.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "compression/GraphicCompression.h"

namespace {

void BM_TargaEncodeRowWithoutRepeats(benchmark::State& state) {
    const auto width = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> row(size_t(width) * 4), packed(size_t(width) * 5);
    for (uint32_t x = 0; x < width; ++x) std::memcpy(row.data() + 4 * size_t(x), &x, 4);
    TTargaRLEDecoder encoder(32);
    for (auto _ : state) {
        uint32_t stored = 0;
        encoder.Encode(row.data(), packed.data(), width, stored);
        benchmark::DoNotOptimize(stored);
    }
    state.counters["MP/s"] = benchmark::Counter(width / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_TargaEncodeRowWithoutRepeats)->Arg(1024)->Arg(8192)->Arg(65535);

}  // namespace
