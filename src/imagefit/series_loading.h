// One entry point for loading a series from a path, as the window's file list and the command
// line take it: a folder of "T1_*.sgl" cubes (or any file in it), a "T1_" file with its series
// description beside it ("T1_....txt"), or a NIfTI volume with its acquisition.
#pragma once

#include "imagefit/cube_files.h"
#include "imagefit/nifti_files.h"

namespace velmora::imagefit {

// `acquisition` overrides the NIfTI side file where it gives angles or TRs. A series that would not
// fit the memory budget is refused before it is allocated, and an allocation that fails all the
// same is reported as a memory refusal; `series` is unchanged on every refusal.
util::Outcome loadSeries(const std::filesystem::path& path, BlockSize block, const Acquisition& acquisition,
                         ImageSeries& series, const MemoryBudget& budget = {});

// What kind of input a path is, as loadSeries chooses its loader.
enum class SeriesKind { Nifti, CubeFolder, Description, Missing };
SeriesKind seriesKind(const std::filesystem::path& path);

}  // namespace velmora::imagefit
