// Longitudinal, transverse and cross-relaxation of product-operator coefficients, checked against
// their closed-form solutions, and the relaxation times a run takes from the arrayed parameter.
#include "engine/operator_basis.h"
#include "engine/relaxation.h"
#include "util/work_pool.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace velmora::engine {
namespace {

SpinTables spinsOf(std::initializer_list<double> nucleusConstants)
{
    SpinTables spins;
    spins.count = static_cast<int>(nucleusConstants.size());
    int k = 0;
    for (const double gamma : nucleusConstants) {
        spins.slotState[k] = 3;
        spins.nucleusConstant[k] = gamma;
        spins.channel[k] = gamma == kNucleusConstantH1    ? kChannelH1
                           : gamma == kNucleusConstantC13 ? kChannelC13
                                                          : kChannelN15;
        spins.t1Ms[k] = 1000.0;
        spins.t2Ms[k] = 100.0;
        ++k;
    }
    return spins;
}

std::vector<double> zeroRow(const SpinTables& spins)
{
    return std::vector<double>(static_cast<std::size_t>(operatorCount(spins.count)), 0.0);
}

std::vector<double> randomRow(int nSpins, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(-1.0e7, 1.0e7);
    std::vector<double> row(static_cast<std::size_t>(operatorCount(nSpins)));
    for (double& c : row)
        c = value(generator);
    row[0] = 0.0;
    return row;
}

double& z(std::vector<double>& row, int spin)
{
    return row[static_cast<std::size_t>(kSpinMask[spin])];
}

Relaxation allOn(double crossMs = 3000.0, int sliceRows = 1)
{
    Relaxation r;
    r.t1Ms.fill(1000.0);
    r.t2Ms.fill(100.0);
    r.crossMs = crossMs;
    r.t1On = r.t2On = r.crossOn = true;
    r.sliceRowCount = sliceRows;
    return r;
}

// --- Relaxation times of a run -------------------------------------------------------------------

TEST(RelaxationTimes, ComeFromTheSpinTableAndTheTcrFieldWhenNoneIsArrayed)
{
    SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantC13});
    spins.t1Ms[1] = 2500.0;
    spins.t2Ms[1] = 40.0;
    RunSettings settings;
    settings.arrayedName = "d1";
    settings.crossRelaxationMs = 1234.0;
    settings.t1Relaxation = true;
    const Relaxation r = relaxationForRun(spins, settings, 77.0, 3);
    EXPECT_EQ(r.t1Ms[0], 1000.0);
    EXPECT_EQ(r.t1Ms[1], 2500.0);
    EXPECT_EQ(r.t2Ms[1], 40.0);
    EXPECT_EQ(r.crossMs, 1234.0);
    EXPECT_TRUE(r.t1On);
    EXPECT_FALSE(r.t2On);
    EXPECT_FALSE(r.crossOn);
    EXPECT_EQ(r.sliceRowCount, 3);
}

TEST(RelaxationTimes, ArrayedT1SetsEverySpinAndWithTheRatioOptionAlsoT2)
{
    SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantC13});
    spins.t2Ms[1] = 40.0;
    RunSettings settings;
    settings.arrayedName = "t1";  // names compare without regard to case
    Relaxation r = relaxationForRun(spins, settings, 300.0, 1);
    EXPECT_EQ(r.t1Ms[0], 300.0);
    EXPECT_EQ(r.t1Ms[1], 300.0);
    EXPECT_EQ(r.t2Ms[1], 40.0);

    settings.t2FromT1 = true;
    settings.t2FromT1Factor = 4.0;
    r = relaxationForRun(spins, settings, 300.0, 1);
    EXPECT_EQ(r.t1Ms[1], 300.0);
    EXPECT_EQ(r.t2Ms[0], 75.0);
    EXPECT_EQ(r.t2Ms[1], 75.0);
}

TEST(RelaxationTimes, ArrayedT2WithTheRatioOptionSetsT1ToFactorTimesT2)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1});
    RunSettings settings;
    settings.arrayedName = "T2";
    Relaxation r = relaxationForRun(spins, settings, 60.0, 1);
    EXPECT_EQ(r.t2Ms[0], 60.0);
    EXPECT_EQ(r.t1Ms[0], 1000.0);

    settings.t2FromT1 = true;
    settings.t2FromT1Factor = 2.5;
    r = relaxationForRun(spins, settings, 60.0, 1);
    EXPECT_EQ(r.t2Ms[0], 60.0);
    EXPECT_EQ(r.t1Ms[0], 150.0);
}

TEST(RelaxationTimes, ArrayedTcrReplacesTheCrossRelaxationField)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1});
    RunSettings settings;
    settings.arrayedName = "TCR";
    settings.crossRelaxationMs = 3000.0;
    EXPECT_EQ(relaxationForRun(spins, settings, 450.0, 1).crossMs, 450.0);
}

// --- T1 --------------------------------------------------------------------------------------------

TEST(RelaxationT1, SaturatedSpinRecoversToOneMinusInverseEOfEquilibriumAfterT1)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantC13});
    Relaxation r = allOn();
    r.t1Ms[1] = 250.0;
    std::vector<double> row = zeroRow(spins);
    relaxT1(row, spins, r, 1.0);  // T1 of the proton: 1000 ms
    EXPECT_NEAR(z(row, 0), kNucleusConstantH1 * (1.0 - std::exp(-1.0)), 1e-6);
    EXPECT_NEAR(z(row, 1), kNucleusConstantC13 * (1.0 - std::exp(-4.0)), 1e-6);
}

TEST(RelaxationT1, ChangesOnlyTheSingleSpinZTerms)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantH1, kNucleusConstantC13});
    const std::vector<double> before = randomRow(3, 11);
    std::vector<double> row = before;
    relaxT1(row, spins, allOn(), 0.3);
    for (std::int32_t idx = 0; idx < operatorCount(3); ++idx) {
        const bool singleZ = idx == kSpinMask[0] || idx == kSpinMask[1] || idx == kSpinMask[2];
        if (singleZ)
            EXPECT_NE(row[static_cast<std::size_t>(idx)], before[static_cast<std::size_t>(idx)]) << idx;
        else
            EXPECT_EQ(row[static_cast<std::size_t>(idx)], before[static_cast<std::size_t>(idx)]) << idx;
    }
}

TEST(RelaxationT1, EachSliceRowRelaxesTowardItsShareOfTheEquilibrium)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1});
    const int rows = 4;
    const Relaxation r = allOn(3000.0, rows);
    const double start[rows] = {-2.0e6, 0.0, 1.0e6, 5.0e6};
    double sum = 0.0;
    for (const double z0 : start) {
        std::vector<double> row = zeroRow(spins);
        z(row, 0) = z0;
        relaxT1(row, spins, r, 1.0);
        const double share = kNucleusConstantH1 / rows;
        EXPECT_NEAR(z(row, 0), (z0 - share) * std::exp(-1.0) + share, 1e-6);
        relaxT1(row, spins, r, 30.0);
        sum += z(row, 0);
    }
    EXPECT_NEAR(sum, kNucleusConstantH1, 1e-3);
}

TEST(RelaxationT1, InactiveSpinDoesNotRelax)
{
    SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantH1});
    spins.slotState[1] = 0;
    std::vector<double> row = zeroRow(spins);
    relaxT1(row, spins, allOn(), 1.0);
    EXPECT_GT(z(row, 0), 0.0);
    EXPECT_EQ(z(row, 1), 0.0);
}

// --- T2 --------------------------------------------------------------------------------------------

TEST(RelaxationT2, EachTransverseFactorDecaysByItsSpinsFactorAndLongitudinalTermsStay)
{
    SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantH1, kNucleusConstantC13});
    Relaxation r = allOn();
    r.t2Ms = {50.0, 80.0, 120.0};
    const double seconds = 0.03;
    const std::vector<double> before = randomRow(3, 5);
    std::vector<double> row = before;
    relaxT2(row, spins, r, seconds);
    for (std::int32_t idx = 0; idx < operatorCount(3); ++idx) {
        double factor = 1.0;
        for (int k = 0; k < 3; ++k) {
            if (isTransverse(idx, k))
                factor *= std::exp(-seconds * 1000.0 / r.t2Ms[k]);
        }
        const double expected = before[static_cast<std::size_t>(idx)] * factor;
        if (factor == 1.0)
            EXPECT_EQ(row[static_cast<std::size_t>(idx)], expected) << idx;  // only z and E digits
        else
            EXPECT_NEAR(row[static_cast<std::size_t>(idx)], expected, 1e-8) << idx;
    }
}

TEST(RelaxationT2, InactiveSpinAddsNoDecay)
{
    SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantH1});
    spins.slotState[0] = 0;
    std::vector<double> row = zeroRow(spins);
    const auto x0 = static_cast<std::size_t>(kStride[0]);
    const auto x0x1 = static_cast<std::size_t>(kStride[0] + kStride[1]);
    row[x0] = 1.0e7;
    row[x0x1] = 1.0e7;
    relaxT2(row, spins, allOn(), 0.1);
    EXPECT_EQ(row[x0], 1.0e7);
    EXPECT_NEAR(row[x0x1], 1.0e7 * std::exp(-1.0), 1e-6);  // the factor of spin 1 alone
}

// Nine spins, so the pieces cut the runs of spins 7 and 8 and the pool is used: the per-spin pass
// and the one-pass tables agree, and neither depends on the thread count.
TEST(RelaxationT2, PassesSharedBetweenThreadsGiveTheSameBits)
{
    SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantH1, kNucleusConstantH1,
                                kNucleusConstantC13, kNucleusConstantH1, kNucleusConstantH1,
                                kNucleusConstantH1, kNucleusConstantH1, kNucleusConstantH1});
    spins.slotState[2] = 0;
    Relaxation r = allOn();
    for (int k = 0; k < spins.count; ++k)
        r.t2Ms[static_cast<std::size_t>(k)] = 10.0 + 5.0 * k;
    const std::vector<double> before = randomRow(spins.count, 9);
    std::vector<double> perSpin = before;
    std::vector<double> onePass = before;
    relaxT2(perSpin, spins, r, 0.03);
    relaxT2InOnePass(onePass, spins, r, 0.03);
    double worst = 0.0;
    for (std::size_t i = 0; i < before.size(); ++i)
        worst = std::max(worst, std::fabs(perSpin[i] - onePass[i]));
    EXPECT_LE(worst, 1e-12 * 1.0e7);
    EXPECT_LT(std::fabs(perSpin[static_cast<std::size_t>(kStride[8])]),
              0.7 * std::fabs(before[static_cast<std::size_t>(kStride[8])]));  // the highest spin decayed
    for (const int threads : {2, 3}) {
        util::WorkPool pool(threads);
        std::vector<double> sharedPerSpin = before;
        std::vector<double> sharedOnePass = before;
        relaxT2(sharedPerSpin, spins, r, 0.03, &pool);
        relaxT2InOnePass(sharedOnePass, spins, r, 0.03, &pool);
        EXPECT_TRUE(sharedPerSpin == perSpin) << threads << " threads";
        EXPECT_TRUE(sharedOnePass == onePass) << threads << " threads";
    }
}

// --- Cross-relaxation ------------------------------------------------------------------------------

TEST(RelaxationCross, OneIntervalPassesTheDeviationsInSpinOrder)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantC13});
    const Relaxation r = allOn(2000.0);
    const double seconds = 0.5;
    const double w = 1.0 - std::exp(-seconds * 1000.0 / r.crossMs);
    std::vector<double> row = zeroRow(spins);
    z(row, 0) = 0.0;                        // saturated proton
    z(row, 1) = 0.5 * kNucleusConstantC13;  // carbon at half its equilibrium
    crossRelax(row, spins, r, seconds);
    // Both equilibria already scale with gamma, so a deviation passes on unweighted.
    const double proton = 0.5 * kNucleusConstantC13 * w;
    // The carbon sees the proton's z as already changed by the first pair.
    const double carbon = 0.5 * kNucleusConstantC13 + (kNucleusConstantH1 - proton) * w;
    EXPECT_NEAR(z(row, 0), proton, 1e-6);
    EXPECT_NEAR(z(row, 1), carbon, 1e-6);
}

TEST(RelaxationCross, InactiveSpinActsAsSourceButReceivesNothing)
{
    SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantH1});
    spins.slotState[1] = 0;  // decoupled: its coefficients were zeroed
    const Relaxation r = allOn();
    std::vector<double> row = zeroRow(spins);
    z(row, 0) = kNucleusConstantH1;
    crossRelax(row, spins, r, 0.3);
    const double w = 1.0 - std::exp(-0.3 * 1000.0 / r.crossMs);
    EXPECT_NEAR(z(row, 0), kNucleusConstantH1 * (1.0 + w), 1e-6);
    EXPECT_EQ(z(row, 1), 0.0);
}

TEST(RelaxationCross, TransferVanishesWithTheIntervalAndGrowsAsItOverTcr)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantH1});
    const Relaxation r = allOn(3000.0);
    std::vector<double> row = zeroRow(spins);
    z(row, 0) = kNucleusConstantH1;  // at equilibrium; spin 1 saturated
    const std::vector<double> before = row;
    crossRelax(row, spins, r, 0.0);
    EXPECT_EQ(row, before);

    for (const double seconds : {1.0e-9, 1.0e-6, 1.0e-3}) {
        std::vector<double> relaxed = before;
        crossRelax(relaxed, spins, r, seconds);
        const double transfer = z(relaxed, 0) - kNucleusConstantH1;
        EXPECT_NEAR(transfer / (kNucleusConstantH1 * seconds * 1000.0 / r.crossMs), 1.0, 1e-3) << seconds;
    }
}

TEST(RelaxationCross, DelayCutIntoPiecesTransfersWhatTheWholeDelayTransfersToFirstOrder)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantC13});
    const Relaxation r = allOn(3000.0);
    const double seconds = 0.003;  // t / Tcr = 1e-3
    std::vector<double> start = zeroRow(spins);
    z(start, 0) = kNucleusConstantH1;  // proton at equilibrium, carbon saturated

    std::vector<double> whole = start;
    crossRelax(whole, spins, r, seconds);
    std::vector<double> pieces = start;
    const int count = 1000;
    for (int i = 0; i < count; ++i)
        crossRelax(pieces, spins, r, seconds / count);

    const double wholeTransfer = z(whole, 0) - kNucleusConstantH1;
    const double piecesTransfer = z(pieces, 0) - kNucleusConstantH1;
    const double ratio = seconds * 1000.0 / r.crossMs;
    // The carbon's deviation gamma_C passed on at rate 1/Tcr.
    const double linear = kNucleusConstantC13 * ratio;
    EXPECT_NEAR(wholeTransfer, linear, linear * ratio);
    EXPECT_NEAR(piecesTransfer, wholeTransfer, linear * ratio);
}

// Cut finely, the rule is the cross term of the Solomon equations without auto-relaxation:
// dD_i/dt = -D_j / Tcr for deviations D = M0 - Iz, heteronuclear pairs alike. For two spins the sum
// D_0 + D_1 decays as exp(-t/Tcr) and the difference grows as exp(t/Tcr).
TEST(RelaxationCross, FinelyCutFollowsTheCrossTermsOfTheSolomonEquations)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantC13});
    const Relaxation r = allOn(1000.0);
    const double total = 0.5;  // seconds: t / Tcr = 0.5
    const int count = 20000;
    const double g0 = kNucleusConstantH1;
    const double g1 = kNucleusConstantC13;
    std::vector<double> row = zeroRow(spins);
    const double d0 = 0.7 * g0;   // proton partly saturated
    const double d1 = -0.4 * g1;  // carbon above equilibrium
    z(row, 0) = g0 - d0;
    z(row, 1) = g1 - d1;
    for (int i = 0; i < count; ++i)
        crossRelax(row, spins, r, total / count);

    const double u0 = g0 - z(row, 0);
    const double u1 = g1 - z(row, 1);
    EXPECT_NEAR((u0 + u1) / g0, (d0 + d1) * std::exp(-0.5) / g0, 1e-4);
    EXPECT_NEAR((u0 - u1) / g0, (d0 - d1) * std::exp(0.5) / g0, 1e-4);
}

TEST(RelaxationCross, WithFasterT1TwoProtonsReturnToEquilibrium)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantH1});
    Relaxation r = allOn(3000.0);  // T1 = 1000 ms relaxes faster than the 3000 ms transfer
    r.t2On = false;
    std::vector<double> row = zeroRow(spins);
    z(row, 0) = -kNucleusConstantH1;  // inverted
    z(row, 1) = kNucleusConstantH1;
    const double step = 0.001;
    double firstPartner = 0.0;
    for (int i = 0; i < 40000; ++i) {
        relaxAfterElement(row, spins, r, step);
        if (i == 199)
            firstPartner = z(row, 1);
    }
    // The inverted spin first pulls its partner above equilibrium (positive enhancement) ...
    EXPECT_GT(firstPartner, kNucleusConstantH1);
    // ... and after 40 s (the slower mode decays at 1/T1 - 1/Tcr) both are back at equilibrium.
    EXPECT_NEAR(z(row, 0), kNucleusConstantH1, 1.0);
    EXPECT_NEAR(z(row, 1), kNucleusConstantH1, 1.0);
}

// --- Calling orders --------------------------------------------------------------------------------

// With cross-relaxation on, it and T1 act as one exact step of the coupled equations: the limit of
// the two alternating over ever shorter pieces (here 200000); T2 acts once.
TEST(RelaxationOrder, AfterAnElementCrossThenT2ThenT1EachWhenSwitchedOn)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantC13});
    const std::vector<double> start = randomRow(2, 3);
    Relaxation r = allOn(500.0);
    const double t = 0.2;
    constexpr int kPieces = 200000;

    std::vector<double> expected = start;
    for (int i = 0; i < kPieces; ++i) {
        crossRelax(expected, spins, r, t / kPieces);
        relaxT1(expected, spins, r, t / kPieces);
    }
    relaxT2(expected, spins, r, t);
    std::vector<double> row = start;
    relaxAfterElement(row, spins, r, t);
    for (std::size_t i = 0; i < row.size(); ++i)
        EXPECT_NEAR(row[i], expected[i], 1e-5 * std::abs(expected[i]) + 1e-6) << i;

    std::vector<double> otherOrder = start;
    crossRelax(otherOrder, spins, r, t);
    relaxT1(otherOrder, spins, r, t);
    EXPECT_GT(std::abs(otherOrder[static_cast<std::size_t>(kSpinMask[0])] -
                       expected[static_cast<std::size_t>(kSpinMask[0])]),
              1e3);

    r.crossOn = false;
    r.t1On = false;
    expected = start;
    relaxT2(expected, spins, r, t);
    row = start;
    relaxAfterElement(row, spins, r, t);
    EXPECT_EQ(row, expected);
}

TEST(RelaxationOrder, AfterShapedEvolutionCrossRelaxationBringsT1CrossT2WhateverTheSwitches)
{
    const SpinTables spins = spinsOf({kNucleusConstantH1, kNucleusConstantC13});
    const std::vector<double> start = randomRow(2, 4);
    Relaxation r = allOn(500.0);
    r.t1On = false;
    r.t2On = false;
    const double t = 0.2;

    constexpr int kPieces = 200000;
    std::vector<double> expected = start;
    for (int i = 0; i < kPieces; ++i) {
        relaxT1(expected, spins, r, t / kPieces);
        crossRelax(expected, spins, r, t / kPieces);
    }
    relaxT2(expected, spins, r, t);
    std::vector<double> row = start;
    relaxAfterShapedEvolution(row, spins, r, t);
    for (std::size_t i = 0; i < row.size(); ++i)
        EXPECT_NEAR(row[i], expected[i], 1e-5 * std::abs(expected[i]) + 1e-6) << i;

    r.crossOn = false;
    row = start;
    relaxAfterShapedEvolution(row, spins, r, t);
    EXPECT_EQ(row, start);

    r.t1On = true;
    r.t2On = true;
    expected = start;
    relaxT2(expected, spins, r, t);
    relaxT1(expected, spins, r, t);
    row = start;
    relaxAfterShapedEvolution(row, spins, r, t);
    EXPECT_EQ(row, expected);
}

}  // namespace
}  // namespace velmora::engine
