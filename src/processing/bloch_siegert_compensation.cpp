// Bloch-Siegert shift compensation of a swept acquisition.
#include "processing/bloch_siegert_compensation.h"

#include "util/number_format.h"

#include <cmath>

namespace velmora::processing {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSidebands = 4;  // components of a stepped-phase pulse taken into the shift

// The RF's offset at one sample in the record's sense: the record is conjugated, so the pulse in
// it turns against its phase steps. Steps are folded into -180..180 degrees.
double rfOffsetHz(double phaseStepDeg, double sampleS)
{
    const double step = phaseStepDeg - 360.0 * std::round(phaseStepDeg / 360.0);
    return -step / 360.0 / sampleS;
}

// A pulse held for each sample at one phase, stepped by theta from sample to sample, is not a
// single frequency: it has components at the RF offset minus n / sample time (n = 0, +-1, ...), of
// amplitude B1 sin(x) / x with x = theta / 2 + n pi. Their shifts add; a component within 2 of
// its amplitudes of the spin adds nothing (there the spin is being excited, not shifted).
double steppedPulseShiftHz(double frequencyHz, double b1Hz, double phaseStepDeg, double sampleS)
{
    if (b1Hz == 0.0)
        return 0.0;
    const double step = (phaseStepDeg - 360.0 * std::round(phaseStepDeg / 360.0)) * kPi / 180.0;
    double shift = 0.0;
    for (int n = -kSidebands; n <= kSidebands; ++n) {
        const double x = step / 2.0 + n * kPi;
        const double b1 = b1Hz * (x == 0.0 ? 1.0 : std::sin(x) / x);
        const double delta = frequencyHz - (rfOffsetHz(phaseStepDeg, sampleS) - n / sampleS);
        if (std::abs(delta) > 2.0 * std::abs(b1))
            shift += b1 * b1 / (2.0 * delta);
    }
    return shift;
}

}  // namespace

double blochSiegertShiftHz(double frequencyHz, const pulses::AcquisitionPulseTables& pulse, int oversampling,
                           double dwellS, double b1PeakHz)
{
    const double sampleS = dwellS / oversampling;
    const int samples = static_cast<int>(pulse.sweep.size()) - 1;
    // The first sample has no step from a sample before it: it takes the second one's.
    const auto stepAt = [&](int i) {
        return pulse.sweep[static_cast<std::size_t>(i == 1 && samples > 1 ? 2 : i)][1];
    };
    // The spin gives signal from the last sample at which the RF passed it (within 2 B1, or
    // across it) on; a spin the RF never reaches gives signal throughout.
    int first = 1;
    for (int i = 2; i <= samples; ++i) {
        const double a = pulse.sweep[static_cast<std::size_t>(i)][0];
        const double before = frequencyHz - rfOffsetHz(stepAt(i - 1), sampleS);
        const double delta = frequencyHz - rfOffsetHz(stepAt(i), sampleS);
        if (a > 0.0 && (std::abs(delta) <= 2.0 * a * b1PeakHz || before * delta < 0.0))
            first = i + 1;
    }
    double sum = 0.0;
    for (int i = first; i <= samples; ++i)
        sum += steppedPulseShiftHz(frequencyHz, pulse.sweep[static_cast<std::size_t>(i)][0] * b1PeakHz,
                                   stepAt(i), sampleS);
    return first <= samples ? sum / (samples - first + 1) : 0.0;
}

bool compensateBlochSiegertShift(ComplexSamples& fid, double dwellS,
                                 const pulses::AcquisitionPulseTables& pulse, int oversampling,
                                 double b1PeakHz, std::vector<std::string>& table, util::Messages& messages)
{
    const int np = static_cast<int>(fid.size());
    // The centred spectrum point i is the sum of x[n] exp(-2 pi i f_i n dwell) / np; taken at
    // f_i + shift(f_i) instead, a line the shift moved up from f_i comes back to point i.
    ComplexSamples shifted(fid.size());
    table.clear();
    for (int i = 0; i < np; ++i) {
        const double f = centredFrequencyHz(i, np, dwellS);
        const double shift = blochSiegertShiftHz(f, pulse, oversampling, dwellS, b1PeakHz);
        const std::complex<double> turn = std::polar(1.0, -2.0 * kPi * (f + shift) * dwellS);
        std::complex<double> sum, phase = 1.0;
        for (const std::complex<double>& x : fid) {
            sum += x * phase;
            phase *= turn;
        }
        shifted[static_cast<std::size_t>(i)] = sum / static_cast<double>(np);
        table.push_back(std::to_string(i + 1) + "\t" + util::formatGeneral(f) + "\t" +
                        util::formatGeneral(shift));
    }
    return toFid(shifted, fid, messages);
}

}  // namespace velmora::processing
