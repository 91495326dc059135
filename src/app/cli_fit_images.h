// velmora-cli fit-images: the image-series window's fit without the window. Loads a series (a
// folder of "T1_*.sgl" cubes, a series description, or a NIfTI volume), or builds the synthetic
// series of "Model_image", fits one slice and writes the T1, B1, amplitude and error maps; or, with
// the 4-D layout, makes the integral, maximum, T2 and fit-quality maps of a 4-D data set.
#pragma once

#include "imagefit/cube_files.h"
#include "imagefit/decay_maps.h"
#include "imagefit/vfa_fit.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::app {

struct FitImagesOptions {
    bool help = false;
    std::filesystem::path series;
    std::vector<double> flipAnglesDeg;  // for NIfTI series; empty: the side file
    std::vector<double> trMs;
    std::optional<int> slice;  // from 1; none: the middle slice
    imagefit::FitSettings settings;
    std::optional<double> threshold;  // none: a tenth of the largest intensity
    imagefit::BlockSize block;        // cube files: 0 takes the whole cube
    std::optional<std::filesystem::path> outPrefix;
    bool model = false;
    int threads = 0;  // 0: every core
    bool quiet = false;
    // The window's input-layout boxes: 3-D cubes (any edge, or the central 256^3 block), or a 4-D
    // data set whose per-voxel decay maps are made instead of the variable-flip-angle fit.
    imagefit::InputLayout layout = imagefit::InputLayout::Regular3d;
    std::optional<double> echoSpacingMs;  // 4-D: spacing of the fourth axis; none: the NIfTI header's
    std::vector<std::string> given;       // the options given, for the checks of what applies
};

struct ParsedFitImages {
    std::optional<FitImagesOptions> options;
    std::string error;
};

// `arguments` after "fit-images".
ParsedFitImages parseFitImages(std::span<const std::string_view> arguments);

std::string fitImagesUsage();

// Runs the command; returns the program's exit status.
int runFitImages(const FitImagesOptions& options);

}  // namespace velmora::app
