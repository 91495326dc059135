// An FID and its centred spectrum as complex vectors, for the steps that move between the two: the
// spectrum has its zero frequency at index np/2 and its frequency falling with the index (as the
// records after the transform with pre-shift "n" and post-shift "y"), point i at
// (np/2 - i) / (np dwell) Hz; the way back returns the FID unscaled.
#pragma once

#include "util/messages.h"

#include <complex>
#include <span>
#include <vector>

namespace velmora::processing {

using ComplexSamples = std::vector<std::complex<double>>;

// False, with the reason shown, when the length is not a transform length.
bool toCentredSpectrum(std::span<const std::complex<double>> fid, ComplexSamples& spectrum,
                       util::Messages& messages);
bool toFid(std::span<const std::complex<double>> spectrum, ComplexSamples& fid, util::Messages& messages);

// The frequency of spectrum index i (0-based) of np points, in Hz, for the dwell time between samples.
double centredFrequencyHz(int index, int pointCount, double dwellS);

}  // namespace velmora::processing
