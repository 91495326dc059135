// Free evolution of one tile of a state row in the mixed basis of its longitudinal digits.
//
// A tile holds 4^m coefficients whose base-4 digits are those of m spins, its positions 0..m-1
// (position p has stride 4^p). For a spin, the E and z coefficients (E, Z) of a product may be
// replaced by (u, v) = (E + Z, E - Z): the products with the spin's alpha and beta populations,
// doubled. Under offsets and weak couplings a product whose spin k is transverse then keeps every
// other spin's population label, and its (x, y) pair at k only turns, by
// theta_k = omega_k t + pi t sum_l J_kl sigma_l, with sigma_l = +1 for u, -1 for v and 0 for a
// transverse partner. So a whole interval is: the change of basis, one rotation per transverse spin
// whose angle is set by the partners' digits, and the change back.
//
// The angle of every product is composed from small tables of phasors (cos, sin), products of one
// exact phasor per coupled pair: a rotated position reads its factor from a table over the positions
// below it (at most four of them, one contiguous run), a table over the positions between four and
// itself, a table over the positions above it, and one phasor per tile for the offset and the
// partners outside the tile. Positions 0 and 1 are worked on together in blocks of 16.
//
// A tile need not be contiguous: it is read where it lies in the row, as runs of 4^r neighbouring
// coefficients (its positions 0..r-1 are the row's spins 0..r-1) that a table of run starts places.
#pragma once

#include "engine/operator_basis.h"

#include <array>
#include <cstdint>
#include <vector>

namespace velmora::engine {

// Where the coefficients of a tile lie: tile offset t at base + runStart[t / 4^runDigits] +
// t % 4^runDigits. A contiguous tile is one run (runDigits at least its positions).
struct TileRuns {
    double* base = nullptr;
    const std::int32_t* runStart = nullptr;
    int runDigits = 0;

    // The tile of `positions` positions that lies contiguously from `tile`.
    static TileRuns contiguous(double* tile, int positions);

    std::int32_t run() const { return kStride[runDigits]; }
    // Address of tile offset t; the run() - t % run() coefficients from there are contiguous.
    double* at(std::int32_t t) const
    {
        return base + runStart[t >> (2 * runDigits)] + (t & (kStride[runDigits] - 1));
    }
    // The tile offsets [first, first + 4^positions) (first a multiple of their count) as a tile of
    // their own.
    TileRuns part(std::int32_t first, int positions) const;
};

// cos and sin of one angle.
struct Phasor {
    double re = 1.0;
    double im = 0.0;
};

inline Phasor times(Phasor a, Phasor b)
{
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

// The phasor of each digit of one position for the rotation of another: u takes q, v its
// conjugate, x and y (and a partner without coupling) nothing.
using DigitPhasors = std::array<Phasor, 4>;

inline DigitPhasors couplingDigits(Phasor q)
{
    return {q, Phasor{}, Phasor{}, Phasor{q.re, -q.im}};
}

// The angle tables of the rotations of one tile layout, built once per pass and then only read
// (by every worker).
class MixedBasisTables {
public:
    static constexpr int kMaxPositions = 8;

    MixedBasisTables();

    // Builds the tables of position `rotated` of a tile of `positions` positions; digits[p] are the
    // phasors of position p's digits (that of `rotated` itself is not read).
    void build(int positions, int rotated, const std::array<DigitPhasors, kMaxPositions>& digits);

    // Turns the (x, y) pair of position `rotated` in the products of the tile whose digits above it
    // read `firstHigh` .. firstHigh + highCount - 1, each by the phasor of its digits times
    // tileFactor. Positions 0 and 1 go through workOnLowestTwo.
    void rotate(const TileRuns& tile, int rotated, Phasor tileFactor, std::int32_t firstHigh,
                std::int32_t highCount) const;

    // What happens to positions 0 and 1 in one sweep over the tile's blocks of 16: changes of
    // basis before, and changes back after, their turns.
    struct LowestTwo {
        bool toMixedZero = false;
        bool toMixedOne = false;
        bool rotateZero = false;
        bool rotateOne = false;
        bool fromMixedZero = false;
        bool fromMixedOne = false;
    };
    // Positions 0 and 1 in the tile's blocks firstBlock .. firstBlock + blockCount - 1 (a block is
    // four rows of four: row d1, lane d0), which lie in one run.
    void workOnLowestTwo(const TileRuns& tile, std::int32_t firstBlock, std::int32_t blockCount,
                         const LowestTwo& work, Phasor tileFactorZero, Phasor tileFactorOne) const;

private:
    // Phasors of every digit combination of the positions [first, first + count): split into
    // separate cos and sin arrays so the inner loops read them as vectors.
    struct Table {
        std::vector<double> re;
        std::vector<double> im;
        std::int32_t size = 0;
        void fill(const std::array<DigitPhasors, kMaxPositions>& digits, int first, int count);
    };
    struct PositionTables {
        Table low;             // positions 0..min(p, 4) - 1 (for p >= 2)
        Table mid;             // positions 4..p - 1 (for p > 4)
        Table high;            // positions p + 1..m - 1 (for p >= 2), or 2..m - 1 (for p = 0, 1)
        DigitPhasors partner;  // for p = 0, 1: the digits of the other of the two
    };
    std::array<PositionTables, kMaxPositions> tables_;
};

// (E, Z) -> (E + Z, E - Z) at position p of every product of the tile.
void toMixedBasis(double* tile, int positions, int p);
// (u, v) -> ((u + v) / 2, (u - v) / 2), the exact inverse.
void fromMixedBasis(double* tile, int positions, int p);
// Either change at positions p and p + 1 (p >= 1) in one sweep over the tile: the same as the two
// one after the other, with half the reads and writes.
void changeBasisOfTwo(double* tile, int positions, int p, bool toMixed);

// The same three on a tile read in runs (runs of at least 4^4 coefficients): a position inside the
// runs run by run, a position above them on whole runs paired by its digit.
void toMixedBasis(const TileRuns& tile, int positions, int p);
void fromMixedBasis(const TileRuns& tile, int positions, int p);
void changeBasisOfTwo(const TileRuns& tile, int positions, int p, bool toMixed);

}  // namespace velmora::engine
