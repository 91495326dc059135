// The vector-evolution map: each run's magnitude spectrum along its rows, its lines where the
// centred spectrum puts their frequencies.
#include "processing/peaks.h"
#include "processing/vector_evolution_map.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace velmora::processing {
namespace {

constexpr int kPoints = 64;
constexpr double kSpectralWidthHz = 1000.0;
constexpr double kTwoPi = 6.28318530717958;

// Run r holds amplitude * exp(+2 pi i f t) at t = (k - 1) / sw, the sense of synthesized FIDs.
void putLine(engine::SampleRecord& record, int run, double frequencyHz, double amplitude)
{
    for (int k = 1; k <= kPoints; ++k) {
        const double phase = kTwoPi * frequencyHz * (k - 1) / kSpectralWidthHz;
        record.at(1, k, run) += amplitude * std::cos(phase);
        record.at(2, k, run) += amplitude * std::sin(phase);
    }
}

int strongestColumn(const Map2D& map, int row)
{
    int best = 0;
    for (int p = 1; p < map.pointCount; ++p)
        if (map.at(row, p) > map.at(row, best))
            best = p;
    return best;
}

TEST(VectorEvolutionMap, EachRunsRowsPeakAtItsOwnFrequency)
{
    engine::SampleRecord record(kPoints, 1);
    const double bin = kSpectralWidthHz / kPoints;
    putLine(record, 0, 5 * bin, 100.0);
    putLine(record, 1, -9 * bin, 30.0);
    putLine(record, 1, 12 * bin, 10.0);
    const engine::SampleRecord before = record;
    util::RecordedMessages messages;
    const std::optional<Map2D> map = buildVectorEvolutionMap(record, kPoints, 1, messages);
    ASSERT_TRUE(map.has_value());
    ASSERT_EQ(map->pointCount, kPoints);
    // Two runs share the 64 rows: rows 0..31 show run 0, rows 32..63 run 1.
    for (const auto& [row, frequencyHz, height] :
         {std::tuple{0, 5 * bin, 100.0}, std::tuple{31, 5 * bin, 100.0}, std::tuple{32, -9 * bin, 30.0},
          std::tuple{63, -9 * bin, 30.0}}) {
        const int column = strongestColumn(*map, row);
        EXPECT_DOUBLE_EQ(pointFrequencyHz(column, kPoints, kSpectralWidthHz), frequencyHz) << row;
        // A line on a bin keeps its amplitude in the transform scaled by 1 / np.
        EXPECT_NEAR(map->at(row, column), height, 1e-9) << row;
    }
    EXPECT_NEAR(map->at(40, kPoints / 2 - 12), 10.0, 1e-9) << "the weaker line of run 1";
    EXPECT_NEAR(map->at(40, kPoints / 2 - 5), 0.0, 1e-9) << "run 0's line is not in run 1's rows";
    EXPECT_DOUBLE_EQ(map->maximum, 100.0);
    EXPECT_NEAR(map->minimum, 0.0, 1e-9);
    for (int k = 1; k <= kPoints; ++k)
        EXPECT_EQ(record.at(1, k, 1), before.at(1, k, 1)) << "the record is only read";
    EXPECT_TRUE(messages.entries.empty());
}

TEST(VectorEvolutionMap, MoreRunsThanRowsShowTheRunStartingEachRow)
{
    constexpr int lastRun = 2 * kPoints - 1;
    engine::SampleRecord record(kPoints, lastRun);
    for (int r = 0; r <= lastRun; ++r)
        putLine(record, r, (r % 2 == 0 ? 3 : -7) * kSpectralWidthHz / kPoints, 1.0);
    util::RecordedMessages messages;
    const std::optional<Map2D> map = buildVectorEvolutionMap(record, kPoints, lastRun, messages);
    ASSERT_TRUE(map.has_value());
    for (int q = 0; q < kPoints; ++q)
        EXPECT_EQ(strongestColumn(*map, q), kPoints / 2 - 3) << "row " << q << " shows run " << 2 * q;
}

TEST(VectorEvolutionMap, ALengthTheTransformRefusesGivesAMessage)
{
    engine::SampleRecord record(48, 0);
    util::RecordedMessages messages;
    EXPECT_FALSE(buildVectorEvolutionMap(record, 48, 0, messages).has_value());
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].title, "Error!");
}

}  // namespace
}  // namespace velmora::processing
