// Layout of the product-operator state: row length 4^N, contiguous slice rows, growing and
// shrinking the number of slices.
#include "engine/state_matrix.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>

namespace velmora::engine {
namespace {

TEST(StateMatrixLayout, OneSpinHasFourCoefficientsEThroughZ)
{
    const StateMatrix state(1);
    EXPECT_EQ(state.spinCount(), 1);
    EXPECT_EQ(state.rowCount(), 1);
    EXPECT_EQ(state.rowLength(), 4);
    EXPECT_EQ(state.row(0).size(), 4U);
}

TEST(StateMatrixLayout, TenSpinsHaveAMillionCoefficientsPerRowAllZero)
{
    const StateMatrix state(10, 2);
    EXPECT_EQ(state.rowLength(), 1048576);
    for (int r = 0; r < 2; ++r) {
        const auto row = state.row(r);
        ASSERT_EQ(row.size(), 1048576U);
        bool allZero = true;
        for (const double value : row) {
            allZero = allZero && value == 0.0;
        }
        EXPECT_TRUE(allZero) << "row " << r;
        // Every row starts on a cache line: the row kernels' vector loads must not straddle two.
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(row.data()) % 64, 0U) << "row " << r;
    }
}

TEST(StateMatrixLayout, RowsFollowEachOtherInOneBlock)
{
    StateMatrix state(2, 3);
    EXPECT_EQ(state.row(1).data(), state.row(0).data() + 16);
    EXPECT_EQ(state.row(2).data(), state.row(0).data() + 32);
}

TEST(StateMatrixLayout, RowsAreIndependent)
{
    StateMatrix state(2, 3);
    state.row(1)[5] = 2.5;
    EXPECT_EQ(state.row(0)[5], 0.0);
    EXPECT_EQ(state.row(1)[5], 2.5);
    EXPECT_EQ(state.row(2)[5], 0.0);
}

TEST(StateMatrixSlices, WideningKeepsRowsAndZeroFillsNewOnes)
{
    StateMatrix state(3, 2);
    state.row(0)[12] = 1.0;
    state.row(1)[48] = -3.0;
    state.setRowCount(128);
    EXPECT_EQ(state.rowCount(), 128);
    EXPECT_EQ(state.row(0)[12], 1.0);
    EXPECT_EQ(state.row(1)[48], -3.0);
    for (int r = 2; r < 128; ++r) {
        for (const double value : state.row(r)) {
            ASSERT_EQ(value, 0.0) << "row " << r;
        }
    }
}

TEST(StateMatrixSlices, NarrowingThenWideningStartsTheRegrownRowsAtZero)
{
    StateMatrix state(2, 3);
    state.row(0)[3] = 7.0;
    state.row(2)[3] = 9.0;
    state.setRowCount(1);
    EXPECT_EQ(state.rowCount(), 1);
    EXPECT_EQ(state.row(0)[3], 7.0);
    state.setRowCount(3);
    EXPECT_EQ(state.row(0)[3], 7.0);
    EXPECT_EQ(state.row(2)[3], 0.0);
}

TEST(StateMatrixLimits, RefusesSpinAndRowCountsOutsideTheirRanges)
{
    EXPECT_THROW(StateMatrix(0), std::invalid_argument);
    EXPECT_THROW(StateMatrix(11), std::invalid_argument);
    EXPECT_THROW(StateMatrix(2, 0), std::invalid_argument);
    EXPECT_THROW(StateMatrix(2, 129), std::invalid_argument);
    StateMatrix state(2, 4);
    EXPECT_THROW(state.setRowCount(0), std::invalid_argument);
    EXPECT_THROW(state.setRowCount(129), std::invalid_argument);
    EXPECT_EQ(state.rowCount(), 4);
    EXPECT_THROW(state.row(4), std::out_of_range);
    EXPECT_THROW(state.row(-1), std::out_of_range);
}

}  // namespace
}  // namespace velmora::engine
