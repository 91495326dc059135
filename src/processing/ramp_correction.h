// Removal of the linear phase ramp that a spectrum recorded during a swept pulse keeps after
// correlation. A ramp across the spectrum is a delay of the FID behind it: a ramp of m turns from
// one end of the spectrum to the other moves the FID by m dwells. The whole dwells are found where
// the FID has its largest sample (an FID of absorptive lines is largest at its start), the fraction
// of a dwell where the FID leaves the least before its start, and the zero order as the phase that
// makes the FID's first sample real. A spectrum under the power profile of a correlation or a
// deconvolution takes whole dwells only, those after which its lines' phases are flattest.
#pragma once

#include "engine/run_records.h"
#include "util/messages.h"

#include <span>

namespace velmora::processing {

struct PhaseRamp {
    double delayDwells = 0.0;   // the FID's delay; the phase grows by 2 pi delay / np per point
    double zeroOrderRad = 0.0;  // the phase at point np/2 + 1 (zero frequency)
};

// Turns run `run` (points 1..np, a spectrum with its zero frequency at np/2 + 1 and its frequency
// falling with the point index) back by the ramp found, leaving its lines absorptive. A silent
// spectrum is left as it was. False (record unchanged) when np is not a transform length.
// `powerProfile` (np values, point k at index k - 1): the real weight a correlation with the
// acquisition pulse or its deconvolution left on the spectrum; when given, only whole dwells are
// taken (the chain's phase step places such a record to within a fraction).
bool correctPhaseRamp(engine::SampleRecord& record, int run, int pointCount, PhaseRamp& found,
                      util::Messages& messages, std::span<const double> powerProfile = {});

}  // namespace velmora::processing
