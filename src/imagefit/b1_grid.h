// The grid of B1 factors the fit tries at every pixel, with the cosine and sine of every grid
// value times every image's flip angle, so the T1 searches need no trigonometry.
#pragma once

#include <vector>

namespace velmora::imagefit {

inline constexpr double kB1GridStep = 0.1;

// Number of grid values from b1Min to b1Max in steps of 0.1: (max - min) / 0.1 + 1, truncated.
// A range that is a whole number of steps counts its last value (0.1..1.5 gives 15) although
// 1.4 / 0.1 is slightly below 14 in binary floating point. Counts beyond the int range saturate.
int b1GridCount(double b1Min, double b1Max);

class B1Grid {
public:
    B1Grid(double b1Min, double b1Max, const std::vector<double>& flipAngleRad);

    int count() const { return static_cast<int>(values_.size()); }
    double value(int j) const { return values_[static_cast<std::size_t>(j)]; }
    // cos(B1_j a_i) and sin(B1_j a_i) for images i = 0..images-1.
    const double* cosines(int j) const { return &cos_[static_cast<std::size_t>(j) * images_]; }
    const double* sines(int j) const { return &sin_[static_cast<std::size_t>(j) * images_]; }

private:
    std::size_t images_;
    std::vector<double> values_;
    std::vector<double> cos_;
    std::vector<double> sin_;
};

}  // namespace velmora::imagefit
