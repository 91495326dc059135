#include "processing/peaks.h"

#include <gtest/gtest.h>

namespace velmora::processing {
namespace {

TEST(PeakFrequencies, DirectAxisFallsAndIndirectAxisRisesFromTheCentre)
{
    EXPECT_EQ(pointFrequencyHz(128, 256, 400.0), 0.0) << "display point np/2 (np/2 + 1 counted from 1)";
    EXPECT_EQ(pointFrequencyHz(64, 256, 400.0), 100.0) << "+sw/4 at np/4";
    EXPECT_EQ(pointFrequencyHz(192, 256, 400.0), -100.0);
    EXPECT_EQ(indirectFrequencyHz(192, 256, 400.0), 100.0);
    EXPECT_EQ(indirectFrequencyHz(128, 256, 400.0), 0.0);
}

TEST(SpectrumPeaks, StrongestLocalMaximaFirstAndNoiseLeftOut)
{
    std::vector<double> magnitude(64, 0.001);
    magnitude[10] = 5.0;
    magnitude[11] = 4.0;  // the flank of the line at 10, not a line of its own
    magnitude[40] = 8.0;
    magnitude[50] = -3.0;
    const std::vector<SpectrumPeak> peaks = strongestPeaks(magnitude, 640.0, 5);
    ASSERT_EQ(peaks.size(), 3u);
    EXPECT_EQ(peaks[0].point, 40);
    EXPECT_EQ(peaks[0].frequencyHz, -80.0);
    EXPECT_EQ(peaks[1].point, 10);
    EXPECT_EQ(peaks[2].height, -3.0) << "heights keep their sign";
    EXPECT_EQ(strongestPeaks(magnitude, 640.0, 1).size(), 1u);
    EXPECT_TRUE(strongestPeaks(std::vector<double>(8, 0.0), 640.0, 3).empty());
}

TEST(MapPeaks, DiagonalAndCrossPeaksAreTold)
{
    Map2D map;
    map.pointCount = 32;
    map.values.assign(32 * 32, 0.0);
    // f2 = +40 Hz at direct point 8; f1 = +40 Hz at indirect row 24 (sw = sw1 = 160 Hz).
    map.at(24, 8) = 10.0;
    map.at(8, 8) = -6.0;  // f1 = -40 Hz, f2 = +40 Hz: a cross peak
    map.maximum = 10.0;
    map.minimum = -6.0;
    const std::vector<MapPeak> peaks = strongestMapPeaks(map, 160.0, 160.0, 10);
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_TRUE(peaks[0].diagonal);
    EXPECT_EQ(peaks[0].indirectHz, 40.0);
    EXPECT_EQ(peaks[0].directHz, 40.0);
    EXPECT_FALSE(peaks[1].diagonal);
    EXPECT_EQ(peaks[1].height, -6.0);
}

}  // namespace
}  // namespace velmora::processing
