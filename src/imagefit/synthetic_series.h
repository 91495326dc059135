// Synthetic image series built from known maps, to test the fit: a cylinder along z filling most
// of the block, with T1, B1 and amplitude maps that vary smoothly over x and y and not along z,
// and seeded Gaussian noise.
#pragma once

#include "imagefit/image_series.h"
#include "util/outcome.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::imagefit {

// The model selector's texts.
inline constexpr const char* kRegularModelText = "second regular model";
inline constexpr const char* kSolutionTestText = "solution test";

enum class ModelKind {
    // T1 rises linearly from 0.3 s to 2 s across the object along x; B1 runs from 0.75 to 1.25
    // along y with a gentle bow along x (0.7..1.3 in all); amplitude 1000.
    Regular,
    // One solution everywhere in the object: T1 1 s, B1 1, amplitude 1000.
    SolutionTest,
};

// The model maps over x (columns) and y (rows) of the block; 0 outside the object.
struct ModelMaps {
    int nx = 0;
    int ny = 0;
    std::vector<double> t1Seconds;
    std::vector<double> b1;
    std::vector<double> amplitude;
    bool inside(int x, int y) const { return amplitude[static_cast<std::size_t>(y) * nx + x] > 0.0; }
};

ModelMaps modelMaps(int nx, int ny, ModelKind kind);

struct SyntheticAcquisition {
    std::vector<double> flipAnglesDeg{3, 5, 8, 15, 20, 25};
    std::vector<double> trSeconds{0.003, 0.003, 0.003, 0.003, 0.003, 0.003};
    // Noise sigma of each image as a fraction of its mean noise-free signal inside the object.
    double noiseFraction = 0.0;
    std::int64_t seed = 1;
};

// Fills nz slices of every image from the model maps by the signal model, plus the noise.
ImageSeries syntheticSeries(const ModelMaps& maps, int nz, const SyntheticAcquisition& acquisition);

// Writes the model maps as base + "_mT1", "_mB1", "_mAmpl", "_mSig" (the noise-free signal of the
// first image), raw 32-bit big-endian floats of ny rows by nx columns, and a text description of
// the model to folder / "M_solution".
util::Outcome writeModelFiles(const std::filesystem::path& folder, const std::filesystem::path& base,
                              const ModelMaps& maps, ModelKind kind, const SyntheticAcquisition& acquisition);

}  // namespace velmora::imagefit
