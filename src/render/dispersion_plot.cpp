#include "render/dispersion_plot.h"

#include "exchange/carver_richards.h"
#include "render/trace_plot.h"
#include "util/number_format.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace velmora::render {

namespace {

using model::ExchangeSettings;

constexpr double kTwoPi = 6.28318530717958;
constexpr int kFitSamples = 120;
// Margins around the plotting area, pixels: room for the tick labels and the axis titles.
constexpr double kLeftPx = 64, kRightPx = 16, kTopPx = 16, kBottomPx = 44;

struct Range {
    double low = 0, high = 1;
};

Range rangeOf(const std::vector<DispersionCurve>& curves, bool horizontal)
{
    double low = INFINITY, high = -INFINITY;
    for (const DispersionCurve& c : curves) {
        for (std::size_t k = 0; k < c.x.size(); ++k) {
            const double lo = horizontal ? c.x[k] : c.r2eff[k] - c.error[k];
            const double hi = horizontal ? c.x[k] : c.r2eff[k] + c.error[k];
            if (std::isfinite(lo) && std::isfinite(hi)) {
                low = std::min(low, lo);
                high = std::max(high, hi);
            }
        }
        for (std::size_t k = 0; !horizontal && k < c.fitR2eff.size(); ++k) {
            low = std::min(low, c.fitR2eff[k]);
            high = std::max(high, c.fitR2eff[k]);
        }
    }
    if (!std::isfinite(low))
        return {};
    if (!horizontal)
        low = std::min(low, 0.0);
    const double pad = high > low ? 0.05 * (high - low) : std::max(std::abs(high), 1.0) * 0.5;
    return {low - (horizontal ? pad : 0), high + pad};
}

// A step of 1, 2 or 5 times a power of ten giving about five ticks over the range.
double tickStep(const Range& r)
{
    const double raw = (r.high - r.low) / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw)
            return m * power;
    }
    return 10 * power;
}

}  // namespace

DispersionPlotData dispersionPlotData(const exchange::PreparedDispersion& prepared,
                                      const exchange::DispersionResults& results)
{
    const exchange::SweptParameter& first = prepared.first;
    const exchange::SweptParameter& second = prepared.second;
    const bool secondIsTcp = first.name != "tcp" && second.name == "tcp" && second.valueCount >= 2;
    const bool alongTcp = (first.name == "tcp" && first.valueCount >= 2) || secondIsTcp;
    const exchange::SweptParameter& along = secondIsTcp ? second : first;
    const exchange::SweptParameter& across = secondIsTcp ? first : second;

    DispersionPlotData data;
    data.xTitle = alongTcp ? "nu_CPMG, Hz" : first.name;
    for (int line = 0; line < across.valueCount; ++line) {
        DispersionCurve curve;
        const auto pointOf = [&](int k) {
            return secondIsTcp ? k * first.valueCount + line : line * first.valueCount + k;
        };
        for (int k = 0; k < along.valueCount; ++k) {
            const auto index = static_cast<std::size_t>(pointOf(k));
            if (index >= results.points.size())
                break;
            const exchange::PointResult& p = results.points[index];
            if (k == 0 && across.valueCount > 1)
                curve.label =
                    across.name + " = " + util::formatGeneral(secondIsTcp ? p.firstValue : p.secondValue);
            // A point without a rate (its signal lost in the noise, or no histories yet) is not drawn.
            if (p.histories == 0 || p.signalLost)
                continue;
            curve.x.push_back(alongTcp ? p.cpmgFrequencyHz : p.firstValue);
            curve.r2eff.push_back(p.r2effPerS);
            curve.error.push_back(p.r2effErrorPerS);
        }
        const auto firstIndex = static_cast<std::size_t>(pointOf(0));
        if (alongTcp && firstIndex < results.points.size() && results.points[firstIndex].kexCalPerS &&
            !curve.x.empty()) {
            const exchange::PointResult& p = results.points[firstIndex];
            const exchange::Values values = prepared.valuesAt(pointOf(0));
            const exchange::TwoSiteExchange fit{*p.r20CalPerS, *p.kexCalPerS, values[ExchangeSettings::Pa],
                                                kTwoPi * 2 * values[ExchangeSettings::HalfShift]};
            const auto [lo, hi] = std::minmax_element(curve.x.begin(), curve.x.end());
            for (int s = 0; s <= kFitSamples && *hi > 0; ++s) {
                const double nu = *lo + (*hi - *lo) * s / kFitSamples;
                if (nu <= 0)
                    continue;
                curve.fitX.push_back(nu);
                curve.fitR2eff.push_back(exchange::carverRichardsRate(fit, 1 / (2 * nu)));
            }
        }
        data.curves.push_back(std::move(curve));
    }
    return data;
}

void drawDispersionPlot(PictureBox& box, const DispersionPlotData& data)
{
    box.setBackColor(QColor(Qt::white));
    box.clear();
    const Range xr = rangeOf(data.curves, true);
    const Range yr = rangeOf(data.curves, false);
    const double w = box.pixelWidth(), h = box.pixelHeight();
    const double xPerPx = (xr.high - xr.low) / std::max(w - kLeftPx - kRightPx, 1.0);
    const double yPerPx = (yr.high - yr.low) / std::max(h - kTopPx - kBottomPx, 1.0);
    box.setScale(xr.low - kLeftPx * xPerPx, yr.high + kTopPx * yPerPx, w * xPerPx, -h * yPerPx);

    // Axes, ticks and their labels.
    box.setForeColor(QColor(Qt::black));
    box.setLineWidth(1);
    box.line(xr.low, yr.low, xr.high, yr.low);
    box.line(xr.low, yr.low, xr.low, yr.high);
    const QFontMetricsF metrics(box.font());
    for (const bool horizontal : {true, false}) {
        const Range& r = horizontal ? xr : yr;
        const double step = tickStep(r);
        for (double t = std::ceil(r.low / step) * step; t <= r.high + step * 1e-9; t += step) {
            const QString label =
                QString::fromStdString(util::formatGeneral(std::abs(t) < step * 1e-9 ? 0 : t));
            if (horizontal) {
                box.line(t, yr.low, t, yr.low - 4 * yPerPx);
                box.text(t - metrics.horizontalAdvance(label) / 2 * xPerPx, yr.low - 6 * yPerPx, label);
            } else {
                box.line(xr.low, t, xr.low + 4 * xPerPx, t);
                box.text(xr.low - (metrics.horizontalAdvance(label) + 6) * xPerPx,
                         t + metrics.height() / 2 * yPerPx, label);
            }
        }
    }
    const QString xTitle = QString::fromStdString(data.xTitle);
    box.text((xr.low + xr.high) / 2 - metrics.horizontalAdvance(xTitle) / 2 * xPerPx,
             yr.low - (8 + metrics.height()) * yPerPx, xTitle);
    box.text(xr.low - (kLeftPx - 4) * xPerPx, yr.high + (kTopPx - 2) * yPerPx, "R2eff, 1/s");

    for (std::size_t c = 0; c < data.curves.size(); ++c) {
        const DispersionCurve& curve = data.curves[c];
        box.setForeColor(traceColor(static_cast<int>(c)));
        box.setLineWidth(1);
        for (std::size_t k = 0; k < curve.x.size(); ++k) {
            const double x = curve.x[k], y = curve.r2eff[k], e = curve.error[k];
            box.line(x, y - e, x, y + e);
            box.line(x - 3 * xPerPx, y - e, x + 3 * xPerPx, y - e);
            box.line(x - 3 * xPerPx, y + e, x + 3 * xPerPx, y + e);
            box.filledCircle(x, y, 3 * xPerPx);
            if (k > 0 && curve.fitX.empty())
                box.line(curve.x[k - 1], curve.r2eff[k - 1], x, y);
        }
        box.setLineWidth(2);
        for (std::size_t k = 1; k < curve.fitX.size(); ++k)
            box.line(curve.fitX[k - 1], curve.fitR2eff[k - 1], curve.fitX[k], curve.fitR2eff[k]);
        if (!curve.label.empty()) {
            const double y = yr.high - (c * metrics.height() + 2) * yPerPx;
            box.text(xr.high - 150 * xPerPx, y, QString::fromStdString(curve.label));
        }
    }
}

}  // namespace velmora::render
