// The synthesized acquisition against analytic spectra: line positions and heights on exact bins,
// receiver offsets, J multiplets and their signs, T2 decay, windows, gradient slices, the running
// sum of an array, the amplitude threshold, seeded noise and the channels of 2D runs.
#include "engine/recorded_operators.h"
#include "engine/spin_tables.h"
#include "model/element_table.h"
#include "model/pulse_sequence.h"
#include "processing/synthesis.h"
#include "util/messages.h"
#include "util/rounding.h"
#include "util/uniform_random.h"

#include <array>
#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmora::processing {
namespace {

constexpr double kTolerance = 1e-9;

// sw a power of two so that the single-precision dwell time is exact and lines land on bins:
// with np = 64 one bin is 8 Hz.
constexpr int kPoints = 64;
constexpr double kWidthHz = 512.0;
constexpr double kBinHz = kWidthHz / kPoints;
constexpr int kCentre = kPoints / 2 + 1;  // point of zero frequency

// 1-based point of a line at f Hz: a quarter width above zero lands a quarter of np below centre.
int pointOf(double frequencyHz)
{
    return kCentre - static_cast<int>(std::lround(frequencyHz / kBinHz));
}

// A hand-made entry of the recorded-operator list with its components.
struct Line {
    engine::RecordedOperator entry;
    std::vector<engine::MultipletComponent> components;
};

Line xLine(int spin, int channel = engine::kChannelH1)
{
    Line o;
    o.entry.operatorIndex = 1;
    o.entry.spin = spin;
    o.entry.channel = channel;
    o.entry.kind = 1;
    return o;
}

Line multiplet(int kind, std::vector<engine::MultipletComponent> components)
{
    Line o = xLine(0);
    o.entry.coupled = true;
    o.entry.kind = kind;
    o.components = std::move(components);
    return o;
}

engine::RecordedOperators listOf(std::initializer_list<Line> lines)
{
    engine::RecordedOperators list;
    for (const Line& l : lines)
        list.add(l.entry, l.components);
    return list;
}

// A fixture that owns everything the synthesis reads: spins, step N + 1, elements, operators and
// their detection record. Defaults: one proton on resonance, no window, no T2, one run.
class Acquisition {
public:
    Acquisition()
    {
        spins.count = 1;
        spins.slotState[0] = 1;
        spins.nucleusConstant.fill(engine::kNucleusConstantH1);
        spins.t2Ms.fill(1000.0);
    }

    void addSpin(double shiftHz, int channel = engine::kChannelH1, double t2Ms = 1000.0)
    {
        const auto s = static_cast<std::size_t>(spinsAdded_++);
        spins.count = static_cast<int>(s) + 1;
        spins.slotState[s] = 1;
        spins.channel[s] = channel;
        spins.shiftHz[s] = shiftHz;
        spins.t2Ms[s] = t2Ms;
    }

    // Sizes the detection record and the arrayed values for the operators added so far.
    void prepare(int lastRun = 0, int lastSlice = 0)
    {
        detection = engine::DetectionRecord(lastSlice, static_cast<int>(recorded.size()), lastRun);
        if (arrayed.size() < static_cast<std::size_t>(lastRun) + 1)
            arrayed.resize(static_cast<std::size_t>(lastRun) + 1, 0.0);
        lastRun_ = lastRun;
        lastSlice_ = lastSlice;
    }

    SynthesisInput input()
    {
        SynthesisInput in{.spins = spins,
                          .acquisitionStep = step,
                          .elements = elements,
                          .recorded = recorded,
                          .detection = detection,
                          .messages = messages};
        in.pointCount = kPoints;
        in.spectralWidthHz = kWidthHz;
        in.lineBroadeningHz = 0.0;
        in.window = "Lorenz";
        in.arrayedName = arrayedName;
        in.arrayedValues = arrayed;
        in.lastRun = lastRun_;
        in.lastSlice = lastSlice_;
        return in;
    }

    SynthesisResult run() { return run(input()); }
    SynthesisResult run(const SynthesisInput& in)
    {
        std::optional<SynthesisResult> out = synthesizeSpectra(in);
        if (!out)
            throw std::runtime_error("the synthesis returned nothing");
        return std::move(*out);
    }

    engine::SpinTables spins;
    model::SequenceStep step;
    model::ElementTable elements;
    engine::RecordedOperators recorded;
    engine::DetectionRecord detection;
    std::vector<double> arrayed;
    std::string arrayedName = "d1";
    util::RecordedMessages messages;

private:
    int spinsAdded_ = 0;
    int lastRun_ = 0;
    int lastSlice_ = 0;
};

// The single proton on resonance with the given scaled amplitude x 1000 in run 0.
void onResonanceProton(Acquisition& a, double amplitude)
{
    a.addSpin(0.0);
    a.recorded.add(xLine(0).entry);
    a.prepare();
    a.detection.at(0, 0, 0) = amplitude;
}

void expectSpectrumLines(const engine::SampleRecord& signal, int component, int run,
                         const std::vector<std::pair<int, double>>& lines)
{
    for (int p = 1; p <= kPoints; ++p) {
        double expected = 0.0;
        for (const auto& [point, height] : lines) {
            if (point == p)
                expected += height;
        }
        EXPECT_NEAR(signal.at(component, p, run), expected, kTolerance)
            << "component " << component << " point " << p;
    }
}

TEST(SynthesisLines, AnXLineOnResonanceGivesAFlatFidAndOneAtTheCentre)
{
    Acquisition a;
    onResonanceProton(a, 1000.0);
    const SynthesisResult r = a.run();
    for (int p = 1; p <= kPoints; ++p) {
        EXPECT_NEAR(r.timeDomain.at(1, p, 0), 1.0, kTolerance);
        EXPECT_NEAR(r.timeDomain.at(2, p, 0), 0.0, kTolerance);
        EXPECT_NEAR(r.timeDomain.at(3, p, 0), 1.0, kTolerance);
    }
    expectSpectrumLines(r.signal, 1, 0, {{kCentre, 1.0}});
    expectSpectrumLines(r.signal, 2, 0, {});
    expectSpectrumLines(r.signal, 3, 0, {{kCentre, 1.0}});
    EXPECT_EQ(r.signal.at(1, 0, 0), 0.0) << "point 0 stays unused";
    EXPECT_EQ(r.signal.at(0, kCentre, 0), 0.0) << "component 0 stays unused";
    EXPECT_EQ(r.signal.lastSample(), kPoints);
}

TEST(SynthesisLines, QuarterWidthLinesLandAQuarterOfTheSpectrumFromTheCentre)
{
    Acquisition a;
    a.addSpin(kWidthHz / 4.0);
    a.addSpin(-kWidthHz / 4.0);
    a.recorded = listOf({xLine(0), xLine(1)});
    a.prepare();
    a.detection.at(0, 0, 0) = 1000.0;
    a.detection.at(0, 1, 0) = 500.0;
    const SynthesisResult r = a.run();
    expectSpectrumLines(r.signal, 1, 0, {{kPoints / 4 + 1, 1.0}, {3 * kPoints / 4 + 1, 0.5}});
    expectSpectrumLines(r.signal, 2, 0, {});
}

TEST(SynthesisLines, AYLineIsAQuarterTurnAheadOfAnXLine)
{
    Acquisition a;
    a.addSpin(0.0);
    Line y = xLine(0);
    y.entry.kind = -1;
    a.recorded = listOf({y});
    a.prepare();
    a.detection.at(0, 0, 0) = 1000.0;
    const SynthesisResult r = a.run();
    // Observed along y the FID starts at +i: the whole line sits in the imaginary part, positive.
    EXPECT_NEAR(r.timeDomain.at(1, 5, 0), 0.0, kTolerance);
    EXPECT_NEAR(r.timeDomain.at(2, 5, 0), 1.0, kTolerance);
    expectSpectrumLines(r.signal, 1, 0, {});
    expectSpectrumLines(r.signal, 2, 0, {{kCentre, 1.0}});
}

// A multiplet whose only coupling is 0 Hz is the single line itself: both rules must give the same
// FID for an operator along x and along y, off resonance, at every point.
TEST(SynthesisLines, AnOperatorGivesTheSameSignalWhetherItsSpinIsCoupledOrNot)
{
    for (const int kind : {1, -1}) {
        Acquisition a;
        a.addSpin(3.0 * kBinHz);
        Line single = xLine(0);
        single.entry.kind = kind;
        a.recorded = listOf({single, multiplet(kind, {{1, 0.0}})});
        a.prepare();
        a.detection.at(0, 0, 0) = 1000.0;
        const SynthesisResult alone = a.run();
        a.detection.at(0, 0, 0) = 0.0;
        a.detection.at(0, 1, 0) = 1000.0;
        const SynthesisResult coupled = a.run();
        for (int p = 1; p <= kPoints; ++p)
            for (int c = 1; c <= 2; ++c)
                EXPECT_NEAR(alone.timeDomain.at(c, p, 0), coupled.timeDomain.at(c, p, 0), kTolerance)
                    << "kind " << kind << " component " << c << " point " << p;
    }
}

TEST(SynthesisLines, TheReceiverOffsetOfTheAcquisitionStepShiftsTheLineOfItsChannelOnly)
{
    Acquisition a;
    a.addSpin(0.0, engine::kChannelH1);
    a.addSpin(0.0, engine::kChannelC13);
    a.recorded = listOf({xLine(0, engine::kChannelH1), xLine(1, engine::kChannelC13)});
    a.step.channels[0].offset = -model::element::kFirstOffset;        // o1 on 1H
    a.step.channels[1].offset = -(model::element::kFirstOffset + 1);  // o2 on 13C
    a.elements.setValue(model::element::kFirstOffset, kWidthHz / 4.0);
    a.elements.setValue(model::element::kFirstOffset + 1, -kWidthHz / 4.0);
    a.prepare();
    a.detection.at(0, 0, 0) = 1000.0;
    a.detection.at(0, 1, 0) = 1000.0;

    const SynthesisResult proton = a.run();
    expectSpectrumLines(proton.signal, 1, 0, {{kPoints / 4 + 1, 1.0}});

    SynthesisInput carbonInput = a.input();
    carbonInput.detectionChannel = engine::kChannelC13;
    const SynthesisResult carbon = a.run(carbonInput);
    expectSpectrumLines(carbon.signal, 1, 0, {{3 * kPoints / 4 + 1, 1.0}});
}

TEST(SynthesisLines, AnArrayedOffsetReplacesTheElementValueInEachRun)
{
    Acquisition a;
    a.addSpin(0.0);
    a.recorded = listOf({xLine(0)});
    a.step.channels[0].offset = -model::element::kFirstOffset;
    a.elements.setValue(model::element::kFirstOffset, 1.0e6);  // never used: o1 is arrayed
    a.arrayedName = "O1";
    a.arrayed = {-kWidthHz / 4.0, 2.0 * kBinHz};
    a.prepare(1);
    a.detection.at(0, 0, 0) = 1000.0;
    a.detection.at(0, 0, 1) = 1000.0;
    const SynthesisResult r = a.run();
    expectSpectrumLines(r.signal, 1, 0, {{3 * kPoints / 4 + 1, 1.0}});
    // The last run holds its own line and run 0's.
    expectSpectrumLines(r.signal, 1, 1, {{3 * kPoints / 4 + 1, 1.0}, {kCentre - 2, 1.0}});
}

TEST(SynthesisArray, TheLastRunHoldsTheSumOfEveryRun)
{
    Acquisition a;
    a.addSpin(0.0);
    a.recorded = listOf({xLine(0)});
    a.step.channels[0].offset = -model::element::kFirstOffset;
    a.arrayedName = "o1";
    a.arrayed = {0.0, kWidthHz / 4.0, -kWidthHz / 4.0};
    a.prepare(2);
    for (int run = 0; run <= 2; ++run)
        a.detection.at(0, 0, run) = 1000.0 * (run + 1);
    const SynthesisResult r = a.run();

    expectSpectrumLines(r.signal, 1, 0, {{kCentre, 1.0}});
    expectSpectrumLines(r.signal, 1, 1, {{kPoints / 4 + 1, 2.0}});
    expectSpectrumLines(r.signal, 1, 2, {{kCentre, 1.0}, {kPoints / 4 + 1, 2.0}, {3 * kPoints / 4 + 1, 3.0}});

    // Run 2 on its own, to compare every point and component of the sum.
    Acquisition alone;
    alone.addSpin(0.0);
    alone.recorded = listOf({xLine(0)});
    alone.step.channels[0].offset = -model::element::kFirstOffset;
    alone.arrayedName = "o1";
    alone.arrayed = {-kWidthHz / 4.0};
    alone.prepare();
    alone.detection.at(0, 0, 0) = 3000.0;
    const SynthesisResult own = alone.run();
    for (int c = 1; c <= 3; ++c) {
        for (int p = 1; p <= kPoints; ++p) {
            EXPECT_NEAR(r.signal.at(c, p, 2),
                        r.signal.at(c, p, 0) + r.signal.at(c, p, 1) + own.signal.at(c, p, 0), kTolerance);
            EXPECT_NEAR(r.timeDomain.at(c, p, 2),
                        r.timeDomain.at(c, p, 0) + r.timeDomain.at(c, p, 1) + own.timeDomain.at(c, p, 0),
                        kTolerance);
        }
    }
}

TEST(SynthesisArray, ProgressIsReportedAfterEveryRunInOrder)
{
    Acquisition a;
    onResonanceProton(a, 1000.0);
    a.arrayed = {1.0, 2.0, 3.0};
    a.prepare(2);
    std::vector<int> seen;
    SynthesisInput in = a.input();
    in.runDone = [&seen](int run) { seen.push_back(run); };
    (void)a.run(in);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
}

TEST(SynthesisMultiplets, AnInPhaseDoubletHasTwoEqualLinesHalfACouplingEitherSide)
{
    const double jHz = 4.0 * kBinHz;
    Acquisition a;
    a.addSpin(0.0);
    a.recorded = listOf({multiplet(1, {{1, jHz}})});
    a.prepare();
    a.detection.at(0, 0, 0) = 1000.0;
    const SynthesisResult r = a.run();
    expectSpectrumLines(r.signal, 1, 0, {{pointOf(jHz / 2.0), 0.5}, {pointOf(-jHz / 2.0), 0.5}});
    expectSpectrumLines(r.signal, 2, 0, {});
}

TEST(SynthesisMultiplets, AnAntiphaseDoubletHasLinesOfOppositeSign)
{
    // 2IySz-like entry: seen along y with a sine coupling factor, an absorptive antiphase doublet.
    const double jHz = 4.0 * kBinHz;
    Acquisition a;
    a.addSpin(0.0);
    a.recorded = listOf({multiplet(-1, {{2, jHz}})});
    a.prepare();
    a.detection.at(0, 0, 0) = 1000.0;
    const SynthesisResult r = a.run();
    expectSpectrumLines(r.signal, 1, 0, {{pointOf(jHz / 2.0), 0.5}, {pointOf(-jHz / 2.0), -0.5}});
    expectSpectrumLines(r.signal, 2, 0, {});
    double sum = 0.0;
    for (int p = 1; p <= kPoints; ++p)
        sum += r.signal.at(1, p, 0);
    EXPECT_NEAR(sum, 0.0, kTolerance) << "antiphase lines cancel in the integral";
}

TEST(SynthesisMultiplets, EveryOperatorOfASpinWithThreePartnersGivesItsRotatedProductOfFactors)
{
    // Spin 0 coupled to spins 1, 2 and 3. Under weak coupling I(u) times the z partners in set Z
    // shows I(R^|Z| u) times sin(pi J t) for each partner in Z and cos(pi J t) for each other one,
    // where R turns x into y and y into -x (2IxSz -> Iy, 2IySz -> -Ix). An x operator reads as the
    // real part of the FID and a y one as the imaginary part.
    const std::array<double, 3> jHz{7.0, 3.0, 11.5};
    Acquisition a;
    for (int s = 0; s < 4; ++s)
        a.addSpin(0.0);
    for (int s = 1; s < 4; ++s)
        a.spins.couplingHz[0][static_cast<std::size_t>(s)] =
            a.spins.couplingHz[static_cast<std::size_t>(s)][0] = jHz[static_cast<std::size_t>(s - 1)];
    a.recorded = engine::buildRecordedOperators(a.spins);
    a.prepare();
    const double dwellS = 1.0 / kWidthHz;
    int checked = 0;
    for (std::size_t e = 0; e < a.recorded.size(); ++e) {
        const engine::RecordedOperator& o = a.recorded[e];
        if (o.spin != 0)
            continue;
        a.detection = engine::DetectionRecord(0, static_cast<int>(a.recorded.size()), 0);
        a.detection.at(0, static_cast<int>(e), 0) = 1000.0;
        const SynthesisResult r = a.run();
        // Quarter turns: one for a y operator, one for every z partner.
        int turns = (o.operatorIndex % 4 == 2) ? 1 : 0;
        for (int s = 1; s < 4; ++s)
            turns += (o.operatorIndex / engine::kStride[static_cast<std::size_t>(s)]) % 4 == 3 ? 1 : 0;
        const std::complex<double> phase = std::pow(std::complex<double>(0.0, 1.0), turns);
        for (int k = 0; k < kPoints; ++k) {
            double factor = 1.0;
            for (int s = 1; s < 4; ++s) {
                const bool z = (o.operatorIndex / engine::kStride[static_cast<std::size_t>(s)]) % 4 == 3;
                const double angle = std::numbers::pi * jHz[static_cast<std::size_t>(s - 1)] * k * dwellS;
                factor *= z ? std::sin(angle) : std::cos(angle);
            }
            const std::complex<double> expected = phase * factor;
            EXPECT_NEAR(r.timeDomain.at(1, k + 1, 0), expected.real(), kTolerance)
                << o.operatorIndex << " k " << k;
            EXPECT_NEAR(r.timeDomain.at(2, k + 1, 0), expected.imag(), kTolerance)
                << o.operatorIndex << " k " << k;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 16) << "x and y of spin 0 with every subset of its three partners along z";
}

TEST(SynthesisRelaxation, TheFidOfEachSpinDecaysWithItsOwnT2)
{
    Acquisition a;
    a.addSpin(0.0, engine::kChannelH1, 50.0);
    a.addSpin(0.0, engine::kChannelH1, 200.0);
    a.recorded = listOf({xLine(0), xLine(1)});
    a.prepare();
    a.detection.at(0, 0, 0) = 1000.0;
    a.detection.at(0, 1, 0) = 1000.0;
    SynthesisInput in = a.input();
    in.t2Decay = true;
    const SynthesisResult r = a.run(in);
    for (int k = 0; k < kPoints; ++k) {
        const double tS = k / kWidthHz;
        const double expected = std::exp(-tS / 0.050) + std::exp(-tS / 0.200);
        EXPECT_NEAR(r.timeDomain.at(1, k + 1, 0), expected, 1e-6 * expected) << "t = " << tS << " s";
    }

    in.t2Decay = false;
    const SynthesisResult flat = a.run(in);
    EXPECT_NEAR(flat.timeDomain.at(1, kPoints, 0), 2.0, kTolerance) << "without the T2 switch no decay";
}

TEST(SynthesisRelaxation, AnArrayedT2DecaysEverySpinEvenWithTheSwitchOff)
{
    Acquisition a;
    onResonanceProton(a, 1000.0);
    a.arrayedName = "t2";
    a.arrayed = {100.0};
    const SynthesisResult r = a.run();
    for (int k = 0; k < kPoints; ++k) {
        const double tS = k / kWidthHz;
        EXPECT_NEAR(r.timeDomain.at(1, k + 1, 0), std::exp(-tS / 0.100), kTolerance);
    }
}

TEST(SynthesisWindow, LorentzianAndGaussianWindowsOfTheLineBroadening)
{
    const double lbHz = 10.0;
    const double a = lbHz / kWidthHz;  // per dwell time
    for (const char* name : {"Lorenz", "gauss"}) {
        Acquisition acq;
        onResonanceProton(acq, 1000.0);
        SynthesisInput in = acq.input();
        in.lineBroadeningHz = lbHz;
        in.window = name;
        const SynthesisResult r = acq.run(in);
        const bool gauss = std::string(name) == "gauss";
        for (int k = 0; k < kPoints; ++k) {
            const double expected = gauss ? std::exp(-(k * a) * (k * a)) : std::exp(-k * a);
            EXPECT_NEAR(r.timeDomain.at(1, k + 1, 0), expected, kTolerance) << name << " k = " << k;
        }
    }
}

TEST(SynthesisWindow, TheNewWindowIsExponentialUnlessT2IsArrayed)
{
    const double lbHz = 10.0;
    const double a = lbHz / kWidthHz;
    Acquisition plain;
    onResonanceProton(plain, 1000.0);
    SynthesisInput in = plain.input();
    in.lineBroadeningHz = lbHz;
    in.window = "new";
    const SynthesisResult exponential = plain.run(in);

    Acquisition arrayed;
    onResonanceProton(arrayed, 1000.0);
    arrayed.arrayedName = "T2";
    arrayed.arrayed = {100.0};
    SynthesisInput withT2 = arrayed.input();
    withT2.lineBroadeningHz = lbHz;
    withT2.window = "new";
    const SynthesisResult mixed = arrayed.run(withT2);

    for (int k = 0; k < kPoints; ++k) {
        const double e = std::exp(-k * a);
        const double decay = std::exp(-(k / kWidthHz) / 0.100);
        EXPECT_NEAR(exponential.timeDomain.at(1, k + 1, 0), e, kTolerance);
        EXPECT_NEAR(mixed.timeDomain.at(1, k + 1, 0), decay * e * (2.0 - e), kTolerance);
    }
}

TEST(SynthesisGradient, SlicesUnderALiteralGradientSpreadTheLineAcrossTheSample)
{
    // Three slices at positions -0.5, 0, +0.5; G chosen so that the outer ones sit at -+sw/4 for 1H.
    const double gradient = (kWidthHz / 4.0) / (0.5 * 26.7519 / 6.28318530717958);
    Acquisition a;
    a.addSpin(0.0);
    a.recorded = listOf({xLine(0)});
    a.step.gradient = gradient;
    a.prepare(0, 2);
    for (int j = 0; j <= 2; ++j)
        a.detection.at(j, 0, 0) = 1000.0;
    const SynthesisResult r = a.run();
    expectSpectrumLines(r.signal, 1, 0, {{3 * kPoints / 4 + 1, 1.0}, {kCentre, 1.0}, {kPoints / 4 + 1, 1.0}});
}

TEST(SynthesisGradient, AnArrayedGradientElementActsOnCarbonThroughItsGyromagneticRatio)
{
    // 13C feels 0.2515074 of the proton's offset, so it needs a gradient 1 / 0.2515074 as strong.
    const double gradient = (kWidthHz / 4.0) / (0.5 * 26.7519 / 6.28318530717958) / 0.2515074;
    Acquisition a;
    a.addSpin(0.0, engine::kChannelC13);
    a.recorded = listOf({xLine(0, engine::kChannelC13)});
    a.step.gradient = -model::element::kFirstGradient;  // g1
    a.elements.setValue(model::element::kFirstGradient, 0.0);
    a.arrayedName = "g1";
    a.arrayed = {gradient};
    a.prepare(0, 2);
    a.detection.at(0, 0, 0) = 1000.0;  // slice at -0.5: -sw/4
    a.detection.at(2, 0, 0) = 2000.0;  // slice at +0.5: +sw/4
    SynthesisInput in = a.input();
    in.detectionChannel = engine::kChannelC13;
    const SynthesisResult r = a.run(in);
    expectSpectrumLines(r.signal, 1, 0, {{3 * kPoints / 4 + 1, 1.0}, {kPoints / 4 + 1, 2.0}});
}

TEST(SynthesisGradient, WithoutAGradientOnlyTheFirstSliceIsRead)
{
    Acquisition a;
    a.addSpin(0.0);
    a.recorded = listOf({xLine(0)});
    a.prepare(0, 2);
    a.detection.at(0, 0, 0) = 1000.0;
    a.detection.at(1, 0, 0) = 5000.0;
    const SynthesisResult r = a.run();
    expectSpectrumLines(r.signal, 1, 0, {{kCentre, 1.0}});
}

TEST(SynthesisThreshold, AnAmplitudeNotAboveTheThresholdAddsNothingAndKeepsTheNoiseOut)
{
    Acquisition a;
    onResonanceProton(a, 0.1);  // 0.0001 after scaling: not above the threshold
    SynthesisInput in = a.input();
    in.noise = true;
    in.noiseAmplitude = 100.0;
    const SynthesisResult r = a.run(in);
    for (int c = 0; c <= 3; ++c) {
        for (int p = 0; p <= kPoints; ++p) {
            EXPECT_EQ(r.timeDomain.at(c, p, 0), 0.0);
            EXPECT_EQ(r.signal.at(c, p, 0), 0.0);
        }
    }

    Acquisition above;
    onResonanceProton(above, 0.10001);
    const SynthesisResult small = above.run();
    EXPECT_NEAR(small.signal.at(1, kCentre, 0), 0.00010001, 1e-15)
        << "just above the threshold the line is there";
}

// Noise of a flat on-resonance FID of 1: the time-domain record minus the signal.
std::vector<double> noiseOf(const engine::SampleRecord& fid, int component, double signal)
{
    std::vector<double> noise;
    for (int p = 1; p <= fid.lastSample(); ++p)
        noise.push_back(fid.at(component, p, 0) - signal);
    return noise;
}

TEST(SynthesisNoise, TheNoiseIsTheSameInEverySynthesisWhateverStateTheGeneratorWasIn)
{
    Acquisition a;
    onResonanceProton(a, 1000.0);
    SynthesisInput in = a.input();
    in.noise = true;
    in.noiseAmplitude = 50.0;
    in.noiseDraws = 3;
    const SynthesisResult first = a.run(in);

    util::UniformRandom shared(987654);
    for (int i = 0; i < 17; ++i)
        (void)shared.next();
    in.random = &shared;
    const SynthesisResult second = a.run(in);

    for (int c = 1; c <= 3; ++c) {
        for (int p = 1; p <= kPoints; ++p) {
            EXPECT_EQ(first.timeDomain.at(c, p, 0), second.timeDomain.at(c, p, 0));
            EXPECT_EQ(first.signal.at(c, p, 0), second.signal.at(c, p, 0));
        }
    }
    EXPECT_NE(first.timeDomain.at(1, 1, 0), 1.0) << "the noise is there";
}

TEST(SynthesisNoise, TheNoiseHasZeroMeanAndTheSpreadOfAnAverageOfMUniformDraws)
{
    constexpr int kLong = 4096;
    const double amplitude = 100.0;
    for (const int draws : {1, 4}) {
        Acquisition a;
        onResonanceProton(a, 1000.0);
        SynthesisInput in = a.input();
        in.pointCount = kLong;
        in.noise = true;
        in.noiseAmplitude = amplitude;
        in.noiseDraws = draws;
        const SynthesisResult r = a.run(in);
        // B (mean of M uniforms - 0.5): mean 0, variance B^2 / (12 M).
        const double variance = amplitude * amplitude / (12.0 * draws);
        const double meanBound = 5.0 * std::sqrt(variance / kLong);
        for (int component : {1, 2}) {
            const std::vector<double> noise = noiseOf(r.timeDomain, component, component == 1 ? 1.0 : 0.0);
            double sum = 0.0;
            double sumSquares = 0.0;
            for (double x : noise) {
                sum += x;
                sumSquares += x * x;
            }
            const double mean = sum / kLong;
            EXPECT_LT(std::abs(mean), meanBound) << "M = " << draws;
            EXPECT_NEAR(sumSquares / kLong - mean * mean, variance, 0.1 * variance) << "M = " << draws;
            for (double x : noise)
                EXPECT_LE(std::abs(x), amplitude / 2.0);
        }
    }
}

TEST(SynthesisNoise, FewerThanOneDrawCountsAsOne)
{
    Acquisition a;
    onResonanceProton(a, 1000.0);
    SynthesisInput in = a.input();
    in.noise = true;
    in.noiseDraws = 1;
    const SynthesisResult one = a.run(in);
    in.noiseDraws = 0;
    const SynthesisResult zero = a.run(in);
    for (int p = 1; p <= kPoints; ++p)
        EXPECT_EQ(one.timeDomain.at(1, p, 0), zero.timeDomain.at(1, p, 0));
}

TEST(Synthesis2D, EveryChannelIsSynthesizedIntoItsOwnComponent)
{
    Acquisition a;
    a.addSpin(kWidthHz / 4.0, engine::kChannelH1);
    a.addSpin(-kWidthHz / 8.0, engine::kChannelC13);
    a.recorded = listOf({xLine(0, engine::kChannelH1), xLine(1, engine::kChannelC13)});
    a.arrayed = {0.0, 0.0};
    a.prepare(1);
    a.detection.at(0, 0, 0) = 1000.0;
    a.detection.at(0, 1, 1) = 2000.0;
    SynthesisInput in = a.input();
    in.runsPerValue = 2;
    const SynthesisResult r = a.run(in);
    // The time-domain record holds each channel's real spectrum; runs are not summed.
    expectSpectrumLines(r.timeDomain, 1, 0, {{kPoints / 4 + 1, 1.0}});
    expectSpectrumLines(r.timeDomain, 2, 0, {});
    expectSpectrumLines(r.timeDomain, 1, 1, {});
    expectSpectrumLines(r.timeDomain, 2, 1, {{kPoints / 2 + kPoints / 8 + 1, 2.0}});
    expectSpectrumLines(r.timeDomain, 3, 1, {});
    // The signal record holds the imaginary FID, in time order: sin(2 pi f t) for the 1H line.
    for (int k = 0; k < kPoints; ++k) {
        EXPECT_NEAR(r.signal.at(1, k + 1, 0), std::sin(2.0 * std::numbers::pi * k / 4.0), kTolerance);
        EXPECT_NEAR(r.signal.at(2, k + 1, 1), 2.0 * std::sin(-2.0 * std::numbers::pi * k / 8.0), kTolerance);
    }
}

// The runs of a 2D synthesis go side by side: every run's record, and the order the runs are
// reported in, are those of one thread. An arrayed T2 changes the working arrays from run to run.
TEST(Synthesis2D, RunsSideBySideGiveTheRecordsOfOneThread)
{
    Acquisition a;
    a.addSpin(kWidthHz / 4.0, engine::kChannelH1);
    a.addSpin(-kWidthHz / 8.0, engine::kChannelC13);
    a.recorded = listOf(
        {xLine(0, engine::kChannelH1), multiplet(1, {{1, 4.0 * kBinHz}}), xLine(1, engine::kChannelC13)});
    a.arrayedName = "T2";
    a.arrayed.clear();
    for (int r = 0; r < 21; ++r)
        a.arrayed.push_back(20.0 + 7.0 * r);
    a.prepare(20);
    for (int r = 0; r <= 20; ++r)
        for (int e = 0; e < 3; ++e)
            a.detection.at(0, e, r) = 100.0 * (1 + (r * 7 + e * 3) % 11);
    SynthesisInput in = a.input();
    in.runsPerValue = 2;
    std::vector<int> reported;
    in.runDone = [&reported](int run) { reported.push_back(run); };
    const SynthesisResult one = a.run(in);
    ASSERT_EQ(reported.size(), 21u);
    reported.clear();
    in.threads = 3;
    const SynthesisResult three = a.run(in);
    std::vector<int> inOrder(21);
    for (int r = 0; r <= 20; ++r)
        inOrder[static_cast<std::size_t>(r)] = r;
    EXPECT_EQ(reported, inOrder);
    for (int r = 0; r <= 20; ++r)
        for (int c = 1; c <= 3; ++c)
            for (int p = 1; p <= kPoints; ++p) {
                ASSERT_EQ(three.timeDomain.at(c, p, r), one.timeDomain.at(c, p, r))
                    << r << " " << c << " " << p;
                ASSERT_EQ(three.signal.at(c, p, r), one.signal.at(c, p, r)) << r << " " << c << " " << p;
            }
}

TEST(SynthesisRefusals, AnUnsupportedPointCountIsReportedByTheTransformAndNothingIsBuilt)
{
    Acquisition a;
    onResonanceProton(a, 1000.0);
    SynthesisInput in = a.input();
    in.pointCount = 100;
    EXPECT_FALSE(synthesizeSpectra(in).has_value());
    ASSERT_EQ(a.messages.entries.size(), 1u);
    EXPECT_EQ(a.messages.entries[0].title, "Error!");
    EXPECT_NE(a.messages.entries[0].text.find("NumSamples is 100"), std::string::npos);

    in.pointCount = 0;
    EXPECT_FALSE(synthesizeSpectra(in).has_value());
    EXPECT_EQ(a.messages.entries.size(), 1u) << "np = 0 returns silently";
}

TEST(SynthesisRefusals, InputsThatDoNotFitTogetherAreRefusedBeforeAnyRun)
{
    Acquisition a;
    onResonanceProton(a, 1000.0);
    int runs = 0;
    SynthesisInput in = a.input();
    in.runDone = [&runs](int) { ++runs; };

    SynthesisInput noValues = in;
    noValues.lastRun = 1;  // one arrayed value and a one-run detection record only
    EXPECT_THROW((void)synthesizeSpectra(noValues), std::invalid_argument);

    SynthesisInput zeroT2 = in;
    a.spins.t2Ms[0] = 0.0;
    zeroT2.t2Decay = true;
    EXPECT_THROW((void)synthesizeSpectra(zeroT2), std::invalid_argument);
    a.spins.t2Ms[0] = 1000.0;

    a.step.gradient = 5.0;  // slices 0..2 wanted, the record has one
    SynthesisInput slices = in;
    slices.lastSlice = 2;
    EXPECT_THROW((void)synthesizeSpectra(slices), std::invalid_argument);
    EXPECT_EQ(runs, 0);
}

TEST(SynthesisRefusals, ValuesBeyondSinglePrecisionAreAnOverflowNotAFidOfNaN)
{
    // Each of these is taken at single precision, where it becomes infinite; the first point of
    // the window or the decay would be exp(-0 x infinity).
    Acquisition a;
    onResonanceProton(a, 1000.0);
    SynthesisInput tinyWidth = a.input();
    tinyWidth.spectralWidthHz = 1e-40;  // a dwell time of 1e40 s
    EXPECT_THROW((void)synthesizeSpectra(tinyWidth), std::overflow_error);
    SynthesisInput broadLine = a.input();
    broadLine.lineBroadeningHz = 1e200;
    EXPECT_THROW((void)synthesizeSpectra(broadLine), std::overflow_error);
    a.spins.t2Ms[0] = 1e-40;  // ms: 1e43 per s
    SynthesisInput fastDecay = a.input();
    fastDecay.t2Decay = true;
    EXPECT_THROW((void)synthesizeSpectra(fastDecay), std::overflow_error);
    a.spins.t2Ms[0] = 1000.0;
    // A negative broadening grows the exponential window: exp(63 x 2e4 / 512) passes 1e308.
    SynthesisInput growing = a.input();
    growing.lineBroadeningHz = -2e4;
    EXPECT_THROW((void)synthesizeSpectra(growing), std::overflow_error);
    growing.window = "Gauss";  // exp(-k^2 a^2) never grows
    EXPECT_TRUE(synthesizeSpectra(growing).has_value());

    // The largest single-precision broadening still gives a window: the first point alone.
    SynthesisInput broadest = a.input();
    broadest.lineBroadeningHz = 3.0e38;
    const std::optional<SynthesisResult> result = synthesizeSpectra(broadest);
    ASSERT_TRUE(result.has_value());
    const int np = broadest.pointCount;
    EXPECT_DOUBLE_EQ(result->timeDomain.at(1, 1, 0), 1.0);
    EXPECT_EQ(result->timeDomain.at(1, 2, 0), 0.0);
    EXPECT_DOUBLE_EQ(result->signal.at(1, np / 2 + 1, 0), 1.0 / np) << "a flat spectrum of 1 / np";
}

}  // namespace
}  // namespace velmora::processing
