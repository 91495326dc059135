// "swift2": the second processing of a signal recorded during a swept pulse, run by run, in its
// fixed order: reference deconvolution, Bloch-Siegert compensation, then the correlation with the
// pulse, band by band ("MBSWIFT") or whole ("correlation"). The record stays an FID throughout;
// at the end it is copied into the time-domain record and transformed to its spectrum.
//
// The line corrections describe the spin system's own FID. When the record still holds the sweep
// (a correlation is ticked), they are made with the sweep's phase taken out of the spectrum and
// put back after them: that phase is unit-sized, so taking it out and back loses nothing, and
// without it every line sits in the record as in a pulse-acquire FID (weighted by the pulse's
// power profile), which is what the reference and the shifts are measured on.
#pragma once

#include "processing/post_processing_chain.h"

namespace velmora::processing {

// Runs the ticked sub-steps on run `run` of the chain's signal record, writing "aRefDec.dat" and
// "aBS.dat" into the output directory for the steps that ran. False, with the reason shown, when
// a step refuses; the run's record may then hold an intermediate FID.
bool runSwift2(const ChainInput& in, int run);

}  // namespace velmora::processing
