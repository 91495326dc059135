// Linear phase correction of a spectrum.
#include "processing/phase_step.h"

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

}  // namespace velmora::processing
