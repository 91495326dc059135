// Free evolution of a large row in cache-sized passes over tiles of at most eight spins.
#include "engine/blocked_free_evolution.h"

#include "engine/operator_basis.h"

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

}  // namespace

BlockedFreeEvolution::BlockedFreeEvolution()
    : tileIndex_(at(kStride[kTileSpins])), tile_(at(kStride[kTileSpins]))
{
}

void BlockedFreeEvolution::evolve(std::span<double> row, const SpinTables& spins,
                                  std::span<const double> offsetRadPerS, double seconds)
{
    const int n = spins.count;
    if (n < kBlockedFromSpins) {
        rotateOffsets(row, spins, offsetRadPerS, seconds);
        rotateCouplings(row, spins, seconds);
        return;
    }
    // What is still to be applied: the offset of every active spin and every coupled active pair.
    std::array<bool, kSpinSlots> offsetPending{};
    std::array<std::array<bool, kSpinSlots>, kSpinSlots> pairPending{};
    int pending = 0;
    for (int i = 0; i < n; ++i) {
        if (!spins.active(i))
            continue;
        offsetPending[at(i)] = true;
        ++pending;
        for (int j = i + 1; j < n; ++j) {
            pairPending[at(i)][at(j)] = spins.active(j) && spins.couplingHz[i][j] != 0.0;
            pending += pairPending[at(i)][at(j)] ? 1 : 0;
        }
    }
    while (pending > 0) {
        // Spins 0 and 1, then one by one the spin that brings the most pending work into the set.
        std::array<bool, kSpinSlots> member{};
        member[0] = member[1] = true;
        // The first piece of pending work always joins, so every pass makes progress.
        for (int i = 0, found = 0; i < n && !found; ++i) {
            for (int j = i; j < n && !found; ++j) {
                if (j == i ? offsetPending[at(i)] : pairPending[at(i)][at(j)]) {
                    member[at(i)] = member[at(j)] = true;
                    found = 1;
                }
            }
        }
        int size = 0;
        for (const bool in : member)
            size += in ? 1 : 0;
        for (; size < kTileSpins; ++size) {
            int best = -1;
            int bestGain = -1;
            for (int k = 2; k < n; ++k) {
                if (member[at(k)])
                    continue;
                int gain = offsetPending[at(k)] ? 1 : 0;
                for (int m = 0; m < n; ++m) {
                    if (member[at(m)])
                        gain += (m < k ? pairPending[at(m)][at(k)] : pairPending[at(k)][at(m)]) ? 1 : 0;
                }
                if (gain > bestGain) {
                    bestGain = gain;
                    best = k;
                }
            }
            member[at(best)] = true;
        }
        // The subsystem of the members, holding only the work not yet done.
        std::array<int, kTileSpins> members{};
        SpinTables sub;
        sub.count = kTileSpins;
        std::array<double, kSpinSlots> subOffsets{};
        int m = 0;
        for (int k = 0; k < n; ++k) {
            if (member[at(k)])
                members[at(m++)] = k;
        }
        for (int a = 0; a < kTileSpins; ++a) {
            const int i = members[at(a)];
            sub.slotState[at(a)] = spins.slotState[at(i)];
            if (offsetPending[at(i)]) {
                subOffsets[at(a)] = offsetRadPerS[at(i)];
                offsetPending[at(i)] = false;
                --pending;
            }
            for (int b = a + 1; b < kTileSpins; ++b) {
                const int j = members[at(b)];
                if (!pairPending[at(i)][at(j)])
                    continue;
                sub.couplingHz[at(a)][at(b)] = spins.couplingHz[i][j];
                sub.couplingHz[at(b)][at(a)] = spins.couplingHz[i][j];
                pairPending[at(i)][at(j)] = false;
                --pending;
            }
        }
        applyPass(row, n, sub, subOffsets, members, seconds);
    }
}

void BlockedFreeEvolution::applyPass(std::span<double> row, int nSpins, const SpinTables& sub,
                                     std::span<const double> subOffsetRadPerS, std::span<const int> members,
                                     double seconds)
{
    const std::int32_t tileSize = kStride[kTileSpins];
    double* const c = row.data();
    // Spins 0..7: every tile is a block of neighbouring coefficients, worked on where it lies.
    if (members.back() == kTileSpins - 1) {
        for (std::int32_t base = 0; base < operatorCount(nSpins); base += tileSize) {
            const std::span<double> block = row.subspan(at(base), at(tileSize));
            rotateOffsets(block, sub, subOffsetRadPerS, seconds);
            rotateCouplings(block, sub, seconds);
        }
        return;
    }
    constexpr std::int32_t kRun = 16;  // the coefficients of spins 0 and 1
    for (std::int32_t t = 0; t < tileSize; ++t)
        tileIndex_[at(t)] = spreadDigits(t, members);
    // The other spins' digits give the base of every tile.
    std::array<int, kSpinSlots> others{};
    int otherCount = 0;
    for (int k = 0, m = 0; k < nSpins; ++k) {
        if (m < kTileSpins && members[at(m)] == k)
            ++m;
        else
            others[at(otherCount++)] = k;
    }
    const std::span<const int> otherSpins(others.data(), at(otherCount));
    for (std::int32_t b = 0; b < kStride[otherCount]; ++b) {
        const std::int32_t base = spreadDigits(b, otherSpins);
        // Spins 0 and 1 are the tile's lowest digits: it is read and written in runs of 16.
        for (std::int32_t t = 0; t < tileSize; t += kRun)
            std::copy_n(c + base + tileIndex_[at(t)], kRun, tile_.data() + t);
        rotateOffsets(tile_, sub, subOffsetRadPerS, seconds);
        rotateCouplings(tile_, sub, seconds);
        for (std::int32_t t = 0; t < tileSize; t += kRun)
            std::copy_n(tile_.data() + t, kRun, c + base + tileIndex_[at(t)]);
    }
}

}  // namespace velmora::engine
