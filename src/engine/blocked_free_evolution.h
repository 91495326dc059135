// Free evolution of a large state row in a few cache-sized passes. Offsets and scalar couplings all
// commute, so they may be applied in any grouping: each pass takes a set of at most kTileSpins spins
// (spins 0 and 1 always among them, so a tile is read in runs of 16 neighbouring coefficients),
// gathers every tile of the row in which only those spins' digits vary, applies the offsets and
// couplings assigned to that set with the plain kernels while the tile is in cache, and scatters it
// back. At ten fully coupled spins that is three reads and writes of the row instead of one per
// spin and per coupled pair. Smaller rows go straight to the plain kernels of free_evolution.h,
// which remain the reference the tests compare with.
#pragma once

#include "engine/spin_tables.h"

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
    // Rows of fewer spins go to the plain kernels: at nine spins the gathering and scattering cost
    // more than the passes they save.
    static constexpr int kBlockedFromSpins = 10;

    BlockedFreeEvolution();

    // The threads a large row's passes may be shared between (nullptr, the default: the calling
    // thread alone). The pool must be idle whenever evolve runs: a run that already works on one
    // of its workers keeps to its own thread. Every coefficient sees the same operations whatever
    // the thread count, so the result does not depend on it.
    void sharePassesWith(util::WorkPool* pool) { pool_ = pool; }
    util::WorkPool* passPool() const { return pool_; }

    // The same as evolveOffsets(row, spins, offsetRadPerS, seconds) followed by
    // evolveCouplings(row, spins, seconds), to rounding. Does not allocate.
    void evolve(std::span<double> row, const SpinTables& spins, std::span<const double> offsetRadPerS,
                double seconds);

private:
    // Applies the pending offsets and couplings among `members` (ascending) to every tile.
    void applyPass(std::span<double> row, int nSpins, const SpinTables& sub,
                   std::span<const double> subOffsetRadPerS, std::span<const int> members, double seconds);

    std::vector<std::int32_t> tileIndex_;  // row index of every tile coefficient, base excluded
    std::vector<double> tile_;
    util::WorkPool* pool_ = nullptr;
};

}  // namespace velmora::engine
