// Reference deconvolution with the strongest line of the spectrum.
#include "processing/reference_deconvolution.h"

#include "util/number_format.h"

#include <algorithm>
#include <cmath>

namespace velmora::processing {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRegularisation = 1e-12;  // of |reference(0)|^2: where the reference has decayed to 1e-6

// The strongest point away from the ends and the points around it down to the first local minimum
// (or 1 % of the peak) on each side, at most np/16 points each way, so that a neighbouring line
// is not taken as part of the reference.
ReferenceLine strongestLine(const ComplexSamples& spectrum)
{
    const int np = static_cast<int>(spectrum.size());
    const auto mag = [&](int i) { return std::abs(spectrum[static_cast<std::size_t>(i)]); };
    ReferenceLine line;
    line.index = 1;
    for (int i = 2; i < np - 1; ++i)
        if (mag(i) > mag(line.index))
            line.index = i;
    const double floor = 0.01 * mag(line.index);
    const int reach = std::max(2, np / 16);
    line.first = line.index;
    while (line.first > 0 && line.index - line.first < reach && mag(line.first - 1) < mag(line.first) &&
           mag(line.first) > floor)
        --line.first;
    line.last = line.index;
    while (line.last < np - 1 && line.last - line.index < reach && mag(line.last + 1) < mag(line.last) &&
           mag(line.last) > floor)
        ++line.last;
    return line;
}

// The line through the peak and its larger neighbour as a single pole: the spectrum of a decaying
// exponential is C / (1 - u w^i) with w = exp(2 pi i / np), so 1 / value = alpha + beta w^i, and
// two points give the line's centre (where 1 / value vanishes, a fractional index) and its values
// beyond the points taken from the spectrum.
struct LinePole {
    double centreIndex = 0.0;
    std::complex<double> alpha, beta;

    std::complex<double> valueAt(int i, int np) const
    {
        return 1.0 / (alpha + beta * std::polar(1.0, 2.0 * kPi * i / np));
    }
};

LinePole poleThroughPeak(const ComplexSamples& spectrum, int peak)
{
    const int np = static_cast<int>(spectrum.size());
    const int a = std::abs(spectrum[static_cast<std::size_t>(peak + 1)]) >=
                          std::abs(spectrum[static_cast<std::size_t>(peak - 1)])
                      ? peak
                      : peak - 1;
    const std::complex<double> w = std::polar(1.0, 2.0 * kPi / np);
    const std::complex<double> wa = std::polar(1.0, 2.0 * kPi * a / np);
    const std::complex<double> ya = 1.0 / spectrum[static_cast<std::size_t>(a)];
    const std::complex<double> yb = 1.0 / spectrum[static_cast<std::size_t>(a + 1)];
    const std::complex<double> beta = (yb - ya) / (wa * (w - 1.0));
    const std::complex<double> alpha = ya - beta * wa;
    // w^i = -alpha / beta at the centre; the turn nearest the peak.
    double centre = std::arg(-alpha / beta) * np / (2.0 * kPi);
    centre += np * std::round((peak - centre) / np);
    return {centre, alpha, beta};
}

}  // namespace

bool deconvolveReferenceLine(ComplexSamples& fid, double dwellS, double widthHz, ReferenceLine& reference,
                             std::vector<std::string>& table, util::Messages& messages)
{
    ComplexSamples spectrum;
    if (!toCentredSpectrum(fid, spectrum, messages))
        return false;
    reference = strongestLine(spectrum);
    if (std::abs(spectrum[static_cast<std::size_t>(reference.index)]) == 0.0) {
        messages.show(
            "\"reference deconvolution\" finds no line to take as the reference: the signal is silent.",
            "Error!");
        return false;
    }
    // The measured line: the spectrum's points around the peak, and beyond them the tails of the
    // pole through the peak. Other lines' tails under the reference are taken off as the straight
    // line between what the pole leaves at the two edges, so the measured line has no step there
    // to ring through its FID.
    const LinePole pole = poleThroughPeak(spectrum, reference.index);
    const int np = static_cast<int>(fid.size());
    const auto at = [&](int i) { return spectrum[static_cast<std::size_t>(i)]; };
    const std::complex<double> leftOver = at(reference.first) - pole.valueAt(reference.first, np);
    const std::complex<double> rightOver = at(reference.last) - pole.valueAt(reference.last, np);
    const double span = std::max(1, reference.last - reference.first);
    ComplexSamples line(spectrum.size()), measured, ideal(fid.size());
    for (int i = 0; i < np; ++i)
        line[static_cast<std::size_t>(i)] =
            i >= reference.first && i <= reference.last
                ? at(i) - (leftOver + (rightOver - leftOver) * ((i - reference.first) / span))
                : pole.valueAt(i, np);
    if (!toFid(line, measured, messages))
        return false;
    reference.frequencyHz = (np / 2 - pole.centreIndex) / (np * dwellS);
    // The ideal line starts as the measured one does: the same phase and area (the FID's first sample).
    for (std::size_t n = 0; n < fid.size(); ++n) {
        const double t = static_cast<double>(n) * dwellS;
        ideal[n] = measured[0] *
                   std::exp(std::complex<double>(-kPi * widthHz * t, 2.0 * kPi * reference.frequencyHz * t));
    }
    const double floor = kRegularisation * std::norm(measured[0]);
    table.clear();
    for (std::size_t n = 0; n < fid.size(); ++n) {
        const std::complex<double> correction =
            ideal[n] * std::conj(measured[n]) / (std::norm(measured[n]) + floor);
        fid[n] *= correction;
        table.push_back(std::to_string(n + 1) + "\t" + util::formatGeneral(correction.real()) + "\t" +
                        util::formatGeneral(correction.imag()));
    }
    return true;
}

}  // namespace velmora::processing
