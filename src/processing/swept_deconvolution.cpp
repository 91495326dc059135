// Regularised deconvolution by the swept pulse's spectrum.
#include "processing/swept_deconvolution.h"

#include "processing/phase_step.h"
#include "processing/run_transform.h"

#include <algorithm>

namespace velmora::processing {

bool deconvolveSweptPulse(engine::SampleRecord& record, int run, int pointCount,
                          const pulses::AcquisitionPulseTables& pulse, double regularisation,
                          const SamplingPhase& timing, util::Messages& messages)
{
    const int last = std::min(pointCount, static_cast<int>(pulse.spectrum.size()) - 1);
    double peakPower = 0.0;
    for (int k = 1; k <= last; ++k) {
        const auto& p = pulse.spectrum[static_cast<std::size_t>(k)];
        peakPower = std::max(peakPower, p[0] * p[0] + p[1] * p[1]);
    }
    if (peakPower == 0.0)
        return true;  // a silent pulse: the record is the FID already
    if (!transformRun(record, run, pointCount, false, "n", "y", messages))
        return false;
    const double floor = std::max(regularisation, 1e-12) * peakPower;
    for (int k = 1; k <= last; ++k) {
        // The record is conjugated, so its pulse is the conjugate waveform, whose spectrum at +f is
        // the conjugate of the table at -f; dividing by it is multiplying by the table at -f over
        // its power.
        const int mirror = pointCount + 2 - k > pointCount ? 1 : pointCount + 2 - k;
        const auto& p = pulse.spectrum[static_cast<std::size_t>(mirror)];
        const double power = p[0] * p[0] + p[1] * p[1] + floor;
        const double x = record.at(1, k, run);
        const double y = record.at(2, k, run);
        record.at(1, k, run) = (x * p[0] - y * p[1]) / power;
        record.at(2, k, run) = (y * p[0] + x * p[1]) / power;
    }
    // The record runs ahead of the pulse table by the sampling's timing (phase_step.h).
    applyPhaseStep(record, run, pointCount, timing.firstOrderRad, timing.zeroOrderRad);
    if (!transformRun(record, run, pointCount, true, "y", "n", messages))
        return false;
    for (int k = 1; k <= pointCount; ++k) {
        record.at(1, k, run) *= pointCount;  // each direction of the transform scales by 1/np
        record.at(2, k, run) *= pointCount;
    }
    return true;
}

}  // namespace velmora::processing
