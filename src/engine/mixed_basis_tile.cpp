// Change of basis and phasor rotations of one tile, with contiguous inner loops the compiler
// vectorises: runs of 4^p coefficients below position p, blocks of 16 for positions 0 and 1.
#include "engine/mixed_basis_tile.h"

#include "engine/operator_basis.h"
#include "util/vector_clones.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace velmora::engine {

namespace {

std::size_t at(std::int32_t i)
{
    return static_cast<std::size_t>(i);
}

// Positions read by the table below a rotated position: one contiguous run of at most 4^4.
constexpr int kLowPositions = 4;

// Turns n (x, y) pairs, pair i by the phasor of low table entry i times g.
void turnPairs(double* __restrict x, double* __restrict y, const double* lowRe, const double* lowIm, Phasor g,
               std::int32_t n)
{
    for (std::int32_t lo = 0; lo < n; ++lo) {
        const double c = lowRe[lo] * g.re - lowIm[lo] * g.im;
        const double s = lowRe[lo] * g.im + lowIm[lo] * g.re;
        const double xv = x[lo];
        const double yv = y[lo];
        x[lo] = c * xv - s * yv;
        y[lo] = s * xv + c * yv;
    }
}

// Four doubles as one value: one register on targets with 256-bit vectors, two on others. The
// helpers below are inlined, so that the compilers' warning that such values pass differently
// between targets does not concern them.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
using Lanes = double __attribute__((vector_size(4 * sizeof(double))));

VELMORA_INLINE_IN_CLONES Lanes loadLanes(const double* p)
{
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

VELMORA_INLINE_IN_CLONES void storeLanes(double* p, Lanes v)
{
    std::memcpy(p, &v, sizeof v);
}

Lanes phasorLanesRe(const DigitPhasors& digits)
{
    return Lanes{digits[0].re, digits[1].re, digits[2].re, digits[3].re};
}

Lanes phasorLanesIm(const DigitPhasors& digits)
{
    return Lanes{digits[0].im, digits[1].im, digits[2].im, digits[3].im};
}

// Turns the (x, y) pairs lane by lane by the phasors (cos, sin).
VELMORA_INLINE_IN_CLONES void turnLanes(Lanes& x, Lanes& y, Lanes cos, Lanes sin)
{
    const Lanes xv = x;
    x = cos * xv - sin * y;
    y = sin * xv + cos * y;
}

// The run starts of a contiguous tile: one run from its start.
constexpr std::array<std::int32_t, 1> kOneRun{0};

// (e, z) -> scale (e + z, e - z) over n coefficients.
void butterfly(double* __restrict e, double* __restrict z, std::int32_t n, double scale)
{
    for (std::int32_t i = 0; i < n; ++i) {
        const double ev = e[i];
        const double zv = z[i];
        e[i] = scale * (ev + zv);
        z[i] = scale * (ev - zv);
    }
}

}  // namespace

TileRuns TileRuns::contiguous(double* tile, int positions)
{
    return {tile, kOneRun.data(), positions};
}

TileRuns TileRuns::part(std::int32_t first, int positions) const
{
    if (positions <= runDigits)
        return contiguous(at(first), positions);
    return {base, runStart + (first >> (2 * runDigits)), runDigits};
}

MixedBasisTables::MixedBasisTables()
{
    // Each table at the largest size a tile of kMaxPositions positions gives it.
    const auto reserve = [](Table& table, int positions) {
        table.re.resize(at(kStride[positions]));
        table.im.resize(at(kStride[positions]));
    };
    for (int p = 0; p < kMaxPositions; ++p) {
        PositionTables& t = tables_[at(p)];
        if (p < 2) {
            reserve(t.high, kMaxPositions - 2);
            continue;
        }
        reserve(t.low, std::min(p, kLowPositions));
        reserve(t.mid, std::max(p - kLowPositions, 0));
        reserve(t.high, kMaxPositions - 1 - p);
    }
}

void MixedBasisTables::Table::fill(const std::array<DigitPhasors, kMaxPositions>& digits, int first,
                                   int count)
{
    size = kStride[count];
    re[0] = 1.0;
    im[0] = 0.0;
    for (int j = 0; j < count; ++j) {
        const DigitPhasors& f = digits[at(first + j)];
        const std::int32_t below = kStride[j];
        // Digit 0 last: it overwrites the entries the other digits are built from.
        for (int d = 3; d >= 0; --d) {
            for (std::int32_t i = 0; i < below; ++i) {
                const Phasor p = times({re[at(i)], im[at(i)]}, f[at(d)]);
                re[at(d * below + i)] = p.re;
                im[at(d * below + i)] = p.im;
            }
        }
    }
}

void MixedBasisTables::build(int positions, int rotated,
                             const std::array<DigitPhasors, kMaxPositions>& digits)
{
    PositionTables& t = tables_[at(rotated)];
    if (rotated < 2) {
        t.high.fill(digits, 2, positions - 2);
        t.partner = digits[at(1 - rotated)];
        return;
    }
    const int lowCount = std::min(rotated, kLowPositions);
    t.low.fill(digits, 0, lowCount);
    t.mid.fill(digits, lowCount, rotated - lowCount);
    t.high.fill(digits, rotated + 1, positions - rotated - 1);
}

VELMORA_VECTOR_CLONES void MixedBasisTables::rotate(const TileRuns& tile, int rotated, Phasor tileFactor, std::int32_t firstHigh,
                              std::int32_t highCount) const
{
    const PositionTables& t = tables_[at(rotated)];
    const std::int32_t stride = kStride[rotated];
    const std::int32_t lowCount = t.low.size;
    const double* const lowRe = t.low.re.data();
    const double* const lowIm = t.low.im.data();
    for (std::int32_t h = firstHigh; h < firstHigh + highCount; ++h) {
        const Phasor highFactor = times(tileFactor, {t.high.re[at(h)], t.high.im[at(h)]});
        const std::int32_t block = 4 * stride * h;
        for (std::int32_t m = 0; m < t.mid.size; ++m) {
            const Phasor g = times(highFactor, {t.mid.re[at(m)], t.mid.im[at(m)]});
            // The x and y runs of at most 4^4 coefficients each lie inside a run of the tile.
            const std::int32_t x = block + stride + m * lowCount;
            turnPairs(tile.at(x), tile.at(x + stride), lowRe, lowIm, g, lowCount);
        }
    }
}

VELMORA_VECTOR_CLONES void MixedBasisTables::workOnLowestTwo(const TileRuns& tile, std::int32_t firstBlock, std::int32_t blockCount,
                                       const LowestTwo& work, Phasor tileFactorZero,
                                       Phasor tileFactorOne) const
{
    const PositionTables& zero = tables_[0];
    const PositionTables& one = tables_[1];
    // Each step in a loop of its own over the blocks (a few KiB, in the first-level cache): a step
    // that loads a pair of neighbours right after the one before stored them one by one stalls
    // until the stores retire.
    double* const first = tile.at(16 * firstBlock);
    const auto forEachBlock = [first, firstBlock, blockCount](const auto& step) {
        for (std::int32_t b = 0; b < blockCount; ++b)
            step(firstBlock + b, first + 16 * b);
    };
    if (work.toMixedZero) {
        forEachBlock([](std::int32_t /*b*/, double* q) {
            for (int d = 0; d < 16; d += 4) {
                const double e = q[d];
                const double z = q[d + 3];
                q[d] = e + z;
                q[d + 3] = e - z;
            }
        });
    }
    if (work.toMixedOne) {
        forEachBlock([](std::int32_t /*b*/, double* q) {
            for (int d = 0; d < 4; ++d) {
                const double e = q[d];
                const double z = q[d + 12];
                q[d] = e + z;
                q[d + 12] = e - z;
            }
        });
    }
    if (work.rotateZero || work.rotateOne) {
        // Both turns in one visit of each block, as four rows of four lanes. The partner's digits of
        // each turn as lanes: spin 1's pairs (rows 1 and 2) turn lane by lane by spin 0's digit;
        // spin 0's pairs (lanes 1 and 2) row by row by spin 1's digit, gathered into two columns.
        const Lanes zeroRe = phasorLanesRe(zero.partner);
        const Lanes zeroIm = phasorLanesIm(zero.partner);
        const Lanes oneRe = phasorLanesRe(one.partner);
        const Lanes oneIm = phasorLanesIm(one.partner);
        const bool turnZero = work.rotateZero;
        const bool turnOne = work.rotateOne;
        forEachBlock([&](std::int32_t b, double* q) __attribute__((always_inline)) {
            Lanes row0 = loadLanes(q);
            Lanes row1 = loadLanes(q + 4);
            Lanes row2 = loadLanes(q + 8);
            Lanes row3 = loadLanes(q + 12);
            if (turnOne) {
                const Phasor f = times(tileFactorOne, {one.high.re[at(b)], one.high.im[at(b)]});
                turnLanes(row1, row2, f.re * oneRe - f.im * oneIm, f.re * oneIm + f.im * oneRe);
            }
            if (turnZero) {
                const Phasor f = times(tileFactorZero, {zero.high.re[at(b)], zero.high.im[at(b)]});
                const Lanes upper = __builtin_shufflevector(row0, row1, 1, 5, 2, 6);
                const Lanes lower = __builtin_shufflevector(row2, row3, 1, 5, 2, 6);
                Lanes x = __builtin_shufflevector(upper, lower, 0, 1, 4, 5);
                Lanes y = __builtin_shufflevector(upper, lower, 2, 3, 6, 7);
                turnLanes(x, y, f.re * zeroRe - f.im * zeroIm, f.re * zeroIm + f.im * zeroRe);
                const Lanes upperTurned = __builtin_shufflevector(x, y, 0, 4, 1, 5);
                const Lanes lowerTurned = __builtin_shufflevector(x, y, 2, 6, 3, 7);
                row0 = __builtin_shufflevector(row0, upperTurned, 0, 4, 5, 3);
                row1 = __builtin_shufflevector(row1, upperTurned, 0, 6, 7, 3);
                row2 = __builtin_shufflevector(row2, lowerTurned, 0, 4, 5, 3);
                row3 = __builtin_shufflevector(row3, lowerTurned, 0, 6, 7, 3);
            }
            storeLanes(q, row0);
            storeLanes(q + 4, row1);
            storeLanes(q + 8, row2);
            storeLanes(q + 12, row3);
        });
    }
    if (work.fromMixedOne) {
        forEachBlock([](std::int32_t /*b*/, double* q) {
            for (int d = 0; d < 4; ++d) {
                const double u = q[d];
                const double v = q[d + 12];
                q[d] = 0.5 * (u + v);
                q[d + 12] = 0.5 * (u - v);
            }
        });
    }
    if (work.fromMixedZero) {
        forEachBlock([](std::int32_t /*b*/, double* q) {
            for (int d = 0; d < 16; d += 4) {
                const double u = q[d];
                const double v = q[d + 3];
                q[d] = 0.5 * (u + v);
                q[d + 3] = 0.5 * (u - v);
            }
        });
    }
}

VELMORA_VECTOR_CLONES void toMixedBasis(double* tile, int positions, int p)
{
    const std::int32_t count = kStride[positions];
    const std::int32_t stride = kStride[p];
    if (p == 0) {
        for (std::int32_t i = 0; i < count; i += 4) {
            const double e = tile[i];
            const double z = tile[i + 3];
            tile[i] = e + z;
            tile[i + 3] = e - z;
        }
        return;
    }
    for (std::int32_t base = 0; base < count; base += 4 * stride) {
        double* const e = tile + base;
        double* const z = e + 3 * stride;
        for (std::int32_t lo = 0; lo < stride; ++lo) {
            const double ev = e[lo];
            const double zv = z[lo];
            e[lo] = ev + zv;
            z[lo] = ev - zv;
        }
    }
}

VELMORA_VECTOR_CLONES void fromMixedBasis(double* tile, int positions, int p)
{
    const std::int32_t count = kStride[positions];
    const std::int32_t stride = kStride[p];
    if (p == 0) {
        for (std::int32_t i = 0; i < count; i += 4) {
            const double u = tile[i];
            const double v = tile[i + 3];
            tile[i] = 0.5 * (u + v);
            tile[i + 3] = 0.5 * (u - v);
        }
        return;
    }
    for (std::int32_t base = 0; base < count; base += 4 * stride) {
        double* const u = tile + base;
        double* const v = u + 3 * stride;
        for (std::int32_t lo = 0; lo < stride; ++lo) {
            const double uv = u[lo];
            const double vv = v[lo];
            u[lo] = 0.5 * (uv + vv);
            v[lo] = 0.5 * (uv - vv);
        }
    }
}

VELMORA_VECTOR_CLONES void changeBasisOfTwo(double* tile, int positions, int p, bool toMixed)
{
    const std::int32_t count = kStride[positions];
    const std::int32_t lowStride = kStride[p];
    const std::int32_t highStride = 4 * lowStride;
    // Toward the mixed basis the sums and differences; back, half of them.
    const double scale = toMixed ? 1.0 : 0.5;
    // Runs of 64 coefficients: the 16 runs of one piece (8 KiB) stay in the first-level cache
    // between the changes at p and at p + 1.
    const std::int32_t piece = std::min<std::int32_t>(lowStride, 64);
    for (std::int32_t base = 0; base < count; base += 4 * highStride) {
        for (std::int32_t first = base; first < base + lowStride; first += piece) {
            for (int high = 0; high < 4; ++high) {
                double* const e = tile + first + high * highStride;
                butterfly(e, e + 3 * lowStride, piece, scale);
            }
            for (int low = 0; low < 4; ++low) {
                double* const e = tile + first + low * lowStride;
                butterfly(e, e + 3 * highStride, piece, scale);
            }
        }
    }
}

namespace {

// (e, z) -> scale (e + z, e - z) at position p (at or above the runs) of every product: whole runs
// paired by p's digit.
void butterflyAbove(const TileRuns& tile, int positions, int p, double scale)
{
    const std::int32_t run = tile.run();
    const std::int32_t stride = kStride[p];
    for (std::int32_t base = 0; base < kStride[positions]; base += 4 * stride) {
        for (std::int32_t lo = 0; lo < stride; lo += run)
            butterfly(tile.at(base + lo), tile.at(base + 3 * stride + lo), run, scale);
    }
}

}  // namespace

VELMORA_VECTOR_CLONES void toMixedBasis(const TileRuns& tile, int positions, int p)
{
    if (p >= tile.runDigits) {
        butterflyAbove(tile, positions, p, 1.0);
        return;
    }
    for (std::int32_t t = 0; t < kStride[positions]; t += tile.run())
        toMixedBasis(tile.at(t), tile.runDigits, p);
}

VELMORA_VECTOR_CLONES void fromMixedBasis(const TileRuns& tile, int positions, int p)
{
    if (p >= tile.runDigits) {
        butterflyAbove(tile, positions, p, 0.5);
        return;
    }
    for (std::int32_t t = 0; t < kStride[positions]; t += tile.run())
        fromMixedBasis(tile.at(t), tile.runDigits, p);
}

VELMORA_VECTOR_CLONES void changeBasisOfTwo(const TileRuns& tile, int positions, int p, bool toMixed)
{
    if (p + 1 < tile.runDigits) {
        for (std::int32_t t = 0; t < kStride[positions]; t += tile.run())
            changeBasisOfTwo(tile.at(t), tile.runDigits, p, toMixed);
        return;
    }
    const std::int32_t lowStride = kStride[p];
    const std::int32_t highStride = 4 * lowStride;
    const double scale = toMixed ? 1.0 : 0.5;
    // As the contiguous sweep: pieces of 64 coefficients, each inside a run, whose 16 partners stay
    // in the first-level cache between the changes at p and at p + 1.
    const std::int32_t piece = std::min<std::int32_t>(lowStride, 64);
    for (std::int32_t base = 0; base < kStride[positions]; base += 4 * highStride) {
        for (std::int32_t first = base; first < base + lowStride; first += piece) {
            std::array<double*, 16> e{};
            for (int d = 0; d < 16; ++d)
                e[at(d)] = tile.at(first + (d & 3) * lowStride + (d >> 2) * highStride);
            for (int high = 0; high < 4; ++high)
                butterfly(e[at(4 * high)], e[at(4 * high + 3)], piece, scale);
            for (int low = 0; low < 4; ++low)
                butterfly(e[at(low)], e[at(low + 12)], piece, scale);
        }
    }
}

}  // namespace velmora::engine
