// Records a run fills: the sampled signal and the time-domain record, indexed
// (component 0..3, sample 0..lastSample, run 0..lastRun). Components 1, 2, 3 hold x, y, z (or
// real, imaginary, magnitude once processed); component 0 and sample 0 stay unused.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace velmora::engine {

class SampleRecord {
public:
    static constexpr int kComponents = 4;

    SampleRecord() = default;
    // A zero record for samples 0..lastSample and runs 0..lastRun. Its memory comes zeroed from the
    // system and is not written here: a record nobody fills (the sampled signal of a synthesized
    // acquisition) costs no page, and one that is filled is first written by whoever fills it.
    // Those that add into it with += call clear() or clearRun() first, so that their pages are
    // mapped for writing once (a page first read as the shared zero page and then written costs a
    // second fault and, with several threads running, a flush of every core's address cache).
    SampleRecord(int lastSample, int lastRun);
    SampleRecord(const SampleRecord& other);
    SampleRecord& operator=(const SampleRecord& other);
    SampleRecord(SampleRecord&&) noexcept = default;
    SampleRecord& operator=(SampleRecord&&) noexcept = default;
    ~SampleRecord() = default;

    int lastSample() const { return lastSample_; }
    int lastRun() const { return lastRun_; }
    bool empty() const { return size() == 0; }

    double& at(int component, int sample, int run) { return values_[index(component, sample, run)]; }
    double at(int component, int sample, int run) const { return values_[index(component, sample, run)]; }
    // Samples 0..lastSample of one component and run, which lie next to each other: readers of
    // many runs take a run at a time instead of one checked look-up per value.
    std::span<const double> samples(int component, int run) const
    {
        return {values_.get() + index(component, 0, run), static_cast<std::size_t>(lastSample_ + 1)};
    }
    // Writes zeros over the whole record, or over one run's components (which lie together).
    void clear();
    void clearRun(int run);

private:
    struct FreeValues {
        void operator()(double* values) const noexcept;
    };
    std::size_t size() const
    {
        return lastSample_ < 0 || lastRun_ < 0
                   ? 0
                   : static_cast<std::size_t>(kComponents) * static_cast<std::size_t>(lastSample_ + 1) *
                         static_cast<std::size_t>(lastRun_ + 1);
    }
    // Samples of one component and run lie next to each other.
    std::size_t index(int component, int sample, int run) const;

    int lastSample_ = -1;
    int lastRun_ = -1;
    std::unique_ptr<double[], FreeValues> values_;
};

// An operator is listed when its coefficient exceeds this in magnitude in at least one run (0.1 % of a
// fully polarised proton, 1e7), and at most this many are listed.
inline constexpr double kSignificantCoefficient = 10000.0;
inline constexpr int kMostListedOperators = 400;
// The smallest coefficient the operator record keeps: below it a coefficient, divided by 1000 and
// written with three decimals, reads ".000" in every table (0.25 / 1000 rounds to zero with room
// to spare), so the record holds exactly what can show.
inline constexpr double kShownCoefficient = 0.25;

// Where an operator stands in the listing: by the number of spins in the product (single-spin
// operators first), then by index.
namespace detail {

// The non-E digits of every five-digit operator index (the processor's population count is not
// in the x86-64 baseline, and its library call cost a seventh of a run at ten spins).
inline constexpr std::array<std::uint8_t, 1024> kFactorsOfFiveDigits = [] {
    std::array<std::uint8_t, 1024> table{};
    for (std::uint32_t i = 0; i < table.size(); ++i)
        for (std::uint32_t digits = i; digits != 0; digits >>= 2)
            table[i] = static_cast<std::uint8_t>(table[i] + ((digits & 3u) != 0 ? 1 : 0));
    return table;
}();

}  // namespace detail

inline std::int64_t listingKey(std::int32_t operatorIndex)
{
    const auto digits = static_cast<std::uint32_t>(operatorIndex);
    const int factors =
        detail::kFactorsOfFiveDigits[digits & 1023u] + detail::kFactorsOfFiveDigits[(digits >> 10) & 1023u];
    return (static_cast<std::int64_t>(factors) << 32) | operatorIndex;
}

// The coefficients at the point step that the operator outputs read, per run, summed over slice rows
// and scans (averaged over the scans that completed the run once the scans are done).
//
// A run's whole row (8 MiB at ten spins) is not kept: the tables list at most 400 operators, those
// above kSignificantCoefficient in some run, first in listing order, and write their coefficients
// with three decimals after a division by 1000. So a run keeps, of its row, the coefficients of at
// least kShownCoefficient in magnitude of the operators that sort no later than its own 400th
// significant one (the 400th of all runs can only sort earlier), and spin 0's x and y whatever
// their size (the transverse flip angle). Any other coefficient reads as 0. Once the runs are
// done, settle() drops what sorts after the 400th significant operator of all runs. A run of
// several scans keeps every shown coefficient until it is averaged, since a scan's significant
// operators need not be the average's.
class OperatorRecord {
public:
    OperatorRecord() = default;
    // An empty record of runs 0..lastRun, each to receive `scans` scans.
    OperatorRecord(int operatorCount, int lastRun, int scans = 1);

    int operatorCount() const { return operatorCount_; }
    int lastRun() const { return lastRun_; }
    // The kept coefficient, 0 for one the record did not keep.
    double at(int operatorIndex, int run) const;

    // Adds one scan of a run: its coefficient of every operator (operatorCount() values). Runs may
    // be added from several threads at once, each run by one of them.
    void addScan(int run, std::span<const double> coefficients);
    // Divides a run's coefficients by the scans that completed it and finds its significant
    // operators among them (a run of one scan has them already).
    void averageRun(int run, int scans);
    // Drops the coefficients no table reads: of operators that sort after the 400th significant one
    // of all runs.
    void settle();

    // The operators above kSignificantCoefficient in at least one run, by ascending index.
    std::vector<std::int32_t> significant() const;
    // Coefficients held, over all runs.
    std::size_t keptCount() const;

private:
    struct Run {
        std::vector<std::int32_t> index;  // ascending
        std::vector<double> value;
        std::vector<std::int32_t> significant;  // ascending
    };
    // Keeps of a run the operators that sort no later than `lastKey`, and spin 0's x and y.
    static void keepUpTo(Run& run, std::int64_t lastKey);

    int operatorCount_ = 0;
    int lastRun_ = -1;
    int scans_ = 1;
    std::vector<Run> runs_;
};

// The recorded operators' coefficients after the receiver phase, averaged over scans, per slice row,
// list entry and run: what the synthesized acquisition evolves.
class DetectionRecord {
public:
    DetectionRecord() = default;
    DetectionRecord(int lastSlice, int entries, int lastRun)
        : lastSlice_(lastSlice), entries_(entries), lastRun_(lastRun),
          values_(static_cast<std::size_t>(lastSlice + 1) * static_cast<std::size_t>(entries) *
                      static_cast<std::size_t>(lastRun + 1),
                  0.0)
    {
    }

    int lastSlice() const { return lastSlice_; }
    int entries() const { return entries_; }
    int lastRun() const { return lastRun_; }
    double& at(int slice, int entry, int run) { return values_[index(slice, entry, run)]; }
    double at(int slice, int entry, int run) const { return values_[index(slice, entry, run)]; }

private:
    std::size_t index(int slice, int entry, int run) const
    {
        return (static_cast<std::size_t>(run) * static_cast<std::size_t>(lastSlice_ + 1) +
                static_cast<std::size_t>(slice)) *
                   static_cast<std::size_t>(entries_) +
               static_cast<std::size_t>(entry);
    }

    int lastSlice_ = -1;
    int entries_ = 0;
    int lastRun_ = -1;
    std::vector<double> values_;
};

}  // namespace velmora::engine
