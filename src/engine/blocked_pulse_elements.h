// The pulse elements of one pulse point, all spins at once, in two passes over a large row. Each
// element turns one spin's coefficients only, so from eight spins on the elements of all spins but
// the two highest act block by block (4^(N-2) neighbouring coefficients stay in a core's
// second-level cache while all of them act), and those of the two highest spins act together on
// the 16 coefficients that differ only in those spins' digits, gathered in runs of neighbours.
// Both passes may be shared between the threads of a pool. Every coefficient sees the same
// operations in the same order as with one element after the other, so the result is the same
// whatever the thread count; applyPulseElement stays the reference.
#pragma once

#include <span>

namespace velmora::util {
class WorkPool;
}

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

// Rows of at least this many spins go in the two passes.
inline constexpr int kBlockedPulseFromSpins = 8;
// The highest spins, whose elements act on gathered coefficients rather than inside a block.
inline constexpr int kGatheredPulseSpins = 2;

// Applies the elements in the order given, as applyPulseElementInRuns one after the other would;
// elements must be in ascending spin order for the two passes (any other order goes one by one).
// With a pool of more than one thread (idle while this runs) the passes over a large row are
// shared between its threads. Does not allocate. Refuses a list with a spin outside the row as
// requirePulsedSpinInRow does, before any element acts.
void applyPulseElements(std::span<double> row, int nSpins, std::span<const PulseElement> elements,
                        util::WorkPool* pool = nullptr);

}  // namespace velmora::engine
