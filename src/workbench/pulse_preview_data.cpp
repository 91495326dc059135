#include "workbench/pulse_preview_data.h"

#include "util/text_compare.h"

#include <algorithm>
#include <cmath>

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
    double widestHz = 0.0;
    double amplitudeSum = 0.0;
    int carrying = 0;  // elements with RF
    for (int p = 1; p <= count; ++p) {
        const auto& point = table.points[static_cast<std::size_t>(p)];
        const double stepDeg =
            p == 1 ? 0.0 : wrapDegrees(point[0] - table.points[static_cast<std::size_t>(p) - 1][0]);
        const double hz = stepDeg / 360.0 / (elementUs * 1.0e-6);
        data.timeUs.push_back((p - 0.5) * elementUs);
        data.amplitude.push_back(point[1] / pulses::kFullPulseAmplitude);
        data.phaseDeg.push_back(wrapDegrees(point[0]));
        data.frequencyHz.push_back(hz);
        if (point[1] > 0.0) {
            widestHz = std::max(widestHz, std::abs(hz));
            ++carrying;
        }
        amplitudeSum += point[1] / pulses::kFullPulseAmplitude;
    }

    // The first element has no previous one: it shows its successor's frequency.
    if (count > 1)
        data.frequencyHz[0] = data.frequencyHz[1];

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
