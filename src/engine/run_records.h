// Records a run fills: the sampled signal and the time-domain record, indexed
// (component 0..3, sample 0..lastSample, run 0..lastRun). Components 1, 2, 3 hold x, y, z (or
// real, imaginary, magnitude once processed); component 0 and sample 0 stay unused.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace velmora::engine {

class SampleRecord {
public:
    static constexpr int kComponents = 4;

    SampleRecord() = default;
    // A zero record for samples 0..lastSample and runs 0..lastRun. Its pages are cleared here, on
    // the caller: the runs that fill it with += then write to pages already mapped for writing (a
    // page first read as the shared zero page and then written costs a second fault and, with
    // several threads running, a flush of every core's address cache).
    SampleRecord(int lastSample, int lastRun);

    int lastSample() const { return lastSample_; }
    int lastRun() const { return lastRun_; }
    bool empty() const { return values_.empty(); }

    double& at(int component, int sample, int run) { return values_[index(component, sample, run)]; }
    double at(int component, int sample, int run) const { return values_[index(component, sample, run)]; }
    // Samples 0..lastSample of one component and run, which lie next to each other: readers of
    // many runs take a run at a time instead of one checked look-up per value.
    std::span<const double> samples(int component, int run) const
    {
        return std::span<const double>(values_).subspan(index(component, 0, run),
                                                        static_cast<std::size_t>(lastSample_ + 1));
    }
    void clear();

private:
    // Samples of one component and run lie next to each other.
    std::size_t index(int component, int sample, int run) const;

    int lastSample_ = -1;
    int lastRun_ = -1;
    std::vector<double> values_;
};

// The coefficient of every operator at the point step, per run, summed over slice rows and scans
// (averaged over the scans that completed the run once the scans are done).
class OperatorRecord {
public:
    OperatorRecord() = default;
    // A zero record. Its memory comes zeroed from the system and is first written by the runs that
    // fill it, so the pages of a large record (512 MiB at ten spins and 64 runs) are mapped by the
    // run threads side by side, not by the caller before the runs.
    OperatorRecord(int operatorCount, int lastRun);
    OperatorRecord(const OperatorRecord& other);
    OperatorRecord& operator=(const OperatorRecord& other);
    OperatorRecord(OperatorRecord&&) noexcept = default;
    OperatorRecord& operator=(OperatorRecord&&) noexcept = default;
    ~OperatorRecord() = default;

    int operatorCount() const { return operatorCount_; }
    int lastRun() const { return lastRun_; }
    double& at(int operatorIndex, int run) { return values_[index(operatorIndex, run)]; }
    double at(int operatorIndex, int run) const { return values_[index(operatorIndex, run)]; }
    std::span<double> run(int r)
    {
        return std::span<double>(values_.get() + index(0, r), static_cast<std::size_t>(operatorCount_));
    }
    std::span<const double> run(int r) const
    {
        return std::span<const double>(values_.get() + index(0, r), static_cast<std::size_t>(operatorCount_));
    }

private:
    struct FreeValues {
        void operator()(double* values) const noexcept;
    };

    std::size_t size() const
    {
        return static_cast<std::size_t>(operatorCount_) * static_cast<std::size_t>(lastRun_ + 1);
    }
    std::size_t index(int operatorIndex, int run) const
    {
        return static_cast<std::size_t>(run) * static_cast<std::size_t>(operatorCount_) +
               static_cast<std::size_t>(operatorIndex);
    }

    int operatorCount_ = 0;
    int lastRun_ = -1;
    std::unique_ptr<double[], FreeValues> values_;
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
