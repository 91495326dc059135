// Removal of the first-order phase ramp of a correlated spectrum.
#include "processing/ramp_correction.h"

#include "processing/run_transform.h"

#include <algorithm>
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

// The line whose peak is point k: its place (in points, 0-based), its half width and its value at
// its centre. An exponentially decaying line gives 1 / value = alpha + beta exp(2 pi i j / np) at
// every point j near it, so the peak and its larger neighbour m fix the pole -alpha / beta: its
// angle is the place, its distance from the unit circle the width. The phase at the centre, where
// an absorptive line is real, is interpolated between the two points: a real weight on the
// spectrum (the power profile a correlation leaves) changes the sizes there but not the phases.
struct LineAmplitude {
    std::complex<double> amplitude;
    double position = 0.0;
    double halfWidth = 0.0;  // points
};

std::optional<LineAmplitude> lineAt(const Spectrum& s, std::size_t k)
{
    const std::size_t np = s.size();
    const std::size_t m = std::abs(s[k - 1]) > std::abs(s[k + 1]) ? k - 1 : k + 1;
    if (s[k] == 0.0 || s[m] == 0.0)
        return std::nullopt;
    const auto u = [np](std::size_t j) {
        return std::polar(1.0, 2.0 * kPi * static_cast<double>(j) / static_cast<double>(np));
    };
    const std::complex<double> ck = 1.0 / s[k], cm = 1.0 / s[m];
    const std::complex<double> beta = (ck - cm) / (u(k) - u(m));
    const std::complex<double> alpha = ck - beta * u(k);
    if (std::abs(alpha) == 0.0 || std::abs(beta) == 0.0)
        return std::nullopt;
    double position = std::arg(-alpha / beta) * static_cast<double>(np) / (2.0 * kPi);
    if (position < 0.0)
        position += static_cast<double>(np);
    if (std::abs(position - static_cast<double>(k)) > 1.0)
        position = static_cast<double>(k);
    // 1 / value = alpha (1 - z u): the line decays by |z| = |beta / alpha| per sample.
    const double decay = std::abs(beta / alpha);
    const double halfWidth = decay < 1.0 ? -std::log(decay) * static_cast<double>(np) / (2.0 * kPi) : 0.0;
    const double phaseK = std::arg(s[k]);
    const double phaseM = phaseK + std::arg(s[m] / s[k]);
    const double toward = (position - static_cast<double>(k)) / (static_cast<double>(m) - static_cast<double>(k));
    const double phase = phaseK + std::clamp(toward, 0.0, 1.0) * (phaseM - phaseK);
    return LineAmplitude{std::polar(std::abs(s[k]), phase), position, halfWidth};
}

// The phase slope, in radians per point, that the lines of the spectrum still carry: a weighted
// straight line through the phases of the lines' amplitudes (each line's own shape, and the
// power profile a correlation leaves on it, do not enter), unwrapped from group to group. Lines
// above a tenth of the largest peak count. A neighbour's tail turns the phases of a close pair by
// up to tens of degrees, in opposite senses, so lines closer than 20 half widths (where a tail is
// still above 5 %) count as one group, with the phase of their summed amplitudes at their weighted
// place; none below two groups.
std::optional<double> residualSlope(const Spectrum& s)
{
    double largest = 0.0;
    for (const std::complex<double>& v : s)
        largest = std::max(largest, std::abs(v));
    const std::size_t np = s.size();
    std::vector<LineAmplitude> lines;
    for (std::size_t k = 1; k + 1 < np; ++k) {
        const double here = std::abs(s[k]);
        if (here >= 0.1 * largest && here > std::abs(s[k - 1]) && here >= std::abs(s[k + 1]))
            if (const std::optional<LineAmplitude> line = lineAt(s, k))
                lines.push_back(*line);
    }
    if (lines.empty())
        return std::nullopt;
    // Groups of lines: lines closer than 20 half widths (where a tail is still above 5 %).
    std::vector<std::size_t> groupOf(lines.size(), 0);
    for (std::size_t l = 1; l < lines.size(); ++l)
        groupOf[l] = groupOf[l - 1] + (lines[l].position - lines[l - 1].position <
                                               20.0 * std::max(lines[l].halfWidth, lines[l - 1].halfWidth)
                                           ? 0
                                           : 1);
    // A group's value is the sum of its lines' centre values, at their weighted place.
    std::vector<LineAmplitude> groups;
    std::size_t g = 0;
    double weight = 0.0, place = 0.0;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (l > 0 && groupOf[l] != groupOf[l - 1]) {
            groups.back().position = place / weight;
            ++g;
        }
        if (groups.size() == g) {
            groups.push_back({});
            weight = place = 0.0;
        }
        groups.back().amplitude += lines[l].amplitude;
        weight += std::abs(lines[l].amplitude);
        place += std::abs(lines[l].amplitude) * lines[l].position;
    }
    groups.back().position = place / weight;
    lines = groups;
    if (lines.size() < 2)
        return std::nullopt;
    std::vector<double> phase(lines.size());
    phase[0] = std::arg(lines[0].amplitude);
    for (std::size_t l = 1; l < lines.size(); ++l)
        phase[l] = phase[l - 1] + std::arg(lines[l].amplitude / lines[l - 1].amplitude);

    double w = 0.0, wx = 0.0, wy = 0.0, wxx = 0.0, wxy = 0.0;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const double weight = std::abs(lines[l].amplitude);
        const double x = lines[l].position;
        w += weight;
        wx += weight * x;
        wy += weight * phase[l];
        wxx += weight * x * x;
        wxy += weight * x * phase[l];
    }
    const double spread = w * wxx - wx * wx;
    if (!(spread > 0.0))
        return std::nullopt;
    return (w * wxy - wx * wy) / spread;
}

// Turns the spectrum back by the ramp found and sets the zero order that makes the FID's first
// sample, the sum of the lines' amplitudes, real.
void turnBack(const Spectrum& values, PhaseRamp& found, engine::SampleRecord& record, int run)
{
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
}

}  // namespace

bool correctPhaseRamp(engine::SampleRecord& record, int run, int pointCount, PhaseRamp& found,
                      util::Messages& messages, std::span<const double> powerProfile)
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
    if (powerProfile.size() == values.size()) {
        // Under the smooth power profile a correlation or deconvolution leaves, the FID's start is
        // spread over a dwell or more: its largest sample can lie dwells late, and the energy
        // before the start is least a tenth of a dwell or more off (more when the lines have not
        // decayed by the record's end). The lines' phases, for their part, carry each other's
        // tails: a slope of their own of up to a few tenths of a dwell. The chain's phase step
        // has put the record on the pulse's time axis to well within that, from the timing of
        // element and sample, so only whole dwells are taken here: the whole number, within two
        // dwells, after which the lines' phases are flattest.
        found.delayDwells = 0.0;
        double flattest = 0.0;
        for (int whole : {0, 1, -1, 2, -2}) {
            Spectrum turned(values.size());
            for (std::size_t i = 0; i < values.size(); ++i)
                turned[i] = values[i] * std::polar(1.0, -rampAt(i, values.size(), whole));
            const std::optional<double> slope = residualSlope(turned);
            if (!slope)
                break;
            if (whole == 0 || std::abs(*slope) < flattest) {
                flattest = std::abs(*slope);
                found.delayDwells = whole;
            }
        }
        turnBack(values, found, record, run);
        return true;
    }
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
    turnBack(values, found, record, run);
    return true;
}

}  // namespace velmora::processing
