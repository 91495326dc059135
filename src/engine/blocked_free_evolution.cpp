// Free evolution of a large row in cache-sized passes over tiles of at most eight spins.
#include "engine/blocked_free_evolution.h"

#include "engine/free_evolution.h"
#include "engine/operator_basis.h"

#include <array>
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
        evolveOffsets(row, spins, offsetRadPerS, seconds);
        evolveCouplings(row, spins, seconds);
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
    double* const c = row.data();
    for (std::int32_t b = 0; b < kStride[otherCount]; ++b) {
        const std::int32_t base = spreadDigits(b, otherSpins);
        for (std::int32_t t = 0; t < tileSize; ++t)
            tile_[at(t)] = c[base + tileIndex_[at(t)]];
        evolveOffsets(tile_, sub, subOffsetRadPerS, seconds);
        evolveCouplings(tile_, sub, seconds);
        for (std::int32_t t = 0; t < tileSize; ++t)
            c[base + tileIndex_[at(t)]] = tile_[at(t)];
    }
}

}  // namespace velmora::engine
