// One step of the pulse sequence on one slice row: set-up of the point tables, the pulse points,
// the free evolution of shaped steps, the closing delay and the receiver.
#include "engine/step_routine.h"

#include "engine/blocked_pulse_elements.h"
#include "engine/free_evolution.h"
#include "engine/initial_state.h"
#include "engine/operator_basis.h"
#include "engine/point_evolution.h"
#include "engine/relaxation.h"
#include "model/element_table.h"
#include "model/pulse_sequence.h"
#include "util/text_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmora::engine {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
constexpr double kMicrosecondsPerSecond = 1.0e6;
using pulses::kFullGradientAmplitude;
using pulses::kFullPulseAmplitude;
// Receiver gate thresholds in rad/s: with receiver gapping only points without RF on the spin count
// as "off"; without it every point does.
constexpr double kGappedThreshold = 0.0;
constexpr double kOpenThreshold = 1.0e25;

// Shape columns: phase in degrees, amplitude (kFullPulseAmplitude = full), relative duration.
constexpr std::size_t kPhaseColumn = 0;
constexpr std::size_t kAmplitudeColumn = 1;
constexpr std::size_t kDurationColumn = 2;
constexpr std::size_t kGradientColumn = 0;

// The name of the element a reference names; none for 0, a literal or a reference past the table.
const std::string* referencedName(double reference, const model::ElementTable& elements)
{
    const int m = model::PulseSequence::referencedElement(reference);
    return m < 0 ? nullptr : &elements.name(m);
}

bool namesShapedElement(const std::string* name)
{
    return name != nullptr && util::startsWithIgnoreCase(*name, "s");
}

// The loaded shape of a shaped element, or none when the preparation gave it no slot or no rows.
const pulses::ShapeTable* loadedShape(const pulses::ShapeSlots& slots, const std::string& elementName)
{
    const auto slot = slots.slotOf(elementName);
    if (!slot)
        return nullptr;
    const pulses::ShapeTable& table = slots.slot(*slot);
    return table.pointCount() > 0 ? &table : nullptr;
}

// Adds the detected protons' x, y, z coefficients to components 1, 2, 3 of sample `sample`, each
// behind its receiver gate.
void sample(std::span<const double> row, RowBasis basis, const SpinTables& spins, StepWorkspace& workspace,
            int point, double gateThreshold, int gateDelayPoints, int run, SampleRecord& record)
{
    std::array<int, kSpinSlots>& gate = workspace.gateCounts();
    const std::array<double, kSpinSlots> z = singleSpinZ(row, spins.count, basis);
    for (int k = 0; k < spins.count; ++k) {
        if (spins.nucleusConstant[k] != kNucleusConstantH1)
            continue;
        // Consecutive points at which the spin's RF is at or below the threshold.
        gate[k] = workspace.amplitude(point, k) <= gateThreshold ? gate[k] + 1 : 0;
        if (gate[k] > gateDelayPoints) {
            record.at(1, point, run) += singleSpinTransverse(row, spins.count, basis, k, 1);
            record.at(2, point, run) += singleSpinTransverse(row, spins.count, basis, k, 2);
            record.at(3, point, run) += z[static_cast<std::size_t>(k)];
        } else {
            record.at(1, point, run) = 0.0;
            record.at(2, point, run) = 0.0;
            record.at(3, point, run) = 0.0;
        }
    }
}

}  // namespace

double referenceValue(double reference, const model::ElementTable& elements, std::string_view arrayedName,
                      double arrayedValue)
{
    if (reference >= 0.0)
        return reference;
    const int m = model::PulseSequence::referencedElement(reference);
    if (m < 0)
        return 0.0;
    return util::equalsIgnoreCase(elements.name(m), arrayedName) ? arrayedValue : elements.value(m);
}

double rfAmplitudeRadPerS(double powerDb)
{
    return kTwoPi * kMicrosecondsPerSecond / (20.0 * std::pow(10.0, (60.0 - powerDb) / 20.0));
}

namespace {

// Rotation of one spin's (x, y, z) coefficients about the effective field of a pulse element: RF of
// amplitude a along phase phi in the transverse plane and the resonance offset Delta = -Omega along
// z; the coefficients turn by beta = omega_e * seconds about its direction (nx, ny, nz).
ElementRotation effectiveFieldRotation(double amplitudeRadPerS, double phaseRad, double offsetRadPerS,
                                       double seconds)
{
    const double delta = -offsetRadPerS;
    const double omegaE = std::sqrt(delta * delta + amplitudeRadPerS * amplitudeRadPerS);
    const double nz = delta / omegaE;
    const double nx = std::cos(phaseRad) * amplitudeRadPerS / omegaE;
    const double ny = std::sin(phaseRad) * amplitudeRadPerS / omegaE;
    const double beta = omegaE * seconds;
    const double cb = std::cos(beta);
    const double sb = std::sin(beta);
    const double u = 1.0 - cb;
    return {nx * nx * u + cb,      nx * ny * u + nz * sb, nx * nz * u - ny * sb,
            nx * ny * u - nz * sb, ny * ny * u + cb,      ny * nz * u + nx * sb,
            nx * nz * u + ny * sb, ny * nz * u - nx * sb, nz * nz * u + cb};
}

}  // namespace

ElementRotation elementRotation(double amplitudeRadPerS, double phaseRad, double offsetRadPerS,
                                double seconds)
{
    if (amplitudeRadPerS > 0.0)
        return effectiveFieldRotation(amplitudeRadPerS, phaseRad, offsetRadPerS, seconds);
    // Free precession of the spin alone, as rotateSpinAboutZ turns it.
    const double c = std::cos(offsetRadPerS * seconds);
    const double s = std::sin(offsetRadPerS * seconds);
    return {c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0};
}

void requirePulsedSpinInRow(std::span<const double> row, int nSpins, int spin)
{
    if (nSpins < 1 || nSpins > kMaxSpins || spin < 0 || spin >= nSpins)
        throw std::invalid_argument("a pulse element on spin " + std::to_string(spin) + " of a row of " +
                                    std::to_string(nSpins) + " spins");
    if (row.size() < static_cast<std::size_t>(operatorCount(nSpins)))
        throw std::invalid_argument("the state row is too short for the spins");
}

void applyPulseElement(std::span<double> row, int nSpins, int spin, double amplitudeRadPerS, double phaseRad,
                       double offsetRadPerS, double seconds)
{
    requirePulsedSpinInRow(row, nSpins, spin);
    double* const c = row.data();
    if (!(amplitudeRadPerS > 0.0)) {
        rotateSpinAboutZ(row, nSpins, spin, offsetRadPerS * seconds);
        return;
    }
    const ElementRotation r = effectiveFieldRotation(amplitudeRadPerS, phaseRad, offsetRadPerS, seconds);
    const std::int32_t xFromZ = kYDigit[spin];
    const std::int32_t yFromZ = kStride[spin];
    forEachZ(nSpins, spin, [=](std::int32_t zIdx) {
        const double x = c[zIdx - xFromZ];
        const double y = c[zIdx - yFromZ];
        const double z = c[zIdx];
        c[zIdx - xFromZ] = x * r.xx + y * r.xy + z * r.xz;
        c[zIdx - yFromZ] = x * r.yx + y * r.yy + z * r.yz;
        c[zIdx] = x * r.zx + y * r.zy + z * r.zz;
    });
}

void applyPulseElementInRuns(std::span<double> row, int nSpins, int spin, double amplitudeRadPerS,
                             double phaseRad, double offsetRadPerS, double seconds)
{
    requirePulsedSpinInRow(row, nSpins, spin);
    if (!(amplitudeRadPerS > 0.0)) {
        rotateSpinAboutZ(row, nSpins, spin, offsetRadPerS * seconds);
        return;
    }
    const ElementRotation r = effectiveFieldRotation(amplitudeRadPerS, phaseRad, offsetRadPerS, seconds);
    const std::int32_t run = kStride[spin];
    const std::int32_t count = operatorCount(nSpins);
    for (std::int32_t base = 0; base < count; base += 4 * run) {
        double* const px = row.data() + base + run;
        rotateTriples(px, px + run, px + 2 * run, run, r);
    }
}

void StepWorkspace::reserve(int points)
{
    const auto rows = static_cast<std::size_t>(points) + 1;
    if (gradientShape_.size() >= rows)
        return;
    durationSeconds_.resize(rows * kSpinSlots);
    amplitudeRadPerS_.resize(rows * kSpinSlots);
    phaseRad_.resize(rows * kSpinSlots);
    gradientShape_.resize(rows);
}

std::span<const double> StepWorkspace::observedRow(std::span<const double> row, int nSpins, RowBasis basis)
{
    if (basis == RowBasis::productOperators)
        return row;
    observed_.assign(row.begin(), row.begin() + operatorCount(nSpins));
    fromPopulationBasis(observed_, nSpins, rowPool_);
    return observed_;
}

void checkStepInputs(const StepInputs& inputs, const SpinTables& spins)
{
    const int nSpins = spins.count;
    if (nSpins < 1 || nSpins > kMaxSpins)
        throw std::invalid_argument("a step needs 1 to 10 spins");
    const auto spinCount = static_cast<std::size_t>(nSpins);
    if (inputs.row.size() < static_cast<std::size_t>(operatorCount(nSpins)) ||
        inputs.gradientFactors.size() < spinCount || inputs.shiftOffsetsRadPerS.size() < spinCount)
        throw std::invalid_argument("the state row, gradient factors or offsets are too short for the spins");
}

void applyStep(const StepInputs& inputs, const StepContext& context, StepWorkspace& workspace)
{
    const SpinTables& spins = context.spins;
    const int nSpins = spins.count;
    checkStepInputs(inputs, spins);
    if (inputs.acquisition && context.signal == nullptr)
        throw std::invalid_argument("an acquisition step needs a signal record");

    const model::SequenceStep& step = context.sequence.step(inputs.step);
    const model::ElementTable& elements = context.sequence.elements();
    const PreparedRun& prepared = context.prepared;
    const RunSettings& settings = prepared.settings;
    const auto valueOf = [&](double reference) {
        return referenceValue(reference, elements, settings.arrayedName, inputs.arrayedValue);
    };
    const std::span<double> row = inputs.row;
    // A row held in the population basis stays in it through the step.
    const RowBasis basis = inputs.basis;

    // Shape detection: the first RF channel (1H, 13C, 15N) whose content names a shaped element makes
    // the step shaped. A shaped element that the preparation left without a slot (or without rows)
    // has no points to apply, so the step then runs as an unshaped one.
    const pulses::ShapeTable* pulseShape = nullptr;
    for (int ch = 0; ch < kRfChannelCount; ++ch) {
        const std::string* name = referencedName(step.channels[ch].content, elements);
        if (namesShapedElement(name)) {
            pulseShape = loadedShape(prepared.pulseShapes, *name);
            break;
        }
    }
    const std::string* gradientName = referencedName(step.gradient, elements);
    const pulses::ShapeTable* gradientShape =
        namesShapedElement(gradientName) ? loadedShape(prepared.gradientShapes, *gradientName) : nullptr;

    // Points of the step: those of the shaped pulse, else those of the shaped gradient, else one.
    const int points = pulseShape != nullptr      ? pulseShape->pointCount()
                       : gradientShape != nullptr ? gradientShape->pointCount()
                                                  : 1;
    workspace.reserve(std::max({points, prepared.pulseShapes.longest(), prepared.gradientShapes.longest()}));

    // Gradient shape g(p): -2 pi at full amplitude. With a shaped pulse a shaped gradient of L points
    // is resampled to the P pulse points by a real index running from 1 in steps of L / P, truncated.
    for (int p = 1; p <= points; ++p) {
        double g = -kTwoPi;
        if (gradientShape != nullptr) {
            const int length = gradientShape->pointCount();
            int source = p;
            if (pulseShape != nullptr) {
                const double stride = static_cast<double>(length) / static_cast<double>(points);
                source = std::clamp(static_cast<int>(1.0 + (p - 1) * stride), 1, length);
            }
            g = -kTwoPi * gradientShape->points[static_cast<std::size_t>(source)][kGradientColumn] /
                kFullGradientAmplitude;
        }
        workspace.gradient(p) = g;
    }

    // Point 0: width in seconds, amplitude in rad/s and phase in rad of each spin's channel.
    double tauMax = 0.0;
    for (int k = 0; k < nSpins; ++k) {
        const model::ChannelSetting& channel = step.channels[static_cast<std::size_t>(spins.channel[k])];
        const double width = channel.content == kDecouplingContentCode
                                 ? 0.0
                                 : valueOf(channel.content) / kMicrosecondsPerSecond;
        tauMax = std::max(tauMax, width);
        workspace.duration(0, k) = width;
        // A spin without a pulse has no RF on it: amplitude 0, which also opens its receiver gate.
        workspace.amplitude(0, k) = width != 0.0 ? rfAmplitudeRadPerS(valueOf(channel.power)) : 0.0;
        workspace.phase(0, k) =
            model::phaseQuarterTurns(channel.phase, settings.phaseRows, inputs.phaseCounter) * kPi / 2.0;
    }

    // Points 1..P: the shape's columns scale every spin's point-0 values; a hard pulse is point 1,
    // and the further points of a hard step with a shaped gradient carry no RF.
    for (int p = 1; p <= points; ++p) {
        for (int k = 0; k < nSpins; ++k) {
            if (pulseShape != nullptr) {
                const std::array<double, 3>& column = pulseShape->points[static_cast<std::size_t>(p)];
                workspace.duration(p, k) = workspace.duration(0, k) / points * column[kDurationColumn];
                workspace.amplitude(p, k) =
                    workspace.amplitude(0, k) / kFullPulseAmplitude * column[kAmplitudeColumn];
                workspace.phase(p, k) = workspace.phase(0, k) + column[kPhaseColumn] * kPi / 180.0;
            } else {
                workspace.duration(p, k) = p == 1 ? workspace.duration(0, k) : 0.0;
                workspace.amplitude(p, k) = p == 1 ? workspace.amplitude(0, k) : 0.0;
                workspace.phase(p, k) = workspace.phase(0, k);
            }
        }
    }

    // Time of the step not covered by the pulse, in seconds, and its share per point.
    const double restSeconds = std::max(inputs.stepSeconds - tauMax, 0.0);
    const double remainderPerPoint = restSeconds / points;

    if (settings.destroyMxy && tauMax > 0.0)
        destroyTransverse(row, nSpins, basis);

    const Relaxation relaxation =
        relaxationForRun(spins, settings, inputs.arrayedValue, context.sliceRowCount);
    std::array<double, kSpinSlots>& omega = workspace.offsets();
    const std::span<const double> offsets(omega.data(), omega.size());
    const auto setOffsets = [&](int p) {
        const double g = workspace.gradient(p);
        for (int k = 0; k < nSpins; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            omega[kk] = inputs.gradientFactors[kk] * g + inputs.shiftOffsetsRadPerS[kk];
        }
    };

    const double gateThreshold = settings.receiverGapping ? kGappedThreshold : kOpenThreshold;
    const int gateDelayPoints = settings.receiverGapping ? settings.receiverDelayPoints : 0;
    workspace.gateCounts().fill(0);

    const bool shapedPulse = pulseShape != nullptr;
    // The closing delay of a hard pulse joins the point's evolution when nothing comes between them
    // (no sample) and it is one part (no shaped gradient).
    const bool closingDelayJoined = !shapedPulse && gradientShape == nullptr && !inputs.acquisition &&
                                    points == 1 && tauMax > 0.0 && restSeconds > 0.0;
    if (tauMax > 0.0) {
        for (int p = 1; p <= points; ++p) {
            setOffsets(p);
            double lastWidth = 0.0;
            std::array<PulseElement, kSpinSlots> elements{};
            std::size_t elementCount = 0;
            for (int k = 0; k < nSpins; ++k) {
                const double tau = workspace.duration(p, k);
                if (tau == 0.0)
                    continue;
                lastWidth = tau;
                elements[elementCount++] = {k, workspace.amplitude(p, k), workspace.phase(p, k),
                                            omega[static_cast<std::size_t>(k)], tau};
            }
            const std::span<const PulseElement> pointElements(elements.data(), elementCount);
            if (shapedPulse && lastWidth != 0.0 && remainderPerPoint != 0.0) {
                // The elements and both intervals of the point in one interval's passes (they
                // commute; see point_evolution.h).
                applyElementsAndEvolve(row, spins, relaxation, pointElements, offsets, lastWidth,
                                       remainderPerPoint, RestRelaxation::afterShapedEvolution,
                                       workspace.freeEvolution(), basis);
            } else if (closingDelayJoined) {
                // A hard pulse not sampled before its closing delay: the elements, the couplings
                // after them and the delay in one interval's passes, the delay's offsets those of
                // this point.
                applyElementsAndEvolve(row, spins, relaxation, pointElements, offsets, lastWidth, restSeconds,
                                       RestRelaxation::afterElement, workspace.freeEvolution(), basis);
            } else {
                // Couplings alone after the elements: the offsets acted inside them. A row in the
                // population basis takes the elements into the interval's passes.
                constexpr std::array<double, kSpinSlots> kNoOffsets{};
                if (basis == RowBasis::populations && lastWidth != 0.0) {
                    const std::array<SpinRotation, kSpinSlots> rotations = spinRotations(pointElements);
                    workspace.freeEvolution().evolve(row, spins, kNoOffsets, lastWidth, {},
                                                     std::span(rotations.data(), elementCount), basis);
                    relaxAfterElement(row, spins, relaxation, lastWidth, workspace.rowPool(), basis);
                } else if (lastWidth != 0.0) {
                    applyPulseElements(row, nSpins, pointElements, workspace.rowPool());
                    workspace.freeEvolution().evolve(row, spins, kNoOffsets, lastWidth);
                    relaxAfterElement(row, spins, relaxation, lastWidth, workspace.rowPool());
                }
                if (shapedPulse && remainderPerPoint != 0.0) {
                    workspace.freeEvolution().evolve(row, spins, offsets, remainderPerPoint, {}, {}, basis);
                    relaxAfterShapedEvolution(row, spins, relaxation, remainderPerPoint, workspace.rowPool(),
                                              basis);
                }
            }
            if (inputs.acquisition) {
                sample(row, basis, spins, workspace, p, gateThreshold, gateDelayPoints, inputs.run,
                       *context.signal);
                if (context.observer != nullptr)
                    context.observer->sampled(inputs.run, p, workspace.observedRow(row, nSpins, basis));
            }
        }
    }

    // Closing delay of hard-pulse steps and pure delays (a shaped pulse of zero length is a pure
    // delay): the rest of the step, cut into one part per gradient point when the gradient is shaped
    // so that each part sees its own gradient value. The parts together last T - tau_max.
    if (!(shapedPulse && tauMax > 0.0) && !closingDelayJoined && restSeconds > 0.0) {
        const int parts = gradientShape != nullptr ? points : 1;
        const double partSeconds = restSeconds / parts;
        for (int i = 1; i <= parts; ++i) {
            setOffsets(i);
            workspace.freeEvolution().evolve(row, spins, offsets, partSeconds, {}, {}, basis);
            relaxAfterElement(row, spins, relaxation, partSeconds, workspace.rowPool(), basis);
        }
    }
}

}  // namespace velmora::engine
