// Bloch-Siegert compensation for a signal recorded during a swept pulse. RF of amplitude B1 at an
// offset Delta from a spin turns it about the effective field sqrt(Delta^2 + B1^2), so while the
// pulse is on, the line moves away from the RF by about B1^2 / (2 Delta). Averaged over the
// samples after the sweep has passed the line (before that the spin gives no signal), this gives
// each frequency its shift; the spectrum is then evaluated at the shifted frequencies, which puts
// every line back where the spin's own offset lies.
#pragma once

#include "processing/centred_spectrum.h"
#include "pulses/acquisition_pulse.h"
#include "util/messages.h"

#include <string>
#include <vector>

namespace velmora::processing {

// The line shift in Hz, away from the RF, of a spin at `frequencyHz` (in the record's sense) under
// the pulse's samples 1..L (`dwellS` / F apart), with `b1PeakHz` the RF amplitude at full pulse
// amplitude. A pulse stepped in phase from sample to sample has, besides the RF at its offset,
// weaker components one sample rate apart; each adds its own shift. Components within 2 B1 of the
// spin add nothing: there the spin is being excited, not shifted.
double blochSiegertShiftHz(double frequencyHz, const pulses::AcquisitionPulseTables& pulse, int oversampling,
                           double dwellS, double b1PeakHz);

// Moves every line of `fid` (np samples, `dwellS` apart) back by its shift and fills `table` with
// one line per spectrum point: its index (1..np), tab, its frequency in Hz, tab, the shift in Hz.
// False, with the reason shown and the FID unchanged, when np is not a transform length.
bool compensateBlochSiegertShift(ComplexSamples& fid, double dwellS,
                                 const pulses::AcquisitionPulseTables& pulse, int oversampling,
                                 double b1PeakHz, std::vector<std::string>& table, util::Messages& messages);

}  // namespace velmora::processing
