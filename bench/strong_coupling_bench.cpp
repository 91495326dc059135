// Whole runs on the exact strong-coupling path, through the workbench as a Start does: a States COSY
// of 64 runs on six protons and a pulse-acquire on ten, every pair coupled with the full scalar term
// (0.3 ppm apart at 170 MHz, J(i, j) = 1 + (3i + 5j) mod 15 Hz), np 256 for the COSY and 2048
// for the pulse-acquire. Each run includes
// the preparation, the driver, the lines of the acquisition and the synthesis; no result files are
// written beyond those every Start writes.
#include "model/controls.h"
#include "util/messages.h"
#include "util/text_file.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/workbench.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace velmora;

// A working directory of its own, removed at the end.
class BenchDirectory {
public:
    BenchDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern) : std::filesystem::path();
    }
    ~BenchDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// n protons 0.3 ppm apart, every pair coupled, T1 1000 ms, T2 100 ms.
std::vector<std::string> protonChain(int n)
{
    std::string labels, shifts, couplings, t1, t2;
    for (int i = 0; i < n; ++i) {
        labels += "H" + std::to_string(i) + ",";
        shifts += std::to_string(-1.5 + 0.3 * i) + ",";
        t1 += "1000,";
        t2 += "100,";
        for (int j = 0; j < n; ++j)
            couplings +=
                std::to_string(i == j ? 0 : 1 + (3 * std::min(i, j) + 5 * std::max(i, j)) % 15) + ",";
    }
    const std::string count = std::to_string(n);
    return {count + ",14," + count + ",",
            labels,
            labels,
            shifts,
            couplings,
            t1,
            t2,
            "spare,",
            "spare,",
            "spare,"};
}

void strongRun(benchmark::State& state, int spins, const char* sequence, bool twoD)
{
    BenchDirectory dir;
    std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / sequence, dir.path() / sequence);
    if (!util::writeTextFile(dir.path() / "chain.mol", protonChain(spins))) {
        state.SkipWithError("cannot write the molecule");
        return;
    }
    util::RecordedMessages messages;
    workbench::Workbench bench(messages, dir.path());
    if (!workbench::openMolecule(bench, "chain.mol").wasRead() ||
        !workbench::openSequence(bench, sequence).wasRead()) {
        state.SkipWithError("cannot read the example");
        return;
    }
    bench.controls().setChecked(model::ctl::StrongCoupling, true);
    bench.setThreads(static_cast<int>(state.range(0)));
    if (twoD)
        bench.controls().setText(model::ctl::ArraySize, "31");  // 32 increments, 64 runs
    else
        bench.controls().setText(model::ctl::PointCount, "2048");
    for (auto _ : state) {
        if (workbench::startExperiment(bench, twoD) != workbench::StartOutcome::Completed) {
            state.SkipWithError("the run did not complete");
            return;
        }
    }
    state.counters["runs"] = static_cast<double>(bench.records().driver.operators.lastRun() + 1);
}

void strongCosySixProtons(benchmark::State& state)
{
    strongRun(state, 6, "cosy.psq", true);
}

void strongPulseAcquireTenProtons(benchmark::State& state)
{
    strongRun(state, 10, "pulse_acquire.psq", false);
}

BENCHMARK(strongCosySixProtons)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(strongPulseAcquireTenProtons)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace
