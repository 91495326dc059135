#include "model/spin_value_ranges.h"

#include "util/number_format.h"

#include <cmath>

namespace velmora::model {

namespace {

// A shift of 1e5 ppm puts a proton 17 MHz away at 170 MHz, far outside any spectral width; a
// coupling of 1 MHz is beyond any scalar coupling; 1e9 ms is eleven days.
constexpr double kLargestShiftPpm = 1.0e5;
constexpr double kLargestCouplingHz = 1.0e6;
constexpr double kLongestRelaxationMs = 1.0e9;

}  // namespace

std::optional<std::string> spinValueProblem(SpinValue kind, double value)
{
    if (!std::isfinite(value))
        return "takes a number, not " + util::formatGeneral(value);
    switch (kind) {
    case SpinValue::ShiftPpm:
        if (std::fabs(value) > kLargestShiftPpm)
            return "must lie within -100000 and 100000 ppm, not " + util::formatGeneral(value);
        break;
    case SpinValue::CouplingHz:
        if (std::fabs(value) > kLargestCouplingHz)
            return "must lie within -1000000 and 1000000 Hz, not " + util::formatGeneral(value);
        break;
    case SpinValue::T1Ms:
    case SpinValue::T2Ms:
        if (!(value > 0.0) || value > kLongestRelaxationMs)
            return "must be above 0 and at most 1e9 ms, not " + util::formatGeneral(value);
        break;
    }
    return std::nullopt;
}

}  // namespace velmora::model
