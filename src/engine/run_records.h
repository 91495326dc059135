// Records a run fills: the sampled signal and the time-domain record, indexed
// (component 0..3, sample 0..lastSample, run 0..lastRun). Components 1, 2, 3 hold x, y, z (or
// real, imaginary, magnitude once processed); component 0 and sample 0 stay unused.
#pragma once

#include <cstddef>
#include <vector>

namespace velmora::engine {

class SampleRecord {
public:
    static constexpr int kComponents = 4;

    SampleRecord() = default;
    // A zero record for samples 0..lastSample and runs 0..lastRun.
    SampleRecord(int lastSample, int lastRun);

    int lastSample() const { return lastSample_; }
    int lastRun() const { return lastRun_; }
    bool empty() const { return values_.empty(); }

    double& at(int component, int sample, int run) { return values_[index(component, sample, run)]; }
    double at(int component, int sample, int run) const { return values_[index(component, sample, run)]; }
    void clear();

private:
    // Samples of one component and run lie next to each other.
    std::size_t index(int component, int sample, int run) const;

    int lastSample_ = -1;
    int lastRun_ = -1;
    std::vector<double> values_;
};

}  // namespace velmora::engine
