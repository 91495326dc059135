#include "exchange/swept_parameter.h"

#include "util/text_compare.h"

#include <array>
#include <cmath>
#include <utility>

namespace velmora::exchange {

namespace {

using model::ExchangeSettings;

// The sweepable names and the value each addresses; "Kex" is the fallback of every other name.
constexpr std::array<std::pair<std::string_view, ExchangeSettings::Value>, 9> kSwept{{
    {"Necho", ExchangeSettings::Necho},
    {"Pa", ExchangeSettings::Pa},
    {"Tp", ExchangeSettings::Tp},
    {"tcp", ExchangeSettings::Tcp},
    {"w1", ExchangeSettings::W1},
    {"ch_shift", ExchangeSettings::HalfShift},
    {"RFoffset", ExchangeSettings::RfOffset},
    {"Angle", ExchangeSettings::Angle},
    {"Kex", ExchangeSettings::Kex},
}};

ExchangeSettings::Value valueOf(std::string_view sweptName)
{
    for (const auto& [name, value] : kSwept) {
        if (util::equalsIgnoreCase(name, sweptName))
            return value;
    }
    return ExchangeSettings::Kex;
}

// The half shift is stored; the swept and reported quantity is the whole shift difference.
double scaleOf(ExchangeSettings::Value value)
{
    return value == ExchangeSettings::HalfShift ? 2.0 : 1.0;
}

}  // namespace

double SweptParameter::valueAt(double start, int k) const
{
    return multiply ? start * std::pow(increment, k) : start + k * increment;
}

std::string sweptNameFor(std::string_view typed)
{
    for (const auto& [name, value] : kSwept) {
        if (util::equalsIgnoreCase(name, typed))
            return std::string(name);
    }
    return "Kex";
}

double sweptValue(const Values& values, std::string_view sweptName)
{
    const ExchangeSettings::Value value = valueOf(sweptName);
    return values[value] * scaleOf(value);
}

void setSweptValue(Values& values, std::string_view sweptName, double value)
{
    const ExchangeSettings::Value index = valueOf(sweptName);
    values[index] = value / scaleOf(index);
}

bool isMultiplying(std::string_view methodCaption)
{
    return util::equalsIgnoreCase(methodCaption, "Mult");
}

}  // namespace velmora::exchange
