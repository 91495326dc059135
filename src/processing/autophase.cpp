// Automatic phase correction: an exhaustive search over the first-order bar, with the zero order
// that each first order needs found from the spectrum's phased sum.
#include "processing/autophase.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdlib>

namespace velmora::processing {

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr int kLargestRp = 360;  // the first-order bar's range
constexpr int kLargestLp = 18;   // +-180 degrees in steps of 10
constexpr double kLpStepDegrees = 10.0;

// The phase in radians at 0-based point k of np, as the display arrays apply it.
double phaseAt(int k, int np, double rp, double lp)
{
    return (kLpStepDegrees * lp + rp * (np / 2.0 - (k + 1)) / 10.0) * kDegree;
}

// lp folded into -18..18 (a whole turn is 36 steps).
int foldedLp(int lp)
{
    lp %= 36;
    if (lp > kLargestLp)
        lp -= 36;
    if (lp < -kLargestLp)
        lp += 36;
    return lp;
}

}  // namespace

PhasedArea phasedArea(std::span<const double> real, std::span<const double> imaginary, PhaseSetting phase)
{
    PhasedArea area;
    const int np = static_cast<int>(std::min(real.size(), imaginary.size()));
    for (int k = 0; k < np; ++k) {
        const double phi = phaseAt(k, np, phase.rp, phase.lp);
        const auto i = static_cast<std::size_t>(k);
        const double absorbed = real[i] * std::cos(phi) + imaginary[i] * std::sin(phi);
        area.absorption += absorbed;
        area.score += absorbed < 0.0 ? 2.0 * absorbed : absorbed;
    }
    return area;
}

PhaseSetting automaticPhase(std::span<const double> real, std::span<const double> imaginary)
{
    const int np = static_cast<int>(std::min(real.size(), imaginary.size()));
    PhaseSetting best;
    double bestScore = -INFINITY;
    bool silent = true;
    for (int k = 0; k < np && silent; ++k)
        silent = real[static_cast<std::size_t>(k)] == 0.0 && imaginary[static_cast<std::size_t>(k)] == 0.0;
    if (np == 0 || silent)
        return best;
    // rp in the order 0, 1, -1, 2, -2, ... so that a tie keeps the smaller first order.
    for (int step = 0; step <= 2 * kLargestRp; ++step) {
        const int rp = step % 2 == 0 ? -step / 2 : (step + 1) / 2;
        // The spectrum's sum after the first order alone: its angle is the zero order that puts
        // the most of the spectrum on the real axis.
        std::complex<double> sum;
        for (int k = 0; k < np; ++k) {
            const auto i = static_cast<std::size_t>(k);
            sum += std::complex<double>(real[i], imaginary[i]) * std::polar(1.0, -phaseAt(k, np, rp, 0.0));
        }
        const double lpSteps = std::arg(sum) / kDegree / kLpStepDegrees;
        for (const double lp : {std::floor(lpSteps), std::ceil(lpSteps)}) {
            const PhaseSetting candidate{rp, foldedLp(static_cast<int>(lp))};
            const double score = phasedArea(real, imaginary, candidate).score;
            if (score > bestScore) {
                bestScore = score;
                best = candidate;
            }
        }
    }
    return best;
}

}  // namespace velmora::processing
