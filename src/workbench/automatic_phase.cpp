#include "workbench/automatic_phase.h"

#include "workbench/experiment_pipeline.h"
#include "workbench/workbench.h"

#include <string>
#include <vector>

namespace velmora::workbench {

namespace {

constexpr model::ControlId kFirstOrderBar{"HScroll2", 0};
constexpr model::ControlId kZeroOrderBar{"HScroll2", 1};
constexpr model::ControlId kFirstOrderBox{"Text2", 5};
constexpr model::ControlId kZeroOrderBox{"Text2", 6};

}  // namespace

void setPhase(Workbench& bench, processing::PhaseSetting phase)
{
    model::Controls& controls = bench.controls();
    controls.setValue(kFirstOrderBar, phase.rp);
    controls.setValue(kZeroOrderBar, phase.lp);
    controls.setText(kFirstOrderBox, std::to_string(phase.rp));
    controls.setText(kZeroOrderBox, std::to_string(phase.lp));
    rebuildDisplay(bench);
}

util::Outcome phaseAutomatically(Workbench& bench)
{
    const RunRecords& records = bench.records();
    if (!records.spectraComputed || !records.preparation)
        return util::Outcome::failure("There is no spectrum to phase: run the experiment first.");
    const engine::PreparedRun& run = records.preparation->run;
    if (run.runsPerValue != 1)
        return util::Outcome::failure("Automatic phasing works on 1D spectra; a 2D run is phased by its "
                                      "map's own rule.");
    const engine::SampleRecord& signal = records.preparation->signal;
    const int np = run.pointCount;
    std::vector<double> real(static_cast<std::size_t>(np)), imaginary(static_cast<std::size_t>(np));
    for (int i = 1; i <= np; ++i) {
        real[static_cast<std::size_t>(i) - 1] = signal.at(1, i, run.lastRun);
        imaginary[static_cast<std::size_t>(i) - 1] = signal.at(2, i, run.lastRun);
    }
    setPhase(bench, processing::automaticPhase(real, imaginary));
    return util::Outcome::success();
}

}  // namespace velmora::workbench
