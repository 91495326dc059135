#include "pulses/complex_phase.h"

#include <cmath>

namespace velmora::pulses {

namespace {
constexpr double kPi = 3.14159265358979;
}

double complexPhase(double x, double y, double& previousRad, bool unwrap)
{
    double phase = 0.0;
    if (x == 0.0) {
        phase = y > 0.0 ? kPi / 2.0 : y < 0.0 ? -kPi / 2.0 : 0.0;
    } else {
        phase = std::atan(y / x);
        if (x < 0.0)
            phase += y >= 0.0 ? kPi : -kPi;
    }
    // One step of whole half turns instead of a loop of them: the same result, and no endless loop
    // for a previous phase far away.
    if (unwrap && std::isfinite(previousRad))
        phase += std::round((previousRad - phase) / kPi) * kPi;
    previousRad = phase;
    return phase;
}

}  // namespace velmora::pulses
