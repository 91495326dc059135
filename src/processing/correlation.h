// Correlation of a spectrum recorded during a swept pulse with the pulse: in the linear regime the
// recorded signal is the pulse convolved with the spin system's impulse response, so its spectrum
// is the pulse's spectrum times the ordinary spectrum. The record is presented in the synthesized
// sense (conjugated), so the pulse in it is the conjugate waveform, whose spectrum at +f is the
// conjugate of the pulse spectrum table at -f. Multiplying by the table at the mirrored point,
// normalised by the pulse's peak power, takes the sweep's phase out and leaves the spectrum a
// pulse-acquire experiment gives, weighted by the pulse's power profile.
#pragma once

#include "engine/run_records.h"
#include "pulses/acquisition_pulse.h"

namespace velmora::processing {

// Point k of run `run` (a spectrum with its zero frequency at np/2 + 1) times spectrum row
// np + 2 - k of the pulse tables (the same frequency of opposite sign), divided by the largest
// |pulse spectrum|^2 of rows 1..np.
void correlateWithPulse(engine::SampleRecord& record, int run, int pointCount,
                        const pulses::AcquisitionPulseTables& pulse);

}  // namespace velmora::processing
