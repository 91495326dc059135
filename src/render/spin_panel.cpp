#include "render/spin_panel.h"

#include "util/number_format.h"
#include "workbench/spin_panel_editor.h"
#include "workbench/workbench.h"

#include <QFontMetricsF>
#include <QRectF>
#include <QString>
#include <algorithm>
#include <vector>

namespace velmora::render {

namespace {

// Offsets of the drawing from a position (X, Y), in twips.
constexpr double kDiscOffset = 40.0;
constexpr double kLabelOffset = -50.0;
constexpr double kLineOffset = 75.0;
constexpr double kLeftColumnOffset = -400.0;
constexpr double kRightColumnOffset = 250.0;
constexpr double kShiftRow = -150.0;
constexpr double kT1Row = 25.0;
constexpr double kT2Row = 200.0;

// The exchange picture.
constexpr double kSiteRadius = 155.0;
constexpr double kSiteA = 800.0;
constexpr double kSiteB = 2000.0;
constexpr double kSiteY = 1000.0;

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

void drawExchangeSites(PictureBox& box, const workbench::Workbench& bench)
{
    for (double x : {kSiteA, kSiteB}) {
        box.setForeColor(spinDiscColour());
        box.filledCircle(x, kSiteY, kSiteRadius);
        box.setForeColor(QColor(Qt::black));
        box.text(x - kDiscOffset + kLabelOffset, kSiteY - kDiscOffset + kLabelOffset, QStringLiteral("H1"));
    }
    box.setForeColor(QColor(Qt::black));
    box.text(1100.0, 900.0, QStringLiteral("<====>"));
    const double rate = bench.exchange().values[model::ExchangeSettings::Kex];
    box.text(1000.0, 550.0, QStringLiteral("Kex=") + qt(util::formatGeneral(rate)));
}

}  // namespace

QColor spinDiscColour()
{
    return {255, 192, 255};
}

QColor shiftTextColour()
{
    return {255, 0, 0};
}

QColor t1TextColour()
{
    return {64, 64, 64};
}

QColor t2TextColour()
{
    return {0, 192, 192};
}

QColor couplingLineColour()
{
    return {128, 255, 128};
}

double nucleusRadiusTwips(char letter)
{
    switch (letter) {
    case 'H':
        return 100.0;
    case 'C':
        return 150.0;
    case 'N':
        return 180.0;
    default:
        return 0.0;
    }
}

namespace {

double widestLine(const PictureBox& box, const QString (&lines)[3])
{
    const QFontMetricsF metrics(box.font());
    double widest = 0.0;
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line) * box.scaleWidth() / box.pixelWidth());
    return widest;
}

bool fitsRightOf(const PictureBox& box, double column, const QString (&lines)[3])
{
    return column + widestLine(box, lines) < box.scaleLeft() + box.scaleWidth();
}

// The top-left corner of a spin's three value lines, moved left or up as far as needed to keep
// every line whole inside the panel (the spins at the right edge and at the bottom).
QPointF valueColumnInside(const PictureBox& box, double column, double top, const QString (&lines)[3])
{
    const QFontMetricsF metrics(box.font());
    const double unitsPerPixelX = box.scaleWidth() / box.pixelWidth();
    const double unitsPerPixelY = box.scaleHeight() / box.pixelHeight();
    const double widest = widestLine(box, lines);
    const double bottom = top + (kT2Row - kShiftRow) + metrics.height() * unitsPerPixelY;
    const double right = box.scaleLeft() + box.scaleWidth();
    const double lowest = box.scaleTop() + box.scaleHeight();
    column = std::max(box.scaleLeft(), std::min(column, right - widest - unitsPerPixelX));
    if (bottom > lowest)
        top -= bottom - lowest;
    return {column, top};
}

}  // namespace

// The extent of a spin's three value lines written from `at`, in the panel's units.
QRectF textBlock(const PictureBox& box, QPointF at, const QString (&lines)[3])
{
    const QFontMetricsF metrics(box.font());
    const double height = (kT2Row - kShiftRow) + metrics.height() * box.scaleHeight() / box.pixelHeight();
    return {at, QSizeF(widestLine(box, lines), height)};
}

// Where a coupling's label goes on its line from a to b: the middle, or the nearest place along
// the line where it covers no spin's values (the spins near the bottom have their values moved up
// into the middle of the circle).
QPointF couplingLabelPlace(const PictureBox& box, QPointF a, QPointF b, const QString& label,
                           const std::vector<QRectF>& valueBlocks)
{
    const QFontMetricsF metrics(box.font());
    const QSizeF size(metrics.horizontalAdvance(label) * box.scaleWidth() / box.pixelWidth(),
                      metrics.height() * box.scaleHeight() / box.pixelHeight());
    for (const double t : {0.5, 0.4, 0.6, 0.3, 0.7, 0.2, 0.8}) {
        const QPointF onLine = a + t * (b - a);
        // Right of the line first, as the middle label stands; then left of it.
        for (const QPointF at : {onLine, onLine - QPointF(size.width(), 0.0)}) {
            const QRectF place(at, size);
            if (std::none_of(valueBlocks.begin(), valueBlocks.end(),
                             [&](const QRectF& block) { return block.intersects(place); }))
                return at;
        }
    }
    return (a + b) / 2.0;
}

namespace {

// What the three coloured values beside each spin are, in the top-left corner (the spin circle
// leaves it free), smaller than the values themselves.
void drawValueLegend(PictureBox& box)
{
    const double saved = box.fontSize();
    box.setFontSize(saved * 0.8);
    const QFontMetricsF metrics(box.font(), &box.image());
    const double rowHeight = metrics.height() * kSpinPanelScaleHeight / box.image().height();
    const std::pair<QColor, const char*> entries[] = {
        {shiftTextColour(), "shift, ppm"}, {t1TextColour(), "T1, ms"}, {t2TextColour(), "T2, ms"}};
    double y = 20.0;
    for (const auto& [colour, text] : entries) {
        box.setForeColor(colour);
        box.text(20.0, y, QString::fromLatin1(text));
        y += rowHeight;
    }
    box.setFontSize(saved);
}

}  // namespace

void drawSpinPanel(PictureBox& box, workbench::Workbench& bench)
{
    box.setBackColor(QColor(Qt::white));
    box.clear();
    box.setScale(0.0, 0.0, kSpinPanelScaleWidth, kSpinPanelScaleHeight);
    box.setLineWidth(1);
    model::SpinSystem& spins = bench.spinSystem();
    spins.rebuild();
    if (bench.exchangeMode()) {
        drawExchangeSites(box, bench);
        return;
    }

    const int n = spins.spinCount();
    const int positions = workbench::spinPanelPositionCount(n);
    double radius = nucleusRadiusTwips('H');
    for (int i = 0; i < positions; ++i) {
        const workbench::TwipPoint p = workbench::spinPanelPosition(i, n);
        if (!spins.isEmpty(i))
            radius = nucleusRadiusTwips(spins.label(i).front());
        box.setForeColor(spinDiscColour());
        box.filledCircle(p.x + kDiscOffset, p.y + kDiscOffset, radius);
        box.setForeColor(QColor(Qt::black));
        box.text(p.x + kLabelOffset, p.y + kLabelOffset, qt(spins.label(i)));
    }

    drawValueLegend(box);
    std::vector<QRectF> valueBlocks;
    for (int i = 0; i < n; ++i) {
        if (spins.isEmpty(i))
            continue;
        const workbench::TwipPoint p = workbench::spinPanelPosition(i, n);
        const double column =
            p.x + (p.x < workbench::kSpinCircleCentreX ? kLeftColumnOffset : kRightColumnOffset);
        QString lines[] = {qt(util::formatPattern(spins.shiftPpm(i), "0.00")),
                           qt(util::formatPattern(spins.t1Ms(i), "0.000")),
                           qt(util::formatPattern(spins.t2Ms(i), "0.000"))};
        if (!fitsRightOf(box, column, lines)) {
            // Near the right edge the values are written in their shortest form, as the nuclei
            // window shows them ("1000" for 1000.000), so that they need not cover the spin.
            lines[1] = qt(workbench::spinValueText(spins.t1Ms(i)));
            lines[2] = qt(workbench::spinValueText(spins.t2Ms(i)));
        }
        const QPointF at = valueColumnInside(box, column, p.y + kShiftRow, lines);
        const QColor colours[] = {shiftTextColour(), t1TextColour(), t2TextColour()};
        const double rows[] = {0.0, kT1Row - kShiftRow, kT2Row - kShiftRow};
        for (int k = 0; k < 3; ++k) {
            box.setForeColor(colours[k]);
            box.text(at.x(), at.y() + rows[k], lines[k]);
        }
        valueBlocks.push_back(textBlock(box, at, lines));
    }

    for (int i = 0; i < n; ++i) {
        if (spins.isEmpty(i))
            continue;
        const workbench::TwipPoint a = workbench::spinPanelPosition(i, n);
        for (int j = i; j < n; ++j) {
            const double hz = spins.couplingHz(i, j);
            if (hz == 0.0)
                continue;
            const workbench::TwipPoint b = workbench::spinPanelPosition(j, n);
            box.setForeColor(couplingLineColour());
            box.line(a.x + kLineOffset, a.y + kLineOffset, b.x + kLineOffset, b.y + kLineOffset);
            box.setForeColor(QColor(Qt::black));
            const QString label = qt(workbench::spinValueText(hz));
            const QPointF at = couplingLabelPlace(box, {a.x + kLineOffset, a.y + kLineOffset},
                                                  {b.x + kLineOffset, b.y + kLineOffset}, label, valueBlocks);
            box.text(at.x(), at.y(), label);
        }
    }
}

}  // namespace velmora::render
