// Linear phase correction of a spectrum.
#include "processing/phase_step.h"

#include <algorithm>
#include <cmath>

namespace velmora::processing {

void applyPhaseStep(engine::SampleRecord& record, int run, int pointCount, double firstOrderRad,
                    double zeroOrderRad)
{
    for (int k = 1; k <= pointCount; ++k) {
        const double phi = (0.5 - static_cast<double>(k) / pointCount) * firstOrderRad + zeroOrderRad;
        const double c = std::cos(phi);
        const double s = std::sin(phi);
        const double x = record.at(1, k, run);
        const double y = record.at(2, k, run);
        record.at(1, k, run) = x * c + y * s;
        record.at(2, k, run) = y * c - x * s;
    }
}

SamplingPhase samplingPhase(double pulseShare, int oversampling, int pointCount)
{
    constexpr double kPi = 3.14159265358979;
    const double share = std::clamp(pulseShare, 0.0, 1.0);
    const double a = (2.0 - share / std::max(oversampling, 1)) * kPi;
    return {a, pointCount > 0 ? a / pointCount : 0.0};
}

double phaseStepAt(int k, int pointCount, const SamplingPhase& phase)
{
    return (0.5 - static_cast<double>(k) / pointCount) * phase.firstOrderRad + phase.zeroOrderRad;
}

}  // namespace velmora::processing
