// Deconvolution of a signal recorded during a continuous (ungapped) swept pulse. In the linear
// regime the record is the pulse convolved with the spin system's impulse response; dividing its
// spectrum by the pulse's spectrum gives back the FID of a pulse-acquire experiment. The division
// is regularised (Wiener): where the pulse has little power the noise is not blown up but damped.
#pragma once

#include "engine/run_records.h"
#include "processing/phase_step.h"
#include "pulses/acquisition_pulse.h"
#include "util/messages.h"

namespace velmora::processing {

// Replaces samples 1..np of run `run` by the deconvolved FID. `regularisation` is the fraction of
// the pulse's peak power added to every |pulse spectrum|^2 in the division; `timing` is the phase
// step of the sampling's timing (phase_step.h). False (record unchanged) when np is not a transform
// length; the reason was shown.
bool deconvolveSweptPulse(engine::SampleRecord& record, int run, int pointCount,
                          const pulses::AcquisitionPulseTables& pulse, double regularisation,
                          const SamplingPhase& timing, util::Messages& messages);

}  // namespace velmora::processing
