// The dispersion plot of the exchange experiment: R2,eff with its standard error against the CPMG
// frequency when tcp is swept (otherwise against the first swept quantity), one curve per value of
// the other swept quantity, and the fitted Carver-Richards curve where the fit was made.
#pragma once

#include "exchange/dispersion_experiment.h"
#include "render/picture_box.h"

#include <string>
#include <vector>

namespace velmora::render {

struct DispersionCurve {
    std::string label;  // "ch_shift = 200", or empty for a one-line grid
    std::vector<double> x, r2eff, error;
    std::vector<double> fitX, fitR2eff;  // the fitted curve, empty without a fit
};

struct DispersionPlotData {
    std::string xTitle;  // "nu_CPMG, Hz" or the swept name
    std::vector<DispersionCurve> curves;
};

DispersionPlotData dispersionPlotData(const exchange::PreparedDispersion& prepared,
                                      const exchange::DispersionResults& results);

// Clears the box (white) and draws axes with labelled ticks, the points with error bars joined by
// thin lines, the fitted curves in the same colour, and a legend. Text needs a QGuiApplication.
void drawDispersionPlot(PictureBox& box, const DispersionPlotData& data);

}  // namespace velmora::render
