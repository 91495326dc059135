// Correlation of a swept acquisition with its pulse, for the whole pulse or band by band. A
// multi-band pulse excites several separate frequency bands, often with different power; taken
// as one pulse, the correlation weights every line by the pulse's power at it over the strongest
// band's peak, so a weaker band comes out weaker. Band by band, each band's points are weighted
// by its own peak power, and the points outside every band (where the pulse excites nothing)
// are left empty.
#pragma once

#include "processing/centred_spectrum.h"
#include "processing/phase_step.h"
#include "pulses/acquisition_pulse.h"
#include "util/messages.h"

#include <vector>

namespace velmora::processing {

struct PulseBand {
    int first = 0, last = 0;  // centred spectrum indices (0-based), inclusive
    double peakPower = 0.0;   // largest |pulse spectrum|^2 in the band
};

// The runs of centred spectrum points where |pulse spectrum|^2 reaches `fraction` of its largest value.
std::vector<PulseBand> pulseBands(const pulses::AcquisitionPulseTables& pulse, int pointCount,
                                  double fraction);

// The pulse's spectrum as the record sees it at centred index i: the record is conjugated, so its
// pulse is the conjugate waveform, whose spectrum at +f is the conjugate of the table at -f.
std::complex<double> recordedPulseSpectrum(const pulses::AcquisitionPulseTables& pulse, int index,
                                           int pointCount);

// Replaces `fid` by the FID of its correlation with the pulse: the spectrum times the conjugate of
// the recorded pulse spectrum, over the peak power of each band (one band spanning every point for
// the whole pulse), then turned by the phase step of the sampling's timing (`timing`, see
// phase_step.h). False, with the reason shown and the FID unchanged, when np is not a transform length.
bool correlateBands(ComplexSamples& fid, const pulses::AcquisitionPulseTables& pulse, const SamplingPhase& timing,
                    const std::vector<PulseBand>& bands, util::Messages& messages);

// One band spanning every point, with the pulse's peak power.
std::vector<PulseBand> wholePulse(const pulses::AcquisitionPulseTables& pulse, int pointCount);

}  // namespace velmora::processing
