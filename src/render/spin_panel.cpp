#include "render/spin_panel.h"

#include "util/number_format.h"
#include "workbench/spin_panel_editor.h"
#include "workbench/workbench.h"

#include <QString>

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

    for (int i = 0; i < n; ++i) {
        if (spins.isEmpty(i))
            continue;
        const workbench::TwipPoint p = workbench::spinPanelPosition(i, n);
        const double column =
            p.x + (p.x < workbench::kSpinCircleCentreX ? kLeftColumnOffset : kRightColumnOffset);
        box.setForeColor(shiftTextColour());
        box.text(column, p.y + kShiftRow, qt(util::formatPattern(spins.shiftPpm(i), "0.00")));
        box.setForeColor(t1TextColour());
        box.text(column, p.y + kT1Row, qt(util::formatPattern(spins.t1Ms(i), "0.000")));
        box.setForeColor(t2TextColour());
        box.text(column, p.y + kT2Row, qt(util::formatPattern(spins.t2Ms(i), "0.000")));
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
            box.text((a.x + b.x) / 2.0 + kLineOffset, (a.y + b.y) / 2.0 + kLineOffset,
                     qt(workbench::spinValueText(hz)));
        }
    }
}

}  // namespace velmora::render
