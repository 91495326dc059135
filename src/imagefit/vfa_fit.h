// The variable-flip-angle fit of one slice of an image series: T1, B1, amplitude and error maps.
// Pass 1 searches T1 at every B1 grid value for every pixel of the slab; pass 2 picks each pixel's
// B1 from the grid costs averaged over its neighbourhood; pass 3 smooths the B1 map with cubics
// along rows, then columns; pass 4 fits T1 and amplitude once more with B1 fixed, by a straight
// line through the linearised signals or, failing that, by the T1 search.
#pragma once

#include "imagefit/image_series.h"
#include "imagefit/map_geometry.h"
#include "imagefit/signal_model.h"
#include "util/outcome.h"
#include "util/run_control.h"
#include "util/work_pool.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace velmora::imagefit {

// B1 of a pixel that is not fitted.
inline constexpr double kUnfittedB1 = 3.3333;
// Neighbourhood of pass 2: this many rows and columns on either side.
inline constexpr int kNeighbourhoodHalfWidth = 10;

struct FitSettings {
    int slice = 1;              // s0, counted from 1
    int slabHalfThickness = 0;  // h: the slab is slices s0 - h .. s0 + h
    Orientation orientation = Orientation::Coronal;
    double threshold = 0.0;  // a pixel is fitted when the deciding image is above it on every slab slice
    int decidingImage = 1;   // counted from 1
    double t1MinSeconds = 0.05;
    double t1MaxSeconds = 5.0;
    double b1Min = 0.1;
    double b1Max = 1.5;
    // Amplitude restriction, in image units: a fitted amplitude outside it is set to the nearer
    // bound (the least-squares amplitude of the pixel's ratios S_i / f_i under the restriction).
    double amplitudeMin = 0.01;
    double amplitudeMax = std::numeric_limits<double>::infinity();
    std::int64_t seed = 1;  // of the T1 searches' random starts, one stream per pixel
};

struct FitMaps {
    int rows = 0;
    int columns = 0;
    // Row-major, rows x columns. T1 in seconds, B1 a factor, amplitude in the images' units.
    std::vector<double> t1Seconds;
    std::vector<double> b1;
    std::vector<double> amplitude;
    std::vector<double> error;
    int fittedPixels = 0;
    int belowThreshold = 0;  // not fitted: the deciding image at or below the threshold on a slab slice
    int noFiniteFit = 0;     // not fitted: a non-finite signal, or no trial T1 with a finite cost (all zero)
    // Fitted pixels whose final T1 lies at a bound of the T1 range (within 0.1 ms: the true T1 is
    // there or beyond it), and whose amplitude was set to a bound of the amplitude range.
    int t1AtBound = 0;
    int amplitudeAtBound = 0;
    double smallestError = 1.11111111111111e20;  // over the pass-1 errors of the fitted pixels
    double largestError = -111111111111111.0;
    bool stopped = false;  // Stop ended the fit early; the maps hold what was done

    std::size_t index(int r, int c) const
    {
        return static_cast<std::size_t>(r) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(c);
    }
    bool fitted(int r, int c) const { return b1[index(r, c)] != kUnfittedB1; }
};

// Pass 4 at one pixel, B1 fixed (its cosines and sines in `pixel`): the straight line through
// (S_i / tan(b a_i), S_i / sin(b a_i)) whose slope is E = exp(-TR / T1) and whose intercept is
// amplitude (1 - E); when the slope is not positive, T1 leaves [T1min, T1max] or the images do not
// share one TR (no common line), the T1 search.
struct FixedB1Fit {
    double t1Seconds = 0.0;
    double amplitude = 0.0;
    double error = 0.0;  // sum (1 - S_i / (amplitude f_i))^2 of the line, or the search's cost
    bool searched = false;
};
FixedB1Fit fitWithFixedB1(const PixelSignals& pixel, const FitSettings& settings, util::UniformRandom& random,
                          double* scratch);

// Progress of a running fit: pass 1..4 and the rows (or, in pass 3, lines) done of that pass.
using FitProgress = std::function<void(int pass, int done, int total)>;

// Most B1 grid values: B1 up to 10 times the nominal flip angle in steps of 0.1.
inline constexpr int kMostB1GridValues = 100;
// The T1 range must lie within these (s) and be at least kShortestT1Seconds wide: the search's
// steps stop at 1e-5 s, so a shorter T1 or a narrower range cannot be told apart, and a longer one
// than 1000 s is no relaxation time of tissue or sample.
inline constexpr double kShortestT1Seconds = 1e-4;
inline constexpr double kLongestT1Seconds = 1000.0;

// Memory (bytes) the fit of this series with these settings holds on `threads` threads.
double fitMemoryBytes(const ImageSeries& series, const FitSettings& settings, int threads);

// Fits the slice. Refuses, leaving `maps` unchanged, when the slab leaves the block (the slab
// message), the deciding image is not in the series, a range is empty or out of bounds, or the
// fit's working arrays exceed the memory budget (an allocation that fails all the same is a
// refusal too). `control`, when given, is yielded to after every block of rows; the fit stops at
// the next block once its running flag is clear. The maps do not depend on the pool's thread count.
util::Outcome fitImageSeries(const ImageSeries& series, const FitSettings& settings, util::WorkPool& pool,
                             const util::RunControl* control, const FitProgress& progress, FitMaps& maps,
                             const MemoryBudget& budget = {});

}  // namespace velmora::imagefit
