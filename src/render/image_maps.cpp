// Drawing of the image window's slice, maps, colour scales and signal plot.
#include "render/image_maps.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace velmora::render {

QImage sliceGreyImage(const imagefit::ImageSeries& series, const imagefit::MapGeometry& geometry,
                      int sliceFromZero, int image, double threshold, double gain)
{
    QImage picture(std::max(1, geometry.columns), std::max(1, geometry.rows), QImage::Format_RGB32);
    picture.fill(Qt::black);
    if (series.images() == 0 || image < 0 || image >= series.images() || sliceFromZero < 0 ||
        sliceFromZero >= geometry.slices)
        return picture;
    const double span = series.largestValue - threshold;
    for (int r = 0; r < geometry.rows; ++r) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(r));
        for (int c = 0; c < geometry.columns; ++c) {
            int x = 0, y = 0, z = 0;
            geometry.voxel(r, c, sliceFromZero, x, y, z);
            const double level =
                span > 0.0 ? (series.at(x, y, z, image) - threshold) * 512.0 / span * gain : 0.0;
            if (!(level >= 5e-9))
                continue;
            const int grey = static_cast<int>(std::min(level, 255.0));
            line[c] = qRgb(grey, grey, grey);
        }
    }
    return picture;
}

QColor mapColour(double fraction)
{
    const double f = std::clamp(fraction, 0.0, 1.0);
    // Piecewise linear through five colours at 0, 1/4, 1/2, 3/4 and 1.
    static const int stops[5][3] = {{0, 0, 96}, {0, 64, 255}, {0, 224, 224}, {255, 224, 0}, {224, 0, 0}};
    const double position = f * 4.0;
    const int k = std::min(3, static_cast<int>(position));
    const double t = position - k;
    auto mix = [&](int channel) {
        return static_cast<int>(
            std::lround(stops[k][channel] + t * (stops[k + 1][channel] - stops[k][channel])));
    };
    return QColor(mix(0), mix(1), mix(2));
}

QImage mapColourImage(const imagefit::FitMaps& maps, const std::vector<double>& values, double low,
                      double high)
{
    QImage picture(std::max(1, maps.columns), std::max(1, maps.rows), QImage::Format_RGB32);
    picture.fill(Qt::black);
    const double span = high > low ? high - low : 1.0;
    for (int r = 0; r < maps.rows; ++r) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(r));
        for (int c = 0; c < maps.columns; ++c) {
            if (maps.fitted(r, c))
                line[c] = mapColour((values[maps.index(r, c)] - low) / span).rgb();
        }
    }
    return picture;
}

void fittedRange(const imagefit::FitMaps& maps, const std::vector<double>& values, double& low, double& high)
{
    low = 0.0;
    high = 1.0;
    bool any = false;
    for (std::size_t p = 0; p < values.size() && p < maps.b1.size(); ++p) {
        if (maps.b1[p] == imagefit::kUnfittedB1 || !std::isfinite(values[p]))
            continue;
        low = any ? std::min(low, values[p]) : values[p];
        high = any ? std::max(high, values[p]) : values[p];
        any = true;
    }
    if (!any || !(high > low)) {
        low = any ? low - 0.5 : 0.0;
        high = low + 1.0;
    }
}

QImage colourScale(int width, int height, double low, double high, const QString& unit)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    const int bar = std::max(4, width / 4);
    const int top = 14;
    const int bottom = height - 14;
    for (int y = top; y <= bottom; ++y) {
        painter.setPen(mapColour(static_cast<double>(bottom - y) / std::max(1, bottom - top)));
        painter.drawLine(0, y, bar, y);
    }
    painter.setPen(Qt::black);
    QFont font = painter.font();
    font.setPointSizeF(7.0);
    painter.setFont(font);
    painter.drawText(bar + 3, top + 4, QString::number(high, 'g', 4));
    painter.drawText(bar + 3, bottom + 4, QString::number(low, 'g', 4));
    painter.drawText(bar + 3, (top + bottom) / 2 + 4, unit);
    return picture;
}

QImage signalPlot(const std::vector<double>& anglesDeg, const std::vector<double>& measured,
                  const std::vector<std::function<double(double)>>& models, int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const double largestAngle =
        anglesDeg.empty() ? 30.0 : *std::max_element(anglesDeg.begin(), anglesDeg.end());
    const double angleSpan = 1.2 * largestAngle;
    // The scale comes from the finite values: one infinite signal (a damaged voxel) would put
    // every other mark on the axis.
    double top = 0.0;
    for (double s : measured)
        top = std::isfinite(s) ? std::max(top, s) : top;
    for (const auto& model : models) {
        for (int k = 0; k <= 50; ++k) {
            const double value = model(angleSpan * k / 50.0);
            top = std::isfinite(value) ? std::max(top, value) : top;
        }
    }
    top = top > 0.0 ? 1.15 * top : 1.0;
    const int left = 30, right = width - 8, upper = 8, lower = height - 20;
    auto px = [&](double angle) { return left + (right - left) * angle / angleSpan; };
    auto py = [&](double value) { return lower - (lower - upper) * value / top; };
    painter.setPen(Qt::black);
    painter.drawLine(left, lower, right, lower);
    painter.drawLine(left, lower, left, upper);
    QFont font = painter.font();
    font.setPointSizeF(7.0);
    painter.setFont(font);
    painter.drawText(right - 60, height - 4, "flip angle (deg)");
    painter.drawText(2, upper + 8, QString::number(top, 'g', 3));
    painter.drawText(left - 4, height - 4, "0");
    for (const auto& model : models) {
        QPainterPath curve;
        for (int k = 0; k <= 100; ++k) {
            const double angle = angleSpan * k / 100.0;
            const QPointF point(px(angle), py(model(angle)));
            if (k == 0)
                curve.moveTo(point);
            else
                curve.lineTo(point);
        }
        painter.setPen(QPen(QColor(200, 0, 0), 1.5));
        painter.drawPath(curve);
    }
    painter.setPen(QColor(0, 0, 160));
    font.setPointSizeF(11.0);
    painter.setFont(font);
    for (std::size_t i = 0; i < anglesDeg.size() && i < measured.size(); ++i) {
        if (std::isfinite(measured[i]))
            painter.drawText(QRectF(px(anglesDeg[i]) - 6, py(measured[i]) - 6, 12, 12), Qt::AlignCenter, "*");
    }
    return picture;
}

}  // namespace velmora::render
