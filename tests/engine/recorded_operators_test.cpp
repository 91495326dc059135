#include "engine/operator_basis.h"
#include "engine/recorded_operators.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::engine {
namespace {

SpinTables protonAndCarbon(double jHz)
{
    SpinTables s;
    s.count = 2;
    s.slotState = {3, 3};
    s.nucleusConstant = {kNucleusConstantH1, kNucleusConstantC13};
    s.channel = {kChannelH1, kChannelC13};
    s.couplingHz[0][1] = s.couplingHz[1][0] = jHz;
    return s;
}

TEST(RecordedOperators, AnUncoupledProtonGivesItsXAlongXAndItsYAlongY)
{
    SpinTables s = protonAndCarbon(0.0);
    s.slotState[1] = 0;
    const auto list = buildRecordedOperators(s);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].operatorIndex, 1);
    EXPECT_EQ(list[0].kind, 1);
    EXPECT_FALSE(list[0].coupled);
    EXPECT_EQ(list[1].operatorIndex, 2);
    EXPECT_EQ(list[1].kind, -1);
    EXPECT_EQ(list[1].componentCount, 0);
}

TEST(RecordedOperators, AProtonCoupledToACarbonGivesInPhaseAndAntiphaseTerms)
{
    const auto list = buildRecordedOperators(protonAndCarbon(140.0));
    // Proton: Ix, Iy, 2IxSz, 2IySz; carbon: Sx, Sy, 2IzSx, 2IzSy.
    ASSERT_EQ(list.size(), 8u);
    const int ix = 1, iy = 2, sz = 3 * 4;
    EXPECT_EQ(list[0].operatorIndex, ix);
    EXPECT_EQ(list[1].operatorIndex, iy);
    EXPECT_EQ(list[2].operatorIndex, ix + sz);
    EXPECT_EQ(list[3].operatorIndex, iy + sz);
    for (int e = 0; e < 4; ++e) {
        EXPECT_EQ(list[e].spin, 0);
        EXPECT_EQ(list[e].channel, kChannelH1);
        EXPECT_TRUE(list[e].coupled);
        ASSERT_EQ(list[e].componentCount, 1);
        EXPECT_EQ(list.component(list[e], 0).frequencyHz, 140.0);
    }
    EXPECT_EQ(list.component(list[0], 0).code, 1) << "in-phase: cosine of the coupling";
    EXPECT_EQ(list[0].kind, 1);
    EXPECT_EQ(list.component(list[2], 0).code, 2) << "2IxSz: sine of the coupling";
    EXPECT_EQ(list[2].kind, -1) << "and seen along y";
    EXPECT_EQ(list.component(list[3], 0).code, -2);
    EXPECT_EQ(list[3].kind, 1);
    EXPECT_EQ(list[4].channel, kChannelC13);
    EXPECT_EQ(list[5].operatorIndex, 3 + 4) << "2IzSx comes before Sy in index order";
}

TEST(RecordedOperators, TwoCouplingsExpandIntoFourComponents)
{
    SpinTables s;
    s.count = 3;
    s.slotState = {3, 3, 3};
    s.nucleusConstant = {kNucleusConstantH1, kNucleusConstantH1, kNucleusConstantH1};
    s.couplingHz[0][1] = s.couplingHz[1][0] = 10.0;
    s.couplingHz[0][2] = s.couplingHz[2][0] = 3.0;
    const auto list = buildRecordedOperators(s);
    const RecordedOperator& ix = list[0];
    ASSERT_EQ(ix.operatorIndex, 1);
    ASSERT_EQ(ix.componentCount, 2) << "two E partners: 2 components after the second fold";
    EXPECT_EQ(list.component(ix, 0).frequencyHz, 13.0);
    EXPECT_EQ(list.component(ix, 1).frequencyHz, 7.0);
    // 4 I0x S1z S2z: two sine factors; the product of two sines is a sum of cosines.
    const int doubleAntiphase = 1 + 3 * 4 + 3 * 16;
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const RecordedOperator& e) { return e.operatorIndex == doubleAntiphase; });
    ASSERT_NE(it, list.end());
    ASSERT_EQ(it->componentCount, 2);
    EXPECT_EQ(std::abs(list.component(*it, 0).code), 1);
    EXPECT_EQ(std::abs(list.component(*it, 1).code), 1);
    EXPECT_EQ(it->kind, 1) << "two sign changes bring it back to x";
    // Operators transverse at two spins are never recorded.
    for (const RecordedOperator& e : list) {
        for (int k = 0; k < 3; ++k) {
            if (k != e.spin) {
                EXPECT_FALSE(isTransverse(e.operatorIndex, k)) << e.operatorIndex;
            }
        }
    }
}

TEST(RecordedOperators, CoupledSpinsRecordExactlyTheirPartnerProductsInIndexOrder)
{
    // Six spins, spin 4 inactive, a sparse coupling pattern: the list against a scan of all 4^6
    // indices for an x or y observed spin whose other spins are E or z of an active partner.
    SpinTables s;
    s.count = 6;
    s.slotState = {3, 3, 3, 3, 0, 3};
    const int pairs[][2] = {{0, 1}, {0, 3}, {1, 5}, {2, 4}, {3, 5}, {0, 4}};
    for (const auto& p : pairs)
        s.couplingHz[p[0]][p[1]] = s.couplingHz[p[1]][p[0]] = 3.0 + p[0] + p[1];
    std::vector<int> expected;
    for (int i = 0; i < s.count; ++i) {
        for (int index = 0; index < operatorCount(s.count) && s.active(i); ++index) {
            bool wanted = isTransverse(index, i);
            for (int j = 0; j < s.count && wanted; ++j) {
                const bool partner = j != i && s.active(j) && s.couplingHz[i][j] != 0.0;
                wanted = j == i || (index & kSpinMask[j]) == 0 || (partner && isZ(index, j));
            }
            if (wanted)
                expected.push_back(index);
        }
    }
    std::vector<int> listed;
    for (const RecordedOperator& e : buildRecordedOperators(s))
        listed.push_back(e.operatorIndex);
    EXPECT_EQ(listed, expected);
}

TEST(RecordedOperators, DecoupledSpinsAreNeitherObservedNorPartners)
{
    SpinTables s = protonAndCarbon(140.0);
    s.slotState[1] = 0;
    const auto list = buildRecordedOperators(s);
    ASSERT_EQ(list.size(), 2u) << "the proton alone, as a single line";
    EXPECT_FALSE(list[0].coupled);
}

TEST(RecordedOperators, HandMadeEntriesKeepTheirComponentsAndShareEqualFrequencies)
{
    RecordedOperators list;
    RecordedOperator entry;
    entry.coupled = true;
    const std::vector<MultipletComponent> first = {{1, 7.5}, {-2, -3.25}, {3, 0.0}};
    list.add(entry, first);
    list.add(entry, std::vector<MultipletComponent>{{-1, 7.5}, {2, -0.0}});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].firstComponent, 3);
    const std::vector<MultipletComponent> read = list.components(list[0]);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].code, 1);
    EXPECT_EQ(read[1].code, -2);
    EXPECT_EQ(read[1].frequencyHz, -3.25);
    EXPECT_EQ(read[2].code, 2) << "any code but +-1 is a positive sine factor";
    EXPECT_EQ(list.component(list[1], 0).code, -1);
    EXPECT_TRUE(std::signbit(list.component(list[1], 1).frequencyHz)) << "-0 Hz is kept as it was";
    EXPECT_EQ(list.frequenciesHz().size(), 4u) << "7.5 Hz is held once";

    // The table ends where a component's index would no longer fit its two bytes.
    RecordedOperators crowded;
    for (int f = 0; f < PackedComponent::kMostFrequencies; ++f)
        EXPECT_EQ(crowded.addFrequency(f), f);
    EXPECT_THROW(crowded.add(entry, std::vector<MultipletComponent>{{1, -1.0}}), std::length_error);
}

}  // namespace
}  // namespace velmora::engine
