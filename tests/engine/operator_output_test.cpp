#include "engine/operator_output.h"

#include <gtest/gtest.h>

#include "support/scratch_directory.h"

namespace velmora::engine {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

const std::vector<std::string> kLabels = {"H0", "H1", "C2"};

TEST(OperatorNames, ComponentLetterThenSpinLabelInSpinOrder)
{
    EXPECT_EQ(operatorName(1, kLabels), "xH0");
    EXPECT_EQ(operatorName(3 * 4, kLabels), "zH1");
    EXPECT_EQ(operatorName(1 + 3 * 16, kLabels), "xH0zC2");
    EXPECT_EQ(operatorName(2 + 2 * 4 + 3 * 16, kLabels), "yH0yH1zC2");
}

TEST(OperatorRecordValues, StartAtZeroAndCopiesAreIndependent)
{
    OperatorRecord record(16, 2);
    for (int r = 0; r <= 2; ++r)
        for (const double v : record.run(r))
            ASSERT_EQ(v, 0.0);
    record.at(5, 1) = 3.5;
    OperatorRecord copy(record);
    record.at(5, 1) = -1.0;
    EXPECT_EQ(copy.at(5, 1), 3.5);
    copy = record;
    EXPECT_EQ(copy.at(5, 1), -1.0);
    EXPECT_EQ(copy.run(2).size(), 16u);
}

TEST(OperatorListing, SignificantMeansAboveTenThousandInSomeRun)
{
    OperatorRecord record(64, 1);
    record.at(3, 0) = 10000.0;        // exactly at the threshold: not listed
    record.at(1 + 3 * 16, 1) = -10000.5;
    record.at(12, 0) = 2e6;
    record.at(2, 1) = 20000.0;
    const OperatorTable table = significantOperators(record, kLabels);
    EXPECT_EQ(table.listed, (std::vector<int>{2, 12, 1 + 3 * 16})) << "single-spin operators first, then by index";
    EXPECT_EQ(table.names, (std::vector<std::string>{"yH0", "zH1", "xH0zC2"}));
    EXPECT_EQ(table.leftOut, 0);
}

TEST(OperatorListing, AtMostFourHundredAreListedAndTheRestCounted)
{
    OperatorRecord record(4096, 0);
    for (int i = 1; i < 4096; i += 8)
        record.at(i, 0) = 5e4;
    const std::vector<std::string> labels = {"H0", "H1", "H2", "H3", "H4", "H5"};
    const OperatorTable table = significantOperators(record, labels);
    EXPECT_EQ(table.listed.size(), 400u);
    EXPECT_EQ(table.leftOut, 512 - 400);
}

TEST(FlipAngles, LimitsAreCleanAngles)
{
    EXPECT_DOUBLE_EQ(flipZDegrees(1.0), 0.0);
    EXPECT_NEAR(flipZDegrees(-1.0), 180.0, 1e-9);
    EXPECT_NEAR(flipZDegrees(0.0), 90.0, 1e-9);
    EXPECT_NEAR(flipZDegrees(1.5), 0.0, 1e-9) << "clamped, never NaN";
    EXPECT_NEAR(flipXyDegrees(1.0), 90.0, 1e-9);
    EXPECT_NEAR(flipXyDegrees(2.0), 90.0, 1e-9);
    EXPECT_NEAR(flipXyDegrees(0.5), 30.0, 1e-9);
}

TEST(OperatorTableFile, HeaderAndOneLinePerRunInThousands)
{
    const ScratchDirectory dir;
    OperatorRecord record(16, 1);
    record.at(2, 0) = 1e7;   // yH0 after a 90-degree pulse
    record.at(3, 1) = 1e7;   // zH0 in the next run
    const OperatorTable table = significantOperators(record, {"H0", "H1"});
    std::string header;
    ASSERT_TRUE(writeOperatorTable(dir.path() / "prodop.dat", table, record, "p2", {5.0, 10.0}, header));
    EXPECT_EQ(header, "p2\tyH0\tzH0\tflip_z\tflip_xy");
    EXPECT_EQ(readBytes(dir.path() / "prodop.dat"), "p2\tyH0\tzH0\tflip_z\tflip_xy\r\n"
                                                    "5.000\t10000.000\t.000\t90.000\t90.000\r\n"
                                                    "10.000\t.000\t10000.000\t.000\t.000\r\n");
}

TEST(OperatorTableFile, WithoutSignificantOperatorsOnlyTheValueAndAnglesRemain)
{
    const ScratchDirectory dir;
    OperatorRecord record(4, 0);
    std::string header;
    ASSERT_TRUE(writeOperatorTable(dir.path() / "prodop.dat", significantOperators(record, {"H0"}), record, "none",
                                   {0.0}, header));
    EXPECT_EQ(readBytes(dir.path() / "prodop.dat"), "none\tflip_z\tflip_xy\r\n.000\t90.000\t.000\r\n");
}

}  // namespace
}  // namespace velmora::engine
