// Four-dimensional data sets: one 3-D volume per time point or echo, as a multi-echo (T2) series
// gives them. Per voxel, along the fourth axis: the integral (trapezoid rule, in image units x ms),
// the maximum, and a mono-exponential decay S(t) = S0 exp(-t / T2) with its fit quality. The raw
// file of the "4D_64_64_64_64" layout is one file of 32-bit big-endian floats, x fastest, then y,
// z and the fourth axis, whose length is exactly edge^4 x 4 bytes.
#pragma once

#include "imagefit/cube_files.h"
#include "imagefit/image_series.h"
#include "util/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::imagefit {

// The input layouts of the image window's three boxes (one ticked at a time).
enum class InputLayout {
    Regular3d,  // "3D_regular_image": cubes of any edge, the central block of the size boxes
    Cube256,    // "3D_256_256_256": cubes taken as the central 256 x 256 x 256 block
    FourD,      // "4D_64_64_64_64": one 4-D data set (raw edge^4 file or NIfTI), decay maps
};

// Loads a raw 4-D file (the central nx x ny x nz block of every volume, 0 the whole edge) or a
// 4-D NIfTI file into `series`, one image per point of the fourth axis. `spacingMs` receives the
// NIfTI header's spacing of the fourth axis (0 for raw files, which carry none). The file must be
// exactly edge^4 x 4 bytes; a series beyond the size cap or the budget is refused before it is
// read; `series` is unchanged on every refusal.
util::Outcome loadFourDSeries(const std::filesystem::path& path, BlockSize block, ImageSeries& series,
                              double& spacingMs, const MemoryBudget& budget = {});

struct DecayMaps {
    int nx = 0;
    int ny = 0;
    int nz = 0;
    // Per voxel, x fastest. T2 and the integral's time axis in ms.
    std::vector<double> integral;  // trapezoid rule over the points, spacing x image units
    std::vector<double> maximum;
    std::vector<double> t2Ms;        // 0 where the voxel is not fitted
    std::vector<double> fitQuality;  // sqrt(sum (S - fit)^2 / sum S^2): 0 is a perfect decay
    int fittedVoxels = 0;
    int belowThreshold = 0;  // the voxel's maximum at or below the threshold: not fitted
    int nonFinite = 0;       // a non-finite value along the axis: every map 0
    int noDecay = 0;         // no falling exponential through the points (fewer than 2 positive,
                             // or a slope that does not fall): not fitted
};

// The mono-exponential fit of one voxel's points S_k at t_k = k x spacing: a straight line through
// (t_k, ln S_k) over the positive points, weighted by S_k^2 (the weight that undoes the log's
// stretching of the noise, so the fit equals least squares on S near the solution).
struct DecayFit {
    bool ok = false;
    double s0 = 0.0;
    double t2Ms = 0.0;
    double quality = 0.0;
};
DecayFit fitMonoExponential(const double* values, int points, double spacingMs);

// The four maps of every voxel; voxels whose maximum is at or below the threshold get their
// integral and maximum but no T2 (0) and quality 0.
util::Outcome computeDecayMaps(const ImageSeries& series, double spacingMs, double threshold,
                               DecayMaps& maps);

// The maps' base name of a 4-D data set: its path without ".nii.gz", ".nii" or ".sgl".
std::filesystem::path decayMapBaseName(const std::filesystem::path& dataSet);

// Writes base + "_trunc" (the block processed, raw 4-D in the input's layout), "_INTEGRAL", "_MAX",
// "_T2" and "_f" (raw 32-bit big-endian floats, x fastest) and, with NIfTI support, the four maps as
// NIfTI volumes beside them (base + "_T2.nii.gz", ...). `written` receives the names.
util::Outcome writeDecayMaps(const std::filesystem::path& base, const ImageSeries& series,
                             const DecayMaps& maps, std::vector<std::string>* written = nullptr);

}  // namespace velmora::imagefit
