// Backward linear prediction: the first samples of an FID, lost to the receiver delay, refilled
// from the samples that follow. A sum of K damped sinusoids obeys x[n] = sum_j b_j x[n + j] for any
// order p >= K; the coefficients are fitted by least squares over every window of the known
// samples and the missing samples are predicted one by one towards the start.
#pragma once

#include <complex>
#include <span>

namespace velmora::processing {

// Refills fid[0 .. missing - 1] from fid[missing ..] with a predictor of `order` coefficients.
// False (fid unchanged) when too few known samples remain to fit the coefficients: the fit needs
// at least 2 x order windows of order + 1 known samples.
bool refillLeadingSamples(std::span<std::complex<double>> fid, int missing, int order);

}  // namespace velmora::processing
