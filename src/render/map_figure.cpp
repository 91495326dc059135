// The 2D map figure, laid out in pixels of the box.
#include "render/map_figure.h"

#include "processing/peaks.h"
#include "util/number_format.h"

#include <QColor>
#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <cmath>
#include <vector>

namespace velmora::render {

namespace {

const QColor kFrameColour(0, 0, 0);
const QColor kTitleColour(0, 0, 140);
constexpr int kTicksAcross = 6;
constexpr double kColourScale = 333.0;  // the map's brightness per unit of value / R, as drawMap

// 1, 2 or 5 times a power of ten, close to range / count.
double niceStep(double range, int count)
{
    const double raw = range / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double mantissa = raw / magnitude;
    return (mantissa < 1.5 ? 1.0 : mantissa < 3.5 ? 2.0 : mantissa < 7.5 ? 5.0 : 10.0) * magnitude;
}

QString numberText(double value, double step)
{
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    const std::string pattern =
        decimals == 0 ? std::string("0") : "0." + std::string(static_cast<std::size_t>(decimals), '0');
    return QString::fromStdString(util::formatPattern(std::abs(value) < step * 1e-9 ? 0.0 : value, pattern));
}

// One axis: the value v lies at pixel origin + slope v along it, over [from, to] pixels.
struct Axis {
    double origin = 0.0;
    double slope = 0.0;
    double from = 0.0;
    double to = 0.0;
};

// The round values an axis shows, with their pixel positions.
std::vector<std::pair<double, double>> ticksOf(const Axis& axis)
{
    std::vector<std::pair<double, double>> ticks;
    if (axis.slope == 0.0 || !std::isfinite(axis.slope))
        return ticks;
    const double a = (axis.from - axis.origin) / axis.slope;
    const double b = (axis.to - axis.origin) / axis.slope;
    const double low = std::min(a, b), high = std::max(a, b);
    if (!(high > low))
        return ticks;
    const double step = niceStep(high - low, kTicksAcross);
    for (double k = std::ceil(low / step); k <= std::floor(high / step); k += 1.0)
        ticks.emplace_back(k * step, axis.origin + axis.slope * k * step);
    return ticks;
}

double stepOf(const std::vector<std::pair<double, double>>& ticks)
{
    return ticks.size() > 1 ? std::abs(ticks[1].first - ticks[0].first) : 1.0;
}

QString channelName(model::Nucleus nucleus)
{
    return nucleus == model::Nucleus::H1 ? "1H" : nucleus == model::Nucleus::C13 ? "13C" : "15N";
}

}  // namespace

MapFigureLayout drawMapFigure(PictureBox& box, const processing::Map2D& map,
                              const MapFigureSettings& settings)
{
    MapFigureLayout layout;
    const int np = map.pointCount;
    if (np <= 0)
        return layout;
    const double w = box.pixelWidth();
    const double h = box.pixelHeight();
    box.setScale(0.0, 0.0, w, h);
    box.setBackColor(QColor(255, 255, 255));
    box.clear();
    box.setFontSize(std::clamp(std::min(w, h) / 70.0, 7.0, 22.0));
    const QFontMetricsF metrics(box.font(), &box.image());
    const double line = metrics.height();
    const double digits = metrics.horizontalAdvance("-0000.0");
    const double tick = line / 3.0;

    const double nucleusMHz = settings.protonFrequencyMHz *
                              std::fabs(model::nucleusConstant(settings.nucleus) / model::kProtonConstant);
    const bool ppm = nucleusMHz > 0.0;
    const double scaleWidth = line * 1.2 + 1.5 * tick + digits;
    const QRectF room(digits + 1.5 * tick + line * 0.5, 2.5 * line + (ppm ? line + tick : 0.0),
                      w - (digits + 1.5 * tick + line * 0.5) - (ppm ? digits + 1.5 * tick : line) -
                          scaleWidth - line,
                      h - 2.5 * line - (ppm ? line + tick : 0.0) - 2.2 * line - tick);
    // Whole pixels, so that the map's cells lie on the box's pixels as drawMap laid them out and
    // the cursor finds them there.
    // The square map sits in the middle of the room its box leaves it.
    const double side = std::max(1.0, std::floor(std::min(room.width(), room.height())));
    const QRectF plot(std::round(room.left() + std::max(0.0, room.width() - side) / 2.0),
                      std::round(room.top() + std::max(0.0, room.height() - side) / 2.0), side, side);
    layout.plotPixels = plot;

    PictureBox picture(static_cast<int>(side), static_cast<int>(side));
    picture.setBackColor(QColor(0, 0, 0));
    picture.clear();
    (void)drawMap(picture, map, settings.map);
    box.drawImage(plot, picture.image());
    box.setForeColor(kFrameColour);
    box.line(plot.left(), plot.top(), plot.right(), plot.top());
    box.line(plot.right(), plot.top(), plot.right(), plot.bottom());
    box.line(plot.right(), plot.bottom(), plot.left(), plot.bottom());
    box.line(plot.left(), plot.bottom(), plot.left(), plot.top());

    // Column p's centre lies at left + (p + 1/2) cell, with f2 = (np/2 - p) sw / np; row q's at
    // top + (q + 1/2) cell, with f1 = (q - np/2) sw1 / np.
    const double cell = side / np;
    const double sw = settings.axes.directWidthHz;
    const double sw1 = settings.axes.indirectWidthHz;
    layout.leftHz = processing::pointFrequencyHz(0, np, sw);
    layout.rightHz = processing::pointFrequencyHz(np - 1, np, sw);
    layout.topHz = processing::indirectFrequencyHz(0, np, sw1);
    layout.bottomHz = processing::indirectFrequencyHz(np - 1, np, sw1);
    const double directOrigin = plot.left() + (np / 2 + 0.5) * cell;
    const double indirectOrigin = plot.top() + (np / 2 + 0.5) * cell;
    const Axis f2Hz{directOrigin, sw > 0.0 ? -np / sw * cell : 0.0, plot.left(), plot.right()};
    const Axis f1Hz{indirectOrigin, sw1 > 0.0 ? np / sw1 * cell : 0.0, plot.top(), plot.bottom()};

    const auto horizontalTicks = [&](const Axis& axis, double y, double direction, const QString& title) {
        auto ticks = ticksOf(axis);
        // Labels from left to right, whichever way the values run.
        std::sort(ticks.begin(), ticks.end(),
                  [](const auto& a, const auto& b) { return a.second < b.second; });
        const double labelY = direction > 0 ? y + tick : y - tick - line;
        double occupiedTo = -1e9;
        for (const auto& [value, x] : ticks) {
            box.line(x, y, x, y + direction * tick);
            const QString text = numberText(value, stepOf(ticks));
            const double width = metrics.horizontalAdvance(text);
            if (x - width / 2 < occupiedTo + line / 2 || x + width / 2 > plot.right() + digits / 2)
                continue;
            box.text(x - width / 2, labelY, text);
            occupiedTo = x + width / 2;
        }
        const double titleY = direction > 0 ? labelY + line : labelY - line;
        box.text(plot.center().x() - metrics.horizontalAdvance(title) / 2, titleY, title);
    };
    const auto verticalTicks = [&](const Axis& axis, double x, double direction, const QString& title) {
        const auto ticks = ticksOf(axis);
        for (const auto& [value, y] : ticks) {
            box.line(x, y, x + direction * tick, y);
            const QString text = numberText(value, stepOf(ticks));
            const double width = metrics.horizontalAdvance(text);
            // A gap after the mark, so that the mark is not read as a minus sign.
            box.text(direction > 0 ? x + 1.5 * tick : x - 1.5 * tick - width, y - line / 2, text);
        }
        const double width = metrics.horizontalAdvance(title);
        box.text(direction > 0 ? x : std::max(0.0, x - width), plot.top() - (ppm ? 1.0 : 1.2) * line - tick,
                 title);
    };
    horizontalTicks(f2Hz, plot.bottom(), 1.0, "f2 (Hz)");
    if (ppm)
        horizontalTicks({f2Hz.origin, f2Hz.slope * nucleusMHz, f2Hz.from, f2Hz.to}, plot.top(), -1.0,
                        "f2 (ppm)");
    if (settings.runRows > 0) {
        // Run r's band: rows from r np / runs; its number at the band's middle, whole runs only.
        const double band = side / settings.runRows;
        const double step = std::max(1.0, std::round(niceStep(settings.runRows, kTicksAcross)));
        for (double r = 0.0; r < settings.runRows; r += step) {
            const double y = plot.top() + (r + 0.5) * band;
            box.line(plot.left(), y, plot.left() - tick, y);
            const QString text = QString::number(static_cast<int>(r));
            box.text(plot.left() - 1.5 * tick - metrics.horizontalAdvance(text), y - line / 2, text);
        }
        box.text(std::max(0.0, plot.left() - metrics.horizontalAdvance("run")),
                 plot.top() - (ppm ? 1.0 : 1.2) * line - tick, "run");
    } else {
        verticalTicks(f1Hz, plot.left(), -1.0, "f1 (Hz)");
        if (ppm)
            verticalTicks({f1Hz.origin, f1Hz.slope * nucleusMHz, f1Hz.from, f1Hz.to}, plot.right(), 1.0,
                          "f1 (ppm)");
    }

    // The colour scale: the value that reaches full brightness at the top (white) and the bottom
    // (red), black in the middle.
    const double reference = std::max(std::abs(map.maximum), std::abs(map.minimum));
    const double full = reference > 0.0 ? 255.0 * reference / (kColourScale * settings.map.gain) : 0.0;
    const double barLeft = plot.right() + (ppm ? digits + 1.5 * tick : line) + line * 0.5;
    const double barWidth = line;
    for (int y = 0; y < static_cast<int>(side); ++y) {
        const double v = 255.0 * (1.0 - 2.0 * (y + 0.5) / side);
        const int level = static_cast<int>(std::lround(std::abs(v)));
        box.setForeColor(v >= 0.0 ? QColor(level, level, level) : QColor(level, 0, 0));
        box.line(barLeft, plot.top() + y, barLeft + barWidth, plot.top() + y);
    }
    box.setForeColor(kFrameColour);
    const double step = full > 0.0 ? niceStep(2.0 * full, 4) : 1.0;
    for (const double value : {full, 0.0, -full}) {
        const double y = plot.top() + side * (0.5 - value / (2.0 * (full > 0.0 ? full : 1.0)));
        box.line(barLeft + barWidth, y, barLeft + barWidth + tick, y);
        box.text(barLeft + barWidth + 1.5 * tick, std::clamp(y - line / 2, 0.0, h - line),
                 numberText(value, step / 10.0));
    }
    box.text(barLeft, plot.bottom() + tick, "scale");

    box.setForeColor(kTitleColour);
    const QString title =
        (settings.runRows > 0 ? "vector evolution, " : "2D map, ") + channelName(settings.nucleus) + " channel";
    box.text(std::max(0.0, plot.center().x() - metrics.horizontalAdvance(title) / 2), 0.0, title);
    box.setForeColor(kFrameColour);
    layout.drawn = true;
    return layout;
}

std::optional<MapCursor> mapFigureCursor(const MapFigureLayout& layout, QPointF pixel, int pointCount,
                                         const MapAxes& axes)
{
    if (!layout.drawn)
        return std::nullopt;
    const QRectF& plot = layout.plotPixels;
    const QSize plotSize(static_cast<int>(plot.width()), static_cast<int>(plot.height()));
    return mapCursor(plotSize, pixel - plot.topLeft(), pointCount, axes);
}

}  // namespace velmora::render
