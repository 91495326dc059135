#include "processing/peaks.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

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

// The summary once listed the end points of a spectrum (-198.4 Hz and 200.0 Hz) as lines.
TEST(SpectrumPeaks, EndPointsAndNoiseAreNoLines)
{
    std::vector<double> magnitude(256);
    std::uint32_t seed = 12345;
    for (double& v : magnitude) {
        seed = seed * 1664525u + 1013904223u;  // a fixed noise floor of 0..0.2
        v = 0.2 * (seed >> 8) / double(1u << 24);
    }
    magnitude.front() = 3.0;  // the rising end of a folded tail
    magnitude.back() = 2.0;
    magnitude[100] = 1.5;  // below the ends: not told apart from the baseline there
    magnitude[128] = 10.0;
    magnitude[129] = 6.0;
    magnitude[60] = 4.0;
    const std::vector<SpectrumPeak> peaks = strongestPeaks(magnitude, 400.0, 10);
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_EQ(peaks[0].point, 128);
    EXPECT_EQ(peaks[1].point, 60);
    EXPECT_DOUBLE_EQ(peakThreshold(magnitude), 3.0) << "the ends set the level here";
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
