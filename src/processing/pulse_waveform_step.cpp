// Multiplication by the conjugate pulse waveform.
#include "processing/pulse_waveform_step.h"

#include <algorithm>

namespace velmora::processing {

void applyPulseWaveform(engine::SampleRecord& record, int run, int samples,
                        const pulses::AcquisitionPulseTables& pulse)
{
    const int last = std::min({samples, record.lastSample(), static_cast<int>(pulse.waveform.size()) - 1});
    for (int k = 1; k <= last; ++k) {
        const auto& p = pulse.waveform[static_cast<std::size_t>(k)];
        const double x = record.at(1, k, run);
        const double y = record.at(2, k, run);
        record.at(1, k, run) = p[0] * x + p[1] * y;
        record.at(2, k, run) = p[0] * y - p[1] * x;
    }
}

}  // namespace velmora::processing
