// JCAMP-DX text of simulated NMR data, for other NMR programs to read: a 1D spectrum or FID as a
// version 5.01 NMR NTUPLES block (a real and an imaginary page over one x axis) and a 2D map as a
// version 6.00 nD NMR NTUPLES block (one page per indirect frequency). Ordinates are written as
// integers in AFFN form, scaled by ##FACTOR so that the largest magnitude takes about nine
// significant digits; a reader recovers every value to within half a FACTOR.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace velmora::processing {

// What the observe labels say: the detected nucleus ("^1H", "^13C", "^15N") and its observe
// frequency in MHz, which turns the Hz axis into ppm (ppm = Hz / MHz).
struct JcampObserve {
    std::string nucleus = "^1H";
    double frequencyMHz = 0.0;
};

// A 1D data set on an evenly spaced x axis: x of point i is firstX + i * deltaX.
struct JcampSeries {
    enum class Kind { Spectrum, Fid };
    Kind kind = Kind::Spectrum;  // Spectrum: x in Hz; Fid: x in seconds
    std::string title;
    JcampObserve observe;
    double firstX = 0.0;
    double deltaX = 0.0;
    std::span<const double> real;
    std::span<const double> imaginary;  // as many points as `real`
};

// A 2D map: values at row * directCount + column; the row is the indirect (F1) frequency, the
// column the direct (F2) frequency, both in Hz on evenly spaced axes.
struct JcampMap {
    std::string title;
    JcampObserve observe;
    int rowCount = 0;
    int columnCount = 0;
    double firstF1Hz = 0.0;
    double deltaF1Hz = 0.0;
    double firstF2Hz = 0.0;
    double deltaF2Hz = 0.0;
    std::span<const double> values;
};

// The file's lines (without line ends), from ##TITLE to ##END. Throws std::invalid_argument when
// the parts disagree in size, hold no point or hold a value that is not finite.
std::vector<std::string> jcampSeriesLines(const JcampSeries& series);
std::vector<std::string> jcampMapLines(const JcampMap& map);

// The ##FACTOR for a set of ordinates: largest magnitude / 1e9, or 1 for all zeros.
double jcampOrdinateFactor(std::span<const double> values);

}  // namespace velmora::processing
