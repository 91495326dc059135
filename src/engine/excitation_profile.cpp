#include "engine/excitation_profile.h"

#include "engine/operator_basis.h"
#include "engine/prepared_run.h"
#include "engine/slice_profile.h"
#include "engine/spin_tables.h"
#include "engine/step_routine.h"
#include "model/pulse_sequence.h"

#include <array>
#include <cmath>

namespace velmora::engine {

namespace {

constexpr int kShapedElement = model::element::kFirstShapedPulse;  // "s1_..."
constexpr int kPowerElement = model::element::kFirstPower;         // "r1", dB
constexpr int kOffsetElement = model::element::kFirstOffset;       // "o1", Hz: the arrayed parameter

}  // namespace

std::vector<ProfilePoint> excitationProfile(const pulses::ShapeTable& shape, double pulseUs, double powerDb,
                                            std::span<const double> offsetsHz)
{
    SpinTables spins;
    spins.count = 1;
    spins.slotState[0] = 1;
    spins.nucleusConstant[0] = kNucleusConstantH1;
    spins.channel[0] = kChannelH1;
    spins.t1Ms[0] = 1.0e9;
    spins.t2Ms[0] = 1.0e9;

    model::PulseSequence sequence;
    model::ElementTable& elements = sequence.elements();
    elements.setName(kShapedElement, "s1_profile.RF");
    elements.setValue(kShapedElement, pulseUs);
    elements.setValue(kPowerElement, powerDb);
    model::SequenceStep& step = sequence.step(0);
    step = model::SequenceStep{};
    step.channels[kChannelH1] = {.content = -kShapedElement,
                                 .phase = 0,
                                 .power = -static_cast<double>(kPowerElement),
                                 .offset = -static_cast<double>(kOffsetElement)};

    PreparedRun prepared;
    prepared.arrayedValues.assign(offsetsHz.begin(), offsetsHz.end());
    prepared.settings.arrayedName = elements.name(kOffsetElement);
    pulses::ShapeTable table = shape;
    table.elementName = elements.name(kShapedElement);
    prepared.pulseShapes.add(std::move(table));

    const StepContext context{.sequence = sequence, .spins = spins, .prepared = prepared};
    StepWorkspace workspace;
    std::array<double, 1> gradient{0.0};
    std::array<double, 1> omega{0.0};
    std::array<double, 4> row{};
    std::vector<ProfilePoint> profile;
    profile.reserve(offsetsHz.size());
    for (const double offsetHz : offsetsHz) {
        row.fill(0.0);
        row[static_cast<std::size_t>(kSpinMask[0])] = kNucleusConstantH1;
        shiftOffsets(spins, step, elements, prepared.settings.arrayedName, offsetHz, omega);
        const StepInputs inputs{.stepSeconds = pulseUs * 1.0e-6,
                                .gradientFactors = gradient,
                                .shiftOffsetsRadPerS = omega,
                                .arrayedValue = offsetHz,
                                .step = 0,
                                .row = row};
        applyStep(inputs, context, workspace);
        profile.push_back({offsetHz, row[1] / kNucleusConstantH1, row[2] / kNucleusConstantH1,
                           row[3] / kNucleusConstantH1});
    }
    return profile;
}

double powerForNutationHz(double peakHz)
{
    return 60.0 + 20.0 * std::log10(peakHz / 50000.0);
}

std::vector<double> offsetsAcross(double bandHz, int count)
{
    std::vector<double> offsets;
    for (int k = 0; k < count; ++k)
        offsets.push_back(count == 1 ? 0.0 : bandHz * (static_cast<double>(k) / (count - 1) - 0.5));
    return offsets;
}

}  // namespace velmora::engine
