// The variable-flip-angle fit of one 128 x 128 slice with a slab of 3 slices, 6 flip angles, the
// default B1 grid (15 values) and T1 range (0.05..5 s), on 1 and 2 threads. Compare the two
// times for the parallel speed-up; the maps are the same on both.
#include "imagefit/synthetic_series.h"
#include "imagefit/vfa_fit.h"

#include <benchmark/benchmark.h>

namespace {

using namespace velmora::imagefit;

const ImageSeries& modelSeries()
{
    static const ImageSeries series = [] {
        SyntheticAcquisition acquisition;
        acquisition.noiseFraction = 0.01;
        return syntheticSeries(modelMaps(128, 128, ModelKind::Regular), 3, acquisition);
    }();
    return series;
}

void BM_VfaFitSlice128(benchmark::State& state)
{
    const ImageSeries& series = modelSeries();
    FitSettings settings;
    settings.slice = 2;
    settings.slabHalfThickness = 1;
    settings.threshold = 0.1 * series.largestValue;
    velmora::util::WorkPool pool(static_cast<int>(state.range(0)));
    FitMaps maps;
    for (auto _ : state) {
        const velmora::util::Outcome outcome = fitImageSeries(series, settings, pool, nullptr, {}, maps);
        benchmark::DoNotOptimize(outcome.ok());
    }
    state.counters["fitted_pixels"] = maps.fittedPixels;
    state.counters["pixels_per_s"] = benchmark::Counter(static_cast<double>(maps.fittedPixels),
                                                        benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VfaFitSlice128)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
