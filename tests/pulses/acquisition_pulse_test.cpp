// The acquisition pulse's files of an oversampled acquisition, read back line by line, and the
// file of "correlate with:": named with or without its extension, refused with an infinite number.
#include "pulses/acquisition_pulse.h"
#include "support/scratch_directory.h"
#include "util/messages.h"

#include <cmath>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::pulses {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

// The tab-separated numbers of every line of a result file.
std::vector<std::vector<double>> readRows(const std::filesystem::path& file)
{
    std::vector<std::vector<double>> rows;
    std::istringstream text(readBytes(file));
    for (std::string line; std::getline(text, line);) {
        std::istringstream fields(line);
        std::vector<double> row;
        for (double value = 0.0; fields >> value;)
            row.push_back(value);
        rows.push_back(row);
    }
    return rows;
}

TEST(AcquisitionPulseFiles, EachLineOfAnOversampledPulseDescribesOneAcquiredSample)
{
    // A gapped sweep of 8 points of F = 4 elements: two with RF, two silent, and a phase that
    // grows quadratically, so that its steps differ from sample to sample.
    constexpr int kPoints = 8;
    constexpr int kF = 4;
    const auto phaseDeg = [](int i) { return 0.5 * i * i; };
    const auto amplitude = [](int i) { return (i - 1) % kF < 2 ? 100.0 + 20.0 * i : 0.0; };
    ShapeTable shape;
    shape.points.assign(kPoints * kF + 1, {});
    for (int i = 1; i <= kPoints * kF; ++i)
        shape.points[static_cast<std::size_t>(i)] = {phaseDeg(i), amplitude(i), 1.0};

    const ScratchDirectory dir;
    util::RecordedMessages messages;
    AcquisitionPulseRequest request;
    request.pointCount = kPoints;
    request.oversampling = kF;
    request.workingDirectory = dir.path();
    ASSERT_TRUE(prepareAcquisitionPulse(shape, request, messages));

    const auto time = readRows(dir.path() / "apulseTime.dat");
    const auto sweep = readRows(dir.path() / "apulseSweepFreq.dat");
    ASSERT_EQ(time.size(), static_cast<std::size_t>(kPoints));
    ASSERT_EQ(sweep.size(), static_cast<std::size_t>(kPoints));
    for (int j = 1; j <= kPoints; ++j) {
        const int sample = kF * (j - 1) + 1;
        const auto& t = time[static_cast<std::size_t>(j - 1)];
        const double phaseRad = phaseDeg(sample) * 3.14159265358979 / 180.0 + 3.14159265358979 / 2.0;
        EXPECT_NEAR(t[1], amplitude(sample) / 1023.0 * std::cos(phaseRad), 1e-6) << j;
        EXPECT_NEAR(t[2], amplitude(sample) / 1023.0 * std::sin(phaseRad), 1e-6) << j;
        EXPECT_NEAR(t[3], amplitude(sample) / 1023.0, 1e-6) << "the modulus of the same sample, line " << j;
        const double step = sample == 1 ? 0.0 : phaseDeg(sample) - phaseDeg(sample - 1);
        EXPECT_NEAR(sweep[static_cast<std::size_t>(j - 1)][1], step, 1e-6) << "phase step, line " << j;
    }
}

TEST(AcquisitionPulseFiles, CorrelateWithFindsItsFileWithOrWithoutTheExtensionAndRefusesAnInfiniteNumber)
{
    const ScratchDirectory dir;
    dir.writeBytes("sweep.RF", "# mother 4 #\r\n10 1023 1\r\n20 0 1\r\n30 511.5 1\r\n40 0 1\r\n");
    for (const std::string name : {"sweep", "sweep.RF"}) {
        ShapeTable shape;
        shape.points.assign(5, {0.0, 0.0, 1.0});
        util::RecordedMessages messages;
        AcquisitionPulseRequest request;
        request.pointCount = 4;
        request.replace = true;
        request.replacementName = name;
        request.workingDirectory = dir.path();
        const auto tables = prepareAcquisitionPulse(shape, request, messages);
        ASSERT_TRUE(tables) << name << ": " << (messages.entries.empty() ? "" : messages.entries.back().text);
        EXPECT_TRUE(messages.entries.empty()) << name << ": " << messages.entries.front().text;
        EXPECT_DOUBLE_EQ(shape.points[3][0], 30.0) << name;
        EXPECT_DOUBLE_EQ(tables->waveform[3][2], 0.5) << name;
    }

    // A last field beyond the single range reads as infinite: refused, the shape left as it was.
    dir.writeBytes("sweep.RF", "10 1023 1\r\n20 0 1\r\n30 0 1e39\r\n40 0 1\r\n");
    ShapeTable shape;
    shape.points.assign(5, {0.0, 1023.0, 1.0});
    util::RecordedMessages messages;
    AcquisitionPulseRequest request;
    request.pointCount = 4;
    request.replace = true;
    request.replacementName = "sweep";
    request.workingDirectory = dir.path();
    EXPECT_FALSE(prepareAcquisitionPulse(shape, request, messages));
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_NE(messages.entries[0].text.find("element 3"), std::string::npos) << messages.entries[0].text;
    EXPECT_EQ(shape.points[3][1], 1023.0);
}

}  // namespace
}  // namespace velmora::pulses
