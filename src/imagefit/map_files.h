// Writing the fitted maps: the four raw map files beside one base name, as 32-bit big-endian
// floats in row order (the byte layout of the image cubes), and, when NIfTI support is built
// in, the same maps as NIfTI float32 volumes with the series' geometry.
#pragma once

#include "imagefit/image_series.h"
#include "imagefit/vfa_fit.h"
#include "util/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::imagefit {

// folder / "<year>_<month>_<day><orientation>", as in "2026_12_8cor".
std::filesystem::path mapBaseName(const std::filesystem::path& folder, int year, int month, int day,
                                  Orientation orientation);
// The same with today's date.
std::filesystem::path todaysMapBaseName(const std::filesystem::path& folder, Orientation orientation);

// A row-major map of doubles as 32-bit big-endian floats, written whole or not at all.
util::Outcome writeRawMap(const std::filesystem::path& path, const std::vector<double>& values);

// Raw 32-bit big-endian floats back into a map of `count` values.
util::Outcome readRawMap(const std::filesystem::path& path, std::size_t count, std::vector<double>& values);

// Writes base + "_T1", "_B1", "_Ampl", "_Err" and, with NIfTI support, base + "_T1.nii.gz" and
// so on, placed at the fitted slice. `written` receives the names of the files written.
util::Outcome writeFitMaps(const std::filesystem::path& base, const FitMaps& maps, const ImageSeries& series,
                           const FitSettings& settings, std::vector<std::string>* written = nullptr);

}  // namespace velmora::imagefit
