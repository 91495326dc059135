// The machine's memory bandwidth, measured in the same run as the engine benchmarks so that their
// update rates can be read against it: STREAM-style copy and triad over three 64 MiB arrays, far
// larger than the caches. Bytes per second count the bytes the kernel reads and writes (copy 16,
// triad 24 per element), not the extra traffic of write allocation.
#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t kArrayBytes = std::size_t{64} << 20;
constexpr std::size_t kElements = kArrayBytes / sizeof(double);

struct StreamArrays {
    std::vector<double> a = std::vector<double>(kElements, 1.0);
    std::vector<double> b = std::vector<double>(kElements, 2.0);
    std::vector<double> c = std::vector<double>(kElements, 0.0);
};

StreamArrays& arrays()
{
    static StreamArrays shared;
    return shared;
}

void memoryCopy(benchmark::State& state)
{
    StreamArrays& s = arrays();
    const double* const from = s.a.data();
    double* const to = s.c.data();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kElements; ++i) {
            to[i] = from[i];
        }
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(2 * kArrayBytes));
}

void memoryTriad(benchmark::State& state)
{
    StreamArrays& s = arrays();
    double* const a = s.a.data();
    const double* const b = s.b.data();
    const double* const c = s.c.data();
    const double scalar = 3.0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < kElements; ++i) {
            a[i] = b[i] + scalar * c[i];
        }
        benchmark::DoNotOptimize(a);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(3 * kArrayBytes));
}

BENCHMARK(memoryCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(memoryTriad)->Unit(benchmark::kMillisecond);

}  // namespace
