// The 2D map picture, its cross-sections and the cursor over it.
#include "render/map_plot.h"

#include "processing/peaks.h"
#include "util/number_format.h"
#include "util/rounding.h"

#include <QColor>
#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <cmath>
#include <vector>

namespace velmora::render {

namespace {

using processing::Map2D;

constexpr double kMapColourScale = 333.0;
constexpr double kLargestColourArgument = 32000.0;

// The pixels whose centres lie in [start, end) of an axis of `pixels` pixels over `cells` cells:
// the first and one past the last. A cell narrower than a pixel that holds no pixel centre gets the
// pixel that holds its own centre.
struct PixelSpan {
    int first = 0;
    int end = 0;
};

std::vector<PixelSpan> cellSpans(int cells, int pixels)
{
    std::vector<PixelSpan> spans(static_cast<std::size_t>(cells));
    const double perCell = static_cast<double>(pixels) / cells;
    for (int k = 0; k < cells; ++k) {
        PixelSpan span{static_cast<int>(std::ceil(k * perCell - 0.5)),
                       static_cast<int>(std::ceil((k + 1) * perCell - 0.5))};
        if (span.end <= span.first) {
            span.first = std::min(static_cast<int>(std::floor((k + 0.5) * perCell)), pixels - 1);
            span.end = span.first + 1;
        }
        spans[static_cast<std::size_t>(k)] = span;
    }
    return spans;
}

// The two decimals the section labels keep.
QString cutToHundredths(double value)
{
    return QString::fromStdString(util::formatGeneral(std::trunc(100.0 * value) / 100.0));
}

// One section: `valueAt(j)` for the map indices j = np-1 (left) down to 0 (right).
template <typename ValueAt>
bool drawSection(PictureBox& box, const Map2D& map, const MapPlotSettings& settings, ValueAt valueAt)
{
    const int np = map.pointCount;
    const double mx = map.maximum;
    const double mn = map.minimum;
    if (np <= 0 || !(mx != mn))
        return false;
    const double tpp = settings.twipsPerPixel > 0.0 ? settings.twipsPerPixel : kTwipsPerPixel;
    const double width = box.pixelWidth() * tpp;
    const double height = box.pixelHeight() * tpp;
    const QColor savedColour = box.foreColor();
    const int savedWidth = box.lineWidth();
    box.setScale(0.0, 0.0, width, height);
    box.setBackColor(QColor(255, 255, 255));
    box.clear();
    box.setLineWidth(1);
    box.setForeColor(QColor(0, 0, 0));

    const double interval = np > 1 ? width / (np - 1) : 0.0;
    double lastX = 0.0;
    double lastY = 0.0;
    for (int k = 0; k < np; ++k) {
        const int index = np - 1 - k;
        const double x = k * interval;
        const double y = (mx - settings.gain * valueAt(index)) * height / (mx - mn);
        if (k == 0)
            box.point(x, y);
        else
            box.line(lastX, lastY, x, y);
        lastX = x;
        lastY = y;
    }
    const double textHeight = QFontMetricsF(box.font(), &box.image()).height() * tpp;
    box.text(0.0, 0.0, cutToHundredths(mx));
    box.text(0.0, height - textHeight, cutToHundredths(mn));
    if (!settings.title.empty()) {
        const QString title = QString::fromStdString(settings.title);
        box.setForeColor(QColor(0, 0, 140));
        box.text((width - QFontMetricsF(box.font(), &box.image()).horizontalAdvance(title) * tpp) / 2.0, 0.0, title);
    }
    box.setForeColor(savedColour);
    box.setLineWidth(savedWidth);
    return true;
}

}  // namespace

bool drawMap(PictureBox& box, const Map2D& map, const MapPlotSettings& settings)
{
    const int np = map.pointCount;
    if (np <= 0 || map.values.size() < static_cast<std::size_t>(np) * static_cast<std::size_t>(np))
        return false;
    const double reference = std::max(std::fabs(map.maximum), std::fabs(map.minimum));
    if (reference == 0.0)
        return false;

    const QColor savedColour = box.foreColor();
    const int savedWidth = box.lineWidth();
    box.setScale(0.0, 0.0, np, np);
    box.setBackColor(QColor(0, 0, 0));
    box.clear();
    box.setLineWidth(1);

    const std::vector<PixelSpan> columns = cellSpans(np, box.pixelWidth());
    const std::vector<PixelSpan> rows = cellSpans(np, box.pixelHeight());
    const double unitsPerColumn = static_cast<double>(np) / box.pixelWidth();
    const double unitsPerRow = static_cast<double>(np) / box.pixelHeight();
    const double k = kMapColourScale / reference * settings.gain;
    for (int q = 0; q < np; ++q) {
        for (int p = 0; p < np; ++p) {
            const double v = k * map.at(q, p);
            if (!(std::fabs(v) > 0.5))
                continue;
            const int level = util::roundToInt(std::min(std::fabs(v), kLargestColourArgument));
            box.setForeColor(colorFromRgbValue(v > 0.0 ? rgb(level, level, level) : rgb(level, 0, 0)));
            const PixelSpan across = columns[static_cast<std::size_t>(p)];
            const PixelSpan down = rows[static_cast<std::size_t>(q)];
            for (int row = down.first; row < down.end; ++row)
                for (int column = across.first; column < across.end; ++column)
                    box.point((column + 0.5) * unitsPerColumn, (row + 0.5) * unitsPerRow);
        }
    }
    box.setForeColor(savedColour);
    box.setLineWidth(savedWidth);
    return true;
}

bool drawMapRowSection(PictureBox& box, const Map2D& map, int indirectRow, const MapPlotSettings& settings)
{
    if (indirectRow < 0 || indirectRow >= map.pointCount)
        return false;
    return drawSection(box, map, settings, [&](int p) { return map.at(indirectRow, p); });
}

bool drawMapColumnSection(PictureBox& box, const Map2D& map, int directColumn,
                          const MapPlotSettings& settings)
{
    if (directColumn < 0 || directColumn >= map.pointCount)
        return false;
    return drawSection(box, map, settings, [&](int q) { return map.at(q, directColumn); });
}

std::optional<MapCursor> mapCursor(QSize boxPixels, QPointF pixel, int pointCount, const MapAxes& axes)
{
    if (pointCount <= 0 || boxPixels.width() <= 0 || boxPixels.height() <= 0)
        return std::nullopt;
    if (pixel.x() < 0.0 || pixel.y() < 0.0 || pixel.x() >= boxPixels.width() ||
        pixel.y() >= boxPixels.height())
        return std::nullopt;
    // The cell that holds the centre of the pixel under the cursor: the one drawMap painted it with.
    const auto cell = [pointCount](double position, int pixels) {
        const double centre = std::floor(position) + 0.5;
        return std::min(static_cast<int>(std::floor(centre * pointCount / pixels)), pointCount - 1);
    };
    MapCursor cursor;
    cursor.direct = cell(pixel.x(), boxPixels.width());
    cursor.indirect = cell(pixel.y(), boxPixels.height());
    cursor.directHz = processing::pointFrequencyHz(cursor.direct, pointCount, axes.directWidthHz);
    cursor.indirectHz = processing::indirectFrequencyHz(cursor.indirect, pointCount, axes.indirectWidthHz);
    return cursor;
}

}  // namespace velmora::render
