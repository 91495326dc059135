#include "exchange/dispersion_work.h"

#include "util/number_format.h"

#include <algorithm>
#include <cmath>

namespace velmora::exchange {

namespace {

// What one event of a history costs on this machine (one core), seconds, measured on long trains
// (65, 45, 15 and 90 ns) and rounded up: a pulse element's rotation and relaxation, a delay's
// precession and relaxation, a jump in a delay (a waiting time drawn) and a jump in a pulse
// element (a waiting time and a split rotation).
constexpr double kPulseElementSeconds = 70e-9;
constexpr double kDelaySeconds = 50e-9;
constexpr double kDelayJumpSeconds = 20e-9;
constexpr double kPulseJumpSeconds = 100e-9;
// Held per grid point while the grid runs: its result, its running totals and the current grid's
// tally, the result list's item (twice: the list and the window's copy) and the table line.
constexpr double kBytesPerPoint = 1024;
constexpr double kTableBytesPerPoint = 200;
constexpr double kTableHeadBytes = 1024;

}  // namespace

PointWork pointWork(const EchoTrain& train)
{
    PointWork work;
    work.history = train.work();
    const HistoryWork& h = work.history;
    work.seconds =
        kRepetitionsPerPoint * (h.pulseElements * kPulseElementSeconds + h.delays * kDelaySeconds +
                                h.delayJumps * kDelayJumpSeconds + h.pulseJumps * kPulseJumpSeconds);
    return work;
}

DispersionWork estimateDispersionWork(const PreparedDispersion& prepared)
{
    DispersionWork work;
    const int points = prepared.pointCount();
    for (int point = 0; point < points; ++point) {
        const PointWork here = pointWork(prepared.trainFor(prepared.valuesAt(point)));
        // A time that is not a number (an infinite train) counts as the slowest.
        if (point == 0 || !(here.seconds <= work.slowest.seconds)) {
            work.slowest = here;
            work.slowestPoint = point;
        }
    }
    const double pulseBytes = sizeof(PulseElement) * static_cast<double>(prepared.pulse.size());
    const double phaseBytes = sizeof(int) * static_cast<double>(prepared.phaseDigits.size());
    work.memoryBytes = kBytesPerPoint * points + pulseBytes + phaseBytes;
    work.tableBytes = kTableHeadBytes + kTableBytesPerPoint * points;
    return work;
}

std::string durationText(double seconds)
{
    constexpr double kMinute = 60, kHour = 3600, kDay = 86400, kYear = 365.25 * kDay;
    if (seconds < 2 * kMinute)
        return util::formatPattern(seconds, "0") + " s";
    if (seconds < 2 * kHour)
        return util::formatPattern(seconds / kMinute, "0") + " minutes";
    if (seconds < 2 * kDay)
        return util::formatPattern(seconds / kHour, "0.0") + " hours";
    if (seconds < kYear)
        return util::formatPattern(seconds / kDay, "0.0") + " days";
    const double years = seconds / kYear;
    if (years < 1e6)
        return util::formatPattern(years, "0") + " years";
    char text[32];
    std::snprintf(text, sizeof text, "%.1e years", years);
    return text;
}

std::optional<std::string> dispersionTimeProblem(const PreparedDispersion& prepared)
{
    const auto pointText = [&](int point) {
        const Values& start = prepared.request.exchange.values;
        const SweptParameter& first = prepared.first;
        const SweptParameter& second = prepared.second;
        return "grid point " + std::to_string(point + 1) + " (" + first.name + " = " +
               util::formatGeneral(first.valueAt(sweptValue(start, first.name), point % first.valueCount)) +
               ", " + second.name + " = " +
               util::formatGeneral(second.valueAt(sweptValue(start, second.name), point / first.valueCount)) +
               ")";
    };
    for (int point = 0; point < prepared.pointCount(); ++point) {
        if (!std::isfinite(prepared.trainFor(prepared.valuesAt(point)).sequenceSeconds()))
            return "the echo train of " + pointText(point) +
                   " is longer than its clock can count: lower tcp, Tp or Necho";
    }
    const DispersionWork work = estimateDispersionWork(prepared);
    const PointWork& slowest = work.slowest;
    if (slowest.seconds <= kLongestPointSeconds)
        return std::nullopt;
    const HistoryWork& h = slowest.history;
    char counts[160];
    std::snprintf(counts, sizeof counts,
                  "%d histories, each of %.0f pulse elements, %.0f delays and %.3g jumps",
                  kRepetitionsPerPoint, h.pulseElements, h.delays, h.delayJumps + h.pulseJumps);
    const bool jumpsDominate = h.delayJumps * kDelayJumpSeconds + h.pulseJumps * kPulseJumpSeconds >
                               h.pulseElements * kPulseElementSeconds + h.delays * kDelaySeconds;
    return "The exchange experiment's " + pointText(work.slowestPoint) + " would take about " +
           durationText(slowest.seconds) + " on this machine (" + counts +
           "); a grid point may take at most " + durationText(kLongestPointSeconds) + ". " +
           (jumpsDominate ? "Lower kex, tcp or Tp, which set the number of jumps."
                          : "Lower Necho, or use a shaped pulse of fewer elements.");
}

}  // namespace velmora::exchange
