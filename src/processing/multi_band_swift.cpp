// Correlation with a swept pulse, whole or band by band.
#include "processing/multi_band_swift.h"

#include <algorithm>
#include <cmath>

namespace velmora::processing {

namespace {


double powerAt(const pulses::AcquisitionPulseTables& pulse, int index, int np)
{
    return std::norm(recordedPulseSpectrum(pulse, index, np));
}

}  // namespace

std::complex<double> recordedPulseSpectrum(const pulses::AcquisitionPulseTables& pulse, int index,
                                           int pointCount)
{
    // Record point k = index + 1; the same frequency of opposite sign is table row np + 2 - k,
    // and row np + 1 (for k = 1, the most negative frequency) wraps to row 1.
    const int k = index + 1;
    const int mirror = pointCount + 2 - k > pointCount ? 1 : pointCount + 2 - k;
    if (mirror >= static_cast<int>(pulse.spectrum.size()))
        return 0.0;
    const auto& p = pulse.spectrum[static_cast<std::size_t>(mirror)];
    return {p[0], -p[1]};
}

std::vector<PulseBand> wholePulse(const pulses::AcquisitionPulseTables& pulse, int pointCount)
{
    PulseBand all{0, pointCount - 1, 0.0};
    for (int i = 0; i < pointCount; ++i)
        all.peakPower = std::max(all.peakPower, powerAt(pulse, i, pointCount));
    return {all};
}

std::vector<PulseBand> pulseBands(const pulses::AcquisitionPulseTables& pulse, int pointCount,
                                  double fraction)
{
    const double threshold = fraction * wholePulse(pulse, pointCount).front().peakPower;
    std::vector<PulseBand> bands;
    for (int i = 0; i < pointCount; ++i) {
        const double power = powerAt(pulse, i, pointCount);
        if (power <= threshold || power == 0.0)
            continue;
        if (bands.empty() || bands.back().last != i - 1)
            bands.push_back({i, i, 0.0});
        bands.back().last = i;
        bands.back().peakPower = std::max(bands.back().peakPower, power);
    }
    return bands;
}

bool correlateBands(ComplexSamples& fid, const pulses::AcquisitionPulseTables& pulse, const SamplingPhase& timing,
                    const std::vector<PulseBand>& bands, util::Messages& messages)
{
    if (std::none_of(bands.begin(), bands.end(), [](const PulseBand& b) { return b.peakPower > 0.0; }))
        return true;  // a silent pulse: nothing to correlate with
    ComplexSamples spectrum, correlated(fid.size());
    if (!toCentredSpectrum(fid, spectrum, messages))
        return false;
    const int np = static_cast<int>(fid.size());
    for (const PulseBand& band : bands) {
        if (band.peakPower == 0.0)
            continue;
        for (int i = band.first; i <= band.last; ++i)
            correlated[static_cast<std::size_t>(i)] = spectrum[static_cast<std::size_t>(i)] *
                                                      std::conj(recordedPulseSpectrum(pulse, i, np)) /
                                                      band.peakPower;
    }
    // The phase step of the sampling's timing that follows the correlation of "swift".
    for (int i = 0; i < np; ++i)
        correlated[static_cast<std::size_t>(i)] *= std::polar(1.0, -phaseStepAt(i + 1, np, timing));
    return toFid(correlated, fid, messages);
}

}  // namespace velmora::processing
