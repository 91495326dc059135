// The post-processing chain's fixed steps: the in-place transform, co-adding in groups, the chain
// with no switch ticked, and noise seeded from the seed box.
#include "processing/co_adding.h"
#include "processing/post_processing_chain.h"
#include "processing/run_transform.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace velmora::processing {
namespace {

constexpr int kPoints = 16;

TEST(RunTransform, AConstantFidLandsAtTheCentrePoint)
{
    engine::SampleRecord record(kPoints, 0);
    for (int k = 1; k <= kPoints; ++k) {
        record.at(1, k, 0) = 3.0;
        record.at(2, k, 0) = -1.0;
    }
    util::RecordedMessages messages;
    ASSERT_TRUE(transformRun(record, 0, kPoints, false, "n", "y", messages));
    for (int k = 1; k <= kPoints; ++k) {
        const bool centre = k == kPoints / 2 + 1;
        EXPECT_NEAR(record.at(1, k, 0), centre ? 3.0 : 0.0, 1e-12) << k;
        EXPECT_NEAR(record.at(2, k, 0), centre ? -1.0 : 0.0, 1e-12) << k;
    }
}

TEST(CoAdding, GroupsOfTwoOverFiveRunsLeaveTheLastAlone)
{
    engine::SampleRecord record(kPoints, 4);
    for (int r = 0; r <= 4; ++r)
        for (int c = 1; c <= 3; ++c)
            record.at(c, 1, r) = std::pow(10.0, r) * c;
    const CoAddedSize size = coAddRuns(record, kPoints, 4, 4, 2);
    EXPECT_EQ(size.lastRun, 2);
    EXPECT_EQ(size.arraySize, 2);
    for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(record.at(c, 1, 0), 11.0 * c);
        EXPECT_EQ(record.at(c, 1, 1), 1100.0 * c);
        EXPECT_EQ(record.at(c, 1, 2), 10000.0 * c);
    }
}

class ChainTest : public ::testing::Test {
protected:
    ChainInput input(int lastRun)
    {
        signal = engine::SampleRecord(kPoints, lastRun);
        for (int r = 0; r <= lastRun; ++r)
            for (int k = 1; k <= kPoints; ++k)
                for (int c = 1; c <= 3; ++c)
                    signal.at(c, k, r) = 1000.0 * (r + 1) * c + k;
        return {.signal = signal,
                .timeDomain = timeDomain,
                .pulse = nullptr,
                .spins = nullptr,
                .dwellS = 0.001,
                .pointCount = kPoints,
                .oversampling = 1,
                .lastRun = lastRun,
                .arraySize = lastRun,
                .arrayMode = "Add",
                .groupSize = 0,
                .on = {},
                .deconvolutionFloor = 0.01,
                .predictionOrder = "16",
                .predictionMissing = "1",
                .noiseAmplitude = 0.0,
                .noiseSeed = 11,
                .objectProfile = "square",
                .outputDirectory = dir.path(),
                .experimentalData = dir.path() / "nylon",
                .messages = messages,
                .random = random};
    }

    velmora::testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    util::UniformRandom random;
    engine::SampleRecord signal;
    engine::SampleRecord timeDomain;
};

TEST_F(ChainTest, WithNoSwitchOnlyTheProfileAndTheCopyApply)
{
    const ChainResult result = runPostProcessingChain(input(2));
    ASSERT_TRUE(result.done);
    EXPECT_EQ(result.lastRun, 2);
    for (int k = 1; k <= kPoints; ++k) {
        // Square profile: the last run is the sum of the others over 1000; the others stay.
        EXPECT_DOUBLE_EQ(signal.at(1, k, 0), 1000.0 + k);
        EXPECT_DOUBLE_EQ(signal.at(1, k, 2), (1000.0 + k + 2000.0 + k) / 1000.0);
        EXPECT_DOUBLE_EQ(signal.at(2, k, 2), (2000.0 + k + 4000.0 + k) / 1000.0);
        for (int r = 0; r <= 2; ++r)
            for (int c = 1; c <= 2; ++c)
                EXPECT_EQ(timeDomain.at(c, k, r), signal.at(c, k, r));
    }
    const util::TextFileContent density = util::readTextLines(dir.path() / "modDens.dat");
    ASSERT_TRUE(density.ok);
    EXPECT_EQ(density.lines.size(), 2u) << "one weight per weighted run";
    EXPECT_TRUE(messages.entries.empty());
}

TEST_F(ChainTest, PlotVectorEvolutionAddsTheMapAndLeavesTheRecords)
{
    ChainInput in = input(1);
    in.on.vectorEvolution = true;
    const ChainResult result = runPostProcessingChain(in);
    ASSERT_TRUE(result.done);
    ASSERT_TRUE(result.vectorMap.has_value());
    EXPECT_EQ(result.vectorMap->pointCount, kPoints);
    for (int k = 1; k <= kPoints; ++k)
        EXPECT_DOUBLE_EQ(signal.at(2, k, 0), 2000.0 + k);
    EXPECT_FALSE(runPostProcessingChain(input(1)).vectorMap.has_value()) << "not ticked: no map";
}

TEST_F(ChainTest, NoiseGoesOnRunZeroAndRepeatsWithTheSeed)
{
    ChainInput in = input(1);
    in.on.noise = true;
    in.noiseAmplitude = 50.0;
    ASSERT_TRUE(runPostProcessingChain(in).done);
    const engine::SampleRecord first = signal;
    double largest = 0.0;
    for (int k = 1; k <= kPoints; ++k) {
        largest = std::max(largest, std::abs(first.at(1, k, 0) - (1000.0 + k)));
        EXPECT_LE(std::abs(first.at(1, k, 0) - (1000.0 + k)), 50.0) << "A = 50 x 2 runs, u - 0.5 within 0.5";
    }
    EXPECT_GT(largest, 0.0);
    random.next();  // a different state: the reseed must bring the same noise back
    ChainInput again = input(1);
    again.on.noise = true;
    again.noiseAmplitude = 50.0;
    ASSERT_TRUE(runPostProcessingChain(again).done);
    for (int k = 1; k <= kPoints; ++k)
        EXPECT_EQ(signal.at(2, k, 0), first.at(2, k, 0));
}

TEST_F(ChainTest, AStepWithoutItsInputEndsTheChainWithAMessage)
{
    ChainInput in = input(0);
    in.on.swift = true;
    in.on.correlation = true;
    EXPECT_FALSE(runPostProcessingChain(in).done) << "no acquisition pulse to correlate with";
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].title, "Error!");
    EXPECT_EQ(signal.at(1, 1, 0), 1001.0) << "the record is left as it was";
}

TEST_F(ChainTest, ExperimentalDataReplaceTheRecordOrLeaveItAsItWas)
{
    ChainInput in = input(0);
    in.on.loadExperimentalData = true;
    EXPECT_FALSE(runPostProcessingChain(in).done) << "missing file";
    dir.writeBytes("nylon", "# measured\r\nabc def\r\n");
    EXPECT_FALSE(runPostProcessingChain(in).done) << "no number in it";
    EXPECT_EQ(signal.at(1, 1, 0), 1001.0) << "the record is left as it was";
    EXPECT_EQ(messages.entries.size(), 2u);

    dir.writeBytes("nylon", "1000 -2000\r\n3000 4000\r\n");
    ASSERT_TRUE(runPostProcessingChain(in).done);
    // One run: the weighting scales by 1/1000; the two samples, then zero filling.
    EXPECT_DOUBLE_EQ(signal.at(1, 1, 0), 1.0);
    EXPECT_DOUBLE_EQ(signal.at(2, 1, 0), -2.0);
    EXPECT_DOUBLE_EQ(signal.at(2, 2, 0), 4.0);
    EXPECT_EQ(signal.at(1, 3, 0), 0.0);
    EXPECT_EQ(signal.at(1, kPoints, 0), 0.0);
}

TEST_F(ChainTest, ARefusedPredictionSuggestsValuesThatWorkOrSaysNoneDo)
{
    // A record of np points with two damped lines, for every np the boxes may meet.
    for (const int np : {2, 3, 4, 8, 16}) {
        ChainInput in = input(0);
        in.signal = engine::SampleRecord(np, 0);
        for (int k = 1; k <= np; ++k) {
            in.signal.at(1, k, 0) = std::exp(-0.1 * k) * std::cos(0.7 * k) + std::cos(1.9 * k);
            in.signal.at(2, k, 0) = std::exp(-0.1 * k) * std::sin(0.7 * k) + std::sin(1.9 * k);
        }
        in.pointCount = np;
        in.on.linearPrediction = true;
        in.predictionOrder = "99";
        messages.entries.clear();
        ASSERT_FALSE(runPostProcessingChain(in).done) << "np " << np;
        ASSERT_EQ(messages.entries.size(), 1u);
        const std::string& text = messages.entries[0].text;
        const std::size_t order = text.find("set Text14(18) to ");
        if (np < 4) {
            EXPECT_NE(text.find("too short for any prediction"), std::string::npos) << text;
            EXPECT_EQ(order, std::string::npos) << text;
            continue;
        }
        ASSERT_NE(order, std::string::npos) << text;
        in.predictionOrder = std::to_string(std::stoi(text.substr(order + 18)));
        const std::size_t count = text.find("Text14(20) to ");
        in.predictionMissing = std::to_string(std::stoi(text.substr(count + 14)));
        EXPECT_TRUE(runPostProcessingChain(in).done)
            << "np " << np << ": order " << in.predictionOrder << ", count " << in.predictionMissing;
    }
}

}  // namespace
}  // namespace velmora::processing
