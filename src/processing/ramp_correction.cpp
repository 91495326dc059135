// Removal of the first-order phase ramp of a correlated spectrum.
#include "processing/ramp_correction.h"

#include "processing/run_transform.h"

#include <cmath>
#include <complex>
#include <optional>
#include <string>
#include <vector>

namespace velmora::processing {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kGoldenSteps = 60;

using Spectrum = std::vector<std::complex<double>>;

// The phase of point i (0-based) for a delay of d dwells, zero at point np/2 + 1.
double rampAt(std::size_t i, std::size_t np, double delayDwells)
{
    return 2.0 * kPi * delayDwells * (static_cast<double>(i) - static_cast<double>(np / 2)) /
           static_cast<double>(np);
}

// The FID of the spectrum turned back by a delay of d dwells (reverse transform, so that index n
// is the time n dwells after the start). Index n holds time n (n < np/2) or n - np.
bool delayedFid(const Spectrum& values, double delayDwells, engine::SampleRecord& scratch,
                util::Messages& messages)
{
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::complex<double> turned =
            values[i] * std::polar(1.0, -rampAt(i, values.size(), delayDwells));
        scratch.at(1, static_cast<int>(i) + 1, 0) = turned.real();
        scratch.at(2, static_cast<int>(i) + 1, 0) = turned.imag();
    }
    return transformRun(scratch, 0, static_cast<int>(values.size()), true, "y", "n", messages);
}

// The energy of the FID at negative times (its last quarter). An FID that starts on a sample has
// none there but the wrapped end of its decay; a start between samples spreads the band-limited
// step over every sample, and most over the ones next to it.
double energyBeforeStart(const Spectrum& values, double delayDwells, engine::SampleRecord& scratch,
                         util::Messages& messages)
{
    if (!delayedFid(values, delayDwells, scratch, messages))
        return 0.0;
    const int np = static_cast<int>(values.size());
    double energy = 0.0;
    for (int k = np - np / 4 + 1; k <= np; ++k)
        energy += scratch.at(1, k, 0) * scratch.at(1, k, 0) + scratch.at(2, k, 0) * scratch.at(2, k, 0);
    return energy;
}

// The whole dwells of the delay: the index of the FID's largest sample, taken in -np/2 .. np/2 - 1
// since a ramp the other way wraps the FID's start to its end.
std::optional<int> wholeDwells(const Spectrum& values, engine::SampleRecord& scratch,
                               util::Messages& messages)
{
    if (!delayedFid(values, 0.0, scratch, messages))
        return std::nullopt;
    const int np = static_cast<int>(values.size());
    int largest = 1;
    for (int k = 2; k <= np; ++k)
        if (std::hypot(scratch.at(1, k, 0), scratch.at(2, k, 0)) >
            std::hypot(scratch.at(1, largest, 0), scratch.at(2, largest, 0)))
            largest = k;
    return largest - 1 < np / 2 ? largest - 1 : largest - 1 - np;
}

}  // namespace

bool correctPhaseRamp(engine::SampleRecord& record, int run, int pointCount, PhaseRamp& found,
                      util::Messages& messages)
{
    if (pointCount < 2 || pointCount > record.lastSample()) {
        messages.show("The record of run " + std::to_string(run) + " holds fewer than the " +
                          std::to_string(pointCount) + " points to correct.",
                      "Error!");
        return false;
    }
    Spectrum values(static_cast<std::size_t>(pointCount));
    bool silent = true;
    for (int k = 1; k <= pointCount; ++k) {
        values[static_cast<std::size_t>(k - 1)] = {record.at(1, k, run), record.at(2, k, run)};
        silent = silent && values[static_cast<std::size_t>(k - 1)] == 0.0;
    }
    engine::SampleRecord scratch(pointCount, 0);
    const std::optional<int> dwells = wholeDwells(values, scratch, messages);
    if (!dwells)
        return false;  // np is not a transform length; the reason was shown
    if (silent)
        return true;
    // The fraction of a dwell: golden-section search, within half a dwell of the whole ones, for
    // the start that leaves the least before it.
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double lo = *dwells - 0.5, hi = *dwells + 0.5;
    double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
    double fa = energyBeforeStart(values, a, scratch, messages);
    double fb = energyBeforeStart(values, b, scratch, messages);
    for (int step = 0; step < kGoldenSteps; ++step) {
        if (fa < fb) {
            hi = b;
            b = a;
            fb = fa;
            a = hi - g * (hi - lo);
            fa = energyBeforeStart(values, a, scratch, messages);
        } else {
            lo = a;
            a = b;
            fa = fb;
            b = lo + g * (hi - lo);
            fb = energyBeforeStart(values, b, scratch, messages);
        }
    }
    found.delayDwells = (lo + hi) / 2.0;
    // The zero order turns the FID's first sample, the sum of the lines' amplitudes, onto the real axis.
    std::complex<double> sum;
    for (std::size_t i = 0; i < values.size(); ++i)
        sum += values[i] * std::polar(1.0, -rampAt(i, values.size(), found.delayDwells));
    found.zeroOrderRad = std::arg(sum);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::complex<double> turned =
            values[i] * std::polar(1.0, -rampAt(i, values.size(), found.delayDwells) - found.zeroOrderRad);
        record.at(1, static_cast<int>(i) + 1, run) = turned.real();
        record.at(2, static_cast<int>(i) + 1, run) = turned.imag();
    }
    return true;
}

}  // namespace velmora::processing
