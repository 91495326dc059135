// What the preview of a made pulse shows: amplitude, phase and frequency of every element against
// time, and the pulse's excitation profile computed through the engine, for a nominal length.
#pragma once

#include "engine/excitation_profile.h"
#include "workbench/make_pulse.h"

#include <vector>

namespace velmora::workbench {

struct PulsePreviewData {
    double lengthUs = 0.0;            // nominal length of the whole file's pulse, microseconds
    double peakNutationHz = 0.0;      // nutation at full amplitude used for the profile
    std::vector<double> timeUs;       // centre of every element
    std::vector<double> amplitude;    // relative to full (0..1)
    std::vector<double> phaseDeg;     // wrapped into -180..180
    std::vector<double> frequencyHz;  // phase step to the previous element over the element's time;
                                      // fillers and the first element show a neighbour's
    std::vector<engine::ProfilePoint> profile;
};

// Nominal length of the preview's pulse (the file itself carries no duration).
inline constexpr double kPreviewLengthUs = 10000.0;

// The preview of `made` at kPreviewLengthUs. The profile spans 2.5 times the widest frequency the
// pulse reaches on either side (at least 10 / T). Swept shapes (HSn, stripe) are driven at an
// adiabaticity of 5 at the sweep's centre, the others at a 90 degree flip on resonance.
PulsePreviewData pulsePreviewData(const MadePulse& made, int profilePoints = 101);

}  // namespace velmora::workbench
