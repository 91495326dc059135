// Display arrays: copy of the viewed data set and its phase correction.
#include "processing/display_arrays.h"

#include <array>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmora::processing {

namespace {

constexpr double kPi = 3.14159265358979;

void requireRecord(const engine::SampleRecord& record, int points, int run, const char* what)
{
    if (record.lastSample() < points || record.lastRun() < run)
        throw std::out_of_range(std::string("display arrays: the ") + what + " lacks points or runs");
}

}  // namespace

bool DisplayArrays::build(const BuildRequest& request)
{
    if (request.pointCount == 0)
        return false;
    int first = 0;
    int last = 0;
    if (request.allRuns) {
        if (request.pointCount < 0 || request.lastRun < 0)
            throw std::out_of_range("display arrays: no points or runs to build");
        lastRun_ = request.lastRun;
        pointCount_ = request.pointCount;
        values_.assign(
            static_cast<std::size_t>(lastRun_ + 1) * kParts * static_cast<std::size_t>(pointCount_), 0.0);
        last = lastRun_;
    } else {
        // A one-run rebuild keeps the point count of the array, so a point count changed since the
        // last run takes effect only with the next run.
        if (values_.empty() || request.currentRun < 0 || request.currentRun > lastRun_)
            throw std::out_of_range("display arrays: run " + std::to_string(request.currentRun) +
                                    " has no display data");
        first = last = request.currentRun;
    }
    // The phase turn of each point is the same in every run: computed once for the whole build.
    const int np = pointCount_;
    // Whole turns come out first, so that a phase typed far beyond the bars (1e308) still turns by
    // a finite angle rather than making every point NaN: 10 lp degrees repeat every 36 of lp, and
    // rp (np/2 - i) / 10 degrees every 3600 of rp, np/2 - i being whole. Within the bars' range
    // nothing changes.
    const double lp = std::fmod(request.lp, 36.0);
    const double rp = std::fmod(request.rp, 3600.0);
    std::vector<std::pair<double, double>> turn(static_cast<std::size_t>(np));
    for (int i = 1; i <= np; ++i) {
        // Phase in degrees: 10 lp everywhere plus rp / 10 per point away from i = np/2, then radians.
        const double phi = (10.0 * lp + rp * (np / 2.0 - i) / 10.0) * kPi / 180.0;
        turn[static_cast<std::size_t>(i - 1)] = {std::cos(phi), std::sin(phi)};
    }
    for (int run = first; run <= last; ++run) {
        copyRun(request, run);
        phaseRun(turn, run);
    }
    return request.mapAllowed && request.runsPerValue == 2;
}

void DisplayArrays::copyRun(const BuildRequest& request, int run)
{
    const int np = pointCount_;
    const auto copy = [&](auto&& source) {
        for (int i = 1; i <= np; ++i) {
            const auto [x, y] = source(i);
            ref(run, 0, i - 1) = x;
            ref(run, 1, i - 1) = y;
            ref(run, 2, i - 1) = std::sqrt(x * x + y * y);
        }
    };
    const auto fromRecord = [&](const engine::SampleRecord& record, const char* what) {
        requireRecord(record, np, run, what);
        copy([&](int i) { return std::pair{record.at(1, i, run), record.at(2, i, run)}; });
    };
    const auto fromTable = [&](const std::vector<std::array<double, 4>>& rows, const char* what) {
        if (rows.size() < static_cast<std::size_t>(np) + 1)
            throw std::out_of_range(std::string("display arrays: the ") + what + " lacks points");
        copy([&](int i) {
            const auto& row = rows[static_cast<std::size_t>(i)];
            return std::pair{row[0], row[1]};
        });
    };

    const std::string_view mode = request.viewMode;
    if (mode == "signalspec") {
        fromRecord(request.signal, "signal record");
    } else if (mode == "signalfid") {
        fromRecord(request.timeDomain, "time-domain record");
    } else if (mode == "pulsefid" && request.acquisitionPulse != nullptr) {
        fromTable(request.acquisitionPulse->waveform, "pulse waveform");
    } else if (mode == "pulsespec" && request.acquisitionPulse != nullptr) {
        fromTable(request.acquisitionPulse->spectrum, "pulse spectrum");
    }
}

void DisplayArrays::phaseRun(const std::vector<std::pair<double, double>>& turn, int run)
{
    for (int i = 1; i <= pointCount_; ++i) {
        const auto [c, s] = turn[static_cast<std::size_t>(i - 1)];
        const double x = ref(run, 0, i - 1);
        const double y = ref(run, 1, i - 1);
        // Multiplication by exp(-i phi); the magnitude part is left as copied.
        ref(run, 0, i - 1) = x * c + y * s;
        ref(run, 1, i - 1) = y * c - x * s;
    }
}

}  // namespace velmora::processing
