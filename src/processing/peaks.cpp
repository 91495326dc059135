#include "processing/peaks.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace velmora::processing {

namespace {

// A line is at least this fraction of the tallest one.
constexpr double kSmallestLineFraction = 0.01;
// A line stands this many times above the median size of all points (the noise floor and the
// baseline between the lines).
constexpr double kNoiseFactor = 5.0;

}  // namespace

double pointFrequencyHz(int point, int pointCount, double spectralWidthHz)
{
    return (pointCount / 2 - point) * spectralWidthHz / pointCount;
}

double indirectFrequencyHz(int row, int pointCount, double indirectWidthHz)
{
    return (row - pointCount / 2) * indirectWidthHz / pointCount;
}

double peakThreshold(std::span<const double> values)
{
    std::vector<double> sizes(values.size());
    std::transform(values.begin(), values.end(), sizes.begin(), [](double v) { return std::abs(v); });
    if (sizes.empty())
        return 0.0;
    const double largest = *std::max_element(sizes.begin(), sizes.end());
    const double edges = std::max(sizes.front(), sizes.back());
    const auto middle = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
    std::nth_element(sizes.begin(), middle, sizes.end());
    return std::max({kSmallestLineFraction * largest, kNoiseFactor * *middle, edges});
}

std::vector<SpectrumPeak> strongestPeaks(std::span<const double> values, double spectralWidthHz, int count)
{
    const int np = static_cast<int>(values.size());
    const double threshold = peakThreshold(values);
    std::vector<SpectrumPeak> peaks;
    const auto size = [&](int i) { return std::abs(values[static_cast<std::size_t>(i)]); };
    // The end points have one neighbour only and are never lines: a line needs both flanks.
    for (int i = 1; i + 1 < np; ++i) {
        const double v = size(i);
        if (v > threshold && v > size(i - 1) && v >= size(i + 1))
            peaks.push_back(
                {i, pointFrequencyHz(i, np, spectralWidthHz), values[static_cast<std::size_t>(i)]});
    }
    std::stable_sort(peaks.begin(), peaks.end(), [](const SpectrumPeak& a, const SpectrumPeak& b) {
        return std::abs(a.height) > std::abs(b.height);
    });
    if (static_cast<int>(peaks.size()) > count)
        peaks.resize(static_cast<std::size_t>(count));
    return peaks;
}

std::vector<MapPeak> strongestMapPeaks(const Map2D& map, double directWidthHz, double indirectWidthHz,
                                       int count)
{
    const int np = map.pointCount;
    const double largest = std::max(std::abs(map.maximum), std::abs(map.minimum));
    std::vector<MapPeak> peaks;
    if (np < 3 || largest == 0.0)
        return peaks;
    const double tolerance = 2.0 * std::max(directWidthHz, indirectWidthHz) / np;
    for (int q = 0; q < np; ++q) {
        for (int p = 0; p < np; ++p) {
            const double v = std::abs(map.at(q, p));
            if (v < 0.05 * largest)
                continue;
            bool extremum = true;
            for (int dq = -1; dq <= 1 && extremum; ++dq)
                for (int dp = -1; dp <= 1 && extremum; ++dp) {
                    const int qq = q + dq, pp = p + dp;
                    if ((dq != 0 || dp != 0) && qq >= 0 && qq < np && pp >= 0 && pp < np)
                        extremum = v > std::abs(map.at(qq, pp)) ||
                                   (v == std::abs(map.at(qq, pp)) && (dq > 0 || (dq == 0 && dp > 0)));
                }
            if (!extremum)
                continue;
            MapPeak peak{q,
                         p,
                         indirectFrequencyHz(q, np, indirectWidthHz),
                         pointFrequencyHz(p, np, directWidthHz),
                         map.at(q, p),
                         false};
            peak.diagonal = std::abs(peak.indirectHz - peak.directHz) <= tolerance;
            peaks.push_back(peak);
        }
    }
    std::stable_sort(peaks.begin(), peaks.end(), [](const MapPeak& a, const MapPeak& b) {
        return std::abs(a.height) > std::abs(b.height);
    });
    if (static_cast<int>(peaks.size()) > count)
        peaks.resize(static_cast<std::size_t>(count));
    return peaks;
}

}  // namespace velmora::processing
