// Free evolution of a large state row in a few cache-sized passes, in the mixed basis of
// mixed_basis_tile.h: each pass works on every tile of the row in which the digits of a set of at
// most kTileSpins spins vary (spins 0 and 1 always among them, so a tile lies in contiguous runs),
// where it lies in the row: it changes the basis of some of the tile's spins, turns the transverse
// pairs whose partners are all in the mixed basis and changes some back. A row of up to eight spins
// is one tile; nine and ten spins take three passes. Smaller rows go straight to the plain kernels'
// loops; the kernels of free_evolution.h remain the reference the tests compare with.
#pragma once

#include "engine/element_rotation.h"
#include "engine/kernel_variant.h"
#include "engine/mixed_basis_tile.h"
#include "engine/population_basis.h"
#include "engine/spin_tables.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora::util {
class WorkPool;
}

namespace velmora::engine {

class BlockedFreeEvolution {
public:
    // Spins per tile: 4^8 coefficients, 512 KiB, stay in a core's second-level cache.
    static constexpr int kTileSpins = 8;
    // Rows of fewer spins go to the plain kernels, whose few passes fit in cache anyway.
    static constexpr int kMixedFromSpins = 6;

    // With the process's kernel variant, or the one given (tests compare every variant).
    BlockedFreeEvolution();
    explicit BlockedFreeEvolution(KernelVariant variant);

    // The threads a large row's passes may be shared between (nullptr, the default: the calling
    // thread alone). The pool must be idle whenever evolve runs: a run that already works on one
    // of its workers keeps to its own thread. Every coefficient sees the same operations whatever
    // the thread count, so the result does not depend on it. Allocates nothing.
    void sharePassesWith(util::WorkPool* pool);
    util::WorkPool* passPool() const { return pool_; }

    // The same as evolveOffsets(row, spins, offsetRadPerS, seconds) followed by
    // evolveCouplings(row, spins, seconds), to rounding (some 1e-15 of the largest coefficient).
    // Does not allocate.
    void evolve(std::span<double> row, const SpinTables& spins, std::span<const double> offsetRadPerS,
                double seconds)
    {
        evolve(row, spins, offsetRadPerS, seconds, {});
    }

    // The same, with every coefficient also scaled by the product of transverseFraction[k] over
    // the spins k that are x or y in its product (T2 decay over the interval, which free evolution
    // commutes with; empty: no scaling), inside the first pass instead of a pass of its own. Agrees
    // with relaxT2InOnePass after evolve to rounding.
    void evolve(std::span<double> row, const SpinTables& spins, std::span<const double> offsetRadPerS,
                double seconds, std::span<const double> transverseFraction)
    {
        evolve(row, spins, offsetRadPerS, seconds, transverseFraction, {});
    }

    // The same after the pulse elements of a point, one per spin in ascending spin order, taken
    // into the passes: an element turns one spin's coefficients only, so it commutes with all that
    // is done to the other spins and goes into the first pass whose tiles hold its spin, before the
    // spin changes basis (spins 0..7 in the first pass, 8 and 9 in the second); its spin's decay
    // goes into its x and y rows. Agrees with the elements applied one after the other, then
    // evolve, to rounding. Elements of rows below kMixedFromSpins spins, or not in ascending order,
    // are applied first, one by one.
    //
    // A row held in the population basis (every spin's E and z as u and v) stays in it: its passes
    // change no basis, so a bare interval of nine or ten spins takes two passes (spins 0..7 turn in
    // the first, the others in the second), and one with elements of spins 8 or 9 three (the elements
    // of 0..7, then those of the others and the turns of all but the top of 0..7, then those).
    void evolve(std::span<double> row, const SpinTables& spins, std::span<const double> offsetRadPerS,
                double seconds, std::span<const double> transverseFraction,
                std::span<const SpinRotation> elements, RowBasis basis = RowBasis::productOperators);

private:
    // What one pass does to its tiles. Positions are the tile's digits (members ascending); the
    // masks have one bit per position, `partners` one bit per spin.
    struct Pass {
        std::array<int, kTileSpins> members{};
        int size = 0;
        unsigned toMixed = 0;
        unsigned rotated = 0;
        unsigned withOffset = 0;
        unsigned fromMixed = 0;
        std::array<unsigned, kTileSpins> partners{};
        // Positions whose pulse element the pass applies first, and those elements.
        unsigned pulsed = 0;
        std::array<ElementRotation, kTileSpins> element{};
    };

    // The passes for nSpins spins: one for a row of up to eight, three for nine and ten; for a row
    // in the population basis, one, or two or three for nine and ten.
    int planPasses(const SpinTables& spins, std::array<Pass, 3>& passes) const;
    int planPopulationPasses(const SpinTables& spins, std::array<Pass, 3>& passes) const;
    // One spin's element on the coefficients [c, c + length) (whole groups of its digits), in the
    // basis of the row being evolved.
    void applyElement(double* c, std::int32_t length, int spin, const ElementRotation& r) const;
    // The elements of spins lower and lower + 1 on [c, c + length) in one sweep.
    void applyTwoElements(double* c, std::int32_t length, int lower, const ElementRotation& rLower,
                          const ElementRotation& rUpper) const;
    void runPass(std::span<double> row, int nSpins, const Pass& pass, bool withDecay);
    // Scales the coefficients [first, first + count) of a contiguous tile whose positions are spins
    // 0, 1, ... by the decay tables, times `outside` (the fraction of its other spins); first and
    // count are multiples of 4^5, or count is the whole tile.
    void scaleByDecay(double* tile, std::int32_t first, std::int32_t count, double outside) const;
    // The top positions firstTop.. of a tile (one or two), before its blocks: their elements and
    // their change to the mixed basis, piece by piece.
    void prepareTop(const TileRuns& tile, const Pass& pass, int firstTop) const;
    // The work of a pass on the tile whose other spins' digits are `tileIndex`'s base-4 digits.
    void workOnTile(const TileRuns& tile, const Pass& pass, std::span<const int> otherSpins,
                    std::int32_t tileIndex, bool withDecay) const;
    // The phasor position p of a pass turns by over the whole tile: its offset, if the pass applies
    // it, and its partners outside the tile.
    Phasor outsideFactor(const Pass& pass, int p, std::span<const int> otherSpins,
                         std::int32_t tileIndex) const;

    std::array<Phasor, kSpinSlots> offsetPhase_{};
    std::array<std::array<Phasor, kSpinSlots>, kSpinSlots> couplingPhase_{};
    // Transverse decay of the digits of spins 0..4 and 5..9 (product of the fractions of the x and
    // y digits), and of each spin, for the interval being evolved.
    std::array<double, 1024> lowDecay_{};
    std::array<double, 1024> highDecay_{};
    std::array<double, kSpinSlots> spinDecay_{};
    // The elements of the point being evolved, by spin.
    std::array<ElementRotation, kSpinSlots> spinElement_{};
    unsigned pulsedSpins_ = 0;
    // The row being evolved is held in the population basis.
    bool populations_ = false;
    // The elements of neighbouring positions go in pairs, one sweep for two (where the processor
    // holds a pair's sixteen values in registers).
    bool pairElements_ = false;
    MixedBasisTables tables_;
    std::vector<std::int32_t> runStart_;  // offset of every run of a pass's tiles from the tile's start
    util::WorkPool* pool_ = nullptr;
};

}  // namespace velmora::engine
