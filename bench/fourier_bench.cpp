// Throughput of the Fourier transform for 256 to 65536 points.
// Counter "points": transformed complex points per second (N per call).
#include "processing/fourier.h"
#include "util/messages.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

void fourierTransform(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const auto size = static_cast<std::size_t>(n);
    std::vector<double> realIn(size);
    std::vector<double> imagIn(size);
    std::vector<double> realOut(size);
    std::vector<double> imagOut(size);
    for (std::size_t i = 0; i < size; ++i) {
        // A decaying complex exponential, like an FID.
        const double t = static_cast<double>(i);
        realIn[i] = std::exp(-t / 4000.0) * std::cos(0.37 * t);
        imagIn[i] = std::exp(-t / 4000.0) * std::sin(0.37 * t);
    }
    velmora::util::RecordedMessages messages;

    for (auto _ : state) {
        const bool done = velmora::processing::Fourier(n, realIn, imagIn, realOut, imagOut, false, messages);
        benchmark::DoNotOptimize(done);
        benchmark::DoNotOptimize(realOut.data());
        benchmark::DoNotOptimize(imagOut.data());
        benchmark::ClobberMemory();
    }
    if (!messages.entries.empty()) {
        state.SkipWithError("Fourier refused the length");
    }
    state.counters["points"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(fourierTransform)
    ->ArgName("points")
    ->RangeMultiplier(2)
    ->Range(256, 65536)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
