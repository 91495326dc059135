// Changes of a whole row to and from the population basis, in passes that stay in cache, and the
// single-spin coefficients read through it.
#include "engine/population_basis.h"

#include "engine/row_pieces.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace velmora::engine {

namespace {

// Spins 0..5 change block by block of 4^6 coefficients (32 KiB, in the first-level cache), spins 6
// and 7 in sweeps over blocks of 4^8 (512 KiB, in the second-level cache), spins 8 and 9 on the
// gathered runs of kGatherRun neighbours of each of their 16 digit pairs.
constexpr int kInnerSpins = 6;
constexpr int kBlockSpins = 8;
constexpr std::int32_t kGatherRun = 64;

// (e, z) -> (e + z, e - z) over n coefficients, or back, ((u + v) / 2, (u - v) / 2).
template <bool ToPopulations> void butterfly(double* __restrict e, double* __restrict z, std::int32_t n)
{
    for (std::int32_t i = 0; i < n; ++i) {
        const double a = e[i];
        const double b = z[i];
        if constexpr (ToPopulations) {
            e[i] = a + b;
            z[i] = a - b;
        } else {
            e[i] = 0.5 * (a + b);
            z[i] = 0.5 * (a - b);
        }
    }
}

// The change of spin `spin` over the coefficients [c, c + length), length a multiple of 4^(spin+1).
template <bool ToPopulations> void changeSpin(double* c, std::int32_t length, int spin)
{
    const std::int32_t run = kStride[spin];
    for (std::int32_t base = 0; base < length; base += 4 * run)
        butterfly<ToPopulations>(c + base, c + base + 3 * run, run);
}

// Spins 0..min(nSpins, 8)-1 of the contiguous block [c, c + 4^min(nSpins, 8)).
template <bool ToPopulations> void changeLowSpins(double* c, int nSpins)
{
    const int blockSpins = std::min(nSpins, kBlockSpins);
    const int innerSpins = std::min(blockSpins, kInnerSpins);
    const std::int32_t blockSize = kStride[blockSpins];
    const std::int32_t innerSize = kStride[innerSpins];
    for (std::int32_t inner = 0; inner < blockSize; inner += innerSize)
        for (int k = 0; k < innerSpins; ++k)
            changeSpin<ToPopulations>(c + inner, innerSize, k);
    for (int k = innerSpins; k < blockSpins; ++k)
        changeSpin<ToPopulations>(c, blockSize, k);
}

template <bool ToPopulations> void changeRow(std::span<double> row, int nSpins, util::WorkPool* pool)
{
    double* const c = row.data();
    const int blockSpins = std::min(nSpins, kBlockSpins);
    const std::int32_t blockSize = kStride[blockSpins];
    const int blocks = static_cast<int>(operatorCount(nSpins) / blockSize);
    forEachRowPiece(pool, nSpins, blocks, [&](int b) {
        changeLowSpins<ToPopulations>(c + static_cast<std::ptrdiff_t>(b) * blockSize, nSpins);
    });
    if (nSpins <= kBlockSpins)
        return;
    // Spins 8 and 9: for each run of low neighbours, the runs of every digit of the other high spin.
    const int highSpins = nSpins - kBlockSpins;
    forEachRowPiece(pool, nSpins, kRowPieces, [&](int p) {
        const RowPiece piece = rowPiece(blockSize, kGatherRun, p);
        for (std::int32_t low = piece.begin; low < piece.end; low += kGatherRun) {
            for (int k = kBlockSpins; k < nSpins; ++k) {
                const std::int32_t otherStride = highSpins == 2 ? kStride[k == 8 ? 9 : 8] : 0;
                const int otherDigits = highSpins == 2 ? 4 : 1;
                for (int d = 0; d < otherDigits; ++d) {
                    double* const base = c + low + d * otherStride;
                    butterfly<ToPopulations>(base, base + kSpinMask[k], kGatherRun);
                }
            }
        }
    });
}

// Row indices of the products whose spins other than `skip` read u (bit 0) or v (bit 1) as the
// bits of a number b say, spin skip's digit left at E: the sum of a table over b's five low bits
// and one over the bits above them.
class PopulationIndices {
public:
    PopulationIndices(int nSpins, int skip)
    {
        std::array<std::int32_t, kSpinSlots> mask{};
        int bits = 0;
        for (int k = 0; k < nSpins; ++k)
            if (k != skip)
                mask[static_cast<std::size_t>(bits++)] = kSpinMask[k];
        count_ = 1U << static_cast<unsigned>(bits);
        for (std::uint32_t t = 0; t < kPart; ++t) {
            for (unsigned bit = 0; bit < kPartBits; ++bit) {
                if (((t >> bit) & 1U) == 0)
                    continue;
                low_[t] += mask[bit];
                high_[t] += mask[bit + kPartBits];
            }
        }
    }
    std::uint32_t count() const { return count_; }
    std::size_t operator()(std::uint32_t b) const
    {
        return static_cast<std::size_t>(low_[b & (kPart - 1)] + high_[b >> kPartBits]);
    }

private:
    static constexpr unsigned kPartBits = 5;
    static constexpr std::uint32_t kPart = 1U << kPartBits;
    std::array<std::int32_t, kPart> low_{};
    std::array<std::int32_t, kPart> high_{};
    std::uint32_t count_ = 1;
};

}  // namespace

void toPopulationBasis(std::span<double> row, int nSpins, util::WorkPool* pool)
{
    changeRow<true>(row, nSpins, pool);
}

void fromPopulationBasis(std::span<double> row, int nSpins, util::WorkPool* pool)
{
    changeRow<false>(row, nSpins, pool);
}

std::array<double, kSpinSlots> singleSpinZ(std::span<const double> row, int nSpins, RowBasis basis)
{
    std::array<double, kSpinSlots> z{};
    if (basis == RowBasis::productOperators) {
        for (int k = 0; k < nSpins; ++k)
            z[static_cast<std::size_t>(k)] = row[static_cast<std::size_t>(kSpinMask[k])];
        return z;
    }
    // I(k)z = 2^-N times the sum over all population products of +u or -v at spin k.
    const PopulationIndices index(nSpins, -1);
    for (std::uint32_t b = 0; b < index.count(); ++b) {
        const double m = row[index(b)];
        for (int k = 0; k < nSpins; ++k)
            z[static_cast<std::size_t>(k)] += ((b >> k) & 1U) != 0 ? -m : m;
    }
    const double scale = 1.0 / static_cast<double>(index.count());
    for (double& value : z)
        value *= scale;
    return z;
}

void addToSingleSpinZ(std::span<double> row, int nSpins, RowBasis basis,
                      const std::array<double, kSpinSlots>& delta)
{
    if (basis == RowBasis::productOperators) {
        for (int k = 0; k < nSpins; ++k)
            row[static_cast<std::size_t>(kSpinMask[k])] += delta[static_cast<std::size_t>(k)];
        return;
    }
    const PopulationIndices index(nSpins, -1);
    for (std::uint32_t b = 0; b < index.count(); ++b) {
        double change = 0.0;
        for (int k = 0; k < nSpins; ++k)
            change += ((b >> k) & 1U) != 0 ? -delta[static_cast<std::size_t>(k)] : delta[static_cast<std::size_t>(k)];
        row[index(b)] += change;
    }
}

double singleSpinTransverse(std::span<const double> row, int nSpins, RowBasis basis, int spin, int digit)
{
    const std::int32_t own = digit * kStride[spin];
    if (basis == RowBasis::productOperators)
        return row[static_cast<std::size_t>(own)];
    // The mean over the populations of the other spins.
    const PopulationIndices index(nSpins, spin);
    double sum = 0.0;
    for (std::uint32_t b = 0; b < index.count(); ++b)
        sum += row[static_cast<std::size_t>(own) + index(b)];
    return sum / static_cast<double>(index.count());
}

void addToSingleSpinTransverse(std::span<double> row, int nSpins, RowBasis basis, int spin, int digit,
                               double delta)
{
    const std::int32_t own = digit * kStride[spin];
    if (basis == RowBasis::productOperators) {
        row[static_cast<std::size_t>(own)] += delta;
        return;
    }
    // E at every other spin is u = v = E there: the change reaches every population product.
    const PopulationIndices index(nSpins, spin);
    for (std::uint32_t b = 0; b < index.count(); ++b)
        row[static_cast<std::size_t>(own) + index(b)] += delta;
}

}  // namespace velmora::engine
