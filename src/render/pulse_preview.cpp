#include "render/pulse_preview.h"

#include "util/number_format.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace velmora::render {

namespace {

struct PanelRect {
    double leftPx;
    double topPx;
    double widthPx;
    double heightPx;
};

// Maps x0..x1, y0..y1 (y upwards) onto the panel's rectangle inside a margin for the captions.
void setPanelScale(PictureBox& box, const PanelRect& panel, double x0, double x1, double y0, double y1)
{
    constexpr double kMarginPx = 18.0;
    const double innerLeft = panel.leftPx + kMarginPx;
    const double innerTop = panel.topPx + kMarginPx;
    const double innerWidth = panel.widthPx - 2.0 * kMarginPx;
    const double innerHeight = panel.heightPx - 2.0 * kMarginPx;
    const double unitsPerPxX = (x1 - x0) / innerWidth;
    const double unitsPerPxY = (y1 - y0) / innerHeight;
    box.setScale(x0 - innerLeft * unitsPerPxX, y1 + innerTop * unitsPerPxY, box.pixelWidth() * unitsPerPxX,
                 -box.pixelHeight() * unitsPerPxY);
}

std::pair<double, double> rangeOf(std::span<const double> values)
{
    if (values.empty())
        return {-1.0, 1.0};
    auto [low, high] = std::minmax_element(values.begin(), values.end());
    double a = *low;
    double b = *high;
    if (!(b - a > 1e-12)) {
        a -= 1.0;
        b += 1.0;
    }
    const double pad = (b - a) * 0.05;
    return {a - pad, b + pad};
}

void curve(PictureBox& box, std::span<const double> x, std::span<const double> y)
{
    for (std::size_t k = 1; k < x.size() && k < y.size(); ++k)
        box.line(x[k - 1], y[k - 1], x[k], y[k]);
}

// A frame, a zero line, the caption and the range of one panel; the scale stays set for its curves.
void panel(PictureBox& box, const PanelRect& rect, const QString& caption, std::span<const double> x,
           std::pair<double, double> yRange)
{
    const auto [x0, x1] = rangeOf(x);
    setPanelScale(box, rect, x0, x1, yRange.first, yRange.second);
    box.setForeColor(0xC0C0C0);
    box.setLineWidth(1);
    box.line(x0, yRange.first, x1, yRange.first);
    box.line(x0, yRange.second, x1, yRange.second);
    box.line(x0, yRange.first, x0, yRange.second);
    box.line(x1, yRange.first, x1, yRange.second);
    if (yRange.first < 0.0 && yRange.second > 0.0)
        box.line(x0, 0.0, x1, 0.0);
    box.setForeColor(kPreviewTraceRgb);
    const QPointF corner = box.toUser({rect.leftPx + 4.0, rect.topPx + 2.0});
    const auto span = [](double a, double b) {
        return util::formatPattern(a, "0.00") + " .. " + util::formatPattern(b, "0.00");
    };
    box.text(corner.x(), corner.y(),
             caption +
                 QString::fromStdString("   y " + span(yRange.first, yRange.second) + ", x " + span(x0, x1)));
}

}  // namespace

void drawPulsePreview(PictureBox& box, const workbench::PulsePreviewData& data)
{
    box.clear();
    box.setFontSize(7.0);
    const double w = box.pixelWidth() / 2.0;
    const double h = box.pixelHeight() / 2.0;
    const PanelRect amplitude{0.0, 0.0, w, h};
    const PanelRect phase{w, 0.0, w, h};
    const PanelRect frequency{0.0, h, w, h};
    const PanelRect profile{w, h, w, h};

    std::vector<double> timeMs;
    for (const double t : data.timeUs)
        timeMs.push_back(t / 1000.0);
    panel(box, amplitude, "amplitude vs time, ms", timeMs, {0.0, 1.05});
    curve(box, timeMs, data.amplitude);
    panel(box, phase, "phase, degree", timeMs, {-190.0, 190.0});
    for (std::size_t k = 0; k < timeMs.size(); ++k)
        box.point(timeMs[k], data.phaseDeg[k]);
    std::vector<double> frequencyKHz;
    for (const double f : data.frequencyHz)
        frequencyKHz.push_back(f / 1000.0);
    panel(box, frequency, "frequency, kHz", timeMs, rangeOf(frequencyKHz));
    curve(box, timeMs, frequencyKHz);

    std::vector<double> offsetKHz;
    std::vector<double> z;
    std::vector<double> xy;
    for (const engine::ProfilePoint& p : data.profile) {
        offsetKHz.push_back(p.offsetHz / 1000.0);
        z.push_back(p.mz);
        xy.push_back(std::hypot(p.mx, p.my));
    }
    panel(box, profile, "profile: Mz (blue), |Mxy| (red) vs offset, kHz", offsetKHz, {-1.05, 1.05});
    box.setLineWidth(2);
    box.setForeColor(kPreviewZRgb);
    curve(box, offsetKHz, z);
    box.setForeColor(kPreviewXyRgb);
    curve(box, offsetKHz, xy);
    box.setLineWidth(1);
}

}  // namespace velmora::render
