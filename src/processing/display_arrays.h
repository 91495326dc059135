// The display arrays: what the spectrum view plots. For one run or all runs the data set the view
// shows (signal spectrum or FID, acquisition-pulse spectrum or waveform) is copied in as real,
// imaginary and magnitude parts, and the zero- and first-order phase correction is applied to the
// copy; the source records keep the unphased data.
#pragma once

#include "engine/run_records.h"
#include "pulses/acquisition_pulse.h"

#include <cstddef>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::processing {

class DisplayArrays {
public:
    static constexpr int kParts = 3;  // 0 real, 1 imaginary, 2 magnitude

    struct BuildRequest {
        // 1D: spectra in components 1 (real) and 2 (imaginary), points 1..np, per run.
        const engine::SampleRecord& signal;
        // 1D: the windowed FID in components 1 and 2.
        const engine::SampleRecord& timeDomain;
        // The tables of the shaped pulse on the acquisition step; null when that step has none.
        const pulses::AcquisitionPulseTables* acquisitionPulse = nullptr;

        // "signalspec", "signalfid", "pulsespec" or "pulsefid" (the two view buttons' captions).
        std::string_view viewMode = "signalspec";
        // true: recreate the array for runs 0..lastRun and rebuild all of them; false: rebuild only
        // currentRun, with the point count the array already has.
        bool allRuns = true;
        int currentRun = 0;
        // Phase correction: rp in tenths of a degree per point (first order, zero at point np/2 - 1),
        // lp in tens of degrees (zero order); both -360..360 from the phase bars, and any finite
        // value typed beyond them turns by its angle modulo whole turns.
        double rp = 0.0;
        double lp = 0.0;
        int pointCount = 0;  // np of the run; 0 means nothing to show
        int lastRun = 0;
        // The caller's "first" flag: this build may be followed by the 2D map build.
        bool mapAllowed = false;
        int runsPerValue = 1;  // 2 for two-dimensional runs
    };

    // Copies and phases as described above. A pulse view copies only when acquisitionPulse is set;
    // otherwise, as for an unknown view mode, the run's display data keep their values (zero after
    // an "all" recreation) and are phased as they are. Returns nothing to do (false) when np is 0.
    //
    // The builder does not build the 2D map itself: it returns true when the caller should build it
    // now (mapAllowed and a two-dimensional run), and false otherwise.
    //
    // Throws std::out_of_range when a one-run rebuild finds no array or a run outside it, or when a
    // source holds fewer points or runs than the rebuild reads.
    [[nodiscard]] bool build(const BuildRequest& request);

    bool empty() const { return values_.empty(); }
    int lastRun() const { return lastRun_; }
    int pointCount() const { return pointCount_; }
    double at(int run, int part, int point) const { return values_[index(run, part, point)]; }
    // The points of one part of one run, which lie next to each other.
    std::span<const double> points(int run, int part) const
    {
        return std::span<const double>(values_).subspan(index(run, part, 0),
                                                        static_cast<std::size_t>(pointCount_));
    }

private:
    std::size_t index(int run, int part, int point) const
    {
        return (static_cast<std::size_t>(run) * kParts + static_cast<std::size_t>(part)) *
                   static_cast<std::size_t>(pointCount_) +
               static_cast<std::size_t>(point);
    }
    double& ref(int run, int part, int point) { return values_[index(run, part, point)]; }
    void copyRun(const BuildRequest& request, int run);
    // Turns run `run` by exp(-i phi) of each point, with (cos phi, sin phi) per point in `turn`.
    void phaseRun(const std::vector<std::pair<double, double>>& turn, int run);

    int lastRun_ = -1;
    int pointCount_ = 0;
    std::vector<double> values_;
};

}  // namespace velmora::processing
