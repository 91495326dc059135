// Presenting a record sampled by the step routine in the sense of the synthesized FIDs. The step
// routine's offsets carry -2 pi, so a spin at +f turns its (x, y) pair as exp(-2 pi i f t); the
// synthesized acquisition builds exp(+2 pi i f t). Taking the complex conjugate of every sample
// makes a line at +f land, after the forward transform, where a synthesized spectrum puts it.
#pragma once

#include "engine/run_records.h"

namespace velmora::processing {

// Negates component 2 (y) of samples 1..np of every run.
void presentSampledRecord(engine::SampleRecord& record, int pointCount);

}  // namespace velmora::processing
