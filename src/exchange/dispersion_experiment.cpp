#include "exchange/dispersion_experiment.h"

#include "exchange/carver_richards.h"
#include "exchange/dispersion_work.h"
#include "pulses/numeric_table.h"
#include "pulses/shape_table.h"
#include "util/file_listing.h"
#include "util/number_format.h"
#include "util/rounding.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace velmora::exchange {

namespace {

using model::ExchangeSettings;

constexpr double kTwoPi = 6.28318530717958;
constexpr double kDegreesToRadians = 0.017453292519943278;
// A non-positive magnetisation ratio is taken as this one, so its rate stays finite.
constexpr double kSmallestRatio = 1e-13;

// The exchange values by the names of their boxes, in the order of ExchangeSettings::Value.
constexpr std::array<const char*, ExchangeSettings::kValueCount> kValueNames{
    "Tp", "tcp", "kex", "RFoffset", "half_shift", "Necho", "w1", "Pa", "T1A", "T1B", "T2A", "T2B", "Angle"};

SweptParameter sweep(std::string_view typedName, int lastIndex, double increment, std::string_view method)
{
    return {sweptNameFor(typedName), std::max(lastIndex, 0) + 1, increment, isMultiplying(method)};
}

// Ni and Ni2 (the last index of each sweep) within their limits, and the grid they make within
// its own, counted in 64 bits so that an absurd count is refused rather than overflowed.
bool countsAllowed(const ExchangeSettings& exchange, util::Messages& messages)
{
    const std::int64_t first = std::int64_t{std::max(exchange.lastRunIndex, 0)} + 1;
    const std::int64_t second = std::int64_t{std::max(exchange.secondSeriesCount, 0)} + 1;
    for (const auto& [box, count] : {std::pair{"Ni", first}, std::pair{"Ni2", second}}) {
        if (count > kMostSweepValues) {
            messages.show(std::string(box) + " = " + std::to_string(count - 1) + " asks for " +
                              std::to_string(count) + " values of a swept parameter; a sweep takes at most " +
                              std::to_string(kMostSweepValues) + " values (" + box + " up to " +
                              std::to_string(kMostSweepValues - 1) + ")",
                          "Error!");
            return false;
        }
    }
    if (first * second > kMostGridPoints) {
        messages.show("Ni = " + std::to_string(first - 1) + " and Ni2 = " + std::to_string(second - 1) +
                          " make a grid of " + std::to_string(first) + " x " + std::to_string(second) +
                          " = " + std::to_string(first * second) +
                          " points; an exchange grid holds at most " + std::to_string(kMostGridPoints) +
                          " points. Lower Ni or Ni2",
                      "Error!");
        return false;
    }
    return true;
}

// The values no grid point may hold: negative rates, lengths, counts and fields; values that are
// not finite; Pa above 1, which would make the waiting times in site A negative; more echoes than
// a train may have.
bool valuesAllowed(const Values& v, util::Messages& messages)
{
    for (const ExchangeSettings::Value value :
         {ExchangeSettings::Kex, ExchangeSettings::HalfShift, ExchangeSettings::Necho, ExchangeSettings::Pa,
          ExchangeSettings::Tp, ExchangeSettings::Tcp, ExchangeSettings::W1}) {
        if (v[value] < 0 || std::isnan(v[value])) {
            messages.show("negative value?", "Error!");
            return false;
        }
    }
    for (int value = 0; value < ExchangeSettings::kValueCount; ++value) {
        if (!std::isfinite(v[static_cast<std::size_t>(value)])) {
            messages.show(std::string("the exchange value ") + kValueNames[static_cast<std::size_t>(value)] +
                              " is not a finite number",
                          "Error!");
            return false;
        }
    }
    if (v[ExchangeSettings::Pa] > 1) {
        messages.show("Pa is a population: it must lie between 0 and 1", "Error!");
        return false;
    }
    if (v[ExchangeSettings::Necho] > kMostEchoes) {
        messages.show("Necho = " + util::formatGeneral(v[ExchangeSettings::Necho]) +
                          ": an echo train has at most " + std::to_string(kMostEchoes) + " echoes",
                      "Error!");
        return false;
    }
    return true;
}

bool relaxationTimesAllowed(const PreparedDispersion& prepared, const Values& v, util::Messages& messages)
{
    const auto positive = [&](ExchangeSettings::Value a, ExchangeSettings::Value b) {
        return v[a] > 0 && v[b] > 0;
    };
    if ((prepared.request.t1Relaxation && !positive(ExchangeSettings::T1SiteA, ExchangeSettings::T1SiteB)) ||
        (prepared.request.t2Relaxation && !positive(ExchangeSettings::T2SiteA, ExchangeSettings::T2SiteB))) {
        messages.show("T1 and T2 of both sites must be positive when their relaxation is on", "Error!");
        return false;
    }
    return true;
}

// Rows 1.. of the shaped-pulse file: phase in degrees, amplitude of 1023, relative duration.
std::optional<std::vector<PulseElement>> readPulse(const std::filesystem::path& path,
                                                   util::Messages& messages)
{
    pulses::NumericBuffer buffer;
    const pulses::NumericReadResult read = pulses::readNumericTable({path, 1}, buffer, messages);
    if (!read.fileFound)
        return std::nullopt;
    std::vector<PulseElement> elements;
    for (int row = 1; row < read.nextRow; ++row) {
        const double phase = buffer.at(row, 0);
        const double amplitude = buffer.at(row, 1);
        const double duration = buffer.at(row, 2);
        if (!std::isfinite(phase) || !std::isfinite(amplitude) || !std::isfinite(duration) || duration < 0) {
            messages.show("the pulse file " + path.string() + ": row " + std::to_string(row) +
                              " needs a finite phase and amplitude and a relative duration of 0 or more",
                          "Error!");
            return std::nullopt;
        }
        elements.push_back({phase * kDegreesToRadians, amplitude / pulses::kFullPulseAmplitude, duration});
    }
    if (elements.empty()) {
        messages.show("the pulse file " + path.string() + " holds no pulse elements", "Error!");
        return std::nullopt;
    }
    return elements;
}

}  // namespace

std::vector<int> echoPhaseDigits(std::string_view phase, int echoes)
{
    std::string repeated(phase.empty() ? "0" : phase);
    while (static_cast<int>(repeated.size()) < echoes)
        repeated += repeated;
    std::vector<int> digits;
    for (int k = 0; k < echoes; ++k) {
        const char c = repeated[static_cast<std::size_t>(k)];
        digits.push_back(c >= '0' && c <= '9' ? c - '0' : 0);
    }
    return digits;
}

Values PreparedDispersion::valuesAt(int point) const
{
    Values values = request.exchange.values;
    const Values& start = request.exchange.values;
    // A sweep of one value holds its quantity at the start value and is left out, so that it cannot
    // undo the other sweep when both name the same quantity (two that both step it are refused).
    if (second.valueCount > 1)
        setSweptValue(values, second.name,
                      second.valueAt(sweptValue(start, second.name), point / first.valueCount));
    if (first.valueCount > 1)
        setSweptValue(values, first.name,
                      first.valueAt(sweptValue(start, first.name), point % first.valueCount));
    return values;
}

EchoTrain PreparedDispersion::trainFor(const Values& values) const
{
    return EchoTrain(values, pulse, pulseProfile, phaseDigits, request.exchange.startMagnetisation,
                     request.t1Relaxation, request.t2Relaxation);
}

std::optional<PreparedDispersion> prepareDispersion(const DispersionRequest& request,
                                                    const std::filesystem::path& workingDirectory,
                                                    util::Messages& messages)
{
    PreparedDispersion prepared;
    prepared.request = request;
    const model::ExchangeSettings& exchange = request.exchange;
    if (!countsAllowed(exchange, messages))
        return std::nullopt;
    prepared.first =
        sweep(exchange.sweptName, exchange.lastRunIndex, exchange.seriesValue, request.firstMethod);
    prepared.second = sweep(exchange.secondSweptName, exchange.secondSeriesCount, exchange.secondSeriesValue,
                            request.secondMethod);
    if (prepared.first.name == prepared.second.name && prepared.first.valueCount > 1 &&
        prepared.second.valueCount > 1) {
        messages.show("both sweeps step " + prepared.first.name +
                          ": choose another quantity for the second sweep (Array2), or set Ni2 to 0",
                      "Error!");
        return std::nullopt;
    }

    int longestTrain = 0;
    for (int point = 0; point < prepared.pointCount(); ++point) {
        const Values values = prepared.valuesAt(point);
        if (!valuesAllowed(values, messages) || !relaxationTimesAllowed(prepared, values, messages))
            return std::nullopt;
        longestTrain = std::max(longestTrain, util::roundToInt(values[ExchangeSettings::Necho]));
    }
    prepared.phaseDigits = echoPhaseDigits(exchange.phase, longestTrain);

    if (exchange.shapedPulse.empty()) {
        prepared.pulse.assign(kHardPulseElements, PulseElement{});
        for (int point = 0; point < prepared.pointCount(); ++point) {
            if (prepared.valuesAt(point)[ExchangeSettings::Tcp] == 0) {
                messages.show("dellength=?", "Error!");
                return std::nullopt;
            }
        }
    } else {
        // The name may come from a sequence file: only a file of the working directory is read.
        if (!util::isBareFileName(exchange.shapedPulse)) {
            messages.show("the shaped pulse \"" + exchange.shapedPulse +
                              "\" must be the name of a file in the working directory, without a folder",
                          "Error!");
            return std::nullopt;
        }
        std::optional<std::vector<PulseElement>> pulse =
            readPulse(workingDirectory / exchange.shapedPulse, messages);
        if (!pulse)
            return std::nullopt;
        prepared.pulse = std::move(*pulse);
    }
    prepared.pulseProfile = pulseProfileOf(prepared.pulse);
    if (const std::optional<std::string> problem = dispersionTimeProblem(prepared)) {
        messages.show(*problem, "Error!");
        return std::nullopt;
    }
    return prepared;
}

DispersionExperiment::DispersionExperiment(const PreparedDispersion& prepared, std::int64_t seed)
    : prepared_(prepared), seed_(seed)
{
}

// The 10 repetitions of one grid point, each a history from the point's own random stream; the
// first grid also follows the spin that stays in site A. None once the running flag is cleared.
std::optional<DispersionExperiment::Tally>
DispersionExperiment::evaluate(int grid, int point, const util::RunControl& control) const
{
    if (!control.running())
        return std::nullopt;
    util::UniformRandom random =
        util::derivedStream(seed_, static_cast<std::uint64_t>(grid), static_cast<std::uint64_t>(point));
    const Values values = prepared_.valuesAt(point);
    const EchoTrain train = prepared_.trainFor(values);
    const double seconds = train.sequenceSeconds();
    Tally tally;
    if (grid == 1) {
        const std::optional<double> x0 = train.withoutExchange(control);
        if (!x0)
            return std::nullopt;
        tally.x0 = *x0;
    }
    double sumRate2 = 0;
    for (int repetition = 0; repetition < kRepetitionsPerPoint; ++repetition) {
        const std::optional<double> history = train.history(random, control);
        if (!history)
            return std::nullopt;
        const double x = *history;
        const double rate = seconds > 0 ? -std::log(x > 0 ? x : kSmallestRatio) / seconds : 0;
        tally.sumX += x;
        tally.sumX2 += x * x;
        tally.sumRate += rate;
        sumRate2 += rate * rate;
        ++tally.histories;
    }
    double mean = tally.sumRate / kRepetitionsPerPoint;
    const double meanSquare = sumRate2 / kRepetitionsPerPoint;
    const double spread = std::abs(meanSquare - mean * mean);
    if (mean == 0)
        mean = 1e-15;
    tally.errPercent = 100 * std::sqrt(spread / (mean * mean));
    return tally;
}

void DispersionExperiment::addToTotals(const std::vector<std::optional<Tally>>& tallies)
{
    for (std::size_t p = 0; p < tallies.size(); ++p) {
        if (!tallies[p])
            continue;
        Tally& total = totals_[p];
        if (total.histories == 0)
            x0_[p] = tallies[p]->x0;
        total.sumX += tallies[p]->sumX;
        total.sumX2 += tallies[p]->sumX2;
        total.sumRate += tallies[p]->sumRate;
        total.histories += tallies[p]->histories;
        total.errPercent = tallies[p]->errPercent;
    }
}

bool DispersionExperiment::run(int gridCount, util::WorkPool& pool, util::RunControl& control,
                               const GridListener& afterGrid, const PointListener& afterPoints)
{
    const int points = prepared_.pointCount();
    clear();
    const int grids = std::clamp(gridCount, 1, kMostGrids);
    const int batch = pool.threads();
    bool completed = true;
    for (int grid = 1; grid <= grids && completed; ++grid) {
        std::vector<std::optional<Tally>> tallies(static_cast<std::size_t>(points));
        for (int first = 0; first < points && completed; first += batch) {
            const int count = std::min(batch, points - first);
            pool.run(count, [&](int piece, int) {
                tallies[static_cast<std::size_t>(first + piece)] = evaluate(grid, first + piece, control);
            });
            completed = control.running();
            if (afterPoints)
                afterPoints(grid, first + count);
            control.yield();
            completed = completed && control.running();
        }
        if (!addGrid(grid, tallies))
            break;
        if (afterGrid)
            afterGrid(results_);
    }
    control.stop();
    return results_.gridsDone == grids;
}

void DispersionExperiment::clear()
{
    const auto points = static_cast<std::size_t>(prepared_.pointCount());
    totals_.assign(points, Tally{});
    x0_.assign(points, 0.0);
    results_ = {};
}

bool DispersionExperiment::addGrid(int grid, const std::vector<std::optional<Tally>>& tallies)
{
    const auto done = static_cast<int>(
        std::count_if(tallies.begin(), tallies.end(), [](const auto& tally) { return tally.has_value(); }));
    if (done == 0)
        return false;
    addToTotals(tallies);
    // A Stop that came after the grid's last point leaves the grid whole.
    if (done == prepared_.pointCount())
        results_.gridsDone = grid;
    else
        results_.partialGridPoints = done;
    publish();
    return true;
}

void DispersionExperiment::publish()
{
    const Values& start = prepared_.request.exchange.values;
    const SweptParameter& first = prepared_.first;
    const SweptParameter& second = prepared_.second;
    results_.points.clear();
    for (int point = 0; point < static_cast<int>(totals_.size()); ++point) {
        const Tally& total = totals_[static_cast<std::size_t>(point)];
        const Values values = prepared_.valuesAt(point);
        const EchoTrain train = prepared_.trainFor(values);
        PointResult r;
        r.firstValue = first.valueAt(sweptValue(start, first.name), point % first.valueCount);
        r.secondValue = second.valueAt(sweptValue(start, second.name), point / first.valueCount);
        r.sequenceSeconds = train.sequenceSeconds();
        r.cpmgFrequencyHz = train.cpmgFrequencyHz();
        r.pa = values[ExchangeSettings::Pa];
        r.rabPerS = values[ExchangeSettings::Kex] * (1 - r.pa);
        r.rbaPerS = values[ExchangeSettings::Kex] * r.pa;
        r.histories = total.histories;
        constexpr double kNoRate = std::numeric_limits<double>::quiet_NaN();
        if (total.histories == 0) {
            r.x = r.x0 = r.r2effPerS = r.r2effErrorPerS = r.r2effRepPerS = r.rexPerS = r.errPercent = kNoRate;
            results_.points.push_back(r);
            continue;
        }
        const auto n = static_cast<double>(total.histories);
        r.x = total.sumX / n;
        r.x0 = x0_[static_cast<std::size_t>(point)];
        // The rate of a magnetisation that is still there; none for one that is gone or reversed.
        const auto rate = [&](double x) {
            return r.sequenceSeconds <= 0 ? 0.0 : x > 0 ? -std::log(x) / r.sequenceSeconds : kNoRate;
        };
        // The standard error of X over the histories (sample variance), and the signal it allows.
        const double varianceX = n > 1 ? std::max(total.sumX2 - n * r.x * r.x, 0.0) / (n - 1) : 0.0;
        const double errorX = std::sqrt(varianceX / n);
        r.signalLost = !(r.x > kLeastSignalToNoise * errorX);
        r.r2effPerS = r.signalLost ? kNoRate : rate(r.x);
        r.rexPerS = r.r2effPerS - rate(r.x0);
        r.r2effErrorPerS = r.signalLost            ? kNoRate
                           : r.sequenceSeconds > 0 ? errorX / (r.x * r.sequenceSeconds)
                                                   : 0.0;
        r.r2effRepPerS = total.sumRate / n;
        r.errPercent = total.errPercent;
        results_.points.push_back(r);
    }

    // Kex_cal: a fit of the Carver-Richards curve along every line of the grid that sweeps tcp.
    const bool firstIsTcp = first.name == "tcp" && first.valueCount >= 3;
    const bool secondIsTcp = !firstIsTcp && second.name == "tcp" && second.valueCount >= 3;
    if (!firstIsTcp && !secondIsTcp)
        return;
    const int lines = firstIsTcp ? second.valueCount : first.valueCount;
    const int along = firstIsTcp ? first.valueCount : second.valueCount;
    for (int line = 0; line < lines; ++line) {
        const auto pointOf = [&](int k) {
            return firstIsTcp ? line * first.valueCount + k : k * first.valueCount + line;
        };
        // Points whose signal is lost, or that have no histories yet, tell nothing of the curve.
        std::vector<DispersionSample> samples;
        for (int k = 0; k < along; ++k) {
            const PointResult& r = results_.points[static_cast<std::size_t>(pointOf(k))];
            if (r.cpmgFrequencyHz > 0 && r.histories > 0 && !r.signalLost)
                samples.push_back({1 / (2 * r.cpmgFrequencyHz), r.r2effPerS, r.r2effErrorPerS});
        }
        const Values values = prepared_.valuesAt(pointOf(0));
        const std::optional<ExchangeFit> fit = fitExchangeRate(
            samples, values[ExchangeSettings::Pa], kTwoPi * 2 * values[ExchangeSettings::HalfShift]);
        for (int k = 0; fit && k < along; ++k) {
            PointResult& r = results_.points[static_cast<std::size_t>(pointOf(k))];
            r.kexCalPerS = fit->kexPerS;
            r.kexCalErrorPerS = fit->kexErrorPerS;
            r.r20CalPerS = fit->r20PerS;
        }
    }
}

}  // namespace velmora::exchange
