#include "engine/blocked_pulse_elements.h"

#include "engine/operator_basis.h"
#include "engine/step_routine.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace velmora::engine {

namespace {

void applyOne(std::span<double> row, int nSpins, const PulseElement& e)
{
    applyPulseElementInRuns(row, nSpins, e.spin, e.amplitudeRadPerS, e.phaseRad, e.offsetRadPerS, e.seconds);
}

}  // namespace

void applyPulseElements(std::span<double> row, int nSpins, std::span<const PulseElement> elements)
{
    const bool ascending = std::is_sorted(elements.begin(), elements.end(),
                                          [](const PulseElement& a, const PulseElement& b) { return a.spin < b.spin; });
    if (nSpins < kBlockedPulseFromSpins || !ascending) {
        for (const PulseElement& e : elements)
            applyOne(row, nSpins, e);
        return;
    }
    // Elements of spins below kPulseBlockSpins act within each block of 4^8 coefficients, whose
    // higher digits are fixed: the block is the row of an eight-spin system.
    const auto low = std::partition_point(elements.begin(), elements.end(),
                                          [](const PulseElement& e) { return e.spin < kPulseBlockSpins; });
    const std::int32_t blockSize = operatorCount(kPulseBlockSpins);
    const std::int32_t count = operatorCount(nSpins);
    if (low != elements.begin()) {
        for (std::int32_t start = 0; start < count; start += blockSize) {
            const std::span<double> block = row.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(blockSize));
            for (auto e = elements.begin(); e != low; ++e)
                applyOne(block, kPulseBlockSpins, *e);
        }
    }
    for (auto e = low; e != elements.end(); ++e)
        applyOne(row, nSpins, *e);
}

}  // namespace velmora::engine
