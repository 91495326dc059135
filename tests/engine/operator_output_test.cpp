#include "engine/operator_output.h"
#include "support/scratch_directory.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::engine {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

const std::vector<std::string> kLabels = {"H0", "H1", "C2"};

// A record of one scan per run, made from whole rows (runs x operators).
OperatorRecord recordOf(const std::vector<std::vector<double>>& rows)
{
    OperatorRecord record(static_cast<int>(rows.front().size()), static_cast<int>(rows.size()) - 1);
    for (std::size_t r = 0; r < rows.size(); ++r)
        record.addScan(static_cast<int>(r), rows[r]);
    record.settle();
    return record;
}

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
        for (int op = 0; op < 16; ++op)
            ASSERT_EQ(record.at(op, r), 0.0);
    std::vector<double> row(16, 0.0);
    row[5] = 3.5;
    OperatorRecord copy(record);
    record.addScan(1, row);
    EXPECT_EQ(record.at(5, 1), 3.5);
    EXPECT_EQ(copy.at(5, 1), 0.0);
    copy = record;
    EXPECT_EQ(copy.at(5, 1), 3.5);
}

TEST(OperatorRecordValues, ScansAddUpAndAverage)
{
    OperatorRecord record(16, 0, 2);
    std::vector<double> first(16, 0.0);
    std::vector<double> second(16, 0.0);
    first[3] = 3e4;
    second[3] = 1e4;
    first[7] = 0.1;  // too small to show alone, but the sum shows
    second[7] = 0.6;
    record.addScan(0, first);
    record.addScan(0, second);
    record.averageRun(0, 2);
    record.settle();
    EXPECT_EQ(record.at(3, 0), 2e4);
    EXPECT_EQ(record.at(7, 0), 0.3) << "the first scan's 0.1 was below what shows";
    EXPECT_EQ(record.significant(), (std::vector<std::int32_t>{3}));
}

TEST(OperatorRecordValues, KeepsWhatTheListingCanShowAndNothingAfterItsLastOperator)
{
    // Five spins, the first 420 operators in listing order significant but for three changed below.
    const int count = 1024;
    std::vector<double> row(count, 0.0);
    std::vector<std::int32_t> byListing;
    for (std::int32_t i = 1; i < count; ++i)
        byListing.push_back(i);
    std::stable_sort(byListing.begin(), byListing.end(),
                     [](std::int32_t a, std::int32_t b) { return listingKey(a) < listingKey(b); });
    for (std::size_t k = 0; k < 420; ++k)
        row[static_cast<std::size_t>(byListing[k])] = 2e4 + static_cast<double>(k);
    row[static_cast<std::size_t>(byListing[410])] = 5.0;  // shown, not significant, after the 400th
    row[static_cast<std::size_t>(byListing[5])] = 0.2;    // too small to show
    row[2] = 0.1;                                         // spin 0's y: kept for the flip angle
    const OperatorRecord record = recordOf({row});
    const OperatorTable table = significantOperators(record, {"A", "B", "C", "D", "E"});
    ASSERT_EQ(table.listed.size(), 400u);
    EXPECT_EQ(table.leftOut, 417 - 400);
    for (std::size_t k = 0; k < 400; ++k)
        EXPECT_EQ(record.at(table.listed[k], 0), row[static_cast<std::size_t>(table.listed[k])]);
    EXPECT_EQ(record.at(byListing[410], 0), 0.0) << "sorts after the last listed operator";
    EXPECT_EQ(record.at(byListing[5], 0), 0.0);
    EXPECT_EQ(record.at(2, 0), 0.1);
    EXPECT_LE(record.keptCount(), 402u);
}

TEST(SampleRecordValues, ReadZeroUntilWrittenAndARunClearsAlone)
{
    SampleRecord record(7, 2);
    for (int r = 0; r <= 2; ++r)
        for (int c = 0; c < SampleRecord::kComponents; ++c)
            for (int k = 0; k <= 7; ++k)
                ASSERT_EQ(record.at(c, k, r), 0.0);
    for (int r = 0; r <= 2; ++r)
        for (int c = 0; c < SampleRecord::kComponents; ++c)
            record.at(c, 7, r) = 1.0 + r;
    const SampleRecord copy(record);
    record.clearRun(1);
    for (int c = 0; c < SampleRecord::kComponents; ++c) {
        EXPECT_EQ(record.at(c, 7, 0), 1.0);
        EXPECT_EQ(record.at(c, 7, 1), 0.0);
        EXPECT_EQ(record.at(c, 7, 2), 3.0);
        EXPECT_EQ(copy.at(c, 7, 1), 2.0) << "a copy keeps its own values";
    }
}

TEST(OperatorListing, SignificantMeansAboveTenThousandInSomeRun)
{
    std::vector<std::vector<double>> rows(2, std::vector<double>(64, 0.0));
    rows[0][3] = 10000.0;  // exactly at the threshold: not listed
    rows[1][1 + 3 * 16] = -10000.5;
    rows[0][12] = 2e6;
    rows[1][2] = 20000.0;
    const OperatorRecord record = recordOf(rows);
    const OperatorTable table = significantOperators(record, kLabels);
    EXPECT_EQ(table.listed, (std::vector<int>{2, 12, 1 + 3 * 16}))
        << "single-spin operators first, then by index";
    EXPECT_EQ(table.names, (std::vector<std::string>{"yH0", "zH1", "xH0zC2"}));
    EXPECT_EQ(table.leftOut, 0);
}

TEST(OperatorListing, AtMostFourHundredAreListedAndTheRestCounted)
{
    std::vector<double> row(4096, 0.0);
    for (int i = 1; i < 4096; i += 8)
        row[static_cast<std::size_t>(i)] = 5e4;
    const OperatorRecord record = recordOf({row});
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
    std::vector<std::vector<double>> rows(2, std::vector<double>(16, 0.0));
    rows[0][2] = 1e7;  // yH0 after a 90-degree pulse
    rows[1][3] = 1e7;  // zH0 in the next run
    const OperatorRecord record = recordOf(rows);
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
    ASSERT_TRUE(writeOperatorTable(dir.path() / "prodop.dat", significantOperators(record, {"H0"}), record,
                                   "none", {0.0}, header));
    EXPECT_EQ(readBytes(dir.path() / "prodop.dat"), "none\tflip_z\tflip_xy\r\n.000\t90.000\t.000\r\n");
}

}  // namespace
}  // namespace velmora::engine
