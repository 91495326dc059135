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
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace velmora::engine {

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
    void rotate(double* tile, int rotated, Phasor tileFactor, std::int32_t firstHigh,
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
    // four rows of four: row d1, lane d0).
    void workOnLowestTwo(double* tile, std::int32_t firstBlock, std::int32_t blockCount,
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

}  // namespace velmora::engine
