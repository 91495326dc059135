// Correlation with the acquisition pulse.
#include "processing/correlation.h"

#include <algorithm>

namespace velmora::processing {

namespace {

// The point of frequency -f when point k holds +f (zero at np/2 + 1); point 1 (-np/2) wraps to itself.
int mirrored(int k, int np)
{
    const int m = np + 2 - k;
    return m > np ? m - np : m;
}

}  // namespace

void correlateWithPulse(engine::SampleRecord& record, int run, int pointCount,
                        const pulses::AcquisitionPulseTables& pulse)
{
    const int last = std::min(pointCount, static_cast<int>(pulse.spectrum.size()) - 1);
    double peakPower = 0.0;
    for (int k = 1; k <= last; ++k) {
        const auto& p = pulse.spectrum[static_cast<std::size_t>(k)];
        peakPower = std::max(peakPower, p[0] * p[0] + p[1] * p[1]);
    }
    if (peakPower == 0.0)
        return;  // a silent pulse: nothing to correlate with
    for (int k = 1; k <= last; ++k) {
        const auto& p = pulse.spectrum[static_cast<std::size_t>(mirrored(k, pointCount))];
        const double x = record.at(1, k, run);
        const double y = record.at(2, k, run);
        record.at(1, k, run) = (x * p[0] - y * p[1]) / peakPower;
        record.at(2, k, run) = (y * p[0] + x * p[1]) / peakPower;
    }
}

}  // namespace velmora::processing
