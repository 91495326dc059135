// The step routine: hard and shaped pulses against the analytic rotation of the magnetisation,
// phase cycling, echoes, gradients across slices, the closing delay and the receiver.
#include "engine/free_evolution.h"
#include "engine/operator_basis.h"
#include "engine/population_basis.h"
#include "engine/relaxation.h"
#include "engine/slice_profile.h"
#include "engine/step_routine.h"
#include "engine/strong_coupling_step.h"
#include "model/pulse_sequence.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmora::engine {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kH = kNucleusConstantH1;
constexpr double kC = kNucleusConstantC13;

// Element indices the tests use.
constexpr int kP1 = 1;  // p1, microseconds
constexpr int kP2 = 2;
constexpr int kG1 = 21;  // g1
constexpr int kG2 = 22;
constexpr int kO1 = 31;       // o1, Hz
constexpr int kR2 = 42;       // r2, dB
constexpr int kShaped1 = 51;  // first shaped pulse, microseconds
constexpr int kShapedGradient1 = 61;

using Vector3 = std::array<double, 3>;

SpinTables spinsOf(std::initializer_list<double> nucleusConstants)
{
    SpinTables spins;
    spins.count = static_cast<int>(nucleusConstants.size());
    int k = 0;
    for (const double gamma : nucleusConstants) {
        spins.slotState[k] = 3;
        spins.nucleusConstant[k] = gamma;
        spins.channel[k] = gamma == kH ? kChannelH1 : gamma == kC ? kChannelC13 : kChannelN15;
        spins.t1Ms[k] = 1000.0;
        spins.t2Ms[k] = 100.0;
        ++k;
    }
    return spins;
}

std::vector<double> zeroRow(int nSpins)
{
    return std::vector<double>(static_cast<std::size_t>(operatorCount(nSpins)), 0.0);
}

std::vector<double> equilibrium(const SpinTables& spins)
{
    std::vector<double> row = zeroRow(spins.count);
    for (int k = 0; k < spins.count; ++k)
        row[static_cast<std::size_t>(kSpinMask[k])] = spins.nucleusConstant[k];
    return row;
}

double x(const std::vector<double>& row, int spin)
{
    return row[static_cast<std::size_t>(kStride[spin])];
}
double y(const std::vector<double>& row, int spin)
{
    return row[static_cast<std::size_t>(kYDigit[spin])];
}
double z(const std::vector<double>& row, int spin)
{
    return row[static_cast<std::size_t>(kSpinMask[spin])];
}

// Independent reference for one spin. In this engine's coefficient convention free precession at
// offset Omega turns x toward y (right-handed about +z), and on resonance an x pulse turns z toward
// +y (right-handed about -x). So during RF of amplitude a and phase phi the vector (x, y, z)
// precesses right-handedly about (-a cos phi, -a sin phi, Omega) at the rate of that vector's length.
Vector3 rodrigues(const Vector3& v, Vector3 axis, double angle)
{
    const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    for (double& c : axis)
        c /= length;
    const Vector3 cross = {axis[1] * v[2] - axis[2] * v[1], axis[2] * v[0] - axis[0] * v[2],
                           axis[0] * v[1] - axis[1] * v[0]};
    const double dot = axis[0] * v[0] + axis[1] * v[1] + axis[2] * v[2];
    Vector3 out{};
    for (std::size_t i = 0; i < 3; ++i)
        out[i] =
            v[i] * std::cos(angle) + cross[i] * std::sin(angle) + axis[i] * dot * (1.0 - std::cos(angle));
    return out;
}

Vector3 analyticPulse(const Vector3& v, double amplitudeRadPerS, double phaseRad, double offsetRadPerS,
                      double seconds)
{
    const Vector3 axis = {-amplitudeRadPerS * std::cos(phaseRad), -amplitudeRadPerS * std::sin(phaseRad),
                          offsetRadPerS};
    const double rate = std::hypot(amplitudeRadPerS, offsetRadPerS);
    return rodrigues(v, axis, rate * seconds);
}

// 2 pi * 50 kHz at 60 dB, ten times more for every 20 dB more.
double amplitudeAt(double powerDb)
{
    return 2.0 * kPi * 50000.0 * std::pow(10.0, (powerDb - 60.0) / 20.0);
}

class RecordingObserver : public StepObserver {
public:
    struct Seen {
        int run;
        int sample;
        double x;
        double y;
    };
    void sampled(int run, int sample, std::span<const double> row) override
    {
        seen.push_back({run, sample, row[1], row[2]});
    }
    std::vector<Seen> seen;
};

// A sequence with empty steps (every channel at its own power r1..r3 and offset o1..o3), a spin
// system, a prepared run and a signal record of 64 samples, and the per-slice inputs of a call.
struct StepRig {
    explicit StepRig(SpinTables spinTables) : spins(spinTables)
    {
        for (int s = 0; s < model::PulseSequence::kStepSlots; ++s) {
            model::SequenceStep& step = sequence.step(s);
            step = model::SequenceStep{};
            for (int c = 0; c < model::kChannelCount; ++c) {
                step.channels[static_cast<std::size_t>(c)].power = -(41 + c);
                step.channels[static_cast<std::size_t>(c)].offset = -(31 + c);
            }
        }
        sequence.elements().setValue(kP1, 5.0);  // 90 degrees at 60 dB
        prepared.arrayedValues = {0.0};
    }

    model::ElementTable& elements() { return sequence.elements(); }
    model::ChannelSetting& channel(int step, int c)
    {
        return sequence.step(step).channels[static_cast<std::size_t>(c)];
    }

    // A shaped pulse in slot `element` (51..60) with the given points (phase deg, amplitude, duration).
    void addPulseShape(int element, const std::vector<Vector3>& points)
    {
        pulses::ShapeTable table;
        table.elementName = elements().name(element);
        table.points.push_back({0.0, 0.0, 0.0});
        table.points.insert(table.points.end(), points.begin(), points.end());
        prepared.pulseShapes.add(table);
    }

    void addGradientShape(int element, const std::vector<double>& values)
    {
        pulses::ShapeTable table;
        table.elementName = elements().name(element);
        table.points.push_back({0.0, 0.0, 0.0});
        for (const double v : values)
            table.points.push_back({v, 0.0, 0.0});
        prepared.gradientShapes.add(table);
    }

    void apply(int step, double seconds, std::vector<double>& row, bool acquire = false, int counter = 1,
               double arrayedValue = 0.0, StepObserver* observer = nullptr)
    {
        shiftOffsets(spins, sequence.step(step), sequence.elements(), prepared.settings.arrayedName,
                     arrayedValue, offsets);
        const StepInputs inputs{.run = 0,
                                .acquisition = acquire,
                                .stepSeconds = seconds,
                                .gradientFactors = gradientFactors,
                                .shiftOffsetsRadPerS = offsets,
                                .arrayedValue = arrayedValue,
                                .step = step,
                                .phaseCounter = counter,
                                .row = row,
                                .basis = basis};
        const StepContext context{.sequence = sequence,
                                  .spins = spins,
                                  .prepared = prepared,
                                  .sliceRowCount = sliceRows,
                                  .signal = &record,
                                  .observer = observer};
        if (strong)
            applyStrongStep(inputs, context, exact);
        else
            applyStep(inputs, context, workspace);
    }

    model::PulseSequence sequence;
    SpinTables spins;
    PreparedRun prepared;
    SampleRecord record{64, 0};
    StepWorkspace workspace;
    std::array<double, kSpinSlots> gradientFactors{};
    std::array<double, kSpinSlots> offsets{};
    int sliceRows = 1;
    RowBasis basis = RowBasis::productOperators;
    bool strong = false;  // the exact strong-coupling step instead of the weak one
    ExactEvolution exact;
};

// --- Hard pulses -----------------------------------------------------------------------------------

TEST(StepHardPulse, NinetyDegreesXTurnsEquilibriumZIntoYOnTheProtonChannelOnly)
{
    StepRig rig(spinsOf({kH, kC}));
    rig.channel(0, 0).content = -kP1;  // 5 us at 60 dB, phase x
    rig.channel(0, 1).content = -132;  // "dec" carries no pulse
    std::vector<double> row = equilibrium(rig.spins);
    rig.apply(0, 5.0e-6, row);
    EXPECT_NEAR(y(row, 0), kH, 1e-6);
    EXPECT_NEAR(z(row, 0), 0.0, 1e-6);
    EXPECT_NEAR(x(row, 0), 0.0, 1e-6);
    EXPECT_EQ(z(row, 1), kC);
}

TEST(StepHardPulse, PhaseYTurnsZIntoMinusX)
{
    StepRig rig(spinsOf({kH}));
    rig.channel(0, 0).content = -kP1;
    rig.channel(0, 0).phase = 1;
    std::vector<double> row = equilibrium(rig.spins);
    rig.apply(0, 5.0e-6, row);
    EXPECT_NEAR(x(row, 0), -kH, 1e-6);
    EXPECT_NEAR(y(row, 0), 0.0, 1e-6);
    EXPECT_NEAR(z(row, 0), 0.0, 1e-6);
}

TEST(StepHardPulse, ArrayedPulseWidthAndLiteralPowerSetTheFlip)
{
    StepRig rig(spinsOf({kH}));
    rig.prepared.settings.arrayedName = "P1";
    rig.channel(0, 0).content = -kP1;  // 5 us in the table, 10 us in this run: 180 degrees
    std::vector<double> row = equilibrium(rig.spins);
    rig.apply(0, 10.0e-6, row, false, 1, 10.0);
    EXPECT_NEAR(z(row, 0), -kH, 1e-6);

    // A literal power of 80 dB makes a 0.5 us pulse a 90 degree one.
    rig.channel(0, 0).content = -kP2;
    rig.elements().setValue(kP2, 0.5);
    rig.channel(0, 0).power = 80.0;
    row = equilibrium(rig.spins);
    rig.apply(0, 0.5e-6, row);
    EXPECT_NEAR(y(row, 0), kH, 1e-6);
}

TEST(StepHardPulse, AnyFlipPhaseAndOffsetMatchesTheAnalyticRotation)
{
    StepRig rig(spinsOf({kH}));
    // A one-point shape gives the pulse an arbitrary phase on top of the channel's quarter turns.
    rig.channel(0, 0).content = -kShaped1;
    std::mt19937 generator(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 24; ++trial) {
        const double widthUs = 0.5 + 19.5 * unit(generator);
        const double powerDb = 50.0 + 16.0 * unit(generator);
        const int phaseCode = static_cast<int>(4.0 * unit(generator)) % 4;
        const double phaseDeg = 360.0 * unit(generator);
        rig.spins.shiftHz[0] = -5000.0 + 10000.0 * unit(generator);
        const double offsetHz = -15000.0 + 30000.0 * unit(generator);
        rig.prepared.pulseShapes = {};
        rig.addPulseShape(kShaped1, {{phaseDeg, 1023.0, 1.0}});
        rig.elements().setValue(kShaped1, widthUs);
        rig.elements().setValue(kO1, offsetHz);
        rig.channel(0, 0).power = powerDb;
        rig.channel(0, 0).phase = phaseCode;

        const Vector3 start = {-1.0e7 + 2.0e7 * unit(generator), -1.0e7 + 2.0e7 * unit(generator),
                               -1.0e7 + 2.0e7 * unit(generator)};
        std::vector<double> row = zeroRow(1);
        row[1] = start[0];
        row[2] = start[1];
        row[3] = start[2];
        rig.apply(0, widthUs * 1.0e-6, row);

        const double omega = -2.0 * kPi * (rig.spins.shiftHz[0] + offsetHz);
        const Vector3 expected =
            analyticPulse(start, amplitudeAt(powerDb), phaseCode * kPi / 2.0 + phaseDeg * kPi / 180.0, omega,
                          widthUs * 1.0e-6);
        EXPECT_NEAR(row[1], expected[0], 1e-4) << trial;
        EXPECT_NEAR(row[2], expected[1], 1e-4) << trial;
        EXPECT_NEAR(row[3], expected[2], 1e-4) << trial;
    }
}

TEST(StepHardPulse, ProductsWithOtherSpinsRotateLikeTheSingleSpinVector)
{
    std::mt19937 generator(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> row = zeroRow(2);
    for (double& c : row)
        c = value(generator);
    const std::vector<double> before = row;
    const double a = amplitudeAt(57.0);
    const double phase = 1.1;
    const double omega = 2.0 * kPi * 7300.0;
    const double seconds = 9.0e-6;
    applyPulseElement(row, 2, 1, a, phase, omega, seconds);
    for (std::int32_t other = 0; other < 4; ++other) {
        // (other, E) is untouched; (other, x|y|z) rotates as a vector.
        EXPECT_EQ(row[static_cast<std::size_t>(other)], before[static_cast<std::size_t>(other)]);
        const Vector3 v = {before[static_cast<std::size_t>(other + 4)],
                           before[static_cast<std::size_t>(other + 8)],
                           before[static_cast<std::size_t>(other + 12)]};
        const Vector3 expected = analyticPulse(v, a, phase, omega, seconds);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_NEAR(row[static_cast<std::size_t>(other) + 4 * (i + 1)], expected[i], 1e-12) << other;
    }
}

TEST(StepHardPulse, ElementsInRunsAgreeWithThePlainElementOnRandomRows)
{
    // Every spin of eight, on and off resonance, RF on and off, against the plain reference.
    std::mt19937 generator(11);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> plain = zeroRow(8);
    for (double& c : plain)
        c = value(generator);
    std::vector<double> runs = plain;
    for (int spin = 0; spin < 8; ++spin) {
        const double a = spin == 3 ? 0.0 : amplitudeAt(50.0 + spin);
        const double phase = 0.7 * spin;
        const double omega = 2.0 * kPi * (spin - 4) * 900.0;
        applyPulseElement(plain, 8, spin, a, phase, omega, 7.0e-6);
        applyPulseElementInRuns(runs, 8, spin, a, phase, omega, 7.0e-6);
    }
    for (std::size_t i = 0; i < plain.size(); ++i)
        ASSERT_NEAR(runs[i], plain[i], 1e-12) << "coefficient " << i;
}

TEST(StepHardPulse, CouplingEvolvesAfterTheRotationsForTheLastPulsedWidth)
{
    // Proton 0 pulsed for 5 us, carbon 1 not pulsed: the point's J evolution lasts 5 us.
    StepRig rig(spinsOf({kH, kC}));
    rig.spins.couplingHz[0][1] = rig.spins.couplingHz[1][0] = 140.0;
    rig.channel(0, 0).content = -kP1;
    std::vector<double> row = equilibrium(rig.spins);
    rig.apply(0, 5.0e-6, row);
    const double theta = kPi * 140.0 * 5.0e-6;
    EXPECT_NEAR(y(row, 0), kH * std::cos(theta), 1e-6);
    // Iy -> Iy cos theta - 2IxSz sin theta.
    EXPECT_NEAR(row[static_cast<std::size_t>(kStride[0] + kSpinMask[1])], -kH * std::sin(theta), 1e-6);
    EXPECT_EQ(z(row, 1), kC);
}

TEST(StepHardPulse, DestroyMxyClearsSingleSpinTransverseTermsBeforeThePulse)
{
    StepRig rig(spinsOf({kH, kC}));
    rig.channel(0, 0).content = -kP1;
    rig.channel(0, 0).phase = 1;  // 90 degrees about y on the protons: x goes to z
    const auto xz = static_cast<std::size_t>(kStride[0] + kSpinMask[1]);
    std::vector<double> start = zeroRow(2);
    start[static_cast<std::size_t>(kStride[0])] = kH;
    start[xz] = 5.0e6;

    std::vector<double> kept = start;
    rig.apply(0, 5.0e-6, kept);
    EXPECT_NEAR(z(kept, 0), kH, 1e-6);

    rig.prepared.settings.destroyMxy = true;
    std::vector<double> destroyed = start;
    rig.apply(0, 5.0e-6, destroyed);
    EXPECT_NEAR(z(destroyed, 0), 0.0, 1e-6);
    // The multi-spin term survives and is rotated: 2IxSz -> 2IzSz.
    EXPECT_NEAR(destroyed[static_cast<std::size_t>(kSpinMask[0] + kSpinMask[1])], 5.0e6, 1e-6);
}

// --- Phases ----------------------------------------------------------------------------------------

TEST(StepPhaseCycle, Row0213AtCounter6GivesMinusX)
{
    StepRig rig(spinsOf({kH}));
    rig.prepared.settings.phaseRows = {"0213", "0", "0", "0", "0", "0"};
    rig.channel(0, 0).content = -kP1;
    rig.channel(0, 0).phase = 4;  // f4
    std::vector<double> row = equilibrium(rig.spins);
    rig.apply(0, 5.0e-6, row, false, 6);
    EXPECT_NEAR(y(row, 0), -kH, 1e-6);  // -x: z goes to -y

    row = equilibrium(rig.spins);
    rig.apply(0, 5.0e-6, row, false, 5);
    EXPECT_NEAR(y(row, 0), kH, 1e-6);  // x

    row = equilibrium(rig.spins);
    rig.apply(0, 5.0e-6, row, false, 7);
    EXPECT_NEAR(x(row, 0), -kH, 1e-6);  // y
}

// --- Echo ------------------------------------------------------------------------------------------

TEST(StepEcho, A180DegreePulseBetweenEqualDelaysRefocusesChemicalShifts)
{
    StepRig rig(spinsOf({kH, kH}));
    rig.spins.shiftHz = {120.0, -340.0};
    rig.elements().setValue(kO1, 50.0);
    rig.elements().setValue(kP2, 1.0);  // 180 degrees at 80 dB
    rig.elements().setValue(41, 80.0);  // r1
    const double delaySeconds = 3.7e-3;
    // Step 0: a pure delay; step 1: a 180 degree y pulse followed by the same delay.
    rig.channel(1, 0).content = -kP2;
    rig.channel(1, 0).phase = 1;

    std::vector<double> start = zeroRow(2);
    start[static_cast<std::size_t>(kYDigit[0])] = kH;
    start[static_cast<std::size_t>(kYDigit[1])] = kH;

    std::vector<double> row = start;
    rig.apply(0, delaySeconds, row);
    EXPECT_LT(y(row, 0), 0.5 * kH);  // dephased before the pulse
    rig.apply(1, 1.0e-6 + delaySeconds, row);
    for (int k = 0; k < 2; ++k) {
        EXPECT_NEAR(y(row, k), kH, 1e-4 * kH) << k;
        EXPECT_NEAR(x(row, k), 0.0, 1e-4 * kH) << k;
    }

    // The same time without the pulse leaves the spins spread out.
    row = start;
    rig.apply(0, 2.0 * delaySeconds + 1.0e-6, row);
    EXPECT_LT(y(row, 0), 0.5 * kH);
}

// --- Shaped pulses ---------------------------------------------------------------------------------

TEST(StepShapedPulse, RectangularShapeOfTheSameAreaAsAHardPulseGivesTheSameFlip)
{
    const double thirtyDegreesUs = 5.0 / 3.0;
    StepRig rig(spinsOf({kH}));
    rig.elements().setValue(kP1, thirtyDegreesUs);
    rig.channel(0, 0).content = -kP1;
    std::vector<double> hard = equilibrium(rig.spins);
    rig.apply(0, thirtyDegreesUs * 1.0e-6, hard);
    EXPECT_NEAR(y(hard, 0), kH * 0.5, 1e-6);
    EXPECT_NEAR(z(hard, 0), kH * std::sqrt(3.0) / 2.0, 1e-6);

    // Full amplitude over the same time, and half amplitude over twice the time.
    for (const auto& [amplitude, widthUs] :
         {std::pair{1023.0, thirtyDegreesUs}, std::pair{511.5, 2.0 * thirtyDegreesUs}}) {
        StepRig shaped(spinsOf({kH}));
        shaped.addPulseShape(kShaped1, std::vector<Vector3>(64, Vector3{0.0, amplitude, 1.0}));
        shaped.elements().setValue(kShaped1, widthUs);
        shaped.channel(0, 0).content = -kShaped1;
        std::vector<double> row = equilibrium(shaped.spins);
        shaped.apply(0, widthUs * 1.0e-6, row);
        EXPECT_NEAR(y(row, 0), y(hard, 0), 1e-6) << amplitude;
        EXPECT_NEAR(z(row, 0), z(hard, 0), 1e-6) << amplitude;
        EXPECT_NEAR(x(row, 0), 0.0, 1e-6) << amplitude;
    }
}

TEST(StepShapedPulse, PointsWithoutRfPrecessOverTheirWidthAndTheirShareOfTheRest)
{
    StepRig rig(spinsOf({kH}));
    rig.spins.shiftHz[0] = 250.0;
    const int points = 16;
    rig.addPulseShape(kShaped1, std::vector<Vector3>(points, Vector3{0.0, 0.0, 1.0}));
    rig.elements().setValue(kShaped1, 1000.0);  // 62.5 us per point
    rig.channel(0, 0).content = -kShaped1;
    const double omega = -2.0 * kPi * 250.0;

    for (const double stepSeconds : {1.0e-3, 2.0e-3}) {
        rig.record.clear();
        RecordingObserver observer;
        std::vector<double> row = zeroRow(1);
        row[1] = kH;
        rig.apply(0, stepSeconds, row, true, 1, 0.0, &observer);
        ASSERT_EQ(observer.seen.size(), static_cast<std::size_t>(points));
        const double perPoint = stepSeconds / points;
        for (int n = 1; n <= points; ++n) {
            const double theta = omega * perPoint * n;
            EXPECT_NEAR(rig.record.at(1, n, 0), kH * std::cos(theta), 1e-3) << n;
            EXPECT_NEAR(rig.record.at(2, n, 0), kH * std::sin(theta), 1e-3) << n;
            EXPECT_EQ(observer.seen[static_cast<std::size_t>(n - 1)].sample, n);
            EXPECT_EQ(observer.seen[static_cast<std::size_t>(n - 1)].x, rig.record.at(1, n, 0));
        }
    }
}

// --- Closing delay ---------------------------------------------------------------------------------

TEST(StepClosingDelay, StepShorterThanItsPulseGetsNoDelay)
{
    StepRig rig(spinsOf({kH, kH}));
    rig.spins.shiftHz = {400.0, -90.0};
    rig.spins.couplingHz[0][1] = rig.spins.couplingHz[1][0] = 12.0;
    rig.prepared.settings.t1Relaxation = true;
    rig.prepared.settings.t2Relaxation = true;
    rig.prepared.settings.crossRelaxation = true;
    rig.channel(0, 0).content = -kP1;

    std::vector<double> bare = equilibrium(rig.spins);
    rig.apply(0, 5.0e-6, bare);
    std::vector<double> shorter = equilibrium(rig.spins);
    rig.apply(0, 1.0e-6, shorter);
    EXPECT_EQ(shorter, bare);

    // A longer step adds offset, coupling, cross-relaxation, T2 and T1 over the rest, in that order.
    std::vector<double> longer = equilibrium(rig.spins);
    rig.apply(0, 5.0e-6 + 2.0e-3, longer);
    std::vector<double> expected = bare;
    evolveOffsets(expected, rig.spins, rig.offsets, 2.0e-3);
    evolveCouplings(expected, rig.spins, 2.0e-3);
    relaxAfterElement(expected, rig.spins, relaxationForRun(rig.spins, rig.prepared.settings, 0.0, 1),
                      2.0e-3);
    ASSERT_NE(expected, bare);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(longer[i], expected[i], 1e-6) << i;
}

TEST(StepClosingDelay, PureDelayRelaxesWithTheRunsArrayedT1)
{
    StepRig rig(spinsOf({kH}));
    rig.prepared.settings.t1Relaxation = true;
    rig.prepared.settings.arrayedName = "T1";
    rig.sliceRows = 2;  // each row recovers toward half the equilibrium
    std::vector<double> row = zeroRow(1);
    rig.apply(0, 0.5, row, false, 1, 500.0);
    EXPECT_NEAR(z(row, 0), 0.5 * kH * (1.0 - std::exp(-1.0)), 1e-6);
}

// --- Gradients and slices --------------------------------------------------------------------------

// Transverse magnetisation spread over 64 slices; returns the rows after the gradient step.
std::vector<std::vector<double>> sliceRows(int lastSlice)
{
    const std::vector<double> weights = sliceWeights("square", lastSlice);
    std::vector<std::vector<double>> rows;
    for (const double w : weights) {
        std::vector<double> row = zeroRow(1);
        row[2] = w * kH;  // I(0)y
        rows.push_back(row);
    }
    return rows;
}

void applyToSlices(StepRig& rig, int step, double seconds, std::vector<std::vector<double>>& rows)
{
    const int lastSlice = static_cast<int>(rows.size()) - 1;
    rig.sliceRows = lastSlice + 1;
    const double gradientValue =
        stepGradientValue(rig.sequence.step(step), rig.elements(), rig.prepared.settings.arrayedName, 0.0);
    for (int s = 0; s <= lastSlice; ++s) {
        gradientFactors(rig.spins, gradientValue, s, lastSlice, rig.gradientFactors);
        rig.apply(step, seconds, rows[static_cast<std::size_t>(s)]);
    }
}

Vector3 sumOverRows(const std::vector<std::vector<double>>& rows)
{
    Vector3 sum{};
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < 3; ++i)
            sum[i] += row[i + 1];
    }
    return sum;
}

TEST(StepGradient, DephasesAcrossSlicesAndTheOppositeGradientRefocuses)
{
    const int lastSlice = 63;
    const double seconds = 1.0e-3;
    // Neighbouring slices differ in phase by gval * 26.7519 * T / S; over 64 slices three full turns
    // cancel the sum exactly.
    const double gradientValue = 2.0 * kPi * 3.0 * lastSlice / (64.0 * 26.7519 * seconds);
    StepRig rig(spinsOf({kH}));
    rig.elements().setValue(kG1, gradientValue);
    rig.elements().setValue(kG2, -gradientValue);
    rig.sequence.step(0).gradient = -kG1;
    rig.sequence.step(1).gradient = -kG2;

    std::vector<std::vector<double>> rows = sliceRows(lastSlice);
    applyToSlices(rig, 0, seconds, rows);
    const Vector3 dephased = sumOverRows(rows);
    EXPECT_NEAR(dephased[0], 0.0, 1e-6 * kH);
    EXPECT_NEAR(dephased[1], 0.0, 1e-6 * kH);
    // The outer slices turned by +-1.5 turns; the magnetisation of each slice is still all there.
    EXPECT_NEAR(std::hypot(rows.front()[1], rows.front()[2]), kH / 64.0, 1e-6);

    applyToSlices(rig, 1, seconds, rows);
    const Vector3 refocused = sumOverRows(rows);
    EXPECT_NEAR(refocused[0], 0.0, 1e-6 * kH);
    EXPECT_NEAR(refocused[1], kH, 1e-6 * kH);
}

TEST(StepGradient, RectangularShapedGradientActsLikeTheConstantGradient)
{
    const int lastSlice = 15;
    const double seconds = 1.0e-3;
    StepRig constant(spinsOf({kH}));
    constant.elements().setValue(kG1, 300.0);
    constant.sequence.step(0).gradient = -kG1;
    std::vector<std::vector<double>> expected = sliceRows(lastSlice);
    applyToSlices(constant, 0, seconds, expected);

    // Eight points at half amplitude with twice the gradient value: the delay is cut into eight
    // parts that together last the whole step.
    StepRig shaped(spinsOf({kH}));
    shaped.addGradientShape(kShapedGradient1, std::vector<double>(8, 32767.0 / 2.0));
    shaped.elements().setValue(kShapedGradient1, 600.0);
    shaped.sequence.step(0).gradient = -kShapedGradient1;
    std::vector<std::vector<double>> rows = sliceRows(lastSlice);
    applyToSlices(shaped, 0, seconds, rows);

    for (std::size_t s = 0; s < rows.size(); ++s) {
        EXPECT_NEAR(rows[s][1], expected[s][1], 1e-6) << s;
        EXPECT_NEAR(rows[s][2], expected[s][2], 1e-6) << s;
    }
}

TEST(StepGradient, ShapedGradientIsResampledToThePulsePointsByTruncatedIndex)
{
    // Eight gradient points under a four-point pulse: the points used are 1, 3, 5 and 7, which hold
    // the full gradient; the even points hold none.
    StepRig rig(spinsOf({kH}));
    rig.addPulseShape(kShaped1, std::vector<Vector3>(4, Vector3{0.0, 0.0, 1.0}));
    rig.elements().setValue(kShaped1, 400.0);
    rig.channel(0, 0).content = -kShaped1;
    rig.addGradientShape(kShapedGradient1, {32767.0, 0.0, 32767.0, 0.0, 32767.0, 0.0, 32767.0, 0.0});
    rig.sequence.step(0).gradient = -kShapedGradient1;
    rig.gradientFactors[0] = 150.0;  // Hz at full gradient

    std::vector<double> row = zeroRow(1);
    row[1] = kH;
    const double seconds = 1.0e-3;
    rig.apply(0, seconds, row);
    const double theta = -2.0 * kPi * 150.0 * seconds;
    EXPECT_NEAR(row[1], kH * std::cos(theta), 1e-3);
    EXPECT_NEAR(row[2], kH * std::sin(theta), 1e-3);
}

// Without couplings between spins of one nucleus the exact path is the weak path to rounding, also
// under a shaped gradient: a hard pulse whose step runs through the gradient's points (sampled at
// each), a shaped pulse the gradient is resampled to, and a pure delay cut into the gradient's parts.
TEST(StepGradient, ShapedGradientStepsOfTheExactPathEqualTheWeakPathWithoutHomonuclearCouplings)
{
    const std::vector<double> gradient = {32767.0, -12000.0, 20000.0, 0.0, 5000.0, -32767.0, 16000.0, 900.0};
    for (int kind = 0; kind < 3; ++kind) {
        std::array<std::vector<double>, 2> rows;
        std::array<std::vector<double>, 2> samples;
        for (int path = 0; path < 2; ++path) {
            StepRig rig(spinsOf({kH, kH, kC}));
            rig.strong = path == 1;
            rig.spins.couplingHz[0][2] = rig.spins.couplingHz[2][0] = 140.0;
            rig.spins.couplingHz[1][2] = rig.spins.couplingHz[2][1] = -6.0;
            rig.spins.shiftHz = {120.0, -340.0, 900.0};
            rig.addGradientShape(kShapedGradient1, gradient);
            rig.sequence.step(0).gradient = -kShapedGradient1;
            for (int k = 0; k < 3; ++k)  // Hz at full gradient, in proportion to each nucleus's gamma
                rig.gradientFactors[static_cast<std::size_t>(k)] = 230.0 * rig.spins.nucleusConstant[k] / kH;
            rig.channel(0, 0).content = -kP1;
            if (kind == 1) {
                rig.addPulseShape(kShaped1, {{0.0, 1023.0, 1.0}, {90.0, 700.0, 1.0}, {10.0, 1023.0, 2.0}});
                rig.elements().setValue(kShaped1, 12.0);
                rig.channel(0, 0).content = -kShaped1;
            } else if (kind == 2) {
                rig.channel(0, 0).content = 0.0;
            }
            std::vector<double> row = equilibrium(rig.spins);
            row[static_cast<std::size_t>(kStride[1])] = 0.4 * kH;  // transverse before the step
            rig.apply(0, 2.0e-3, row, kind == 0);
            rows[static_cast<std::size_t>(path)] = row;
            for (int n = 1; n <= 8; ++n)
                for (int c = 1; c <= 2; ++c)
                    samples[static_cast<std::size_t>(path)].push_back(rig.record.at(c, n, 0));
        }
        for (std::size_t i = 0; i < rows[0].size(); ++i)
            EXPECT_NEAR(rows[1][i], rows[0][i], 1e-8 * kH) << "step kind " << kind << ", operator " << i;
        for (std::size_t i = 0; i < samples[0].size(); ++i)
            EXPECT_NEAR(samples[1][i], samples[0][i], 1e-8 * kH) << "sample " << i;
        if (kind == 0) {
            EXPECT_NE(samples[0][14], 0.0) << "the hard step samples every gradient point";
        }
    }
}

// With strongly coupled protons a delay under a shaped gradient is the product of the exact
// propagators of its parts, each with the part's gradient offset in every spin's shift.
TEST(StepGradient, AShapedGradientDelayOfTheExactPathIsTheProductOfItsPartsPropagators)
{
    const std::vector<double> gradient = {32767.0, -8000.0, 15000.0, 4000.0};
    StepRig rig(spinsOf({kH, kH, kH}));
    rig.strong = true;
    rig.spins.couplingHz[0][1] = rig.spins.couplingHz[1][0] = 12.0;
    rig.spins.couplingHz[1][2] = rig.spins.couplingHz[2][1] = 7.0;
    rig.spins.shiftHz = {100.0, 108.0, 131.0};
    rig.addGradientShape(kShapedGradient1, gradient);
    rig.sequence.step(0).gradient = -kShapedGradient1;
    rig.gradientFactors.fill(180.0);
    std::vector<double> row = zeroRow(3);
    std::mt19937 generator(8);
    std::uniform_real_distribution<double> value(-kH, kH);
    for (std::size_t i = 1; i < row.size(); ++i)
        row[i] = value(generator);
    std::vector<double> expected = row;
    const double seconds = 0.04;
    rig.apply(0, seconds, row);

    shiftOffsets(rig.spins, rig.sequence.step(0), rig.sequence.elements(), "", 0.0, rig.offsets);
    for (const double g : gradient) {
        std::array<double, kSpinSlots> omega{};
        for (std::size_t k = 0; k < 3; ++k)
            omega[k] = rig.offsets[k] + rig.gradientFactors[k] * (-2.0 * kPi * g / 32767.0);
        evolveReference(expected, zeemanHamiltonian(rig.spins, omega, true), seconds / 4.0);
    }
    for (std::size_t i = 0; i < row.size(); ++i)
        EXPECT_NEAR(row[i], expected[i], 1e-9 * kH) << i;
}

// --- Receiver --------------------------------------------------------------------------------------

TEST(StepReceiver, GappingBlanksSamplesUnderRfAndForTheDelayAfterIt)
{
    // Sixteen points, RF on for the first four; x magnetisation along the RF stays where it is.
    std::vector<Vector3> points(16, Vector3{0.0, 0.0, 1.0});
    for (int p = 0; p < 4; ++p)
        points[static_cast<std::size_t>(p)][1] = 1023.0;
    StepRig rig(spinsOf({kH}));
    rig.addPulseShape(kShaped1, points);
    rig.elements().setValue(kShaped1, 16.0);
    rig.channel(0, 0).content = -kShaped1;
    rig.prepared.settings.receiverGapping = true;
    rig.prepared.settings.receiverDelayPoints = 3;
    for (int n = 1; n <= 16; ++n) {
        for (int c = 1; c <= 3; ++c)
            rig.record.at(c, n, 0) = 5.0;
    }
    std::vector<double> row = zeroRow(1);
    row[1] = kH;
    rig.apply(0, 16.0e-6, row, true);
    for (int n = 1; n <= 16; ++n) {
        const bool open = n >= 8;  // 4 points under RF, then 3 points of delay
        EXPECT_NEAR(rig.record.at(1, n, 0), open ? 5.0 + kH : 0.0, 1e-6) << n;
        EXPECT_EQ(rig.record.at(3, n, 0), open ? 5.0 : 0.0) << n;
    }

    // Without gapping every point is sampled, under RF as well.
    rig.prepared.settings.receiverGapping = false;
    rig.record.clear();
    row = zeroRow(1);
    row[1] = kH;
    rig.apply(0, 16.0e-6, row, true);
    for (int n = 1; n <= 16; ++n)
        EXPECT_NEAR(rig.record.at(1, n, 0), kH, 1e-6) << n;
}

TEST(StepReceiver, RfOnAnotherChannelLeavesTheProtonGateOpen)
{
    // A shaped pulse on the carbon channel with receiver gapping: the protons carry no RF, so every
    // point is sampled.
    StepRig rig(spinsOf({kH, kC}));
    rig.addPulseShape(kShaped1, std::vector<Vector3>(8, Vector3{0.0, 1023.0, 1.0}));
    rig.elements().setValue(kShaped1, 8.0);
    rig.channel(0, 1).content = -kShaped1;
    rig.prepared.settings.receiverGapping = true;
    rig.prepared.settings.receiverDelayPoints = 0;
    std::vector<double> row = equilibrium(rig.spins);
    rig.apply(0, 8.0e-6, row, true);
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(rig.record.at(3, n, 0), kH) << n;
    EXPECT_NE(z(row, 1), kC);  // the carbon was pulsed
}

TEST(StepReceiver, OnlyProtonsAreDetectedAndSliceRowsAddUp)
{
    StepRig rig(spinsOf({kH, kC}));
    rig.addPulseShape(kShaped1, std::vector<Vector3>(4, Vector3{0.0, 0.0, 1.0}));
    rig.elements().setValue(kShaped1, 40.0);
    rig.channel(0, 0).content = -kShaped1;
    std::vector<double> start = zeroRow(2);
    start[static_cast<std::size_t>(kStride[0])] = 0.5 * kH;
    start[static_cast<std::size_t>(kStride[1])] = 0.5 * kC;
    start[static_cast<std::size_t>(kSpinMask[1])] = 0.5 * kC;
    for (int slice = 0; slice < 2; ++slice) {
        std::vector<double> row = start;
        rig.apply(0, 40.0e-6, row, true);
    }
    for (int n = 1; n <= 4; ++n) {
        EXPECT_NEAR(rig.record.at(1, n, 0), kH, 1e-6) << n;
        EXPECT_EQ(rig.record.at(2, n, 0), 0.0) << n;
        EXPECT_EQ(rig.record.at(3, n, 0), 0.0) << n;
    }
    EXPECT_EQ(rig.record.at(1, 5, 0), 0.0);
}

TEST(StepReceiver, AcquisitionWithoutARecordIsRefused)
{
    StepRig rig(spinsOf({kH}));
    std::vector<double> row = zeroRow(1);
    const StepInputs inputs{.acquisition = true,
                            .gradientFactors = rig.gradientFactors,
                            .shiftOffsetsRadPerS = rig.offsets,
                            .row = row};
    const StepContext context{.sequence = rig.sequence, .spins = rig.spins, .prepared = rig.prepared};
    EXPECT_THROW(applyStep(inputs, context, rig.workspace), std::invalid_argument);
}

// --- Workspace -------------------------------------------------------------------------------------

TEST(StepWorkspaceReuse, AShapedStepLeavesNothingBehindForTheNextStep)
{
    StepRig rig(spinsOf({kH, kH}));
    rig.spins.shiftHz = {30.0, -70.0};
    rig.addPulseShape(kShaped1, std::vector<Vector3>(32, Vector3{45.0, 700.0, 1.0}));
    rig.elements().setValue(kShaped1, 300.0);
    rig.channel(0, 0).content = -kShaped1;
    rig.addGradientShape(kShapedGradient1, std::vector<double>(8, 20000.0));
    rig.elements().setValue(kShapedGradient1, 50.0);
    rig.channel(1, 0).content = -kP1;
    rig.sequence.step(1).gradient = -kShapedGradient1;
    rig.gradientFactors = {40.0, 40.0};

    std::vector<double> row = equilibrium(rig.spins);
    rig.apply(0, 1.0e-3, row);
    std::vector<double> fresh = row;
    rig.apply(1, 1.0e-3, row);  // hard pulse with an eight-point gradient, same workspace

    StepRig other(rig.spins);
    other.addGradientShape(kShapedGradient1, std::vector<double>(8, 20000.0));
    other.elements().setValue(kShapedGradient1, 50.0);
    other.channel(1, 0).content = -kP1;
    other.sequence.step(1).gradient = -kShapedGradient1;
    other.gradientFactors = rig.gradientFactors;
    other.apply(1, 1.0e-3, fresh);
    EXPECT_EQ(row, fresh);
}

// --- A row kept in the population basis ------------------------------------------------------------

TEST(StepPopulationBasis, ARowInItSamplesAndEndsAsOnProductOperators)
{
    // Nine coupled protons on a random row: a shaped pulse of 8 points with the transverse
    // single-spin terms destroyed first, sampled and observed at every point, with T1, T2 and
    // cross-relaxation on.
    const int n = 9;
    SpinTables spins = spinsOf({kH, kH, kH, kH, kH, kH, kH, kH, kH});
    for (int i = 0; i < n; ++i) {
        spins.shiftHz[i] = 30.0 * i - 100.0;
        for (int j = 0; j < i; ++j)
            spins.couplingHz[i][j] = spins.couplingHz[j][i] = 2.0 + 1.5 * i + j;
    }
    std::vector<double> start(static_cast<std::size_t>(operatorCount(n)));
    for (std::size_t i = 0; i < start.size(); ++i)
        start[i] = kH * std::sin(0.37 * static_cast<double>(i));
    struct Outcome {
        std::vector<double> row;
        std::vector<double> samples;
        std::vector<RecordingObserver::Seen> seen;
    };
    const auto run = [&](RowBasis basis) {
        StepRig rig(spins);
        rig.addPulseShape(kShaped1, std::vector<Vector3>(8, Vector3{30.0, 700.0, 1.0}));
        rig.elements().setValue(kShaped1, 8.0);
        rig.channel(0, 0).content = -kShaped1;
        rig.prepared.settings.destroyMxy = true;
        rig.prepared.settings.t1Relaxation = true;
        rig.prepared.settings.t2Relaxation = true;
        rig.prepared.settings.crossRelaxation = true;
        rig.prepared.settings.crossRelaxationMs = 30000.0;
        rig.basis = basis;
        Outcome outcome{start, {}, {}};
        if (basis == RowBasis::populations)
            toPopulationBasis(outcome.row, n);
        RecordingObserver observer;
        rig.apply(0, 30.0e-6, outcome.row, true, 1, 0.0, &observer);
        if (basis == RowBasis::populations)
            fromPopulationBasis(outcome.row, n);
        for (int p = 1; p <= 8; ++p)
            for (int c = 1; c <= 3; ++c)
                outcome.samples.push_back(rig.record.at(c, p, 0));
        outcome.seen = observer.seen;
        return outcome;
    };
    const Outcome products = run(RowBasis::productOperators);
    const Outcome populations = run(RowBasis::populations);
    const double tolerance = 1e-12 * kH;
    ASSERT_EQ(populations.samples.size(), products.samples.size());
    for (std::size_t i = 0; i < products.samples.size(); ++i)
        EXPECT_NEAR(populations.samples[i], products.samples[i], tolerance) << i;
    ASSERT_EQ(populations.seen.size(), 8U);
    for (std::size_t i = 0; i < products.seen.size(); ++i) {
        EXPECT_NEAR(populations.seen[i].x, products.seen[i].x, tolerance) << i;
        EXPECT_NEAR(populations.seen[i].y, products.seen[i].y, tolerance) << i;
    }
    double largest = 0.0;
    for (std::size_t i = 0; i < products.row.size(); ++i)
        largest = std::max(largest, std::abs(populations.row[i] - products.row[i]));
    EXPECT_LT(largest, tolerance);
    // The step did something to the single-spin terms it samples.
    EXPECT_NE(products.samples[0], products.samples[3 * 7]);
}

}  // namespace
}  // namespace velmora::engine
