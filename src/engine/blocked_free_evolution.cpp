// Free evolution of a large row in cache-sized passes over tiles of at most eight spins, in the
// mixed basis; small rows through the plain kernels' loops.
#include "engine/blocked_free_evolution.h"

#include "engine/operator_basis.h"
#include "util/vector_clones.h"
#include "util/work_pool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace velmora::engine {

namespace {

std::size_t at(int i)
{
    return static_cast<std::size_t>(i);
}

// Row index offset of tile coefficient t, whose base-4 digits are those of the member spins.
std::int32_t spreadDigits(std::int32_t t, std::span<const int> members)
{
    std::int32_t index = 0;
    for (std::size_t m = 0; m < members.size(); ++m)
        index += ((t >> (2 * m)) & 3) * kStride[members[m]];
    return index;
}

constexpr double kPi = 3.14159265358979;

// The offset rotation of every active spin, as evolveOffsets, with the coefficients of one spin's
// x and y digits walked as contiguous runs of 4^k (vectorisable) instead of index by index.
void rotateOffsets(std::span<double> row, const SpinTables& spins, std::span<const double> offsetRadPerS,
                   double seconds)
{
    const std::int32_t count = operatorCount(spins.count);
    double* const c = row.data();
    for (int k = 0; k < spins.count; ++k) {
        if (!spins.active(k))
            continue;
        const double thetaRad = offsetRadPerS[at(k)] * seconds;
        const double cosTheta = std::cos(thetaRad);
        const double sinTheta = std::sin(thetaRad);
        if (cosTheta >= 1.0)
            continue;
        const std::int32_t run = kStride[k];
        for (std::int32_t base = 0; base < count; base += 4 * run) {
            double* const x = c + base + run;
            double* const y = c + base + 2 * run;
            for (std::int32_t lo = 0; lo < run; ++lo) {
                const double xv = x[lo];
                const double yv = y[lo];
                x[lo] = cosTheta * xv - sinTheta * yv;
                y[lo] = sinTheta * xv + cosTheta * yv;
            }
        }
    }
}

// The coupling rotation of one pair (i, j) with strides si < sj: for each configuration of the
// digits between and above the pair, the runs of si coefficients below spin i. A non-zero Run is si
// known at compile time.
template <std::int32_t Run>
void rotatePair(double* c, std::int32_t count, std::int32_t si, std::int32_t sj, double cosTheta,
                double sinTheta)
{
    const std::int32_t run = Run != 0 ? Run : si;
    // Offsets of the digit pairs (digit i, digit j) from a configuration with both E.
    const auto d = [step = run, sj](int di, int dj) { return di * step + dj * sj; };
    for (std::int32_t high = 0; high < count; high += 4 * sj) {
        for (std::int32_t mid = high; mid < high + sj; mid += 4 * run) {
            double* const xE = c + mid + d(1, 0);
            double* const yZ = c + mid + d(2, 3);
            double* const yE = c + mid + d(2, 0);
            double* const xZ = c + mid + d(1, 3);
            double* const eX = c + mid + d(0, 1);
            double* const zY = c + mid + d(3, 2);
            double* const eY = c + mid + d(0, 2);
            double* const zX = c + mid + d(3, 1);
            for (std::int32_t lo = 0; lo < run; ++lo) {
                const double a = xE[lo], b = yZ[lo];
                xE[lo] = cosTheta * a - sinTheta * b;
                yZ[lo] = sinTheta * a + cosTheta * b;
                const double e = yE[lo], f = xZ[lo];
                yE[lo] = cosTheta * e + sinTheta * f;
                xZ[lo] = cosTheta * f - sinTheta * e;
                const double g = eX[lo], h = zY[lo];
                eX[lo] = cosTheta * g - sinTheta * h;
                zY[lo] = sinTheta * g + cosTheta * h;
                const double p = eY[lo], q = zX[lo];
                eY[lo] = cosTheta * p + sinTheta * q;
                zX[lo] = cosTheta * q - sinTheta * p;
            }
        }
    }
}

// The coupling of every active pair, as evolveCouplings, walking the digits below spin i as
// contiguous runs of 4^i for each configuration of the digits between and above the pair.
void rotateCouplings(std::span<double> row, const SpinTables& spins, double seconds)
{
    const int n = spins.count;
    const std::int32_t count = operatorCount(n);
    double* const c = row.data();
    for (int i = 0; i + 1 < n; ++i) {
        if (!spins.active(i))
            continue;
        for (int j = i + 1; j < n; ++j) {
            const double couplingHz = spins.couplingHz[i][j];
            if (!spins.active(j) || couplingHz == 0.0)
                continue;
            const double thetaRad = seconds * kPi * couplingHz;
            const double cosTheta = std::cos(thetaRad);
            const double sinTheta = std::sin(thetaRad);
            if (cosTheta >= 1.0)
                continue;
            const std::int32_t si = kStride[i];
            const std::int32_t sj = kStride[j];
            // Runs of one coefficient (spin 0) and of four (spin 1) are too short for a loop of
            // their own: the run length is then a constant the compiler unrolls.
            if (si == 1)
                rotatePair<1>(c, count, si, sj, cosTheta, sinTheta);
            else if (si == 4)
                rotatePair<4>(c, count, si, sj, cosTheta, sinTheta);
            else
                rotatePair<0>(c, count, si, sj, cosTheta, sinTheta);
        }
    }
}

unsigned bit(int i)
{
    return 1U << static_cast<unsigned>(i);
}

// (e, z) -> (e + z, e - z) over n coefficients: toward the mixed basis.
void butterfly(double* __restrict e, double* __restrict z, std::int32_t n)
{
    for (std::int32_t i = 0; i < n; ++i) {
        const double ev = e[i];
        const double zv = z[i];
        e[i] = ev + zv;
        z[i] = ev - zv;
    }
}

bool has(unsigned mask, int i)
{
    return (mask & bit(i)) != 0;
}

// Positions 0..3 of a tile change basis and turn in chunks of 4^4 coefficients (2 KiB), positions
// 4 and 5 in blocks of 4^6 (32 KiB): both stay in the first-level cache while they are worked on.
constexpr int kChunkPositions = 4;
constexpr std::int32_t kChunk = 256;
constexpr int kBlockPositions = 6;

// Changes the basis of the positions firstTop.. of `which` (toward the mixed basis or back) in
// sweeps over the whole tile.
void changeTopBasis(const TileRuns& tile, int positions, unsigned which, int firstTop, bool toMixed)
{
    // Two top positions in one sweep when both change; otherwise a sweep for the one that does.
    const int top = positions - 1;
    if (top > firstTop && has(which, top) && has(which, top - 1)) {
        changeBasisOfTwo(tile, positions, top - 1, toMixed);
        return;
    }
    for (int p = firstTop; p < positions; ++p) {
        if (!has(which, p))
            continue;
        if (toMixed)
            toMixedBasis(tile, positions, p);
        else
            fromMixedBasis(tile, positions, p);
    }
}

// The decay tables cover spins 0..4 and 5..9.
constexpr int kLowDecaySpins = 5;

// factor[t] for the digits t of `count` spins from `first`: the product of the fractions of the
// spins that are x or y in t.
void fillDecay(std::array<double, 1024>& factor, std::span<const double> fraction, int first, int count)
{
    factor[0] = 1.0;
    for (int m = 0; m < count; ++m) {
        const double f = fraction[at(first + m)];
        const std::int32_t below = kStride[m];
        for (std::int32_t t = 0; t < below; ++t) {
            const double g = factor[at(t)];
            factor[at(t + below)] = g * f;
            factor[at(t + 2 * below)] = g * f;
            factor[at(t + 3 * below)] = g;
        }
    }
}

// The element followed by the decay of its spin's x and y by `fraction`.
void scaleTransverseRows(ElementRotation& r, double fraction)
{
    for (double* entry : {&r.xx, &r.xy, &r.xz, &r.yx, &r.yy, &r.yz})
        *entry *= fraction;
}

}  // namespace

BlockedFreeEvolution::BlockedFreeEvolution() : BlockedFreeEvolution(processKernelVariant())
{
}

BlockedFreeEvolution::BlockedFreeEvolution(KernelVariant variant)
    : pairElements_(variant == KernelVariant::pairs), runStart_(at(kStride[kTileSpins - 2]))
{
}

void BlockedFreeEvolution::sharePassesWith(util::WorkPool* pool)
{
    pool_ = pool;
}

int BlockedFreeEvolution::planPasses(const SpinTables& spins, std::array<Pass, 3>& passes) const
{
    const int n = spins.count;
    // The active partners each spin is coupled to, and the spins some partner's angle reads. A
    // coupling that does not turn (cos 1, as over a zero interval) is left out, as the plain kernel
    // skips it, so such an interval leaves the row exactly as it was.
    std::array<unsigned, kSpinSlots> coupled{};
    unsigned needsBasis = 0;
    for (int k = 0; k < n; ++k) {
        for (int l = 0; l < n; ++l) {
            if (l != k && spins.active(k) && spins.active(l) && couplingPhase_[at(k)][at(l)].re < 1.0) {
                coupled[at(k)] |= bit(l);
                needsBasis |= bit(k);
            }
        }
    }
    // A member's element, if it has one, goes into the first pass that holds it.
    const auto addMember = [&](Pass& pass, int spin, bool takesElement) {
        if (takesElement && has(pulsedSpins_, spin)) {
            pass.pulsed |= bit(pass.size);
            pass.element[at(pass.size)] = spinElement_[at(spin)];
        }
        pass.members[at(pass.size++)] = spin;
    };
    // Spin `spin` at position p of `pass` turns by its offset (if asked) and the couplings to
    // `partnerSpins`.
    const auto rotate = [&](Pass& pass, int p, unsigned partnerSpins, bool offset) {
        const int k = pass.members[at(p)];
        if (!spins.active(k))
            return;
        pass.partners[at(p)] = coupled[at(k)] & partnerSpins;
        if (offset && offsetPhase_[at(k)].re < 1.0)
            pass.withOffset |= bit(p);
        if (pass.partners[at(p)] != 0 || has(pass.withOffset, p))
            pass.rotated |= bit(p);
    };
    const unsigned all = bit(n) - 1;
    if (n <= kTileSpins) {
        Pass& pass = passes[0];
        pass = Pass{};
        for (int k = 0; k < n; ++k) {
            addMember(pass, k, true);
            rotate(pass, k, all, true);
        }
        pass.toMixed = pass.fromMixed = needsBasis;
        return 1;
    }
    // Nine or ten spins: the low eight (A), then the one or two above (B); A1 the lowest 8 - |B|
    // spins of A, A2 the rest. Pass 1 works on A in place: A to the mixed basis, A2 turned by its
    // offset and its couplings inside A. Pass 2 on A1 and B: B to the mixed basis, A1 and B turned
    // fully (A2's digits, outside the tile, give tile factors), A1 back. Pass 3 on A2 and B: A2
    // turned by its couplings to B, both back. Every turn happens while all its partners are in the
    // mixed basis, and every spin but those of A2 turns once.
    const int highCount = n - kTileSpins;
    const int lowFirst = kTileSpins - highCount;  // A1 = 0..lowFirst-1, A2 = lowFirst..7
    const unsigned spinsA = bit(kTileSpins) - 1;
    const unsigned spinsB = all & ~spinsA;
    Pass& first = passes[0];
    first = Pass{};
    for (int k = 0; k < kTileSpins; ++k) {
        addMember(first, k, true);
        if (k >= lowFirst)
            rotate(first, k, spinsA, true);
    }
    first.toMixed = needsBasis & spinsA;
    Pass& second = passes[1];
    second = Pass{};
    for (int k = 0; k < lowFirst; ++k) {
        addMember(second, k, false);
        rotate(second, k, all, true);
        if (has(needsBasis, k))
            second.fromMixed |= bit(k);
    }
    for (int k = kTileSpins; k < n; ++k) {
        const int p = second.size;
        addMember(second, k, true);
        rotate(second, p, all, true);
        if (has(needsBasis, k))
            second.toMixed |= bit(p);
    }
    Pass& third = passes[2];
    third = Pass{};
    // Spins of A1 fill the low positions, for long contiguous runs; they are left as they are.
    for (int k = 0; k < kTileSpins - 2 * highCount; ++k)
        addMember(third, k, false);
    for (int k = lowFirst; k < n; ++k) {
        const int p = third.size;
        addMember(third, k, false);
        if (k < kTileSpins)
            rotate(third, p, spinsB, false);
        if (has(needsBasis, k))
            third.fromMixed |= bit(p);
    }
    return 3;
}

int BlockedFreeEvolution::planPopulationPasses(const SpinTables& spins, std::array<Pass, 3>& passes) const
{
    const int n = spins.count;
    // Every spin is already in the mixed basis: a spin turns in any pass whose tiles hold it, once
    // every element of the point has acted. A coupling that does not turn is left out, as above.
    std::array<unsigned, kSpinSlots> coupled{};
    for (int k = 0; k < n; ++k)
        for (int l = 0; l < n; ++l)
            if (l != k && spins.active(k) && spins.active(l) && couplingPhase_[at(k)][at(l)].re < 1.0)
                coupled[at(k)] |= bit(l);
    const auto addMember = [&](Pass& pass, int spin, bool takesElement) {
        if (takesElement && has(pulsedSpins_, spin)) {
            pass.pulsed |= bit(pass.size);
            pass.element[at(pass.size)] = spinElement_[at(spin)];
        }
        pass.members[at(pass.size++)] = spin;
    };
    const auto rotate = [&](Pass& pass, int p) {
        const int k = pass.members[at(p)];
        if (!spins.active(k))
            return;
        pass.partners[at(p)] = coupled[at(k)];
        if (offsetPhase_[at(k)].re < 1.0)
            pass.withOffset |= bit(p);
        if (pass.partners[at(p)] != 0 || has(pass.withOffset, p))
            pass.rotated |= bit(p);
    };
    const int lowSpins = std::min(n, kTileSpins);
    const unsigned highSpins = (bit(n) - 1) & ~(bit(kTileSpins) - 1);
    // The elements of spins above the first tile come in the second pass, so the first pass's spins
    // wait for them before they turn.
    const bool highPulsed = (pulsedSpins_ & highSpins) != 0;
    Pass& first = passes[0];
    first = Pass{};
    for (int k = 0; k < lowSpins; ++k) {
        addMember(first, k, true);
        if (!highPulsed)
            rotate(first, k);
    }
    if (n <= kTileSpins)
        return 1;
    const int highCount = n - kTileSpins;
    const int lowFirst = kTileSpins - highCount;  // the second pass holds spins 0..lowFirst-1 and B
    Pass& second = passes[1];
    second = Pass{};
    for (int k = 0; k < lowFirst; ++k) {
        addMember(second, k, false);
        if (highPulsed)
            rotate(second, k);
    }
    for (int k = kTileSpins; k < n; ++k) {
        addMember(second, k, true);
        rotate(second, second.size - 1);
    }
    if (!highPulsed)
        return 2;
    // The rest of the first tile's spins turn in a third pass over it (in place).
    Pass& third = passes[2];
    third = Pass{};
    for (int k = 0; k < kTileSpins; ++k) {
        addMember(third, k, false);
        if (k >= lowFirst)
            rotate(third, k);
    }
    return 3;
}

VELMORA_VECTOR_CLONES void BlockedFreeEvolution::applyElement(double* c, std::int32_t length, int spin,
                                                              const ElementRotation& r) const
{
    if (populations_)
        rotateSpinPopulationsIn(c, length, spin, r);
    else
        rotateSpinIn(c, length, spin, r);
}

VELMORA_VECTOR_CLONES void BlockedFreeEvolution::applyTwoElements(double* c, std::int32_t length, int lower,
                                                                  const ElementRotation& rLower,
                                                                  const ElementRotation& rUpper) const
{
    if (populations_)
        rotateTwoSpinsIn<true>(c, length, lower, rLower, rUpper);
    else
        rotateTwoSpinsIn<false>(c, length, lower, rLower, rUpper);
}

void BlockedFreeEvolution::evolve(std::span<double> row, const SpinTables& spins,
                                  std::span<const double> offsetRadPerS, double seconds,
                                  std::span<const double> transverseFraction,
                                  std::span<const SpinRotation> elements, RowBasis basis)
{
    const int n = spins.count;
    if (basis == RowBasis::populations && n < kMixedFromSpins) {
        // Small rows are not kept in the population basis; one that is goes through as product
        // operators.
        fromPopulationBasis(row, n);
        evolve(row, spins, offsetRadPerS, seconds, transverseFraction, elements);
        toPopulationBasis(row, n);
        return;
    }
    populations_ = basis == RowBasis::populations;
    // The elements go into the passes when each names a spin of the row, in ascending order.
    bool intoPasses = n >= kMixedFromSpins && elements.size() <= at(n);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const int spin = elements[i].spin;
        intoPasses = intoPasses && spin >= 0 && spin < n && (i == 0 || elements[i - 1].spin < spin);
    }
    pulsedSpins_ = 0;
    for (const SpinRotation& e : elements) {
        if (!intoPasses) {
            if (e.spin >= 0 && e.spin < n)
                applyElement(row.data(), operatorCount(n), e.spin, e.rotation);
            continue;
        }
        spinElement_[at(e.spin)] = e.rotation;
        pulsedSpins_ |= bit(e.spin);
    }
    spinDecay_.fill(1.0);
    std::copy_n(transverseFraction.begin(), std::min(transverseFraction.size(), at(n)), spinDecay_.begin());
    // A pulsed spin's decay follows its element and touches only the x and y the element writes:
    // it goes into the element's x and y rows, and costs nothing more.
    for (int k = 0; k < n; ++k) {
        if (!has(pulsedSpins_, k) || spinDecay_[at(k)] == 1.0)
            continue;
        scaleTransverseRows(spinElement_[at(k)], spinDecay_[at(k)]);
        spinDecay_[at(k)] = 1.0;
    }
    bool withDecay = false;
    for (int k = 0; k < n; ++k)
        withDecay = withDecay || spinDecay_[at(k)] != 1.0;
    if (withDecay) {
        fillDecay(lowDecay_, spinDecay_, 0, std::min(n, kLowDecaySpins));
        fillDecay(highDecay_, spinDecay_, kLowDecaySpins, std::max(n - kLowDecaySpins, 0));
    }
    if (n < kMixedFromSpins) {
        rotateOffsets(row, spins, offsetRadPerS, seconds);
        rotateCouplings(row, spins, seconds);
        if (withDecay)
            scaleByDecay(row.data(), 0, operatorCount(n), 1.0);
        return;
    }
    // One exact phasor per spin and coupled pair; every angle of the interval is a product of them.
    for (int k = 0; k < n; ++k) {
        const double thetaRad = spins.active(k) ? offsetRadPerS[at(k)] * seconds : 0.0;
        offsetPhase_[at(k)] = {std::cos(thetaRad), std::sin(thetaRad)};
        for (int l = 0; l < n; ++l) {
            // The pair's coupling as the plain kernel reads it: lower spin first.
            const double jRad = seconds * kPi * spins.couplingHz[std::min(k, l)][std::max(k, l)];
            couplingPhase_[at(k)][at(l)] = {std::cos(jRad), std::sin(jRad)};
        }
    }
    std::array<Pass, 3> passes;
    const int passCount = populations_ ? planPopulationPasses(spins, passes) : planPasses(spins, passes);
    // The first pass's tiles are contiguous, worked on in blocks of their low spins: the decay of
    // the spins without an element goes there.
    for (int i = 0; i < passCount; ++i)
        runPass(row, n, passes[at(i)], withDecay && i == 0);
}

VELMORA_VECTOR_CLONES void BlockedFreeEvolution::scaleByDecay(double* tile, std::int32_t first,
                                                              std::int32_t count, double outside) const
{
    const std::int32_t lowCount = std::min(count, kStride[kLowDecaySpins]);
    for (std::int32_t start = first; start < first + count; start += lowCount) {
        const double upper = outside * highDecay_[at(start >> (2 * kLowDecaySpins))];
        double* const c = tile + start;
        for (std::int32_t t = 0; t < lowCount; ++t)
            c[t] *= upper * lowDecay_[at(t)];
    }
}

VELMORA_VECTOR_CLONES void BlockedFreeEvolution::prepareTop(const TileRuns& tile, const Pass& pass,
                                                            int firstTop) const
{
    const int m = pass.size;
    const int count = m - firstTop;
    const unsigned topMask = (bit(m) - 1) & ~(bit(firstTop) - 1);
    if ((pass.pulsed & topMask) == 0) {
        changeTopBasis(tile, m, pass.toMixed, firstTop, true);
        return;
    }
    // Pieces of 64 coefficients below the top positions, each with its 4 or 16 partners that differ
    // in the top digits (combination d: digit (d >> 2q) & 3 at position firstTop + q).
    const std::int32_t below = kStride[firstTop];
    const std::int32_t piece = std::min<std::int32_t>(below, 64);
    const int combinations = kStride[count];
    // Both top positions pulsed: their elements in one go over the sixteen pieces.
    const bool pairedTop =
        pairElements_ && count == 2 && has(pass.pulsed, firstTop) && has(pass.pulsed, firstTop + 1);
    for (std::int32_t first = 0; first < below; first += piece) {
        std::array<double*, 16> e{};
        for (int d = 0; d < combinations; ++d) {
            std::int32_t offset = first;
            for (int q = 0; q < count; ++q)
                offset += ((d >> (2 * q)) & 3) * kStride[firstTop + q];
            e[at(d)] = tile.at(offset);
        }
        // Each position's element on the triples of its x, y and z digits, then the changes of
        // basis, as the point orders them.
        if (pairedTop) {
            const ElementRotation& lower = pass.element[at(firstTop)];
            const ElementRotation& upper = pass.element[at(firstTop + 1)];
            if (populations_)
                rotateTwoSpins<true>(e.data(), piece, lower, upper);
            else
                rotateTwoSpins<false>(e.data(), piece, lower, upper);
        }
        for (int q = 0; q < count && !pairedTop; ++q) {
            if (!has(pass.pulsed, firstTop + q))
                continue;
            const int step = kStride[q];
            for (int d = 0; d < combinations; ++d) {
                if (((d >> (2 * q)) & 3) != 0)
                    continue;
                if (populations_)
                    rotatePopulationQuads(e[at(d)], e[at(d + step)], e[at(d + 2 * step)], e[at(d + 3 * step)],
                                          piece, pass.element[at(firstTop + q)]);
                else
                    rotateTriples(e[at(d + step)], e[at(d + 2 * step)], e[at(d + 3 * step)], piece,
                                  pass.element[at(firstTop + q)]);
            }
        }
        for (int q = 0; q < count; ++q) {
            if (!has(pass.toMixed, firstTop + q))
                continue;
            const int step = kStride[q];
            for (int d = 0; d < combinations; ++d) {
                if (((d >> (2 * q)) & 3) == 0)
                    butterfly(e[at(d)], e[at(d + 3 * step)], piece);
            }
        }
    }
}

void BlockedFreeEvolution::runPass(std::span<double> row, int nSpins, const Pass& pass, bool withDecay)
{
    if (pass.toMixed == 0 && pass.rotated == 0 && pass.fromMixed == 0 && pass.pulsed == 0 && !withDecay)
        return;
    const int m = pass.size;
    // The angle tables of the rotated positions, from the in-tile partners' digits.
    for (int p = 0; p < m; ++p) {
        if (!has(pass.rotated, p))
            continue;
        const int k = pass.members[at(p)];
        std::array<DigitPhasors, MixedBasisTables::kMaxPositions> digits{};
        for (int q = 0; q < m; ++q) {
            const int l = pass.members[at(q)];
            if (q != p && has(pass.partners[at(p)], l))
                digits[at(q)] = couplingDigits(couplingPhase_[at(k)][at(l)]);
        }
        tables_.build(m, p, digits);
    }
    std::array<int, kSpinSlots> others{};
    int otherCount = 0;
    for (int k = 0, q = 0; k < nSpins; ++k) {
        if (q < m && pass.members[at(q)] == k)
            ++q;
        else
            others[at(otherCount++)] = k;
    }
    const std::span<const int> otherSpins(others.data(), at(otherCount));
    const std::span<const int> members(pass.members.data(), at(m));
    // Leading members 0, 1, ... make the tile's contiguous runs.
    int runDigits = 0;
    while (runDigits < m && pass.members[at(runDigits)] == runDigits)
        ++runDigits;
    const std::int32_t run = kStride[runDigits];
    const std::int32_t tileSize = kStride[m];
    const bool contiguous = runDigits == m;
    if (!contiguous) {
        for (std::int32_t t = 0; t < tileSize; t += run)
            runStart_[at(t / run)] = spreadDigits(t, members);
    }
    double* const c = row.data();
    // Every tile is worked on where it lies in the row, run by run.
    const auto work = [&](int tile) {
        double* const base = c + spreadDigits(tile, otherSpins);
        const TileRuns runs =
            contiguous ? TileRuns::contiguous(base, m) : TileRuns{base, runStart_.data(), runDigits};
        workOnTile(runs, pass, otherSpins, tile, withDecay);
    };
    const int tiles = kStride[otherCount];
    if (pool_ != nullptr && pool_->threads() > 1 && tiles > 1) {
        // One reference in the handed function, so that it fits in std::function without allocating.
        pool_->run(tiles, [&work](int tile, int /*worker*/) { work(tile); });
    } else {
        for (int tile = 0; tile < tiles; ++tile)
            work(tile);
    }
}

void BlockedFreeEvolution::workOnTile(const TileRuns& tile, const Pass& pass, std::span<const int> otherSpins,
                                      std::int32_t tileIndex, bool withDecay) const
{
    const int m = pass.size;
    // Only a contiguous pass (members 0..m-1) takes the decay tables, block by block; the fractions
    // of the other spins are fixed over the tile.
    double outside = 1.0;
    for (std::size_t o = 0; withDecay && o < otherSpins.size(); ++o) {
        const int digit = (tileIndex >> (2 * o)) & 3;
        if (digit == 1 || digit == 2)
            outside *= spinDecay_[at(otherSpins[o])];
    }
    // Positions 6 and up (the top) take their elements and change basis in one sweep over the tile.
    // Then block by block of 4^6 coefficients (32 KiB, in the first-level cache): the elements of
    // positions 0..5 and the decay, positions 4 and 5 change basis, positions 0..3 change basis and
    // turn chunk by chunk of 4^4, and positions 4 and 5 turn. Then the top positions turn and change
    // back in sweeps over the tile, and last, block by block again, positions 4 and 5 and then 0..3
    // change back. When no position 0..5 changes to the mixed basis in this pass, the top positions
    // turn before the blocks instead, and each block changes back right after its turns, as it does
    // when no top position turns. Six sweeps over the tile at most, whatever the number of changes
    // of basis.
    const int blockPositions = std::min(m, kBlockPositions);
    const std::int32_t blockSize = kStride[blockPositions];
    const std::int32_t blocks = kStride[m - blockPositions];
    prepareTop(tile, pass, blockPositions);
    std::array<Phasor, MixedBasisTables::kMaxPositions> tileFactor{};
    for (int p = 0; p < m; ++p) {
        if (has(pass.rotated, p))
            tileFactor[at(p)] = outsideFactor(pass, p, otherSpins, tileIndex);
    }
    MixedBasisTables::LowestTwo before;
    before.toMixedZero = has(pass.toMixed, 0);
    before.toMixedOne = has(pass.toMixed, 1);
    before.rotateZero = has(pass.rotated, 0);
    before.rotateOne = has(pass.rotated, 1);
    MixedBasisTables::LowestTwo after;
    after.fromMixedZero = has(pass.fromMixed, 0);
    after.fromMixedOne = has(pass.fromMixed, 1);
    const unsigned blockMask = bit(blockPositions) - 1;
    const bool blockBefore = ((pass.toMixed | pass.rotated | pass.pulsed) & blockMask) != 0 || withDecay;
    const bool blockAfter = (pass.fromMixed & blockMask) != 0;
    const std::int32_t chunksPerBlock = kStride[blockPositions - kChunkPositions];
    constexpr std::int32_t kBlocksPerChunk = kChunk / 16;
    // Positions 0..5 of block b back from the mixed basis.
    const auto backInBlock = [&](std::int32_t b) {
        const TileRuns block = tile.part(blockSize * b, blockPositions);
        for (int p = kChunkPositions; p < blockPositions; ++p) {
            if (has(pass.fromMixed, p))
                fromMixedBasis(block, blockPositions, p);
        }
        for (std::int32_t c = chunksPerBlock * b; c < chunksPerBlock * (b + 1); ++c) {
            double* const chunk = tile.at(kChunk * c);
            for (int p = 2; p < kChunkPositions; ++p) {
                if (has(pass.fromMixed, p))
                    fromMixedBasis(chunk, kChunkPositions, p);
            }
            tables_.workOnLowestTwo(tile, kBlocksPerChunk * c, kBlocksPerChunk, after, tileFactor[0],
                                    tileFactor[1]);
        }
    };
    // The top positions turn once all their partners are in the mixed basis and every element has
    // acted: after the blocks' changes of basis and elements, or first when no block position changes
    // basis or takes an element in this pass.
    const bool topFirst = ((pass.toMixed | pass.pulsed) & blockMask) == 0;
    const auto turnTop = [&] {
        for (int p = blockPositions; p < m; ++p) {
            if (has(pass.rotated, p))
                tables_.rotate(tile, p, tileFactor[at(p)], 0, kStride[m - 1 - p]);
        }
    };
    // With no top position turning after the blocks, nothing reads the digits of positions 0..5
    // after the block's own turns, so the block changes back while it is still in the first-level
    // cache.
    const bool backWithTurns = topFirst || (pass.rotated & ~blockMask) == 0;
    // Positions 0..5 of block b to the mixed basis and turned.
    const auto turnInBlock = [&](std::int32_t b) {
        const TileRuns block = tile.part(blockSize * b, blockPositions);
        // The elements and the decay first (a contiguous pass: the block is contiguous).
        for (int p = 0; p < blockPositions; ++p) {
            if (!has(pass.pulsed, p))
                continue;
            // Runs of 16 and more: a pair of spins 0 and 1 would turn groups of one and four.
            if (pairElements_ && p >= 2 && p + 1 < blockPositions && has(pass.pulsed, p + 1)) {
                applyTwoElements(block.at(0), blockSize, p, pass.element[at(p)], pass.element[at(p + 1)]);
                ++p;
                continue;
            }
            applyElement(block.at(0), blockSize, p, pass.element[at(p)]);
        }
        if (withDecay)
            scaleByDecay(tile.at(0), blockSize * b, blockSize, outside);
        for (int p = kChunkPositions; p < blockPositions; ++p) {
            if (has(pass.toMixed, p))
                toMixedBasis(block, blockPositions, p);
        }
        for (std::int32_t c = chunksPerBlock * b; c < chunksPerBlock * (b + 1); ++c) {
            double* const chunk = tile.at(kChunk * c);
            for (int p = 2; p < kChunkPositions; ++p) {
                if (has(pass.toMixed, p))
                    toMixedBasis(chunk, kChunkPositions, p);
            }
            tables_.workOnLowestTwo(tile, kBlocksPerChunk * c, kBlocksPerChunk, before, tileFactor[0],
                                    tileFactor[1]);
            for (int p = 2; p < kChunkPositions; ++p) {
                // The digits above p inside the chunk, then the chunk's own.
                const std::int32_t perChunk = kStride[kChunkPositions - 1 - p];
                if (has(pass.rotated, p))
                    tables_.rotate(tile, p, tileFactor[at(p)], perChunk * c, perChunk);
            }
        }
        for (int p = kChunkPositions; p < blockPositions; ++p) {
            const std::int32_t perBlock = kStride[blockPositions - 1 - p];
            if (has(pass.rotated, p))
                tables_.rotate(tile, p, tileFactor[at(p)], perBlock * b, perBlock);
        }
    };
    if (topFirst)
        turnTop();
    for (std::int32_t b = 0; b < blocks; ++b) {
        if (blockBefore)
            turnInBlock(b);
        if (backWithTurns && blockAfter)
            backInBlock(b);
    }
    if (!topFirst)
        turnTop();
    changeTopBasis(tile, m, pass.fromMixed, blockPositions, false);
    if (!backWithTurns) {
        for (std::int32_t b = 0; blockAfter && b < blocks; ++b)
            backInBlock(b);
    }
}

Phasor BlockedFreeEvolution::outsideFactor(const Pass& pass, int p, std::span<const int> otherSpins,
                                           std::int32_t tileIndex) const
{
    // The offset and the partners among the other spins, whose digits are fixed over the tile.
    const int k = pass.members[at(p)];
    Phasor f = has(pass.withOffset, p) ? offsetPhase_[at(k)] : Phasor{};
    for (std::size_t o = 0; o < otherSpins.size(); ++o) {
        const int l = otherSpins[o];
        if (has(pass.partners[at(p)], l)) {
            const int digit = (tileIndex >> (2 * o)) & 3;
            f = times(f, couplingDigits(couplingPhase_[at(k)][at(l)])[at(digit)]);
        }
    }
    return f;
}

}  // namespace velmora::engine
