// The one-dimensional plot, laid out in twips of the box as the window's picture boxes are.
#include "render/spectrum_plot.h"

#include "util/number_format.h"

#include <QColor>
#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace velmora::render {

namespace {

using processing::DisplayArrays;

// The strip names: dark blue, so that they read on the white ground, ending this far from the
// right edge.
const QColor kStripNameColour(0, 0, 140);
constexpr double kStripNameFromRightTwips = 60.0;

// The overlay mode draws no line to the first points of every run.
constexpr int kFirstJoinedPointSideBySide = 14;

// Ticks: grey, small, a few pixels long, about this many across the plot.
const QColor kTickColour(150, 150, 150);
constexpr double kTickFontPoints = 6.0;
constexpr double kTickLengthPx = 4.0;
constexpr double kTickGapPx = 3.0;
constexpr int kTicksAcross = 8;

double textHeightTwips(const PictureBox& box, double twipsPerPixel)
{
    return QFontMetricsF(box.font(), &box.image()).height() * twipsPerPixel;
}

double textWidthTwips(const PictureBox& box, const QString& text, double twipsPerPixel)
{
    return QFontMetricsF(box.font(), &box.image()).horizontalAdvance(text) * twipsPerPixel;
}

// The integer part (towards zero) as the strip labels print it.
std::string integerPart(double value)
{
    return util::formatGeneral(std::trunc(value));
}

// 1, 2 or 5 times a power of ten, close to range / count.
double tickStep(double range, int count)
{
    const double raw = range / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double mantissa = raw / magnitude;
    const double factor = mantissa < 1.5 ? 1.0 : mantissa < 3.5 ? 2.0 : mantissa < 7.5 ? 5.0 : 10.0;
    return factor * magnitude;
}

// The digit pattern that shows multiples of `step` without noise digits.
std::string tickPattern(double step)
{
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    return decimals == 0 ? std::string("0") : "0." + std::string(static_cast<std::size_t>(decimals), '0');
}

// One row of ticks: the axis value v lies at x = origin + slope v (twips).
struct TickRow {
    double origin = 0.0;
    double slope = 0.0;
    QString unit;
    double markY = 0.0;        // where the marks start
    double markDirection = 0;  // +1 downwards from markY, -1 upwards
    double leftLimit = 0.0;    // labels stay inside [leftLimit, rightLimit]
    double rightLimit = 0.0;
};

// Marks and labels of a row over the visible x range [0, lastX]. The unit goes at the right
// limit; labels that would overlap it, one another or the limits are left out (their marks stay).
void drawTickRow(PictureBox& box, const TickRow& row, double lastX, double twipsPerPixel)
{
    if (row.slope == 0.0 || !std::isfinite(row.slope) || lastX <= 0.0)
        return;
    const double first = (0.0 - row.origin) / row.slope;
    const double last = (lastX - row.origin) / row.slope;
    const double low = std::min(first, last);
    const double high = std::max(first, last);
    if (!(high > low))
        return;
    const double step = tickStep(high - low, kTicksAcross);
    const std::string pattern = tickPattern(step);
    const double length = kTickLengthPx * twipsPerPixel;
    const double gap = kTickGapPx * twipsPerPixel;
    const double textHeight = textHeightTwips(box, twipsPerPixel);
    const double labelY = row.markDirection > 0 ? row.markY + length : row.markY - length - textHeight;

    const double unitWidth = textWidthTwips(box, row.unit, twipsPerPixel);
    const double unitX = row.rightLimit - unitWidth;
    box.text(unitX, labelY, row.unit);

    // Labels from left to right, whichever way the values run.
    std::vector<double> values;
    for (double k = std::ceil(low / step); k <= std::floor(high / step); k += 1.0)
        values.push_back(k * step);
    if (row.slope < 0.0)
        std::reverse(values.begin(), values.end());
    double occupiedTo = row.leftLimit - gap;
    for (const double value : values) {
        const double x = row.origin + row.slope * value;
        box.line(x, row.markY, x, row.markY + row.markDirection * length);
        const QString label = QString::fromStdString(util::formatPattern(value, pattern));
        const double width = textWidthTwips(box, label, twipsPerPixel);
        const double left = x - width / 2.0;
        if (left < occupiedTo + gap || left + width > unitX - gap)
            continue;
        box.text(left, labelY, label);
        occupiedTo = left + width;
    }
}

struct PlotGeometry {
    double width = 0.0;   // W, twips
    double strip = 0.0;   // h, twips
    double step = 0.0;    // twips per point
    int pointsShown = 0;  // "ON" mode: points 0..pointsShown-1
    double twipsPerPixel = kTwipsPerPixel;
};

// Hz (and ppm) or ms along the bottom strip, both rows in its lower part so that no label reads
// as belonging to the strip above: Hz and ms marks rise from its bottom edge with their labels
// above them; the ppm marks rise from just above the Hz labels, with their labels above them. The
// ppm row is left out when the strip is too low to hold it below the strip limits.
void drawTicks(PictureBox& box, const SpectrumAxisSettings& axis, const PlotGeometry& geometry, int np,
               double labelsRightOfTwips, double limitLabelsBottom)
{
    const double tpp = geometry.twipsPerPixel;
    const double lastX = (geometry.pointsShown - 1) * geometry.step;
    const double bottom = 3.0 * geometry.strip;
    const double gap = kTickGapPx * tpp;
    const double rowHeight = kTickLengthPx * tpp + textHeightTwips(box, tpp);
    if (axis.kind == SpectrumAxis::Frequency && axis.spectralWidthHz > 0.0) {
        // Point i lies at (np/2 - i) sw / np Hz, so the frequency F lies at i = np/2 - F np / sw.
        const double origin = np / 2 * geometry.step;
        const double slope = -np / axis.spectralWidthHz * geometry.step;
        drawTickRow(box, {origin, slope, "Hz", bottom, -1.0, 0.0, geometry.width - gap}, lastX, tpp);
        const double ratio = std::fabs(model::nucleusConstant(axis.nucleus) / model::kProtonConstant);
        const double nucleusMHz = axis.protonFrequencyMHz * ratio;
        const double ppmMarks = bottom - rowHeight - gap;
        if (nucleusMHz > 0.0 && ppmMarks - rowHeight >= limitLabelsBottom)
            drawTickRow(box,
                        {origin, slope * nucleusMHz, "ppm", ppmMarks, -1.0, labelsRightOfTwips + gap,
                         geometry.width - gap},
                        lastX, tpp);
    } else if (axis.kind == SpectrumAxis::Time && axis.acquisitionTimeMs > 0.0) {
        const double slope = np / axis.acquisitionTimeMs * geometry.step;
        drawTickRow(box, {0.0, slope, "ms", bottom, -1.0, 0.0, geometry.width - gap}, lastX, tpp);
    }
}

}  // namespace

SpectrumPlotLayout drawSpectrumPlot(PictureBox& box, const DisplayArrays& display,
                                    const SpectrumPlotSettings& settings)
{
    SpectrumPlotLayout layout;
    const int np = display.pointCount();
    if (display.empty() || np <= 0 || display.lastRun() < 0)
        return layout;

    // The runs drawn: 0..m.
    const int m =
        settings.pulseView ? 0 : std::clamp(std::min(settings.run, settings.arraySize), 0, display.lastRun());
    double largest = 0.0;
    for (int run = 0; run <= m; ++run)
        for (int part = 0; part < DisplayArrays::kParts; ++part)
            for (int i = 0; i < np; ++i)
                largest = std::max(largest, std::fabs(display.at(run, part, i)));
    for (StripLimits& strip : layout.strips) {
        strip.top = largest;
        strip.bottom = -largest;
        if (strip.top == strip.bottom) {
            strip.top = strip.bottom + 1.0;
            strip.bottom = strip.top - 2.0;
        }
    }

    const double tpp = settings.twipsPerPixel > 0.0 ? settings.twipsPerPixel : kTwipsPerPixel;
    const QColor savedColour = box.foreColor();
    const int savedWidth = box.lineWidth();
    const double savedFont = box.fontSize();
    // Texts keep their size relative to the plot when the picture is drawn larger than the window's.
    const double fontScale = kTwipsPerPixel / tpp;
    box.setFontSize(savedFont * fontScale);
    const double width = box.pixelWidth() * tpp;
    const double height = box.pixelHeight() * tpp;
    const double h = std::floor(height / 3.0);
    box.setScale(0.0, 0.0, width, height);
    box.clear();
    box.setLineWidth(1);
    box.setForeColor(QColor(255, 0, 0));
    box.line(0.0, h, width, h);
    box.line(0.0, 2.0 * h, width, 2.0 * h);

    const double zoomX = settings.horizontalZoom > 0.0 ? settings.horizontalZoom : 1.0;
    const double zoomY = settings.verticalZoom;
    PlotGeometry geometry{width, h, 0.0, 0, tpp};

    // Strip labels: the top's integer part at the upper left, the bottom's below it.
    const auto labelText = [&](int c, bool top) {
        return QString::fromStdString(integerPart(top ? layout.strips[c].top : layout.strips[c].bottom));
    };

    if (settings.overlay) {
        geometry.step = zoomX * width / np / 1.01;
        const double shown = np / zoomX - 1.0;  // the last index drawn, as a bound
        geometry.pointsShown = static_cast<int>(std::min<double>(np, std::floor(shown) + 1.0));
        if (settings.axis.kind != SpectrumAxis::None) {
            box.setForeColor(kTickColour);
            const double labelsRight = std::max(textWidthTwips(box, labelText(2, true), tpp),
                                                textWidthTwips(box, labelText(2, false), tpp));
            // The bottom strip's limits take two lines at its top.
            const double limitLabelsBottom = 2.0 * h + 2.0 * textHeightTwips(box, tpp);
            box.setFontSize(kTickFontPoints * fontScale);
            drawTicks(box, settings.axis, geometry, np, labelsRight, limitLabelsBottom);
            box.setFontSize(savedFont * fontScale);
        }
        box.setForeColor(QColor(0, 0, 0));
        for (int c = 0; c < DisplayArrays::kParts; ++c) {
            const StripLimits& strip = layout.strips[c];
            const double fc = h / (strip.top - strip.bottom);
            const double stripTop = c * h;
            const double stripBottom = (c + 1) * h;
            double lastX = 0.0;
            double lastY = 0.0;
            for (int i = 0; i < geometry.pointsShown; ++i) {
                const double v = display.at(m, c, i);
                double y =
                    (strip.top - zoomY * (v - settings.baselinePercent * strip.top / 100.0)) * fc + stripTop;
                y = std::clamp(y, stripTop, stripBottom);
                const double x = i * geometry.step;
                if (i > 0)
                    box.line(lastX, lastY, x, y);
                lastX = x;
                lastY = y;
            }
        }
    } else {
        geometry.step = zoomX * width / np / 1.01 / (m + 1);
        box.setForeColor(QColor(0, 0, 0));
        for (int c = 0; c < DisplayArrays::kParts; ++c) {
            const StripLimits& strip = layout.strips[c];
            const double fc = h / (strip.top - strip.bottom);
            double lastX = 0.0;
            double lastY = 0.0;
            for (int run = 0; run <= m; ++run) {
                for (int i = 0; i < np; ++i) {
                    const double x = (static_cast<double>(run) * np + i) * geometry.step;
                    const double y = (strip.top - zoomY * display.at(run, c, i)) * fc + c * h;
                    if (i >= kFirstJoinedPointSideBySide)
                        box.line(lastX, lastY, x, y);
                    lastX = x;
                    lastY = y;
                }
            }
        }
    }

    const double lineHeight = textHeightTwips(box, tpp);
    if (!settings.title.empty()) {
        const QString title = QString::fromStdString(settings.title);
        box.setForeColor(kStripNameColour);
        box.text((width - textWidthTwips(box, title, tpp)) / 2.0, 0.0, title);
    }
    for (int c = 0; c < DisplayArrays::kParts; ++c) {
        box.setForeColor(QColor(0, 0, 0));
        box.text(0.0, c * h, labelText(c, true));
        box.text(0.0, c * h + lineHeight, labelText(c, false));
        box.setForeColor(kStripNameColour);
        const QString name = QString::fromStdString(settings.stripNames[static_cast<std::size_t>(c)]);
        box.text(width - kStripNameFromRightTwips - textWidthTwips(box, name, tpp), c * h, name);
    }

    box.setForeColor(savedColour);
    box.setLineWidth(savedWidth);
    box.setFontSize(savedFont);
    layout.drawn = true;
    layout.shownRun = m;
    layout.widthTwips = width;
    layout.stripHeightTwips = h;
    layout.twipsPerPixel = tpp;
    layout.pointStepTwips = geometry.step;
    layout.pointCount = np;
    layout.axis = settings.axis;
    return layout;
}

SpectrumReadout spectrumReadout(const SpectrumPlotLayout& layout, QPointF pixel)
{
    SpectrumReadout readout;
    if (!layout.drawn || layout.stripHeightTwips <= 0.0 || layout.widthTwips <= 0.0)
        return readout;
    const double x = pixel.x() * layout.twipsPerPixel;
    const double y = pixel.y() * layout.twipsPerPixel;
    const double h = layout.stripHeightTwips;
    const int c = std::clamp(static_cast<int>(std::floor(y / h)), 0, DisplayArrays::kParts - 1);
    const StripLimits& strip = layout.strips[static_cast<std::size_t>(c)];
    const double value = strip.top - (y - c * h) / h * (strip.top - strip.bottom);
    readout.amplitude = util::formatGeneral(std::trunc(100.0 * value) / 100.0);

    const int np = layout.pointCount;
    if (np <= 0 || layout.pointStepTwips <= 0.0)
        return readout;
    // The ticks place point i at (np/2 - i) sw / np Hz (np/2 in whole points) or i at / np ms.
    const double i = std::fmod(x / layout.pointStepTwips, static_cast<double>(np));
    const double zero = static_cast<double>(np / 2);
    const double hz = (zero - i) * layout.axis.spectralWidthHz / np;
    const double ms = i * layout.axis.acquisitionTimeMs / np;
    if (layout.axis.kind == SpectrumAxis::Frequency)
        readout.abscissa = util::formatGeneral(std::round(hz) + 0.0) + "Hz";
    else if (layout.axis.kind == SpectrumAxis::Time)
        readout.abscissa = util::formatGeneral(std::round(1000.0 * ms) / 1000.0 + 0.0) + "ms";
    return readout;
}

}  // namespace velmora::render
