// The spoiled steady-state (variable-flip-angle) signal model, the cost of a trial T1 at one
// pixel, and the one-dimensional T1 search. The search reads the cosines and sines of the
// effective flip angles from tables, so it evaluates no trigonometric function.
#pragma once

#include "util/uniform_random.h"

namespace velmora::imagefit {

// Relative signal f = (1 - E) sin(b a) / (1 - cos(b a) E), E = exp(-TR / T1): the measured signal
// is amplitude * f. Flip angle in radians, TR and T1 in seconds.
double spoiledSignal(double flipAngleRad, double b1, double trSeconds, double t1Seconds);

// The signals of one pixel over the series and, for one B1 factor b, cos(b a_i) and sin(b a_i).
struct PixelSignals {
    int images = 0;
    const double* signal = nullptr;     // S_i
    const double* trSeconds = nullptr;  // TR_i
    const double* cosFlip = nullptr;    // cos(b a_i)
    const double* sinFlip = nullptr;    // sin(b a_i)
    bool sameTr = false;                // every TR_i equal: one exponential per trial T1
};

struct TrialCost {
    double cost = 0.0;       // sum r_i^2 / (sum r_i)^2 with r_i = S_i / f_i; infinite when sum r_i is 0
    double amplitude = 0.0;  // mean of r_i
};

TrialCost trialCost(const PixelSignals& pixel, double t1Seconds);

struct T1Estimate {
    double t1Seconds = 0.0;
    double amplitude = 0.0;
    double cost = 0.0;
};

// The search tolerance on the T1 step (s) and the cost every trial must beat.
inline constexpr double kT1SearchTolerance = 1e-5;
inline constexpr double kT1SearchStartCost = 1e13;

// Starts at T1 = 1 / (1/T1max + (1/T1min - 1/T1max) u), u drawn from `random`, and walks with a
// step that starts at T1min, reverses and halves on every step that does not lower the cost or
// leaves [T1min, T1max), until the step is below the tolerance; every T1 it tries lies in that
// range, however narrow. When no trial beats the start cost (no finite cost anywhere: signals all
// zero or not finite) the cost is infinite and T1 is 0.
T1Estimate searchT1(const PixelSignals& pixel, double t1MinSeconds, double t1MaxSeconds,
                    util::UniformRandom& random);

}  // namespace velmora::imagefit
