#include "exchange/dispersion_table.h"

#include "util/number_format.h"
#include "util/rounding.h"
#include "util/text_compare.h"
#include "util/text_file.h"

#include <algorithm>
#include <cmath>

namespace velmora::exchange {

namespace {

using model::ExchangeSettings;

constexpr double kTwoPi = 6.28318530717958;
constexpr std::size_t kEntryWidth = 15;

std::string entry(std::string name, const std::string& value)
{
    while (name.size() + value.size() < kEntryWidth)
        name += '_';
    return name + value;
}

// Truncated (towards zero) to `decimals` decimals, in the general format.
std::string truncated(double x, int decimals)
{
    return util::formatGeneral(util::truncateDecimals(x, decimals));
}

}  // namespace

std::string resultListHeader(const PreparedDispersion& prepared)
{
    return prepared.first.name + "\t" + prepared.second.name +
           "\tRex\tX\tX0\terr%\tRab\tRba\tPa\tKex_cal\tR2eff\tR2eff_rep\tR2eff_se\tKex_cal_se";
}

std::vector<std::string> resultListItems(const DispersionResults& results)
{
    std::vector<std::string> items;
    for (const PointResult& p : results.points) {
        const bool measured = p.histories > 0;
        // A measured figure; "lost" for a rate of a point whose signal is lost, empty for a figure
        // that has no value (no histories yet, or Rex where X0 is 0 or below).
        const auto figure = [&](double value, const char* pattern, bool isRate) -> std::string {
            if (!measured)
                return {};
            if (isRate && p.signalLost)
                return kLostSignal;
            return std::isfinite(value) ? util::formatPattern(value, pattern) : std::string();
        };
        const auto fitted = [](const std::optional<double>& value) {
            return value ? util::formatPattern(*value, "#0.0") : std::string();
        };
        std::string item = util::formatGeneral(p.firstValue) + "\t" + util::formatGeneral(p.secondValue);
        item += "\t" + figure(p.rexPerS, "#0.000", true);
        item += "\t" + figure(p.x, "0.000000", false);
        item += "\t" + figure(p.x0, "0.000000", false);
        item += "\t" + figure(p.errPercent, "#0.00", false);
        item += "\t" + util::formatGeneral(p.rabPerS);
        item += "\t" + util::formatGeneral(p.rbaPerS);
        item += "\t" + util::formatGeneral(p.pa);
        item += "\t" + fitted(p.kexCalPerS);
        item += "\t" + figure(p.r2effPerS, "#0.000", true);
        item += "\t" + figure(p.r2effRepPerS, "#0.000", false);
        item += "\t" + figure(p.r2effErrorPerS, "#0.000", true);
        item += "\t" + fitted(p.kexCalErrorPerS);
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<std::string> parameterEntries(const PreparedDispersion& prepared, int experimentNumber,
                                          const std::string& date)
{
    const ExchangeSettings& exchange = prepared.request.exchange;
    const auto& v = exchange.values;
    const EchoTrain train = prepared.trainFor(v);
    // A quantity swept over two values or more is written as "array".
    const auto value = [&](std::string_view name, std::string text) {
        for (const SweptParameter* sweep : {&prepared.first, &prepared.second}) {
            if (sweep->valueCount >= 2 && util::startsWithIgnoreCase(name, sweep->name))
                return entry(std::string(name), "array");
        }
        return entry(std::string(name), text);
    };
    const double omega1 = kTwoPi * v[ExchangeSettings::W1];
    return {
        value("", exchange.shapedPulse),
        value("ch_shift=", util::formatGeneral(2 * v[ExchangeSettings::HalfShift])),
        value("Necho=", util::formatGeneral(v[ExchangeSettings::Necho])),
        value("Pa=", util::formatGeneral(v[ExchangeSettings::Pa])),
        value("kex=", truncated(v[ExchangeSettings::Kex], 2)),
        value("RFoffset=", truncated(v[ExchangeSettings::RfOffset], 2)),
        value("Tp=", truncated(v[ExchangeSettings::Tp], 2)),
        value("tcp=", truncated(v[ExchangeSettings::Tcp], 2)),
        value("StartMagn=", exchange.startMagnetisation),
        value("Tseq=", truncated(train.sequenceSeconds() * 1e6, 3)),  // microseconds
        value("w1=", truncated(omega1 / kTwoPi, 3)),
        value("Nexp=", std::to_string(experimentNumber)),
        value("Phase=", exchange.phase),
        value("Angle=", util::formatGeneral(v[ExchangeSettings::Angle])),
        value("", date),
    };
}

util::Outcome writeDispersionTable(const std::filesystem::path& path, const PreparedDispersion& prepared,
                                   const DispersionResults& results, const std::string& date)
{
    const std::vector<std::string> entries = parameterEntries(prepared, results.gridsDone, date);
    const std::vector<std::string> items = resultListItems(results);
    std::vector<std::string> lines{"Parameters\t" + resultListHeader(prepared)};
    for (std::size_t k = 0; k < std::max(items.size(), entries.size()); ++k) {
        const std::string lead = k < entries.size() ? entries[k] : std::string();
        lines.push_back(lead + "\t" + (k < items.size() ? items[k] : std::string()));
    }
    return util::writeTextFile(path, lines);
}

}  // namespace velmora::exchange
