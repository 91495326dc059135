// The pulse-waveform step: each sample of a run multiplied by the complex conjugate of the
// acquisition pulse at the same sample, which takes the pulse's own phase modulation out of a
// signal recorded during a swept pulse.
#pragma once

#include "engine/run_records.h"
#include "pulses/acquisition_pulse.h"

namespace velmora::processing {

// Samples 1..`samples` of run `run` (bounded by the record and the waveform table).
void applyPulseWaveform(engine::SampleRecord& record, int run, int samples,
                        const pulses::AcquisitionPulseTables& pulse);

}  // namespace velmora::processing
