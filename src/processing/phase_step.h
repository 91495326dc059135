// The linear phase correction of one run's spectrum: point k (1..np) turned by
// phi = (0.5 - k / np) * a + b radians, (x, y) -> (x cos phi + y sin phi, y cos phi - x sin phi).
#pragma once

#include "engine/run_records.h"

namespace velmora::processing {

void applyPhaseStep(engine::SampleRecord& record, int run, int pointCount, double firstOrderRad,
                    double zeroOrderRad);

}  // namespace velmora::processing
