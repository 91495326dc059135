#include "workbench/control_handlers.h"

#include "model/count_limits.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <iterator>

namespace velmora::workbench {

namespace {

using model::ctl::CycleCountBox;
using model::ctl::DetectionChannel;
using model::ctl::FieldTesla;
using model::ctl::ProtonFrequency;

void showFieldPair(Workbench& bench)
{
    bench.controls().setText(FieldTesla, util::formatGeneral(bench.spinSystem().fieldTesla()));
    bench.controls().setText(ProtonFrequency, util::formatGeneral(bench.spinSystem().protonFrequencyMHz()));
}

}  // namespace

void onFieldTeslaEdited(Workbench& bench)
{
    if (const auto tesla = util::parseNumber(bench.controls().text(FieldTesla))) {
        bench.spinSystem().setFieldTesla(*tesla);
        showFieldPair(bench);
    }
}

void onProtonFrequencyEdited(Workbench& bench)
{
    if (const auto mhz = util::parseNumber(bench.controls().text(ProtonFrequency))) {
        bench.spinSystem().setProtonFrequencyMHz(*mhz);
        showFieldPair(bench);
    }
}

int detectionChannel(const Workbench& bench)
{
    const std::string& text = bench.controls().text(DetectionChannel);
    return text == "C13" ? 1 : text == "N15" ? 2 : 0;
}

int onDetectionChannelChosen(Workbench& bench)
{
    const int channel = detectionChannel(bench);
    if (channel == 0 && bench.controls().text(DetectionChannel) != "H1")
        bench.controls().setText(DetectionChannel, "H1");
    return channel;
}

bool onCycleCountEdited(Workbench& bench)
{
    const auto count = util::parseNumber(bench.controls().text(CycleCountBox));
    if (!count)
        return false;
    if (const std::optional<std::string> problem = model::cycleCountProblem(*count)) {
        bench.messages().show("The red cycle box (Text1(12)) holds " + bench.controls().text(CycleCountBox) +
                                  ": " + *problem + ". The cycle count stays " +
                                  util::formatGeneral(bench.sequence().cycleCount()) + ".",
                              "Error!");
        return false;
    }
    bench.sequence().elements().setValue(model::element::kCycleCount, *count);
    return true;
}

void onOptionClicked(Workbench& bench, int index)
{
    using namespace model::ctl;
    model::Controls& controls = bench.controls();
    const auto lockOn = [&](model::ControlId id, bool locked) {
        if (locked)
            controls.setChecked(id, true);
        controls.setEnabled(id, !locked);
    };

    const bool crossRelaxation = controls.checked(CrossRelaxation);
    lockOn(T2Relaxation, crossRelaxation);
    lockOn(T1Relaxation, crossRelaxation);
    lockOn(T2Relaxation, controls.checked(T1Relaxation));

    const model::ControlId exclusive[] = {Swift, ReSort, Swift2};
    const auto clicked = [&](model::ControlId id) { return id.array == "Check1" && id.index == index; };
    if (std::any_of(std::begin(exclusive), std::end(exclusive), clicked)) {
        for (model::ControlId other : exclusive)
            if (!clicked(other))
                controls.setChecked(other, false);
    }

    if (controls.checked(ReferenceDeconvolution) && controls.checked(BSCompensation)) {
        controls.setChecked(ReferenceDeconvolution, false);
        controls.setChecked(BSCompensation, false);
    }
}

void applyStoredBoxes(Workbench& bench)
{
    if (util::isNumeric(bench.controls().text(ProtonFrequency)))
        onProtonFrequencyEdited(bench);
    else
        onFieldTeslaEdited(bench);
    onDetectionChannelChosen(bench);
    onCycleCountEdited(bench);
}

}  // namespace velmora::workbench
