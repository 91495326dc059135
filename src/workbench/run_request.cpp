#include "workbench/run_request.h"

#include "util/number_format.h"

#include <algorithm>
#include <string>

namespace velmora::workbench {

namespace {

namespace ctl = model::ctl;

engine::NumberBox numberBox(const model::Controls& controls, model::ControlId id)
{
    return {model::Controls::nameOf(id), controls.text(id), controls.number(id)};
}

// Changes fields of a control that have no setter of their own (a scroll bar's range, a list's
// selection with its items), then tells the window once, as a setter would.
template <typename Change> void changeControl(model::Controls& controls, model::ControlId id, Change change)
{
    change(controls.at(id));
    controls.setValue(id, controls.at(id).value);
}

}  // namespace

engine::RunRequest readRunRequest(const model::Controls& controls, const model::PulseSequence& sequence,
                                  const model::SpinSystem& spins, int runsPerValue)
{
    engine::RunRequest r;
    r.sequence = sequence;
    r.spins = spins;
    r.runsPerValue = runsPerValue;
    r.t1Relaxation = controls.checked(ctl::T1Relaxation);
    r.t2Relaxation = controls.checked(ctl::T2Relaxation);
    r.crossRelaxation = controls.checked(ctl::CrossRelaxation);
    r.t2FromT1 = controls.checked(ctl::T2FromT1);
    r.destroyMxy = controls.checked(ctl::DestroyMxy);
    r.receiverGapping = controls.checked(ctl::ReceiverGapping);
    r.plotVectorEvolution = controls.checked(ctl::PlotVectorEvolution);
    r.strongCoupling = controls.checked(ctl::StrongCoupling);
    r.correlateWith = controls.checked(ctl::CorrelateWith);

    r.arrayIncrement = numberBox(controls, ctl::ArrayIncrement);
    r.scanCount = numberBox(controls, ctl::ScanCount);
    r.lastSlice = numberBox(controls, ctl::LastSlice);
    r.spectralWidth = numberBox(controls, ctl::SpectralWidth);
    r.acquisitionTime = numberBox(controls, ctl::AcquisitionTime);
    r.arraySize = numberBox(controls, ctl::ArraySize);
    r.pointCount = numberBox(controls, ctl::PointCount);
    r.relaxationT1 = numberBox(controls, ctl::RelaxationT1);
    r.relaxationT2 = numberBox(controls, ctl::RelaxationT2);
    r.crossRelaxationTime = numberBox(controls, ctl::CrossRelaxationTime);
    r.t2FromT1Factor = numberBox(controls, ctl::T2FromT1Factor);
    r.receiverDelay = numberBox(controls, ctl::ReceiverDelay);
    r.exchangeRate = numberBox(controls, ctl::ExchangeRate);

    r.arrayMethod = controls.caption(ctl::ArrayMethod);
    r.indirectMethod = controls.text(ctl::IndirectMethod);
    r.objectProfile = controls.text(ctl::ObjectProfile);
    r.correlationPulse = controls.text(ctl::CorrelationPulse);
    r.phaseRows = controls.at(ctl::PhaseCycle).items;
    r.nonEquilibrium = controls.caption(ctl::InitialCondition) == "nonequilibrium";
    r.initialOperators = controls.at(ctl::InitialOperators).items;
    r.initialOperatorsChosen = controls.at(ctl::InitialOperators).selected;
    return r;
}

void applyWriteBack(const engine::PreparationWriteBack& writeBack, model::Controls& controls,
                    model::PulseSequence& sequence)
{
    if (writeBack.sequence)
        sequence = *writeBack.sequence;
    if (writeBack.pointCount)
        controls.setText(ctl::PointCount, std::to_string(*writeBack.pointCount));
    if (writeBack.arraySize)
        controls.setText(ctl::ArraySize, std::to_string(*writeBack.arraySize));
    if (writeBack.acquisitionTimeMs)
        controls.setText(ctl::AcquisitionTime, util::formatGeneral(*writeBack.acquisitionTimeMs));
    if (writeBack.runSelectorMaximum)
        changeControl(controls, {"VScroll1", 0},
                      [&](model::ControlState& bar) {
                          bar.maximum = *writeBack.runSelectorMaximum;
                          // The run shown is one the new run made.
                          bar.value = std::min(bar.value, bar.maximum);
                      });
    if (writeBack.indirectSpectralWidthHz)
        controls.setText(ctl::IndirectSpectralWidth, util::formatGeneral(*writeBack.indirectSpectralWidthHz));
    showRefusalWarning(writeBack.warning, controls);
    if (writeBack.equilibriumStart) {
        controls.setCaption(ctl::InitialCondition, "equilibrium");
        controls.setVisible(ctl::InitialOperators, false);
    }
    if (writeBack.initialOperators)
        changeControl(controls, ctl::InitialOperators, [&](model::ControlState& list) {
            list.items = *writeBack.initialOperators;
            list.selected.assign(list.items.size(), true);
        });
}

void showRefusalWarning(const std::optional<engine::WarningLine>& warning, model::Controls& controls)
{
    if (!warning)
        return;
    controls.setCaption(ctl::WarningLine, warning->caption);
    controls.setVisible(ctl::WarningLine, warning->visible);
}

std::optional<engine::Preparation> prepareAndWriteBack(const engine::RunRequest& request,
                                                       model::Controls& controls,
                                                       model::PulseSequence& sequence,
                                                       util::Messages& messages)
{
    engine::PreparationOutcome outcome = engine::prepareSequence(request, messages);
    if (!outcome.prepared) {
        showRefusalWarning(outcome.refusalWarning, controls);
        return std::nullopt;
    }
    applyWriteBack(outcome.prepared->writeBack, controls, sequence);
    return std::move(outcome.prepared);
}

}  // namespace velmora::workbench
