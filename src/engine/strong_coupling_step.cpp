// One step of the pulse sequence on the exact strong-coupling path.
#include "engine/strong_coupling_step.h"

#include "engine/initial_state.h"
#include "engine/relaxation.h"
#include "model/element_table.h"
#include "model/pulse_sequence.h"
#include "pulses/shape_table.h"
#include "util/text_compare.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace velmora::engine {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
constexpr double kMicrosecondsPerSecond = 1.0e6;
constexpr const char* kSwitchName = "the \"strong coupling\" switch (strong-coupling, Check1(29))";

// Shape columns: phase in degrees, amplitude (pulses::kFullPulseAmplitude = full), relative duration.
constexpr std::size_t kPhaseColumn = 0;
constexpr std::size_t kAmplitudeColumn = 1;
constexpr std::size_t kDurationColumn = 2;
constexpr std::size_t kGradientColumn = 0;

// Receiver gate thresholds in rad/s, as on the weak path: with receiver gapping only points without
// RF on the spin count as "off"; without it every point does.
constexpr double kGappedThreshold = 0.0;
constexpr double kOpenThreshold = 1.0e25;

// Adds the detected protons' x, y, z coefficients to components 1, 2, 3 of sample `point`, each
// behind its receiver gate (consecutive points with the spin's RF at or below the threshold).
void sampleProtons(std::span<const double> row, const SpinTables& spins,
                   const std::array<double, kSpinSlots>& pointAmplitude, std::array<int, kSpinSlots>& gate,
                   int point, double gateThreshold, int gateDelayPoints, int run, SampleRecord& record)
{
    for (int k = 0; k < spins.count; ++k) {
        const auto kk = static_cast<std::size_t>(k);
        if (spins.nucleusConstant[kk] != kNucleusConstantH1)
            continue;
        gate[kk] = pointAmplitude[kk] <= gateThreshold ? gate[kk] + 1 : 0;
        if (gate[kk] > gateDelayPoints) {
            record.at(1, point, run) += row[static_cast<std::size_t>(kStride[k])];
            record.at(2, point, run) += row[static_cast<std::size_t>(2 * kStride[k])];
            record.at(3, point, run) += row[static_cast<std::size_t>(3 * kStride[k])];
        } else {
            record.at(1, point, run) = 0.0;
            record.at(2, point, run) = 0.0;
            record.at(3, point, run) = 0.0;
        }
    }
}

// True when the reference names a shaped element ("s" + number + "_" + file).
bool namesShaped(double reference, const model::ElementTable& elements)
{
    const int m = model::PulseSequence::referencedElement(reference);
    return m >= 0 && util::startsWithIgnoreCase(elements.name(m), "s");
}

// The shaped pulse of the step, as the weak path finds it: the first RF channel whose content names
// a shaped element with a loaded shape; none for an unshaped step (or a shape without points).
const pulses::ShapeTable* stepShape(const model::SequenceStep& step, const model::ElementTable& elements,
                                    const pulses::ShapeSlots& shapes)
{
    for (const model::ChannelSetting& c : step.channels) {
        if (!namesShaped(c.content, elements))
            continue;
        const auto slot = shapes.slotOf(elements.name(model::PulseSequence::referencedElement(c.content)));
        if (!slot || shapes.slot(*slot).pointCount() == 0)
            return nullptr;
        return &shapes.slot(*slot);
    }
    return nullptr;
}

// The loaded shape of the step's shaped gradient; none for a constant gradient (or a shape the
// preparation left without points, which then acts as none, as on the weak path).
const pulses::ShapeTable* stepGradientShape(const model::SequenceStep& step,
                                            const model::ElementTable& elements,
                                            const pulses::ShapeSlots& shapes)
{
    if (!namesShaped(step.gradient, elements))
        return nullptr;
    const auto slot = shapes.slotOf(elements.name(model::PulseSequence::referencedElement(step.gradient)));
    if (!slot || shapes.slot(*slot).pointCount() == 0)
        return nullptr;
    return &shapes.slot(*slot);
}

// Gradient shape value g(p) in rad per unit of gradient factor: -2 pi at full amplitude. Under a
// shaped pulse of pulsePoints points (0: none) a shaped gradient of L points is resampled by a real
// index running from 1 in steps of L / P, truncated, as on the weak path.
double gradientValueAt(const pulses::ShapeTable* gradientShape, int pulsePoints, int p)
{
    if (gradientShape == nullptr)
        return -kTwoPi;
    const int length = gradientShape->pointCount();
    int source = p;
    if (pulsePoints > 0) {
        const double stride = static_cast<double>(length) / static_cast<double>(pulsePoints);
        source = std::clamp(static_cast<int>(1.0 + (p - 1) * stride), 1, length);
    }
    return -kTwoPi * gradientShape->points[static_cast<std::size_t>(source)][kGradientColumn] /
           pulses::kFullGradientAmplitude;
}

}  // namespace

std::optional<std::string> strongCouplingRefusal(const model::PulseSequence& /*sequence*/, int spinCount)
{
    if (spinCount > kMaxSpins)
        return "Strong coupling is on (" + std::string(kSwitchName) +
               "), and its exact path takes at most 10 spins. Switch it off to run this sequence with weak "
               "coupling.";
    return std::nullopt;
}

void applyStrongStep(const StepInputs& inputs, const StepContext& context, ExactEvolution& evolution)
{
    const SpinTables& spins = context.spins;
    const int nSpins = spins.count;
    checkStepInputs(inputs, spins);
    const auto spinCount = static_cast<std::size_t>(nSpins);
    if (inputs.basis != RowBasis::productOperators)
        throw std::invalid_argument("the strong-coupling path works on product-operator rows");

    const model::SequenceStep& step = context.sequence.step(inputs.step);
    const model::ElementTable& elements = context.sequence.elements();
    const PreparedRun& prepared = context.prepared;
    const RunSettings& settings = prepared.settings;
    if (inputs.acquisition && context.signal == nullptr)
        throw std::invalid_argument("an acquisition step needs a signal record");
    const auto valueOf = [&](double reference) {
        return referenceValue(reference, elements, settings.arrayedName, inputs.arrayedValue);
    };
    const std::span<double> row = inputs.row;

    // The hard pulse of every spin's channel: width in s, amplitude in rad/s, phase in rad.
    std::array<double, kSpinSlots> width{};
    std::array<double, kSpinSlots> amplitude{};
    std::array<double, kSpinSlots> phase{};
    double tauMax = 0.0;
    for (int k = 0; k < nSpins; ++k) {
        const auto kk = static_cast<std::size_t>(k);
        const model::ChannelSetting& channel = step.channels[static_cast<std::size_t>(spins.channel[kk])];
        width[kk] = channel.content == kDecouplingContentCode
                        ? 0.0
                        : valueOf(channel.content) / kMicrosecondsPerSecond;
        tauMax = std::max(tauMax, width[kk]);
        amplitude[kk] = width[kk] != 0.0 ? rfAmplitudeRadPerS(valueOf(channel.power)) : 0.0;
        phase[kk] =
            model::phaseQuarterTurns(channel.phase, settings.phaseRows, inputs.phaseCounter) * kPi / 2.0;
    }
    const pulses::ShapeTable* shape = stepShape(step, elements, prepared.pulseShapes);
    const pulses::ShapeTable* gradientShape = stepGradientShape(step, elements, prepared.gradientShapes);
    // Points of the step, as on the weak path: those of the shaped pulse, else those of the shaped
    // gradient (the hard pulse takes the first, the others carry no RF), else one.
    const int points = shape != nullptr           ? shape->pointCount()
                       : gradientShape != nullptr ? gradientShape->pointCount()
                                                  : 1;

    // The offsets of point p in rad/s: Omega(k) = G(k) g(p) + omega(k) for the pulse elements, which
    // turn one spin at a time; for the exact intervals the gradient's share common to each nucleus
    // (that of the nucleus's first spin) is taken out of the Hamiltonian, so that every slice and
    // every gradient point shares the eigensystem of the shifts alone.
    std::array<double, kSpinSlots> omega{};
    std::array<double, kSpinSlots> intervalOffsets{};
    NucleusOffsets common{};
    const auto setOffsets = [&](int p) {
        const double g = gradientValueAt(gradientShape, shape != nullptr ? points : 0, p);
        std::array<int, kRfChannelCount> first{-1, -1, -1};
        for (std::size_t k = 0; k < spinCount; ++k) {
            const auto c = static_cast<std::size_t>(spins.channel[k]);
            if (first[c] < 0)
                first[c] = static_cast<int>(k);
        }
        for (std::size_t c = 0; c < common.size(); ++c)
            common[c] = first[c] < 0 ? 0.0 : inputs.gradientFactors[static_cast<std::size_t>(first[c])] * g;
        for (std::size_t k = 0; k < spinCount; ++k) {
            const double factor = inputs.gradientFactors[k];
            const double firstFactor = inputs.gradientFactors[static_cast<std::size_t>(
                first[static_cast<std::size_t>(spins.channel[k])])];
            omega[k] = factor * g + inputs.shiftOffsetsRadPerS[k];
            intervalOffsets[k] = inputs.shiftOffsetsRadPerS[k] + (factor - firstFactor) * g;
        }
    };
    const std::array<double, kSpinSlots> noOffsets{};

    const double restSeconds = std::max(inputs.stepSeconds - tauMax, 0.0);
    // A shaped pulse leaves an equal share of the rest of the step after each of its points.
    const double remainderPerPoint = restSeconds / points;
    if (settings.destroyMxy && tauMax > 0.0)
        destroyTransverse(row, nSpins);
    const Relaxation relaxation =
        relaxationForRun(spins, settings, inputs.arrayedValue, context.sliceRowCount);

    const double gateThreshold = settings.receiverGapping ? kGappedThreshold : kOpenThreshold;
    const int gateDelayPoints = settings.receiverGapping ? settings.receiverDelayPoints : 0;
    std::array<int, kSpinSlots> gate{};
    for (int p = 1; tauMax > 0.0 && p <= points; ++p) {
        setOffsets(p);
        std::array<double, kSpinSlots> pointAmplitude{};
        // Each spin's element of point p as the weak path applies it (its offset acts inside the
        // rotation), then the couplings alone for the last element's width, then relaxation for that
        // width; a shaped pulse scales the point-0 values by its columns, and a hard pulse under a
        // shaped gradient is the first point.
        double lastWidth = 0.0;
        for (int k = 0; k < nSpins; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            double tau = p == 1 ? width[kk] : 0.0;
            double rf = p == 1 ? amplitude[kk] : 0.0;
            double phi = phase[kk];
            if (shape != nullptr) {
                const std::array<double, 3>& column = shape->points[static_cast<std::size_t>(p)];
                tau = width[kk] / points * column[kDurationColumn];
                rf = amplitude[kk] / pulses::kFullPulseAmplitude * column[kAmplitudeColumn];
                phi = phase[kk] + column[kPhaseColumn] * kPi / 180.0;
            }
            pointAmplitude[kk] = rf;
            if (tau == 0.0)
                continue;
            lastWidth = tau;
            applyPulseElement(row, nSpins, k, rf, phi, omega[kk], tau);
        }
        if (lastWidth != 0.0) {
            evolution.evolve(row, zeemanHamiltonian(spins, noOffsets, true), lastWidth);
            relaxAfterElement(row, spins, relaxation, lastWidth);
        }
        if (shape != nullptr && remainderPerPoint != 0.0) {
            evolution.evolve(row, zeemanHamiltonian(spins, intervalOffsets, true), remainderPerPoint, common);
            relaxAfterShapedEvolution(row, spins, relaxation, remainderPerPoint);
        }
        if (inputs.acquisition) {
            sampleProtons(row, spins, pointAmplitude, gate, p, gateThreshold, gateDelayPoints, inputs.run,
                          *context.signal);
            if (context.observer != nullptr)
                context.observer->sampled(inputs.run, p, row);
        }
    }
    // The closing delay of hard-pulse steps and pure delays: one exact interval, or under a shaped
    // gradient one part per gradient point, each with that point's gradient value.
    if (!(shape != nullptr && tauMax > 0.0) && restSeconds > 0.0) {
        const int parts = gradientShape != nullptr ? points : 1;
        const double partSeconds = restSeconds / parts;
        for (int i = 1; i <= parts; ++i) {
            setOffsets(i);
            evolution.evolve(row, zeemanHamiltonian(spins, intervalOffsets, true), partSeconds, common);
            relaxAfterElement(row, spins, relaxation, partSeconds);
        }
    }
}

}  // namespace velmora::engine
