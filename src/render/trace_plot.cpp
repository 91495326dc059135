// Operator traces and the data-file viewer.
#include "render/trace_plot.h"

#include "model/element_table.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/rounding.h"
#include "util/text_compare.h"
#include "util/text_file.h"
#include "workbench/control_names.h"

#include <QFontMetricsF>
#include <QPointF>
#include <QString>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <numbers>

namespace velmora::render {

namespace {

constexpr double kMarkRadiusTwips = 10.0;
constexpr int kMarkLineWidth = 3;
const QColor kZeroLineColour(200, 200, 200);
// Room left around the traces so that the marks at the ends stay whole: a fraction of each range.
constexpr double kTraceMargin = 0.04;
constexpr double kLegendInsetPx = 4.0;

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

std::vector<std::string_view> splitAtTabs(std::string_view line, std::size_t most)
{
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < most) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            break;
        fields.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    fields.push_back(line);
    return fields;
}

// A circle of the given radius in twips drawn with the box's line width, around (x, y) in user
// units. A circle whose outline closes over its middle is one dot of the outline's full diameter.
void markPoint(PictureBox& box, double x, double y, double radiusTwips, double twipsPerPixel)
{
    const double radiusPx = radiusTwips / twipsPerPixel;
    const int width = box.lineWidth();
    if (2.0 * radiusPx <= width) {
        box.setLineWidth(util::roundToInt(2.0 * radiusPx + width));
        box.point(x, y);
        box.setLineWidth(width);
        return;
    }
    constexpr int kSides = 24;
    const QPointF centre = box.toPixels(x, y);
    QPointF last = box.toUser(centre + QPointF(radiusPx, 0.0));
    for (int k = 1; k <= kSides; ++k) {
        const double angle = 2.0 * std::numbers::pi * k / kSides;
        const QPointF next =
            box.toUser(centre + QPointF(radiusPx * std::cos(angle), radiusPx * std::sin(angle)));
        box.line(last.x(), last.y(), next.x(), next.y());
        last = next;
    }
}

// One column: marks at every point, lines of width 1 from the second point on. Points that are not
// numbers are passed over (the line resumes at the next number).
void drawSeries(PictureBox& box, const std::vector<double>& xs, const std::vector<double>& ys,
                const QColor& colour, double twipsPerPixel)
{
    box.setForeColor(colour);
    bool started = false;
    double lastX = 0.0;
    double lastY = 0.0;
    for (std::size_t k = 0; k < ys.size() && k < xs.size(); ++k) {
        if (!std::isfinite(xs[k]) || !std::isfinite(ys[k]))
            continue;
        box.setLineWidth(kMarkLineWidth);
        markPoint(box, xs[k], ys[k], kMarkRadiusTwips, twipsPerPixel);
        box.setLineWidth(1);
        if (started)
            box.line(lastX, lastY, xs[k], ys[k]);
        lastX = xs[k];
        lastY = ys[k];
        started = true;
    }
}

struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();

    void take(double v)
    {
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    bool empty() const { return !(low <= high); }
    // A range of some extent, with `margin` of it added at both ends.
    Range widened(double margin) const
    {
        if (empty())
            return {-1.0, 1.0};
        if (low == high)
            return {low - 1.0, high + 1.0};
        const double extra = (high - low) * margin;
        return {low - extra, high + extra};
    }
};

// The horizontal range of the trace plot: the arrayed values, with room for the marks.
Range arrayedRange(const OperatorTraceTable& table)
{
    Range range;
    if (!table.columns.empty())
        for (double v : table.columns.front())
            range.take(v);
    return range.widened(kTraceMargin);
}

// Drawn larger than the window's box, the texts grow a little less than the picture.
double largePictureFontShare(double twipsPerPixel)
{
    return twipsPerPixel < kTwipsPerPixel ? 0.8 : 1.0;
}

using LegendEntries = std::vector<std::pair<std::string, QColor>>;

// The legend: names in their colours, one per line from the top, in columns at the right edge
// (as many as the box height needs), all in twips.
struct LegendLayout {
    double lineHeight = 0.0;
    double inset = 0.0;
    double widest = 0.0;
    int perColumn = 1;
    int columns = 0;
    double width() const { return columns * (widest + inset) + inset; }
};

LegendLayout legendLayout(const PictureBox& box, const LegendEntries& entries, double twipsPerPixel)
{
    LegendLayout layout;
    const QFontMetricsF metrics(box.font(), &box.image());
    layout.lineHeight = metrics.height() * twipsPerPixel;
    layout.inset = kLegendInsetPx * twipsPerPixel;
    for (const auto& entry : entries)
        layout.widest = std::max(
            layout.widest, metrics.horizontalAdvance(QString::fromStdString(entry.first)) * twipsPerPixel);
    const double height = box.pixelHeight() * twipsPerPixel;
    layout.perColumn = std::max(1, static_cast<int>((height - 2.0 * layout.inset) / layout.lineHeight));
    layout.columns = (static_cast<int>(entries.size()) + layout.perColumn - 1) / layout.perColumn;
    return layout;
}

void drawLegend(PictureBox& box, const LegendEntries& entries, const LegendLayout& layout,
                double twipsPerPixel)
{
    const double width = box.pixelWidth() * twipsPerPixel;
    box.setScale(0.0, 0.0, width, box.pixelHeight() * twipsPerPixel);
    const double firstColumnX = width - layout.width() + layout.inset;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const int column = static_cast<int>(k) / layout.perColumn;
        const int row = static_cast<int>(k) % layout.perColumn;
        box.setForeColor(entries[k].second);
        box.text(firstColumnX + column * (layout.widest + layout.inset),
                 layout.inset + row * layout.lineHeight, QString::fromStdString(entries[k].first));
    }
}

// 1, 2 or 5 times a power of ten, close to range / count.
double roundStep(double range, int count)
{
    const double raw = range / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double mantissa = raw / magnitude;
    return (mantissa < 1.5 ? 1.0 : mantissa < 3.5 ? 2.0 : mantissa < 7.5 ? 5.0 : 10.0) * magnitude;
}

QString roundText(double value, double step)
{
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    return QString::number(std::abs(value) < step * 1e-9 ? 0.0 : value, 'f', decimals);
}

// Where the traces are drawn inside the box, in pixels: room is left at the left edge for the values
// of the vertical axis, under the traces for the values and title of the horizontal axis, and above
// them for the vertical title, so that no text sits on the data.
struct TraceArea {
    double leftPx = 0.0;
    double rightPx = 0.0;
    double topPx = 0.0;
    double bottomPx = 0.0;
};

constexpr double kAxisMarkPx = 4.0;
constexpr double kAxisGapPx = 3.0;  // between a mark and its value, so that the mark is no minus sign
constexpr int kVerticalSteps = 4;
constexpr int kHorizontalSteps = 6;

TraceArea traceArea(const PictureBox& box, double yLow, double yHigh, double legendWidthPx)
{
    const QFontMetricsF metrics(box.font(), &box.image());
    double widest = 0.0;
    const double step = roundStep(yHigh - yLow, kVerticalSteps);
    for (double k = std::ceil(yLow / step); k * step <= yHigh; k += 1.0)
        widest = std::max(widest, metrics.horizontalAdvance(roundText(k * step, step)));
    TraceArea area;
    area.leftPx = std::ceil(widest + kAxisMarkPx + 2.0 * kAxisGapPx);
    area.rightPx = std::max(area.leftPx + 1.0, box.pixelWidth() - legendWidthPx - 1.0);
    area.topPx = std::ceil(metrics.height() + kAxisGapPx);
    area.bottomPx = std::max(area.topPx + 1.0, box.pixelHeight() - 1.0 - kAxisMarkPx - 2.0 * metrics.height());
    return area;
}

// The axes round the traces' area (user units: arrayed value across, coefficient down): grey edges
// with marks, their values under the bottom edge and left of the left edge, and the titles of both
// axes (the horizontal one under its values, the vertical one above the traces).
void drawTraceAxes(PictureBox& box, const TraceArea& area, double xLow, double xHigh, double yLow, double yHigh,
                   const TracePlotSettings& settings)
{
    const QFontMetricsF metrics(box.font(), &box.image());
    const double line = metrics.height();
    const auto user = [&](double px, double py) { return box.toUser(QPointF(px, py)); };
    const auto text = [&](double px, double py, const QString& words) {
        const QPointF at = user(px, py);
        box.text(at.x(), at.y(), words);
    };
    const auto edge = [&](double x1, double y1, double x2, double y2) {
        const QPointF from = user(x1, y1);
        const QPointF to = user(x2, y2);
        box.line(from.x(), from.y(), to.x(), to.y());
    };
    box.setForeColor(QColor(110, 110, 110));
    edge(area.leftPx, area.topPx, area.leftPx, area.bottomPx);
    edge(area.leftPx, area.bottomPx, area.rightPx, area.bottomPx);
    if (xHigh > xLow) {
        const double step = roundStep(xHigh - xLow, kHorizontalSteps);
        for (double k = std::ceil(xLow / step); k * step <= xHigh; k += 1.0) {
            const double x = box.toPixels(k * step, 0.0).x();
            edge(x, area.bottomPx, x, area.bottomPx + kAxisMarkPx);
            const QString value = roundText(k * step, step);
            text(x - metrics.horizontalAdvance(value) / 2.0, area.bottomPx + kAxisMarkPx, value);
        }
    }
    if (yHigh > yLow) {
        const double step = roundStep(yHigh - yLow, kVerticalSteps);
        for (double k = std::ceil(yLow / step); k * step <= yHigh; k += 1.0) {
            const double y = box.toPixels(0.0, k * step).y();
            edge(area.leftPx - kAxisMarkPx, y, area.leftPx, y);
            const QString value = roundText(k * step, step);
            text(area.leftPx - kAxisMarkPx - kAxisGapPx - metrics.horizontalAdvance(value), y - line / 2.0, value);
        }
    }
    box.setForeColor(QColor(0, 0, 0));
    if (!settings.horizontalTitle.empty()) {
        const QString title = QString::fromStdString(settings.horizontalTitle);
        text(area.rightPx - metrics.horizontalAdvance(title), area.bottomPx + kAxisMarkPx + line, title);
    }
    text(area.leftPx, 0.0, "coefficient / 1000");
    if (!settings.title.empty()) {
        const QString title = QString::fromStdString(settings.title);
        box.setForeColor(QColor(0, 0, 140));
        const double right = area.leftPx + metrics.horizontalAdvance("coefficient / 1000") + line;
        text(std::max(right, (box.pixelWidth() - metrics.horizontalAdvance(title)) / 2.0), 0.0, title);
        box.setForeColor(QColor(0, 0, 0));
    }
}

// The unit as the cursor's read-out appends it to the value.
std::string readoutUnit(const TraceAxis& axis)
{
    const std::string unit = arrayedUnit(axis.arrayedName, axis.arrayedIndex);
    return unit.find(' ') == std::string::npos ? unit : " (" + unit + ")";
}

}  // namespace

QColor viewerFieldColor(int field, int firstField)
{
    if (field == firstField)
        return {0, 0, 0};
    switch (field) {
    case 3:
        return {0, 0, 255};
    case 4:
        return {0, 255, 0};
    case 5:
        return {255, 0, 0};
    case 6:
        return {255, 255, 0};
    case 7:
        return {0, 255, 255};
    case 8:
        return {255, 0, 255};
    case 9:
        return {0, 0, 127};
    case 10:
        return {0, 127, 0};
    case 11:
        return {127, 0, 0};
    case 12:
        return {127, 127, 0};
    case 13:
        return {0, 127, 127};
    default:
        return {127, 0, 127};
    }
}

QColor traceColor(int k)
{
    // Every colour at least as dark as mid grey, so that lines and legend read on the white ground.
    static const QColor kOnWhite[] = {QColor(0, 0, 0),     QColor(0, 0, 255),   QColor(0, 140, 0),
                                      QColor(210, 0, 0),   QColor(150, 110, 0), QColor(0, 130, 140),
                                      QColor(180, 0, 180), QColor(0, 0, 127),   QColor(0, 90, 0),
                                      QColor(127, 0, 0),   QColor(100, 100, 0), QColor(0, 100, 110)};
    constexpr int kCount = static_cast<int>(std::size(kOnWhite));
    return kOnWhite[((k % kCount) + kCount) % kCount];
}

std::string arrayedUnit(std::string_view arrayedName, int arrayedIndex)
{
    if (util::equalsIgnoreCase(arrayedName, "T1") || util::equalsIgnoreCase(arrayedName, "T2") ||
        util::equalsIgnoreCase(arrayedName, "Tcr"))
        return "ms";
    if (util::equalsIgnoreCase(arrayedName, "Kex"))
        return "1/s";
    if (arrayedIndex >= 0 && arrayedIndex < model::element::kCount)
        return std::string(workbench::elementUnit(arrayedIndex));
    return {};
}

std::string arrayedAxisTitle(std::string_view arrayedName, int arrayedIndex)
{
    const std::string unit = arrayedUnit(arrayedName, arrayedIndex);
    const std::string name(arrayedName);
    return unit.empty() ? name : name + " (" + unit + ")";
}

int OperatorTraceTable::fieldOf(std::string_view name) const
{
    for (std::size_t k = 0; k < header.size(); ++k)
        if (header[k] == name)
            return static_cast<int>(k);
    return -1;
}

OperatorTraceRead readOperatorTraces(const std::filesystem::path& file)
{
    const util::TextFileContent content = util::readTextLines(file);
    if (!content.ok)
        return {std::nullopt, content.error};
    if (content.lines.empty() || content.lines.front().empty())
        return {std::nullopt, "the operator table " + file.string() + " has no header line"};
    OperatorTraceTable table;
    for (std::string_view name : splitAtTabs(content.lines.front(), SIZE_MAX))
        table.header.emplace_back(name);
    table.columns.resize(table.header.size());
    for (std::size_t line = 1; line < content.lines.size(); ++line) {
        if (content.lines[line].empty())
            continue;
        const std::vector<std::string_view> fields = splitAtTabs(content.lines[line], table.header.size());
        for (std::size_t k = 0; k < table.columns.size(); ++k)
            table.columns[k].push_back(k < fields.size() ? util::parseNumber(fields[k]).value_or(kNotANumber)
                                                         : kNotANumber);
    }
    return {std::move(table), {}};
}

TracePlotLayout drawOperatorTraces(PictureBox& box, const OperatorTraceTable& table,
                                   const TracePlotSettings& settings)
{
    const double tpp = settings.twipsPerPixel > 0.0 ? settings.twipsPerPixel : kTwipsPerPixel;
    TracePlotLayout layout;
    box.setBackColor(QColor(255, 255, 255));
    box.clear();
    std::vector<int> fields;
    for (const std::string& name : settings.operators) {
        const int field = table.fieldOf(name);
        if (field > 0 && std::find(fields.begin(), fields.end(), field) == fields.end())
            fields.push_back(field);
    }
    if (fields.empty() || table.runCount() == 0)
        return layout;

    const QColor savedColour = box.foreColor();
    const int savedWidth = box.lineWidth();
    const double savedFont = box.fontSize();
    // Texts keep their size relative to the plot when the picture is drawn larger than the window's.
    box.setFontSize(savedFont * kTwipsPerPixel / tpp * largePictureFontShare(tpp));
    LegendEntries legend;
    for (std::size_t k = 0; k < fields.size(); ++k)
        legend.emplace_back(table.header[static_cast<std::size_t>(fields[k])],
                            traceColor(static_cast<int>(k)));
    const LegendLayout legendPlace = legendLayout(box, legend, tpp);

    // The arrayed values fill the width the legend and the vertical axis leave (at least half the
    // box); the coefficients the height the axes' texts leave.
    Range values;
    for (int field : fields)
        for (double v : table.columns[static_cast<std::size_t>(field)])
            values.take(v);
    const Range down = values.widened(kTraceMargin);
    const Range across = arrayedRange(table);
    const double legendPx = std::min(legendPlace.width() / tpp, box.pixelWidth() / 2.0);
    const TraceArea area = traceArea(box, down.low, down.high, legendPx);
    const double valuePerPx = (across.high - across.low) / (area.rightPx - area.leftPx);
    const double coefficientPerPx = (down.high - down.low) / (area.bottomPx - area.topPx);
    layout.drawn = true;
    layout.left = across.low - area.leftPx * valuePerPx;
    layout.width = box.pixelWidth() * valuePerPx;
    layout.boxWidthPx = box.pixelWidth();
    layout.top = down.high + area.topPx * coefficientPerPx;
    layout.height = -box.pixelHeight() * coefficientPerPx;
    box.setScale(layout.left, layout.top, layout.width, layout.height);
    box.setLineWidth(1);
    if (down.low < 0.0 && down.high > 0.0) {
        box.setForeColor(kZeroLineColour);
        box.line(across.low, 0.0, across.high, 0.0);
    }
    for (std::size_t k = 0; k < fields.size(); ++k)
        drawSeries(box, table.columns.front(), table.columns[static_cast<std::size_t>(fields[k])],
                   legend[k].second, tpp);
    drawTraceAxes(box, area, across.low, across.high, down.low, down.high, settings);
    drawLegend(box, legend, legendPlace, tpp);
    box.setForeColor(savedColour);
    box.setLineWidth(savedWidth);
    box.setFontSize(savedFont);
    return layout;
}

std::optional<TraceCursor> traceCursor(const OperatorTraceTable& table, const TracePlotLayout& layout,
                                       double pixelX, const TraceAxis& axis)
{
    if (!layout.drawn || table.runCount() == 0 || layout.boxWidthPx <= 0)
        return std::nullopt;
    const double x = layout.left + (std::floor(pixelX) + 0.5) / layout.boxWidthPx * layout.width;
    const std::vector<double>& arrayed = table.columns.front();
    int nearest = 0;
    double distance = std::numeric_limits<double>::infinity();
    for (std::size_t run = 0; run < arrayed.size(); ++run) {
        if (std::isfinite(arrayed[run]) && std::fabs(arrayed[run] - x) < distance) {
            distance = std::fabs(arrayed[run] - x);
            nearest = static_cast<int>(run);
        }
    }
    TraceCursor cursor;
    cursor.run = std::clamp(std::min(nearest, axis.arraySize), 0, table.runCount() - 1);
    const double value = arrayed[static_cast<std::size_t>(cursor.run)];
    cursor.value = std::isfinite(value) ? std::trunc(1000.0 * value) / 1000.0 : 0.0;
    cursor.text = util::formatGeneral(cursor.value) + readoutUnit(axis);
    return cursor;
}

DataFileViewRead readDataFileView(const std::filesystem::path& file, std::string_view pattern)
{
    const util::TextFileContent content = util::readTextLines(file);
    if (!content.ok)
        return {std::nullopt, content.error};
    DataFileView view;
    view.firstField = pattern == "*.dat" ? 2 : 1;
    int dataLines = 0;
    for (const std::string& line : content.lines) {
        if (line.empty())
            break;
        view.lines.push_back(line);
        if (line.front() == '#')
            continue;
        const std::vector<std::string_view> fields = splitAtTabs(line, kViewerMostFields);
        const int count = static_cast<int>(fields.size());
        if (count >= view.firstField && static_cast<int>(view.columns.size()) < count - view.firstField + 1)
            view.columns.resize(static_cast<std::size_t>(count - view.firstField + 1));
        for (int field = view.firstField; field <= count; ++field) {
            const std::optional<double> value =
                util::parseNumber(fields[static_cast<std::size_t>(field - 1)]);
            if (!value)
                continue;
            view.columns[static_cast<std::size_t>(field - view.firstField)].push_back(*value);
            view.minimum = std::min(view.minimum, *value);
            view.maximum = std::max(view.maximum, *value);
        }
        if (++dataLines > kViewerMostDataLines)
            break;
    }
    return {std::move(view), {}};
}

void drawDataFileView(PictureBox& box, const DataFileView& view, double twipsPerPixel)
{
    const double tpp = twipsPerPixel > 0.0 ? twipsPerPixel : kTwipsPerPixel;
    box.setBackColor(QColor(255, 255, 255));
    box.clear();
    std::size_t rows = 0;
    for (const std::vector<double>& column : view.columns)
        rows = std::max(rows, column.size());
    if (rows == 0 || view.maximum < view.minimum)
        return;
    const QColor savedColour = box.foreColor();
    const int savedWidth = box.lineWidth();
    double top = view.maximum;
    double bottom = view.minimum;
    if (top == bottom) {
        top += 1.0;
        bottom -= 1.0;
    }
    box.setScale(-0.5, top, static_cast<double>(rows), bottom - top);
    std::vector<double> rowNumbers(rows);
    for (std::size_t r = 0; r < rows; ++r)
        rowNumbers[r] = static_cast<double>(r);
    for (std::size_t k = 0; k < view.columns.size(); ++k)
        drawSeries(box, rowNumbers, view.columns[k],
                   viewerFieldColor(view.firstField + static_cast<int>(k), view.firstField), tpp);
    box.setForeColor(savedColour);
    box.setLineWidth(savedWidth);
}

}  // namespace velmora::render
