#include "engine/experiment_driver.h"
#include "engine/sequence_preparation.h"
#include "processing/synthesis.h"
#include "support/preparation_from_controls.h"
#include "support/scratch_directory.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <string>

namespace velmora::engine {
namespace {

namespace ctl = model::ctl;
using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

constexpr double kProton = 1e7;
constexpr int kIx = 1, kIy = 2, kIz = 3;

// One proton on resonance unless a test adds more; a sequence of `steps` empty steps.
class DriverTest : public ::testing::Test {
protected:
    DriverTest()
    {
        (void)spins.setLabel(1, "");
        (void)spins.setLabel(2, "");
        spins.setShiftPpm(0, 0.0);
        spins.rebuild();
        setSteps(2);
        sequence.setArrayedParameter("none");
    }

    void setSteps(int count)
    {
        while (sequence.stepCount() < count)
            ASSERT_TRUE(sequence.insertStep(0));
        while (sequence.stepCount() > count)
            ASSERT_TRUE(sequence.deleteStep(0));
        for (int s = 0; s <= count + 1; ++s) {
            for (int k = 0; k < 3; ++k) {
                sequence.step(s).channels[k] = {0, 0, -(41.0 + k), -(31.0 + k)};
            }
            sequence.step(s).delay = 0.0;
            sequence.step(s).gradient = 0.0;
        }
        sequence.setPointStep(count);
    }
    void pulse(int step, const char* element, int phase = 0)
    {
        ASSERT_TRUE(sequence.setContent(step, 0, element));
        ASSERT_TRUE(sequence.setPhase(step, 0, phase));
    }

    DriverResult run(int runsPerValue = 1, int threads = 1)
    {
        prepared = velmora::testing::prepareFromControls(sequence, controls, spins, dir.path(), runsPerValue,
                                                         messages);
        EXPECT_TRUE(prepared.has_value()) << (messages.entries.empty() ? "" : messages.entries.back().text);
        if (!prepared)
            return {};
        control.tryStart();
        DriverInput input{sequence, spins, prepared->run, prepared->signal, dir.path(), control, threads,
                          nullptr,  {}};
        DriverResult result = runExperiment(input);
        control.stop();
        return result;
    }

    // The synthesized acquisition of a run's detection record, without window.
    processing::SynthesisResult synthesize(const DriverResult& r, int points, double widthHz)
    {
        const SpinTables tables = makeSpinTables(spins);
        processing::SynthesisInput in{.spins = tables,
                                      .acquisitionStep = sequence.step(sequence.stepCount() + 1),
                                      .elements = sequence.elements(),
                                      .recorded = r.recorded,
                                      .detection = r.detection,
                                      .messages = messages};
        in.pointCount = points;
        in.spectralWidthHz = widthHz;
        in.lineBroadeningHz = 0.0;
        in.arrayedName = prepared->run.settings.arrayedName;
        in.arrayedValues = prepared->run.arrayedValues;
        in.lastRun = prepared->run.lastRun;
        in.lastSlice = prepared->run.settings.lastSlice;
        std::optional<processing::SynthesisResult> out = processing::synthesizeSpectra(in);
        EXPECT_TRUE(out.has_value());
        return out ? std::move(*out) : processing::SynthesisResult{};
    }

    ScratchDirectory dir;
    model::SpinSystem spins;
    model::PulseSequence sequence;
    model::Controls controls;
    util::RecordedMessages messages;
    util::RunControl control;
    std::optional<Preparation> prepared;
};

TEST_F(DriverTest, A90DegreePulseOnResonanceLeavesTheProtonAlongY)
{
    pulse(1, "p2");  // 5 us at 60 dB
    const DriverResult r = run();
    EXPECT_NEAR(r.operators.at(kIy, 0), kProton, 1e-6 * kProton);
    EXPECT_NEAR(r.operators.at(kIz, 0), 0.0, 1e-6 * kProton);
    EXPECT_EQ(r.runsDone, 1);
    EXPECT_FALSE(r.stopped);
}

TEST_F(DriverTest, LiteralDelaysAreMilliseconds)
{
    spins.setShiftPpm(0, 1.1);  // 187 Hz at 170 MHz
    spins.rebuild();
    pulse(1, "p2");
    sequence.step(2).delay = 1.0;  // a literal: 1 ms, 0.187 of a turn at 187 Hz
    sequence.setPointStep(2);
    const DriverResult r = run();
    const double angle = 2 * 3.14159265358979 * 187.0 * 1e-3;
    const double transverse = std::hypot(r.operators.at(kIx, 0), r.operators.at(kIy, 0));
    EXPECT_NEAR(transverse, kProton, 1e-3 * kProton);
    // The 5 us pulse adds a few milliradians of its own; read as seconds, the delay would give whole
    // turns and an angle near 0.
    EXPECT_NEAR(std::atan2(r.operators.at(kIx, 0), r.operators.at(kIy, 0)), angle, 0.01);
}

TEST_F(DriverTest, AnArrayedDelayFirstUsedLaterResumesFromRunZerosState)
{
    setSteps(4);
    spins.setShiftPpm(0, 0.5);
    spins.rebuild();
    pulse(1, "p2");
    ASSERT_TRUE(sequence.setDelay(1, "d2"));
    ASSERT_TRUE(sequence.setDelay(3, "d1"));
    sequence.setArrayedParameter("d1");
    controls.setText(ctl::ArraySize, "3");
    controls.setText(ctl::ArrayIncrement, "0.7");
    sequence.setPointStep(4);
    EXPECT_EQ(findMarkers(sequence, "d1").resumeStep, 3);

    const DriverResult arrayed = run();
    ASSERT_EQ(arrayed.runsDone, 4);
    // Each run recomputed on its own, from the start, must agree with the resumed runs.
    for (int r = 0; r < 4; ++r) {
        model::PulseSequence single = sequence;
        single.setArrayedParameter("none");
        single.elements().setValue(11, 0.7 * r);
        std::swap(single, sequence);
        const DriverResult alone = run();
        std::swap(single, sequence);
        for (int op : {kIx, kIy, kIz})
            EXPECT_NEAR(arrayed.operators.at(op, r), alone.operators.at(op, 0), 1e-6)
                << "run " << r << " op " << op;
    }
}

TEST_F(DriverTest, AnUnusedArrayedParameterRecomputesEveryRunFromStepZero)
{
    sequence.setArrayedParameter("d5");
    EXPECT_EQ(findMarkers(sequence, "d5").resumeStep, 0);
    EXPECT_EQ(findMarkers(sequence, "d5").firstArrayedStep, 3333);
    pulse(1, "p2");
    controls.setText(ctl::ArraySize, "2");
    const DriverResult r = run();
    for (int run = 0; run < 3; ++run)
        EXPECT_NEAR(r.operators.at(kIy, run), kProton, 1e-6 * kProton) << "run " << run;
}

TEST_F(DriverTest, ACycledBlockWithCountTwoRunsThreeTimes)
{
    sequence.elements().setValue(1, 5.0 / 3.0);  // p1: 30 degrees
    pulse(1, "p1");
    sequence.setCycleStart(1);
    sequence.setCycleEnd(1);
    sequence.elements().setValue(0, 2);
    const DriverResult r = run();
    EXPECT_NEAR(r.operators.at(kIy, 0), kProton, 1e-6 * kProton) << "three 30-degree pulses make 90 degrees";
}

TEST_F(DriverTest, StopEndsTheRunAndSkipsTheRemainingRuns)
{
    pulse(1, "p2");
    controls.setText(ctl::ArraySize, "5");
    sequence.setArrayedParameter("d5");
    int steps = 0;
    control.setYield([&] {
        if (++steps == 7)
            control.stop();
    });
    const DriverResult r = run();
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.runsDone, 2) << "three steps per run: the third run was stopped";
    EXPECT_EQ(r.operators.at(kIy, 3), 0.0) << "later runs are not recorded";
}

TEST_F(DriverTest, TwoDimensionalRunsCountTheirPhaseCyclePerScan)
{
    pulse(1, "p2", 4);  // phase f4
    controls.setItems(ctl::PhaseCycle, {"0123", "0", "0", "0", "0", "0"});
    controls.setText(ctl::ArraySize, "0");
    sequence.setArrayedParameter("d5");
    DriverResult one = run(2);
    EXPECT_NEAR(one.operators.at(kIy, 0), kProton, 1e-6 * kProton) << "counter 1: x";
    EXPECT_NEAR(one.operators.at(kIx, 1), -kProton, 1e-6 * kProton) << "counter 2: y turns z into -x";

    controls.setText(ctl::ScanCount, "2");
    DriverResult two = run(2);
    EXPECT_NEAR(two.operators.at(kIy, 0), 0.0, 1e-6 * kProton) << "counters 1 and 3: x and -x cancel";
    EXPECT_NEAR(two.operators.at(kIx, 1), 0.0, 1e-6 * kProton) << "counters 2 and 4: y and -y cancel";

    controls.setItems(ctl::PhaseCycle, {"0101", "0", "0", "0", "0", "0"});
    DriverResult same = run(2);
    EXPECT_NEAR(same.operators.at(kIy, 0), one.operators.at(kIy, 0), 1e-6)
        << "two equal scans average to one";
    EXPECT_NEAR(same.operators.at(kIx, 1), one.operators.at(kIx, 1), 1e-6);
}

TEST_F(DriverTest, ACycledPhaseBeforeTheArrayedDelayIsNotFrozenAtRunZero)
{
    setSteps(3);
    pulse(1, "p2", 4);
    ASSERT_TRUE(sequence.setDelay(2, "d1"));
    sequence.setArrayedParameter("d1");
    controls.setText(ctl::ArraySize, "1");
    sequence.setPointStep(3);
    EXPECT_EQ(findMarkers(sequence, "d1").firstArrayedStep, 2);
    EXPECT_EQ(findMarkers(sequence, "d1").resumeStep, 1);
    const DriverResult r = run(2);
    EXPECT_NEAR(r.operators.at(kIy, 0), kProton, 1e-6 * kProton);
    EXPECT_NEAR(r.operators.at(kIx, 1), -kProton, 1e-6 * kProton) << "run 1 pulses with phase y";
}

TEST_F(DriverTest, DetectionRecordHoldsTheRecordedOperatorsAfterTheReceiverPhase)
{
    pulse(1, "p2");
    sequence.step(3).channels[0].phase = 1;  // receiver phase y
    const DriverResult r = run();
    ASSERT_EQ(r.recorded.size(), 2u);
    EXPECT_EQ(r.recorded[0].operatorIndex, kIx);
    // (x, y) = (0, 1e7) becomes (y, -x) = (1e7, 0).
    EXPECT_NEAR(r.detection.at(0, 0, 0), kProton, 1e-6 * kProton);
    EXPECT_NEAR(r.detection.at(0, 1, 0), 0.0, 1e-6 * kProton);
}

TEST_F(DriverTest, GradientEchoRefocusesAndParallelRowsMatchTheSerialRun)
{
    setSteps(3);
    pulse(1, "p2");
    ASSERT_TRUE(sequence.setGradient(2, "g2"));
    ASSERT_TRUE(sequence.setDelay(2, "d3"));
    ASSERT_TRUE(sequence.setGradient(3, "g3"));
    ASSERT_TRUE(sequence.setDelay(3, "d3"));
    sequence.elements().setValue(22, 2000.0);
    sequence.elements().setValue(23, -2000.0);
    sequence.elements().setValue(13, 1.0);  // d3: 1 ms of gradient each
    controls.setText(ctl::LastSlice, "31");
    controls.setText(ctl::ObjectProfile, "gauss");
    sequence.setPointStep(3);

    const DriverResult serial = run(1, 1);
    EXPECT_NEAR(serial.operators.at(kIy, 0), kProton, 1e-6 * kProton) << "the opposite gradient refocuses";
    const std::string slices = readBytes(dir.path() / "a_ZdurGrad.dat");
    EXPECT_EQ(std::count(slices.begin(), slices.end(), '\n'), 32);

    const DriverResult parallel = run(1, 4);
    for (int op = 0; op < 4; ++op)
        EXPECT_EQ(parallel.operators.at(op, 0), serial.operators.at(op, 0)) << "bit for bit, operator " << op;

    sequence.setPointStep(2);
    const DriverResult dephased = run(1, 2);
    EXPECT_LT(std::hypot(dephased.operators.at(kIx, 0), dephased.operators.at(kIy, 0)), 0.05 * kProton)
        << "after the first gradient alone the slices have fanned out";
}

TEST_F(DriverTest, ACycledBlockAcrossTheResumeStepEndsEveryRunAtTheSameAngle)
{
    sequence.elements().setValue(4, 2.5);  // p4: 45 degrees
    pulse(1, "p4");
    ASSERT_TRUE(sequence.setDelay(2, "d1"));
    sequence.setArrayedParameter("d1");
    controls.setText(ctl::ArraySize, "2");
    controls.setText(ctl::ArrayIncrement, "0");
    sequence.setCycleBounds(1, 2);
    sequence.elements().setValue(0, 2);
    sequence.setPointStep(3);
    ASSERT_EQ(findMarkers(sequence, "d1").resumeStep, 2);
    const DriverResult r = run();
    const double angle = 135.0 * std::numbers::pi / 180.0;  // the block runs three times
    for (int run = 0; run < 3; ++run) {
        EXPECT_NEAR(r.operators.at(kIy, run), kProton * std::sin(angle), 1e-6 * kProton) << "run " << run;
        EXPECT_NEAR(r.operators.at(kIz, run), kProton * std::cos(angle), 1e-6 * kProton) << "run " << run;
    }
}

TEST_F(DriverTest, APointStepBeforeTheResumeStepIsRecordedInEveryRun)
{
    pulse(1, "p2");
    ASSERT_TRUE(sequence.setDelay(2, "d1"));
    sequence.setArrayedParameter("d1");
    controls.setText(ctl::ArraySize, "2");
    sequence.setPointStep(1);
    const DriverResult r = run();
    for (int run = 0; run < 3; ++run)
        EXPECT_NEAR(r.operators.at(kIy, run), kProton, 1e-6 * kProton) << "run " << run;
}

// Every place of the arrayed delay (the resume step), every cycled block and every point step of
// one-spin sequences of three and four steps: each resumed run must equal the same run computed
// from step 0 on its own.
TEST_F(DriverTest, ResumedRunsEqualTheSameRunsComputedFromStepZero)
{
    spins.setShiftPpm(0, 0.5);  // 85 Hz: the delays turn the transverse part
    spins.rebuild();
    sequence.elements().setValue(1, 1.5);   // p1: 54 degrees
    sequence.elements().setValue(12, 0.4);  // d2: 0.4 ms, the fixed delay
    sequence.elements().setValue(0, 2);     // the cycle count
    controls.setText(ctl::ArraySize, "2");
    controls.setText(ctl::ArrayIncrement, "0.7");
    constexpr double kStartMs = 0.2;
    int combinations = 0;
    for (int n = 3; n <= 4; ++n) {
        for (int arrayedStep = 1; arrayedStep <= n; ++arrayedStep) {
            // (0, 0): no block; every other pair is a block of steps start..end.
            std::vector<std::pair<int, int>> blocks = {{0, 0}};
            for (int start = 1; start <= n; ++start)
                for (int end = start; end <= n; ++end)
                    blocks.emplace_back(start, end);
            for (const auto& [cycleStart, cycleEnd] : blocks) {
                for (int pointStep = 1; pointStep <= n + 1; ++pointStep) {
                    setSteps(n);
                    for (int k = 1; k <= n; ++k) {
                        pulse(k, "p1", k % 2);  // x and y in turn: the order of the steps matters
                        ASSERT_TRUE(sequence.setDelay(k, k == arrayedStep ? "d1" : "d2"));
                    }
                    sequence.setCycleBounds(cycleStart, cycleEnd);
                    sequence.setPointStep(pointStep);
                    sequence.setArrayedParameter("d1");
                    sequence.elements().setValue(11, kStartMs);
                    ASSERT_EQ(findMarkers(sequence, "d1").resumeStep, arrayedStep);
                    const DriverResult arrayed = run();

                    const model::PulseSequence resumed = sequence;
                    sequence.setArrayedParameter("none");
                    for (int r = 0; r < 3; ++r) {
                        sequence.elements().setValue(11, kStartMs + 0.7 * r);
                        const DriverResult alone = run();
                        for (int op : {kIx, kIy, kIz})
                            EXPECT_NEAR(arrayed.operators.at(op, r), alone.operators.at(op, 0), 1e-6)
                                << n << " steps, d1 in step " << arrayedStep << ", block " << cycleStart
                                << ".." << cycleEnd << ", point step " << pointStep << ", run " << r
                                << ", operator " << op;
                        for (int e = 0; e < 2; ++e)
                            EXPECT_NEAR(arrayed.detection.at(0, e, r), alone.detection.at(0, e, 0), 1e-6);
                    }
                    sequence = resumed;
                    ++combinations;
                }
            }
        }
    }
    EXPECT_EQ(combinations, 3 * 7 * 4 + 4 * 11 * 5);
}

// A relaxation time is no element of a step: arrayed, it changes every step, and a cycled phase
// later in the sequence must not let the runs resume from run 0's state.
TEST_F(DriverTest, AnArrayedT2ActsInTheStepsBeforeACycledPhase)
{
    pulse(1, "p2");
    ASSERT_TRUE(sequence.setDelay(1, "d2"));
    sequence.elements().setValue(12, 10.0);  // d2: 10 ms of transverse decay
    pulse(2, "p2", 4);                       // phase f4, row "0": x
    controls.setItems(ctl::PhaseCycle, {"0", "0", "0", "0", "0", "0"});
    controls.setChecked(ctl::T2Relaxation, true);
    controls.setText(ctl::RelaxationT2, "10");
    controls.setText(ctl::ArrayIncrement, "40");
    controls.setText(ctl::ArraySize, "1");
    sequence.setArrayedParameter("T2");
    EXPECT_EQ(findMarkers(sequence, "T2").resumeStep, 0);
    const DriverResult r = run();
    for (int run = 0; run < 2; ++run) {
        const double t2Ms = 10.0 + 40.0 * run;
        EXPECT_NEAR(r.operators.at(kIz, run), -kProton * std::exp(-10.0 / t2Ms), 1e-3 * kProton)
            << "run " << run;
    }
}

// A gradient on the acquisition alone reads out a uniform sample as a flat band. The FID of S + 1
// equal slices at offsets (s/S - 1/2) W, W = G gamma / 2 pi, is the Dirichlet kernel
// sin((S + 1) pi df t) / ((S + 1) sin(pi df t)) with df = W / S.
TEST_F(DriverTest, AGradientOnlyOnTheAcquisitionReadsOutTheWholeSample)
{
    setSteps(1);
    pulse(1, "p2");
    sequence.step(2).gradient = 200.0;  // a literal gradient value on step N + 1
    sequence.setPointStep(1);
    controls.setText(ctl::LastSlice, "31");
    controls.setText(ctl::ObjectProfile, "square");
    const DriverResult r = run();
    constexpr int kPoints = 64;
    constexpr double kWidthHz = 2000.0;
    const processing::SynthesisResult spectra = synthesize(r, kPoints, kWidthHz);

    const int slices = 32;
    const double bandHz = 200.0 * 26.7519 / (2.0 * std::numbers::pi);  // about 851 Hz
    const double df = bandHz / (slices - 1);
    const double dwell = static_cast<float>(1.0 / kWidthHz);
    for (int k = 0; k < kPoints; ++k) {
        const double t = k * dwell;
        const double x = std::numbers::pi * df * t;
        const double kernel = k == 0 ? 1.0 : std::sin(slices * x) / (slices * std::sin(x));
        EXPECT_NEAR(spectra.timeDomain.at(1, k + 1, 0), 0.0, 1e-6) << "point " << k;
        EXPECT_NEAR(spectra.timeDomain.at(2, k + 1, 0), kProton / 1000.0 * kernel, 1e-6) << "point " << k;
    }

    sequence.step(2).gradient = -21.0;  // g1 at 0: a gradient named, none acting
    sequence.elements().setValue(21, 0.0);
    const processing::SynthesisResult still = synthesize(run(), kPoints, kWidthHz);
    EXPECT_NEAR(still.timeDomain.at(2, kPoints, 0), kProton / 1000.0, 1e-6) << "one line on resonance";
}

TEST_F(DriverTest, StopWithSeveralScansKeepsFullAmplitudesAndEndsTheScans)
{
    pulse(1, "p2");
    sequence.setArrayedParameter("d5");  // used by no step: every run is the same
    controls.setText(ctl::ArraySize, "3");
    controls.setText(ctl::ScanCount, "3");
    int steps = 0;
    control.setYield([&] {
        if (++steps == 20)
            control.stop();
    });
    // Three steps per run, twelve per scan: the 20th step lies in run 2 of scan 2.
    const DriverResult r = run();
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(steps, 20) << "no later scan runs";
    EXPECT_EQ(r.scansDone, (std::vector<int>{2, 2, 1, 1}));
    for (int run = 0; run < 4; ++run) {
        EXPECT_NEAR(r.operators.at(kIy, run), kProton, 1e-6 * kProton) << "run " << run;
        EXPECT_NEAR(r.detection.at(0, 1, run), kProton, 1e-6 * kProton) << "run " << run;
    }
}

// After one 90-degree pulse every proton lies along y, coupled or not: the FID starts at the sum of
// their transverse magnetisation, all of it along one axis.
TEST_F(DriverTest, TheFidOfASingletBesideADoubletStartsAtTheSummedTransverseMagnetisation)
{
    ASSERT_TRUE(spins.setLabel(1, "H1"));
    ASSERT_TRUE(spins.setLabel(2, "H2"));
    spins.setShiftPpm(0, -1.5);
    spins.setShiftPpm(1, 0.2);
    spins.setShiftPpm(2, 1.8);
    spins.setCouplingHz(1, 2, 7.0);
    spins.rebuild();
    pulse(1, "p2");
    const DriverResult r = run();
    double x = 0.0;
    double y = 0.0;
    for (int k = 0; k < 3; ++k) {
        x += r.operators.at(kIx << (2 * k), 0);
        y += r.operators.at(kIy << (2 * k), 0);
    }
    ASSERT_GT(y, 2.99 * kProton);
    const processing::SynthesisResult spectra = synthesize(r, 256, 1000.0);
    EXPECT_NEAR(spectra.timeDomain.at(1, 1, 0), x / 1000.0, 1e-6);
    EXPECT_NEAR(spectra.timeDomain.at(2, 1, 0), y / 1000.0, 1e-6);
}

TEST_F(DriverTest, RunsAfterTheResumePointGiveTheSameBitsOnOneTwoOrThreeThreads)
{
    // An arrayed delay after the first pulse, then a gradient pair: runs 1..5 resume from run 0 and
    // each reads out 16 slices.
    setSteps(5);
    spins.setShiftPpm(0, 0.5);
    spins.rebuild();
    pulse(1, "p2");
    ASSERT_TRUE(sequence.setDelay(2, "d1"));
    ASSERT_TRUE(sequence.setGradient(3, "g2"));
    ASSERT_TRUE(sequence.setDelay(3, "d3"));
    pulse(4, "p2", 1);
    ASSERT_TRUE(sequence.setGradient(5, "g3"));
    ASSERT_TRUE(sequence.setDelay(5, "d3"));
    sequence.elements().setValue(22, 1500.0);
    sequence.elements().setValue(23, -700.0);
    sequence.elements().setValue(13, 1.0);
    sequence.setArrayedParameter("d1");
    controls.setText(ctl::ArraySize, "5");
    controls.setText(ctl::ArrayIncrement, "0.3");
    controls.setText(ctl::LastSlice, "15");
    sequence.setPointStep(5);

    const DriverResult one = run(1, 1);
    ASSERT_EQ(one.runsDone, 6);
    const std::string slicesOne = readBytes(dir.path() / "a_ZdurGrad.dat");
    for (int threads : {2, 3}) {
        const DriverResult many = run(1, threads);
        ASSERT_EQ(many.runsDone, one.runsDone);
        EXPECT_EQ(readBytes(dir.path() / "a_ZdurGrad.dat"), slicesOne) << threads << " threads";
        for (int r = 0; r <= 5; ++r) {
            for (int op = 0; op < one.operators.operatorCount(); ++op)
                EXPECT_EQ(many.operators.at(op, r), one.operators.at(op, r))
                    << threads << " threads, run " << r << ", operator " << op;
            for (int s = 0; s <= one.detection.lastSlice(); ++s)
                for (int e = 0; e < one.detection.entries(); ++e)
                    EXPECT_EQ(many.detection.at(s, e, r), one.detection.at(s, e, r))
                        << threads << " threads, run " << r << ", slice " << s;
        }
    }
    // The runs differ from each other, so the comparison above covers real work.
    EXPECT_NE(one.operators.at(kIy, 1), one.operators.at(kIy, 4));
}

// Runs side by side tell their progress as they finish: a Stop given from the progress of the third
// run ends the experiment long before its last run, where progress told after all of them let
// every run finish.
TEST_F(DriverTest, RunsSideBySideTellTheirProgressAsTheyFinish)
{
    for (int k = 0; k < 8; ++k) {
        ASSERT_TRUE(spins.setLabel(k, "H" + std::to_string(k)));
        spins.setShiftPpm(k, -1.2 + 0.3 * k);
        for (int j = 0; j < k; ++j)
            spins.setCouplingHz(j, k, 1.0 + (3 * j + 5 * k) % 15);
    }
    spins.rebuild();
    setSteps(3);
    pulse(1, "p2");
    ASSERT_TRUE(sequence.setDelay(2, "d1"));
    pulse(3, "p2");
    sequence.setArrayedParameter("d1");
    controls.setText(ctl::ArraySize, "63");
    controls.setText(ctl::ArrayIncrement, "0.1");
    prepared = velmora::testing::prepareFromControls(sequence, controls, spins, dir.path(), 1, messages);
    ASSERT_TRUE(prepared.has_value());
    control.tryStart();
    std::vector<int> told;
    DriverInput input{sequence,
                      spins,
                      prepared->run,
                      prepared->signal,
                      dir.path(),
                      control,
                      2,
                      nullptr,
                      [&](int runsDone, int /*runs*/) {
                          told.push_back(runsDone);
                          if (runsDone >= 3)
                              control.stop();
                      }};
    const DriverResult result = runExperiment(input);
    control.stop();
    EXPECT_TRUE(result.stopped);
    EXPECT_LT(result.runsDone, 32) << "the runs went on after the Stop";
    ASSERT_FALSE(told.empty());
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    // A stopped run leaves nothing in the operator record.
    EXPECT_EQ(result.operators.at(kIx, 63), 0.0);
}

// One run of nine coupled protons is advanced row by row on the caller, which lends the pool to the
// row's passes: hard and shaped pulses, free evolution and T2 give the same bits on any thread count.
TEST_F(DriverTest, ALargeRowSharedBetweenThreadsGivesTheSameBitsOnOneTwoOrThreeThreads)
{
    for (int k = 0; k < 9; ++k) {
        ASSERT_TRUE(spins.setLabel(k, "H" + std::to_string(k)));
        spins.setShiftPpm(k, -1.2 + 0.3 * k);
        spins.setT2Ms(k, 80.0);
        for (int j = 0; j < k; ++j)
            spins.setCouplingHz(j, k, 1.0 + (3 * j + 5 * k) % 15);
    }
    spins.rebuild();
    ASSERT_EQ(spins.spinCount(), 9);
    std::string shape;
    for (int p = 0; p < 16; ++p)
        shape += std::to_string(p % 2 == 0 ? 0 : 90) + " " + std::to_string(300 + 40 * p) + " 1\r\n";
    dir.writeBytes("x.rf", shape);
    sequence.elements().setName(60, "s10_x.rf");
    sequence.elements().setValue(60, 400.0);
    setSteps(3);
    pulse(1, "p2");
    ASSERT_TRUE(sequence.setDelay(1, "d1"));
    pulse(2, "s10_x.rf", 1);
    ASSERT_TRUE(sequence.setDelay(2, "d1"));
    ASSERT_TRUE(sequence.setDelay(3, "d1"));
    sequence.elements().setValue(11, 2.0);

    const DriverResult one = run(1, 1);
    ASSERT_EQ(one.runsDone, 1);
    for (const int threads : {2, 3}) {
        const DriverResult many = run(1, threads);
        ASSERT_EQ(many.runsDone, 1);
        int differing = 0;
        for (int op = 0; op < one.operators.operatorCount(); ++op)
            differing += many.operators.at(op, 0) != one.operators.at(op, 0) ? 1 : 0;
        EXPECT_EQ(differing, 0) << threads << " threads";
        for (int e = 0; e < one.detection.entries(); ++e)
            EXPECT_EQ(many.detection.at(0, e, 0), one.detection.at(0, e, 0))
                << threads << " threads, entry " << e;
    }
    // The pulses left transverse magnetisation on every proton, so the comparison covers real work.
    for (int k = 0; k < 9; ++k)
        EXPECT_GT(std::hypot(one.operators.at(kIx << (2 * k), 0), one.operators.at(kIy << (2 * k), 0)), 1e3)
            << k;
}

}  // namespace
}  // namespace velmora::engine
