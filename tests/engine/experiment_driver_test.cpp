#include "engine/experiment_driver.h"
#include "engine/sequence_preparation.h"
#include "support/scratch_directory.h"

#include <cmath>
#include <gtest/gtest.h>

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
        prepared = prepareSequence({sequence, controls, spins, dir.path(), runsPerValue, messages});
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

}  // namespace
}  // namespace velmora::engine
