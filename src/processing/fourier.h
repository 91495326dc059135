// The discrete Fourier transform of the simulator: radix-2, decimation in time, out of place, on
// separate real and imaginary arrays. Every spectrum, pulse excitation profile and post-processing
// transform goes through it.
#pragma once

#include "util/messages.h"

#include <span>

namespace velmora::processing {

// Largest transform length.
inline constexpr int kMaxFourierSamples = 65536;

// Computes, for k = 0 .. NumSamples - 1,
//   out[k] = (1 / NumSamples) * sum over n of in[n] * exp(+i * s * 2 pi * n * k / NumSamples)
// with s = +1 when reverse is false (the direction callers call forward) and s = -1 when reverse is
// true. Both directions scale by 1 / NumSamples, so forward then reverse returns the input / N.
//
// NumSamples must be a power of two from 2 to 65536, and each of the four arrays must hold at least
// NumSamples values; the outputs must not overlap each other or the inputs. Otherwise the reason is
// shown through `messages` with the title "Error!", the outputs are left untouched and the result is
// false. Inputs are only read, outputs only written. Allocates nothing.
[[nodiscard]] bool Fourier(int NumSamples, std::span<const double> realIn, std::span<const double> imagIn,
                           std::span<double> realOut, std::span<double> imagOut, bool reverse,
                           util::Messages& messages);

}  // namespace velmora::processing
