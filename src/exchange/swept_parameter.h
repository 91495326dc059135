// The two parameters a relaxation-dispersion experiment sweeps over its grid: which exchange value
// a swept name addresses, and the value it takes at each step of its series.
#pragma once

#include "model/exchange_settings.h"

#include <string>
#include <string_view>

namespace velmora::exchange {

using Values = decltype(model::ExchangeSettings::values);

struct SweptParameter {
    std::string name;       // as written in the table header: "Kex", "tcp", "ch_shift", ...
    int valueCount = 1;     // steps of the series (1: not swept)
    double increment = 0;   // added per step, or the factor per step when multiplying
    bool multiply = false;  // "Mult": each step multiplies by the increment; otherwise it adds

    // The value of the named quantity at step k of the series, starting from `start`.
    double valueAt(double start, int k) const;
};

// The name the experiment sweeps for `typed`: one of "Necho", "Pa", "Tp", "tcp", "w1",
// "ch_shift", "RFoffset", "Angle" (any case, written in this spelling), anything else "Kex".
std::string sweptNameFor(std::string_view typed);

// The value of a swept quantity in `values` ("ch_shift" is twice the stored half shift).
double sweptValue(const Values& values, std::string_view sweptName);
// Stores a swept quantity into `values`.
void setSweptValue(Values& values, std::string_view sweptName, double value);

// "Mult" (any case) multiplies; every other method caption adds.
bool isMultiplying(std::string_view methodCaption);

}  // namespace velmora::exchange
