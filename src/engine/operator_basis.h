// Product-operator index of a system of 1 to 10 spins and the enumerations over it.
//
// An operator of N spins is a base-4 number with one digit per spin: digit k (weight 4^k) belongs to
// spin k and reads 0 = E (spin absent), 1 = x, 2 = y, 3 = z. Index 0 is the unit operator. Every
// engine pass addresses coefficients through these tables, the three mask tests and the enumerations
// below, which visit the wanted indices in one ascending pass with skips instead of testing all 4^N.
#pragma once

#include <array>
#include <cstdint>

namespace velmora::engine {

inline constexpr int kMaxSpins = 10;
// The spin system has room for 11 slots; the per-spin tables are sized for all of them.
inline constexpr int kSpinSlots = 11;

namespace detail {

constexpr std::array<std::int32_t, kSpinSlots> powersOfFour(std::int32_t factor)
{
    std::array<std::int32_t, kSpinSlots> table{};
    std::int32_t power = 1;
    for (auto& entry : table) {
        entry = factor * power;
        power *= 4;
    }
    return table;
}

}  // namespace detail

// 4^k: the x digit of spin k, and the distance between neighbouring values of that digit.
inline constexpr std::array<std::int32_t, kSpinSlots> kStride = detail::powersOfFour(1);
// 2 * 4^k: the y digit of spin k.
inline constexpr std::array<std::int32_t, kSpinSlots> kYDigit = detail::powersOfFour(2);
// 3 * 4^k: the z digit of spin k, which is also the two-bit mask of that digit.
inline constexpr std::array<std::int32_t, kSpinSlots> kSpinMask = detail::powersOfFour(3);

// Number of product operators of nSpins spins (1..10), the length of one state row: 4^nSpins.
constexpr std::int32_t operatorCount(int nSpins)
{
    return kStride[nSpins];
}

// Spin k carries z: both bits of its digit are set.
constexpr bool isZ(std::int32_t idx, int spin)
{
    return (idx & kSpinMask[spin]) == kSpinMask[spin];
}

// Spin k carries x or y.
constexpr bool isTransverse(std::int32_t idx, int spin)
{
    const std::int32_t digit = idx & kSpinMask[spin];
    return digit != 0 && digit != kSpinMask[spin];
}

// Spin k is a factor of the product (x, y or z).
constexpr bool isPresent(std::int32_t idx, int spin)
{
    return (idx & kSpinMask[spin]) != 0;
}

// Calls visit(idx) for every idx < 4^nSpins whose digit `spin` is z, ascending. The partners with
// x and y at that spin are idx - 2*4^spin and idx - 4^spin. The z indices come in runs of 4^spin;
// the first index past a run has digit 0 there, and jumping 3*4^spin from it reaches the next run.
template <class Visit> inline void forEachZ(int nSpins, int spin, Visit&& visit)
{
    const std::int32_t count = operatorCount(nSpins);
    const std::int32_t zDigit = kSpinMask[spin];
    for (std::int32_t idx = zDigit; idx < count; ++idx) {
        if ((idx & zDigit) != zDigit) {
            idx += zDigit - 1;
            continue;
        }
        visit(idx);
    }
}

// Calls visit(idx) for every idx < 4^nSpins whose digit `spin` is y, ascending; the x partner is
// idx - 4^spin. A run of y indices is followed by a run with digit z, from whose first index a jump
// of 3*4^spin lands on the next y run.
template <class Visit> inline void forEachY(int nSpins, int spin, Visit&& visit)
{
    const std::int32_t count = operatorCount(nSpins);
    const std::int32_t mask = kSpinMask[spin];
    const std::int32_t yDigit = kYDigit[spin];
    std::int32_t idx = yDigit;
    while (idx < count) {
        if ((idx & mask) == mask) {
            idx += mask;
            continue;
        }
        visit(idx);
        ++idx;
    }
}

// Calls visit(idx) for every idx < 4^nSpins in which spin `spin` is present (digit x, y or z),
// ascending. Indices with digit 0 there jump ahead by 4^spin to the next x run.
template <class Visit> inline void forEachPresent(int nSpins, int spin, Visit&& visit)
{
    const std::int32_t count = operatorCount(nSpins);
    const std::int32_t mask = kSpinMask[spin];
    const std::int32_t stride = kStride[spin];
    std::int32_t idx = stride;
    while (idx < count) {
        if ((idx & mask) == 0) {
            idx += stride;
            continue;
        }
        visit(idx);
        ++idx;
    }
}

// Calls visit(idx) for every idx < 4^nSpins whose digits i and j are both z, ascending (i != j).
// Such an index names one configuration of the other spins: idx - 3*4^i - 3*4^j. Adding 1 to a
// visited index and setting both masks again yields the next one, since the carry runs through the
// set mask bits into the free digits.
template <class Visit> inline void forEachZPair(int nSpins, int i, int j, Visit&& visit)
{
    const std::int32_t count = operatorCount(nSpins);
    const std::int32_t pairMask = kSpinMask[i] | kSpinMask[j];
    for (std::int32_t idx = pairMask; idx < count; idx = (idx + 1) | pairMask) {
        visit(idx);
    }
}

}  // namespace velmora::engine
