// Correlation of a spectrum recorded during a swept pulse with the pulse: in the linear regime the
// recorded signal is the pulse convolved with the spin system's impulse response, so its spectrum
// is the pulse spectrum times the ordinary spectrum. Multiplying by the conjugate pulse spectrum,
// normalised by the pulse's peak power, takes the sweep's phase out and leaves the spectrum a
// pulse-acquire experiment gives, scaled by the pulse's power profile.
#pragma once

#include "engine/run_records.h"
#include "pulses/acquisition_pulse.h"

namespace velmora::processing {

// Points 1..np of run `run` (a spectrum with its zero frequency at np/2 + 1) times the conjugate of
// spectrum rows 1..np of the pulse tables, divided by the largest |pulse spectrum|^2 there.
void correlateWithPulse(engine::SampleRecord& record, int run, int pointCount,
                        const pulses::AcquisitionPulseTables& pulse);

}  // namespace velmora::processing
