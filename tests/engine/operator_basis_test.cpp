// The product-operator index: digit tables, mask tests and the enumerations with skips, checked
// against a plain scan of every index.
#include "engine/operator_basis.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::engine {
namespace {

int digitOf(std::int32_t idx, int spin)
{
    for (int k = 0; k < spin; ++k) {
        idx /= 4;
    }
    return idx % 4;
}

template <class Predicate> std::vector<std::int32_t> scanAll(int nSpins, Predicate wanted)
{
    std::vector<std::int32_t> found;
    std::int32_t count = 1;
    for (int k = 0; k < nSpins; ++k) {
        count *= 4;
    }
    for (std::int32_t idx = 0; idx < count; ++idx) {
        if (wanted(idx)) {
            found.push_back(idx);
        }
    }
    return found;
}

TEST(OperatorIndexTables, HoldPowersOfFourForEverySlot)
{
    std::int32_t power = 1;
    for (int k = 0; k < kSpinSlots; ++k) {
        EXPECT_EQ(kStride[k], power) << "spin " << k;
        EXPECT_EQ(kYDigit[k], 2 * power) << "spin " << k;
        EXPECT_EQ(kSpinMask[k], 3 * power) << "spin " << k;
        power *= 4;
    }
    EXPECT_EQ(operatorCount(1), 4);
    EXPECT_EQ(operatorCount(kMaxSpins), 1048576);
}

TEST(OperatorIndexTables, SingleSpinOperatorsCarryOneDigit)
{
    // I(2)x, I(2)y, I(2)z of a three-spin system, and 2IySz with I = spin 0, S = spin 1.
    EXPECT_EQ(digitOf(kStride[2], 2), 1);
    EXPECT_EQ(digitOf(kYDigit[2], 2), 2);
    EXPECT_EQ(digitOf(kSpinMask[2], 2), 3);
    const std::int32_t iySz = kYDigit[0] + kSpinMask[1];
    EXPECT_EQ(digitOf(iySz, 0), 2);
    EXPECT_EQ(digitOf(iySz, 1), 3);
    EXPECT_EQ(digitOf(iySz, 2), 0);
}

TEST(OperatorMaskTests, AgreeWithTheDigitOfEveryIndex)
{
    const int nSpins = 4;
    for (std::int32_t idx = 0; idx < operatorCount(nSpins); ++idx) {
        for (int spin = 0; spin < nSpins; ++spin) {
            const int digit = digitOf(idx, spin);
            EXPECT_EQ(isZ(idx, spin), digit == 3) << idx << " spin " << spin;
            EXPECT_EQ(isTransverse(idx, spin), digit == 1 || digit == 2) << idx << " spin " << spin;
            EXPECT_EQ(isPresent(idx, spin), digit != 0) << idx << " spin " << spin;
        }
    }
}

class OperatorEnumeration : public ::testing::TestWithParam<int> {};

TEST_P(OperatorEnumeration, ZDigitVisitsExactlyTheZIndicesAscending)
{
    const int nSpins = GetParam();
    for (int spin = 0; spin < nSpins; ++spin) {
        std::vector<std::int32_t> visited;
        forEachZ(nSpins, spin, [&](std::int32_t idx) { visited.push_back(idx); });
        EXPECT_EQ(visited, scanAll(nSpins, [&](std::int32_t idx) { return digitOf(idx, spin) == 3; }))
            << "spin " << spin;
    }
}

TEST_P(OperatorEnumeration, YDigitVisitsExactlyTheYIndicesAscending)
{
    const int nSpins = GetParam();
    for (int spin = 0; spin < nSpins; ++spin) {
        std::vector<std::int32_t> visited;
        forEachY(nSpins, spin, [&](std::int32_t idx) { visited.push_back(idx); });
        EXPECT_EQ(visited, scanAll(nSpins, [&](std::int32_t idx) { return digitOf(idx, spin) == 2; }))
            << "spin " << spin;
    }
}

TEST_P(OperatorEnumeration, PresentSpinVisitsEveryNonEDigitAscending)
{
    const int nSpins = GetParam();
    for (int spin = 0; spin < nSpins; ++spin) {
        std::vector<std::int32_t> visited;
        forEachPresent(nSpins, spin, [&](std::int32_t idx) { visited.push_back(idx); });
        EXPECT_EQ(visited, scanAll(nSpins, [&](std::int32_t idx) { return digitOf(idx, spin) != 0; }))
            << "spin " << spin;
    }
}

TEST_P(OperatorEnumeration, ZPairVisitsEveryIndexWithBothDigitsZAscending)
{
    const int nSpins = GetParam();
    for (int i = 0; i < nSpins; ++i) {
        for (int j = i + 1; j < nSpins; ++j) {
            std::vector<std::int32_t> visited;
            forEachZPair(nSpins, i, j, [&](std::int32_t idx) { visited.push_back(idx); });
            EXPECT_EQ(visited,
                      scanAll(nSpins,
                              [&](std::int32_t idx) { return digitOf(idx, i) == 3 && digitOf(idx, j) == 3; }))
                << "pair " << i << ", " << j;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OneToSixSpins, OperatorEnumeration, ::testing::Range(1, 7),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "Spins";
                         });

TEST(OperatorEnumerationLargest, TenSpinsVisitAQuarterOfTheIndicesPerDigitWithinRange)
{
    // The largest state: every enumeration stays inside the row and hits the expected count.
    const std::int32_t count = operatorCount(kMaxSpins);
    for (int spin = 0; spin < kMaxSpins; ++spin) {
        std::int32_t visits = 0;
        std::int32_t last = -1;
        bool inRangeAndAscending = true;
        forEachY(kMaxSpins, spin, [&](std::int32_t idx) {
            inRangeAndAscending = inRangeAndAscending && idx > last && idx < count && digitOf(idx, spin) == 2;
            last = idx;
            ++visits;
        });
        EXPECT_TRUE(inRangeAndAscending) << "spin " << spin;
        EXPECT_EQ(visits, count / 4) << "spin " << spin;
    }
    std::int32_t pairVisits = 0;
    forEachZPair(kMaxSpins, 0, kMaxSpins - 1, [&](std::int32_t idx) {
        EXPECT_TRUE(isZ(idx, 0) && isZ(idx, kMaxSpins - 1));
        ++pairVisits;
    });
    EXPECT_EQ(pairVisits, count / 16);
}

}  // namespace
}  // namespace velmora::engine
