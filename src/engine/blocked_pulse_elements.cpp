// The pulse elements of one point in a block pass and a gathered pass over the row.
#include "engine/blocked_pulse_elements.h"

#include "engine/element_rotation.h"
#include "engine/operator_basis.h"
#include "engine/row_pieces.h"
#include "engine/step_routine.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora::engine {

namespace {

// Neighbouring low coefficients gathered at a time for the two highest spins: 16 runs of 64
// doubles, 8 KiB, stay in the first-level cache between the two spins' turns.
constexpr std::int32_t kGatherRun = 64;

// One of the two highest spins (blockSpins and blockSpins + 1) on the kGatherRun low coefficients
// from c, for each of the four digits of the other high spin.
void rotateGathered(double* c, int blockSpins, int spin, const ElementRotation& r)
{
    const std::int32_t run = kStride[spin];
    const std::int32_t other = kStride[spin == blockSpins ? blockSpins + 1 : blockSpins];
    for (std::int32_t digit = 0; digit < 4; ++digit) {
        double* const base = c + digit * other;
        rotateTriples(base + run, base + 2 * run, base + 3 * run, kGatherRun, r);
    }
}

}  // namespace

void applyPulseElements(std::span<double> row, int nSpins, std::span<const PulseElement> elements,
                        util::WorkPool* pool)
{
    // Every element is checked before any acts, so a refused list leaves the row as it was.
    for (const PulseElement& e : elements)
        requirePulsedSpinInRow(row, nSpins, e.spin);
    const bool ascending =
        std::is_sorted(elements.begin(), elements.end(),
                       [](const PulseElement& a, const PulseElement& b) { return a.spin < b.spin; });
    if (nSpins < kBlockedPulseFromSpins || !ascending || elements.size() > kSpinSlots) {
        for (const PulseElement& e : elements)
            applyPulseElementInRuns(row, nSpins, e.spin, e.amplitudeRadPerS, e.phaseRad, e.offsetRadPerS,
                                    e.seconds);
        return;
    }
    const int blockSpins = nSpins - kGatheredPulseSpins;
    std::array<ElementRotation, kSpinSlots> rotation{};
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const PulseElement& e = elements[i];
        rotation[i] = elementRotation(e.amplitudeRadPerS, e.phaseRad, e.offsetRadPerS, e.seconds);
    }
    const auto firstHigh = static_cast<std::size_t>(
        std::partition_point(elements.begin(), elements.end(),
                             [&](const PulseElement& e) { return e.spin < blockSpins; }) -
        elements.begin());
    double* const c = row.data();
    const std::int32_t blockSize = operatorCount(blockSpins);

    // The low spins' elements inside each block of 4^(N-2) coefficients, whose two high digits are
    // fixed: the block is the row of a system of N-2 spins (16 blocks, one piece each).
    if (firstHigh > 0) {
        const auto block = [&](int b) {
            double* const start = c + static_cast<std::ptrdiff_t>(b) * blockSize;
            for (std::size_t i = 0; i < firstHigh; ++i)
                rotateSpinIn(start, blockSize, elements[i].spin, rotation[i]);
        };
        forEachRowPiece(pool, nSpins, operatorCount(nSpins) / blockSize, block);
    }
    // The two high spins' elements on the 16 coefficients of each low index, kGatherRun low indices
    // at a time; the pieces cut the low indices.
    if (firstHigh < elements.size()) {
        const auto gathered = [&](int p) {
            const RowPiece piece = rowPiece(blockSize, kGatherRun, p);
            for (std::int32_t low = piece.begin; low < piece.end; low += kGatherRun)
                for (std::size_t i = firstHigh; i < elements.size(); ++i)
                    rotateGathered(c + low, blockSpins, elements[i].spin, rotation[i]);
        };
        forEachRowPiece(pool, nSpins, kRowPieces, gathered);
    }
}

}  // namespace velmora::engine
