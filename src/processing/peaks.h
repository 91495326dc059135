// The strongest lines of a spectrum and of a 2D map, for summaries a person reads.
// Display point i (0-based) of np points lies at (np/2 - i) sw / np Hz: zero frequency at np/2.
#pragma once

#include "processing/map_2d.h"

#include <span>
#include <vector>

namespace velmora::processing {

double pointFrequencyHz(int point, int pointCount, double spectralWidthHz);

// Row q of the 2D map lies at (q - np/2) sw1 / np Hz: the States pairing takes the sine run with a
// minus sign, so the indirect frequencies grow with the row index (the reverse of the direct axis),
// which puts the diagonal of a COSY at f1 = f2.
double indirectFrequencyHz(int row, int pointCount, double indirectWidthHz);

struct SpectrumPeak {
    int point = 0;
    double frequencyHz = 0.0;
    double height = 0.0;  // the value at the peak (the magnitude when magnitudes are given)
};

// The size a line must exceed: 1 % of the largest |value|, five times the median |value| (the
// noise floor), and the larger |value| at the spectrum's two ends; 0 for no values.
double peakThreshold(std::span<const double> values);

// True local maxima of |values| above peakThreshold, with a lower point on the left and no higher
// one on the right, never at the end points; strongest first, at most `count`.
std::vector<SpectrumPeak> strongestPeaks(std::span<const double> values, double spectralWidthHz, int count);

struct MapPeak {
    int indirect = 0;
    int direct = 0;
    double indirectHz = 0.0;  // f1
    double directHz = 0.0;    // f2
    double height = 0.0;      // signed map value
    bool diagonal = false;    // f1 and f2 agree within two points of the coarser axis
};

// Local extrema of |map| above 5 % of its largest magnitude, strongest first, at most `count`.
std::vector<MapPeak> strongestMapPeaks(const Map2D& map, double directWidthHz, double indirectWidthHz,
                                       int count);

}  // namespace velmora::processing
