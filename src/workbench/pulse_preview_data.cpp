#include "workbench/pulse_preview_data.h"

#include "util/text_compare.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace velmora::workbench {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kAdiabaticity = 5.0;

double wrapDegrees(double degrees)
{
    return std::remainder(degrees, 360.0);
}

}  // namespace

PulsePreviewData pulsePreviewData(const MadePulse& made, int profilePoints)
{
    PulsePreviewData data;
    data.lengthUs = kPreviewLengthUs;
    const pulses::ShapeTable& table = made.pulse.table;
    const int count = table.pointCount();
    if (count == 0)
        return data;
    const double elementUs = kPreviewLengthUs / count;
    // A filler element ("0 0 1", before and after the pulse and closing a Frank pass) has no phase
    // of the pulse: a step into or out of one is no frequency of it. Left in, such a step reaches
    // the element rate's limit (half a turn per element), squashes the sweep in the plot and widens
    // the profile and the drive of a swept pulse. Those elements, and the first, which has no
    // previous one, show the frequency of the element before them (the first one after).
    const auto isFiller = [&](int p) {
        const auto& point = table.points[static_cast<std::size_t>(p)];
        return point[0] == 0.0 && point[1] == 0.0;
    };
    std::vector<std::optional<double>> stepHz(static_cast<std::size_t>(count));
    for (int p = 2; p <= count; ++p) {
        if (isFiller(p) || isFiller(p - 1))
            continue;
        const double stepDeg = wrapDegrees(table.points[static_cast<std::size_t>(p)][0] -
                                           table.points[static_cast<std::size_t>(p) - 1][0]);
        stepHz[static_cast<std::size_t>(p - 1)] = stepDeg / 360.0 / (elementUs * 1.0e-6);
    }
    const auto firstDefined =
        std::find_if(stepHz.begin(), stepHz.end(), [](const auto& hz) { return hz.has_value(); });
    double shownHz = firstDefined == stepHz.end() ? 0.0 : **firstDefined;

    double widestHz = 0.0;
    double amplitudeSum = 0.0;
    int carrying = 0;  // elements with RF
    for (int p = 1; p <= count; ++p) {
        const auto& point = table.points[static_cast<std::size_t>(p)];
        shownHz = stepHz[static_cast<std::size_t>(p - 1)].value_or(shownHz);
        data.timeUs.push_back((p - 0.5) * elementUs);
        data.amplitude.push_back(point[1] / pulses::kFullPulseAmplitude);
        data.phaseDeg.push_back(wrapDegrees(point[0]));
        data.frequencyHz.push_back(shownHz);
        if (point[1] > 0.0) {
            widestHz = std::max(widestHz, std::abs(shownHz));
            ++carrying;
        }
        amplitudeSum += point[1] / pulses::kFullPulseAmplitude;
    }

    const double seconds = kPreviewLengthUs * 1.0e-6;
    const bool swept = util::equalsIgnoreCase(made.settings.shape, pulses::kShapeHsn) ||
                       util::equalsIgnoreCase(made.settings.shape, pulses::kShapeStripe);
    if (swept) {
        // HSn sweep: d(omega)/dt at the centre is 2 pi x band x beta / T. Gaps thin the field the
        // spins feel by the share of elements carrying RF, so the peak makes up for it.
        const double t = made.settings.truncation;
        const double beta = std::log(1.0 / t + std::sqrt(1.0 / (t * t) - 1.0));
        const double omega =
            std::sqrt(kAdiabaticity * 2.0 * kPi * (2.0 * widestHz) * std::max(beta, 1.0) / seconds);
        data.peakNutationHz = omega / (2.0 * kPi) * count / std::max(carrying, 1);
    } else {
        const double meanAmplitude = std::max(amplitudeSum / count, 1.0e-3);
        data.peakNutationHz = 0.25 / (seconds * meanAmplitude);
    }
    const double spanHz = std::max(5.0 * widestHz, 10.0 / seconds);
    const std::vector<double> offsets = engine::offsetsAcross(spanHz, profilePoints);
    data.profile = engine::excitationProfile(table, kPreviewLengthUs,
                                             engine::powerForNutationHz(data.peakNutationHz), offsets);
    return data;
}

}  // namespace velmora::workbench
