// Radix-2 decimation-in-time transform with twiddle factors from a recurrence (two sines per stage,
// no sine table), scaled by 1/N in both directions. Every block of a stage steps the same twiddle
// sequence from 1, so each twiddle is computed once per stage and applied to that butterfly of
// every block: the same numbers, without a recurrence chain per block.
#include "processing/fourier.h"

#include <cmath>
#include <cstddef>
#include <functional>
#include <string>

namespace velmora::processing {

namespace {

constexpr double kTwoPi = 6.28318530717958;
constexpr int kMaxBits = 16;

bool isSupportedLength(int n)
{
    return n >= 2 && n <= kMaxFourierSamples && (n & (n - 1)) == 0;
}

bool overlaps(std::span<const double> a, std::span<const double> b)
{
    if (a.empty() || b.empty()) {
        return false;
    }
    const std::less<const double*> before;
    return before(a.data(), b.data() + b.size()) && before(b.data(), a.data() + a.size());
}

}  // namespace

bool Fourier(int NumSamples, std::span<const double> realIn, std::span<const double> imagIn,
             std::span<double> realOut, std::span<double> imagOut, bool reverse, util::Messages& messages)
{
    if (!isSupportedLength(NumSamples)) {
        messages.show("Error in procedure Fourier:\r\n NumSamples is " + std::to_string(NumSamples) +
                          ", which is not a positive integer power of two.",
                      "Error!");
        return false;
    }
    const auto n = static_cast<std::size_t>(NumSamples);
    if (realIn.size() < n || imagIn.size() < n || realOut.size() < n || imagOut.size() < n) {
        messages.show("Error in procedure Fourier:\r\n NumSamples is " + std::to_string(NumSamples) +
                          ", but an input or output array holds fewer values.",
                      "Error!");
        return false;
    }
    const std::span<const double> re = realOut.first(n);
    const std::span<const double> im = imagOut.first(n);
    if (overlaps(re, im) || overlaps(re, realIn.first(n)) || overlaps(re, imagIn.first(n)) ||
        overlaps(im, realIn.first(n)) || overlaps(im, imagIn.first(n))) {
        messages.show(
            "Error in procedure Fourier:\r\n the output arrays overlap each other or an input array.",
            "Error!");
        return false;
    }

    // log2 N: the lowest set bit of a power of two.
    int bitCount = 0;
    for (int b = 0; b <= kMaxBits; ++b) {
        if ((NumSamples & (1 << b)) != 0) {
            bitCount = b;
            break;
        }
    }

    // Scaled copy into bit-reversed order. 1/N is a power of two, so the product is the quotient.
    const double scale = 1.0 / static_cast<double>(NumSamples);
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t rest = i;
        std::size_t j = 0;
        for (int b = 0; b < bitCount; ++b) {
            j = (j << 1) | (rest & 1U);
            rest >>= 1;
        }
        realOut[j] = realIn[i] * scale;
        imagOut[j] = imagIn[i] * scale;
    }

    // Butterflies. Within a block the twiddle w starts at 1 and is multiplied by exp(i delta) after
    // each butterfly: w <- w - (alpha w - i beta w), alpha = 2 sin^2(delta / 2) = 1 - cos delta.
    // The butterflies of a stage touch disjoint pairs, so their order does not change the result.
    const double angleNumerator = reverse ? -kTwoPi : kTwoPi;
    for (std::size_t blockSize = 2, half = 1; blockSize <= n; half = blockSize, blockSize *= 2) {
        const double deltaRad = angleNumerator / static_cast<double>(blockSize);
        const double halfSine = std::sin(0.5 * deltaRad);
        const double alpha = 2.0 * halfSine * halfSine;
        const double beta = std::sin(deltaRad);
        double wRe = 1.0;
        double wIm = 0.0;
        for (std::size_t j = 0; j < half; ++j) {
            for (std::size_t k = j; k < n; k += blockSize) {
                const std::size_t m = k + half;
                const double tRe = wRe * realOut[m] - wIm * imagOut[m];
                const double tIm = wRe * imagOut[m] + wIm * realOut[m];
                realOut[m] = realOut[k] - tRe;
                imagOut[m] = imagOut[k] - tIm;
                realOut[k] += tRe;
                imagOut[k] += tIm;
            }
            const double wImOld = wIm;
            wIm = wIm - (alpha * wIm - beta * wRe);
            wRe = wRe - (beta * wImOld + alpha * wRe);
        }
    }
    return true;
}

}  // namespace velmora::processing
