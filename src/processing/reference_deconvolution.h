// Reference deconvolution: every line of a spectrum carries the same distortion of its shape (an
// inhomogeneous field, a wrong decay), which multiplies the FID by one function of time. The
// strongest line, isolated from the spectrum, gives that distortion: the FID is divided by the
// reference line's measured FID and multiplied by the FID of an ideal line of the chosen width at
// the same frequency and with the same area, so that every line takes the chosen shape.
#pragma once

#include "processing/centred_spectrum.h"
#include "util/messages.h"

#include <string>
#include <vector>

namespace velmora::processing {

struct ReferenceLine {
    int index = 0;  // spectrum index (0-based) of its peak
    double frequencyHz = 0.0;
    int first = 0, last = 0;  // the spectrum indices taken as the line
};

// Corrects `fid` (np samples, `dwellS` apart) in place so that its lines are Lorentzians of full
// width `widthHz` at half height, and fills `table` with one line per sample: the sample's index
// (1..np), tab, the real and the imaginary part of the correction applied. The division is
// regularised where the reference has decayed to 1e-6 of its start. False, with the reason shown
// and the FID unchanged, for a silent FID or a length that is not a transform length.
bool deconvolveReferenceLine(ComplexSamples& fid, double dwellS, double widthHz, ReferenceLine& reference,
                             std::vector<std::string>& table, util::Messages& messages);

}  // namespace velmora::processing
