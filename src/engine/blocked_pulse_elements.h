// The pulse elements of one pulse point, all spins at once, in few passes over a large row. Each
// element turns one spin's coefficients only, so for rows of nine and ten spins the elements of
// spins 0..7 are applied block by block (4^8 neighbouring coefficients, 512 KiB, stay in a core's
// second-level cache while all of them act) and only spins 8 and 9 take passes over the whole row.
// Every coefficient sees the same operations in the same order as with one element after the
// other, so the result is the same to the bit; applyPulseElement stays the reference.
#pragma once

#include <span>

namespace velmora::engine {

// One element: spin, RF amplitude (rad/s), RF phase (rad), resonance offset (rad/s) and length (s),
// as applyPulseElement takes them.
struct PulseElement {
    int spin = 0;
    double amplitudeRadPerS = 0.0;
    double phaseRad = 0.0;
    double offsetRadPerS = 0.0;
    double seconds = 0.0;
};

// Rows of at least this many spins go block by block.
inline constexpr int kBlockedPulseFromSpins = 9;
// Spins whose elements act inside one block.
inline constexpr int kPulseBlockSpins = 8;

// Applies the elements in the order given, as applyPulseElementInRuns one after the other would;
// elements must be in ascending spin order for the blocked path (any other order goes one by one).
void applyPulseElements(std::span<double> row, int nSpins, std::span<const PulseElement> elements);

}  // namespace velmora::engine
