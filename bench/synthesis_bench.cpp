// The synthesized acquisition of fully coupled protons: the fast line sum at 6, 8 and 10 spins and
// the straightforward routine (a cos and sin per line, component and point) at 6 spins, on the
// recorded operators a run leaves, 1024 points, four runs.
#include "engine/recorded_operators.h"
#include "engine/run_records.h"
#include "engine/spin_tables.h"
#include "model/element_table.h"
#include "model/pulse_sequence.h"
#include "processing/synthesis.h"
#include "util/messages.h"

#include <benchmark/benchmark.h>
#include <optional>
#include <vector>

namespace {

using namespace velmora;

template <auto synthesize> void synthesis(benchmark::State& state)
{
    engine::SpinTables spins;
    spins.count = static_cast<int>(state.range(0));
    for (int i = 0; i < spins.count; ++i) {
        spins.slotState[i] = 1;
        spins.shiftHz[i] = -150.0 + 31.0 * i;
        spins.t2Ms[i] = 100.0;
        for (int j = 0; j < i; ++j)
            spins.couplingHz[i][j] = spins.couplingHz[j][i] = 1.0 + (3 * i + 5 * j) % 15;
    }
    const engine::RecordedOperators recorded = engine::buildRecordedOperators(spins);
    const int lastRun = 3;
    engine::DetectionRecord detection(0, static_cast<int>(recorded.size()), lastRun);
    for (int r = 0; r <= lastRun; ++r)
        for (int e = 0; e < detection.entries(); ++e)
            detection.at(0, e, r) = 100.0 + (e * 37 + r * 11) % 900;
    const std::vector<double> arrayed(lastRun + 1, 0.0);
    const model::SequenceStep step;
    const model::ElementTable elements;
    util::RecordedMessages messages;
    processing::SynthesisInput in{.spins = spins,
                                  .acquisitionStep = step,
                                  .elements = elements,
                                  .recorded = recorded,
                                  .detection = detection,
                                  .messages = messages};
    in.pointCount = 1024;
    in.spectralWidthHz = 1000.0;
    in.t2Decay = true;
    in.arrayedValues = arrayed;
    in.lastRun = lastRun;
    for (auto _ : state) {
        std::optional<processing::SynthesisResult> out = synthesize(in);
        benchmark::DoNotOptimize(out);
    }
    state.counters["operators"] = static_cast<double>(recorded.size());
}

BENCHMARK(synthesis<processing::synthesizeSpectra>)
    ->Name("fastSynthesis")
    ->ArgName("spins")
    ->DenseRange(6, 10, 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(synthesis<processing::synthesizeSpectraReference>)
    ->Name("referenceSynthesis")
    ->ArgName("spins")
    ->Arg(6)
    ->Unit(benchmark::kMillisecond);

}  // namespace
