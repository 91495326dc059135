// The linear phase correction of one run's spectrum: point k (1..np) turned by
// phi = (0.5 - k / np) * a + b radians, (x, y) -> (x cos phi + y sin phi, y cos phi - x sin phi).
#pragma once

#include "engine/run_records.h"

namespace velmora::processing {

void applyPhaseStep(engine::SampleRecord& record, int run, int pointCount, double firstOrderRad,
                    double zeroOrderRad);

// The phase step that puts a spectrum sampled during a pulse on the time axis of the pulse's
// table. The transform takes acquired point n at (n - 1) dwells, and the step routine samples it
// at the end of its dwell, n dwells after the start; the table puts element i at (i - 1) element
// lengths, and the element acts about its middle, half its own width later. An element fills L / F
// of a dwell (L the share of the acquisition step the pulse fills, F the computed samples per
// acquired point), so the record runs 1 - L / (2F) dwells ahead of the table: a = (2 - L / F) pi.
// b = a / np turns the ramp about the zero frequency (point np/2 + 1) rather than point np/2, so a
// line at the carrier keeps its phase.
struct SamplingPhase {
    double firstOrderRad = 0.0;  // a
    double zeroOrderRad = 0.0;   // b
};
SamplingPhase samplingPhase(double pulseShare, int oversampling, int pointCount);

// phi of point k (1..np) of the phase step.
double phaseStepAt(int k, int pointCount, const SamplingPhase& phase);

}  // namespace velmora::processing
