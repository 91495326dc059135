// Equilibrium start, decoupling of the spins on a "dec" channel, and destruction of transverse
// single-spin terms.
#include "engine/free_evolution.h"
#include "engine/initial_state.h"
#include "engine/operator_basis.h"
#include "engine/spin_tables.h"
#include "engine/state_matrix.h"
#include "model/spin_system.h"

#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace velmora::engine {
namespace {

SpinTables protonCarbonPair()
{
    SpinTables spins;
    spins.count = 2;
    spins.slotState[0] = 3;
    spins.slotState[1] = 3;
    spins.nucleusConstant[0] = kNucleusConstantH1;
    spins.nucleusConstant[1] = kNucleusConstantC13;
    spins.channel[0] = kChannelH1;
    spins.channel[1] = kChannelC13;
    return spins;
}

// Two protons and a carbon, all mutually coupled.
SpinTables twoProtonsAndCarbon()
{
    SpinTables spins;
    spins.count = 3;
    for (int k = 0; k < 3; ++k) {
        spins.slotState[k] = 3;
    }
    spins.nucleusConstant = {kNucleusConstantH1, kNucleusConstantH1, kNucleusConstantC13};
    spins.channel = {kChannelH1, kChannelH1, kChannelC13};
    spins.couplingHz[0][1] = spins.couplingHz[1][0] = 7.0;
    spins.couplingHz[0][2] = spins.couplingHz[2][0] = 140.0;
    spins.couplingHz[1][2] = spins.couplingHz[2][1] = 5.0;
    return spins;
}

void fillRandom(StateMatrix& state, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (int r = 0; r < state.rowCount(); ++r) {
        for (double& c : state.row(r)) {
            c = value(generator);
        }
        state.row(r)[0] = 0.0;
    }
}

std::vector<double> copyRow(const StateMatrix& state, int r)
{
    const auto row = state.row(r);
    return {row.begin(), row.end()};
}

constexpr std::array<int, kRfChannelCount> kNoDecoupling = {0, 0, 0};
constexpr std::array<int, kRfChannelCount> kDecoupleCarbon = {-2, kDecouplingContentCode, 0};
constexpr std::array<int, kRfChannelCount> kDecoupleNitrogen = {0, 0, kDecouplingContentCode};

TEST(EquilibriumState, ProtonCarbonPairHoldsTheNucleusConstantsOnZOnly)
{
    const SpinTables spins = protonCarbonPair();
    StateMatrix state(2, 3);
    fillRandom(state, 1);
    setEquilibrium(spins, state);
    for (std::int32_t idx = 0; idx < 16; ++idx) {
        double expected = 0.0;
        if (idx == kSpinMask[0]) {
            expected = 10000000.0;
        } else if (idx == kSpinMask[1]) {
            expected = 2515074.0;
        }
        EXPECT_EQ(state.row(0)[static_cast<std::size_t>(idx)], expected) << "operator " << idx;
        EXPECT_EQ(state.row(1)[static_cast<std::size_t>(idx)], 0.0) << "operator " << idx;
        EXPECT_EQ(state.row(2)[static_cast<std::size_t>(idx)], 0.0) << "operator " << idx;
    }
}

TEST(EquilibriumState, InactiveSpinStartsWithoutMagnetisation)
{
    SpinTables spins = protonCarbonPair();
    spins.slotState[1] = 0;
    spins.nucleusConstant[1] = kNucleusConstantN15;
    StateMatrix state(2);
    setEquilibrium(spins, state);
    EXPECT_EQ(state.row(0)[static_cast<std::size_t>(kSpinMask[0])], kNucleusConstantH1);
    EXPECT_EQ(state.row(0)[static_cast<std::size_t>(kSpinMask[1])], 0.0);
}

TEST(Decoupling, ZeroesEveryProductContainingTheSpinInEveryRow)
{
    SpinTables spins = twoProtonsAndCarbon();
    StateMatrix state(3, 4);
    fillRandom(state, 2);
    const StateMatrix before = state;

    zeroDecoupledSpins(kDecoupleCarbon, spins, state);

    EXPECT_EQ(spins.slotState[0], 3);
    EXPECT_EQ(spins.slotState[1], 3);
    EXPECT_EQ(spins.slotState[2], 0);
    for (int r = 0; r < state.rowCount(); ++r) {
        for (std::int32_t idx = 0; idx < state.rowLength(); ++idx) {
            const auto i = static_cast<std::size_t>(idx);
            if (isPresent(idx, 2)) {
                EXPECT_EQ(state.row(r)[i], 0.0) << "row " << r << " operator " << idx;
            } else {
                EXPECT_EQ(state.row(r)[i], before.row(r)[i]) << "row " << r << " operator " << idx;
            }
        }
    }
}

TEST(Decoupling, LaterCouplingEvolutionOfTheDecoupledSpinDoesNothing)
{
    SpinTables spins = twoProtonsAndCarbon();
    spins.couplingHz[0][1] = 0.0;  // only the couplings to the carbon remain
    StateMatrix state(3);
    fillRandom(state, 3);
    zeroDecoupledSpins(kDecoupleCarbon, spins, state);
    const std::vector<double> afterDecoupling = copyRow(state, 0);

    evolveCouplings(state.row(0), spins, 0.0013);
    EXPECT_EQ(copyRow(state, 0), afterDecoupling);

    // The same row still evolves under the carbon couplings while the carbon is active.
    SpinTables carbonActive = spins;
    carbonActive.slotState[2] = 3;
    evolveCouplings(state.row(0), carbonActive, 0.0013);
    EXPECT_NE(copyRow(state, 0), afterDecoupling);
}

TEST(Decoupling, DecOnAChannelWithoutSpinsChangesNothing)
{
    SpinTables spins = twoProtonsAndCarbon();
    const SpinTables spinsBefore = spins;
    StateMatrix state(3, 2);
    fillRandom(state, 4);
    const StateMatrix before = state;

    zeroDecoupledSpins(kDecoupleNitrogen, spins, state);
    zeroDecoupledSpins(kNoDecoupling, spins, state);

    EXPECT_EQ(spins.slotState, spinsBefore.slotState);
    for (int r = 0; r < state.rowCount(); ++r) {
        EXPECT_EQ(copyRow(state, r), copyRow(before, r)) << "row " << r;
    }
}

TEST(Decoupling, ProtonChannelSwitchesOffEveryProton)
{
    SpinTables spins = twoProtonsAndCarbon();
    StateMatrix state(3);
    fillRandom(state, 5);
    zeroDecoupledSpins({kDecouplingContentCode, 0, 0}, spins, state);
    EXPECT_FALSE(spins.active(0));
    EXPECT_FALSE(spins.active(1));
    EXPECT_TRUE(spins.active(2));
    // Only E and the carbon's own operators survive.
    for (std::int32_t idx = 0; idx < state.rowLength(); ++idx) {
        if (isPresent(idx, 0) || isPresent(idx, 1)) {
            EXPECT_EQ(state.row(0)[static_cast<std::size_t>(idx)], 0.0) << "operator " << idx;
        }
    }
    EXPECT_NE(state.row(0)[static_cast<std::size_t>(kStride[2])], 0.0);
}

TEST(DestroyTransverse, ClearsSingleSpinXAndYAndKeepsEverythingElse)
{
    StateMatrix state(3);
    fillRandom(state, 6);
    const std::vector<double> before = copyRow(state, 0);

    destroyTransverse(state.row(0), 3);

    for (std::int32_t idx = 0; idx < state.rowLength(); ++idx) {
        const auto i = static_cast<std::size_t>(idx);
        bool singleSpinTransverse = false;
        for (int k = 0; k < 3; ++k) {
            singleSpinTransverse = singleSpinTransverse || idx == kStride[k] || idx == kYDigit[k];
        }
        if (singleSpinTransverse) {
            EXPECT_EQ(state.row(0)[i], 0.0) << "operator " << idx;
        } else {
            EXPECT_EQ(state.row(0)[i], before[i]) << "operator " << idx;
        }
    }
}

}  // namespace
}  // namespace velmora::engine

namespace velmora::engine {
namespace {

TEST(SpinTablesFromModel, StartUpMoleculeGivesTheEquilibriumOfItsNuclei)
{
    model::SpinSystem system;
    system.rebuild();
    SpinTables spins = makeSpinTables(system);
    ASSERT_EQ(spins.count, 3);
    EXPECT_DOUBLE_EQ(spins.couplingHz[1][2], 140.0);
    EXPECT_EQ(spins.channel[2], kChannelC13);

    StateMatrix state(spins.count);
    setEquilibrium(spins, state);
    const auto row = state.row(0);
    EXPECT_DOUBLE_EQ(row[3], kNucleusConstantH1);
    EXPECT_DOUBLE_EQ(row[3 * 4], kNucleusConstantH1);
    EXPECT_DOUBLE_EQ(row[3 * 16], kNucleusConstantC13);
    double sumOfSquares = 0.0;
    for (double c : row)
        sumOfSquares += c * c;
    EXPECT_DOUBLE_EQ(sumOfSquares,
                     2 * kNucleusConstantH1 * kNucleusConstantH1 + kNucleusConstantC13 * kNucleusConstantC13);
}

}  // namespace
}  // namespace velmora::engine
