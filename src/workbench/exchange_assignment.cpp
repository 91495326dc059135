// One "NAME=VALUE" of the exchange experiment: an exchange value by the name its row shows, or any
// box of the control registry.
#include "workbench/exchange_assignment.h"

#include "model/exchange_settings.h"
#include "util/text_compare.h"
#include "workbench/control_override.h"
#include "workbench/workbench.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <utility>

namespace velmora::workbench {

namespace {

using model::ExchangeSettings;

template <typename Number> bool parseNumber(std::string_view text, Number& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

}  // namespace

util::Outcome assignExchangeValue(Workbench& bench, const std::string& assignment)
{
    const std::size_t equals = assignment.find('=');
    const std::string_view name = std::string_view(assignment).substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    ExchangeSettings& exchange = bench.exchange();
    static constexpr std::pair<std::string_view, ExchangeSettings::Value> kValues[] = {
        {"Tp", ExchangeSettings::Tp},
        {"tcp", ExchangeSettings::Tcp},
        {"kex", ExchangeSettings::Kex},
        {"RFoffset", ExchangeSettings::RfOffset},
        {"half_shift", ExchangeSettings::HalfShift},
        {"Necho", ExchangeSettings::Necho},
        {"w1", ExchangeSettings::W1},
        {"Pa", ExchangeSettings::Pa},
        {"T1A", ExchangeSettings::T1SiteA},
        {"T1B", ExchangeSettings::T1SiteB},
        {"T2A", ExchangeSettings::T2SiteA},
        {"T2B", ExchangeSettings::T2SiteB},
        {"Angle", ExchangeSettings::Angle},
    };
    const auto number = [&]() -> std::optional<double> {
        double x = 0;
        if (!parseNumber(std::string_view(value), x) || !std::isfinite(x))
            return std::nullopt;
        return x;
    };
    const auto notANumber = [&] {
        return util::Outcome::failure(std::string(name) + " takes a number, not \"" + value + "\"");
    };
    for (const auto& [known, index] : kValues) {
        if (util::equalsIgnoreCase(name, known)) {
            const std::optional<double> x = number();
            if (!x)
                return notANumber();
            exchange.values[index] = *x;
            return util::Outcome::success();
        }
    }
    if (util::equalsIgnoreCase(name, "ch_shift")) {
        const std::optional<double> x = number();
        if (!x)
            return notANumber();
        exchange.values[ExchangeSettings::HalfShift] = *x / 2;
        return util::Outcome::success();
    }
    const std::pair<std::string_view, std::string*> texts[] = {
        {"Phase", &exchange.phase},
        {"StartMagn", &exchange.startMagnetisation},
        {"ShapedPulse", &exchange.shapedPulse},
        {"Array", &exchange.sweptName},
        {"Array2", &exchange.secondSweptName},
    };
    for (const auto& [known, text] : texts) {
        if (util::equalsIgnoreCase(name, known)) {
            *text = value;
            return util::Outcome::success();
        }
    }
    const std::pair<std::string_view, double*> steps[] = {{"step", &exchange.seriesValue},
                                                          {"step2", &exchange.secondSeriesValue}};
    for (const auto& [known, step] : steps) {
        if (util::equalsIgnoreCase(name, known)) {
            const std::optional<double> x = number();
            if (!x)
                return notANumber();
            *step = *x;
            return util::Outcome::success();
        }
    }
    if (util::equalsIgnoreCase(name, "Ni") || util::equalsIgnoreCase(name, "Ni2")) {
        int count = 0;
        if (!parseNumber(std::string_view(value), count) || count < 0)
            return util::Outcome::failure(std::string(name) + " takes a whole number from 0 on, not \"" +
                                          value + "\"");
        (util::equalsIgnoreCase(name, "Ni") ? exchange.lastRunIndex : exchange.secondSeriesCount) = count;
        return util::Outcome::success();
    }
    return applyControlOverride(bench, assignment);
}

}  // namespace velmora::workbench
