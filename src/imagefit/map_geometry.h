// How the map's rows, columns and slices address the image block for each slice orientation, and
// the check that the slab of slices around the chosen slice lies inside the block.
#pragma once

#include "imagefit/image_series.h"
#include "util/outcome.h"

#include <optional>
#include <string_view>

namespace velmora::imagefit {

// "cor": x = column, y = row, z = slice; "trans": x = column, y = slice, z = row;
// "sag": x = slice, y = row, z = column.
enum class Orientation { Coronal, Transverse, Sagittal };

std::string_view orientationText(Orientation orientation);
// "cor", "trans" or "sag", without regard to case.
std::optional<Orientation> orientationFromText(std::string_view text);

struct MapGeometry {
    Orientation orientation = Orientation::Coronal;
    int rows = 0;     // extent of the block axis that carries the map's rows
    int columns = 0;  // ... its columns
    int slices = 0;   // ... its slices

    // Block voxel (x, y, z) of map row r, column c and slice s, all counted from 0.
    void voxel(int r, int c, int s, int& x, int& y, int& z) const;
};

MapGeometry mapGeometry(const ImageSeries& series, Orientation orientation);

// The message of a slab that leaves the block.
inline constexpr std::string_view kSlabMessage = "NumberNsliceAverage  ? error ";

// Slice s0 (from 1) with h slices on either side must satisfy s0 - h >= 1 and s0 + h <= slices.
util::Outcome checkSlab(const MapGeometry& geometry, int slice, int halfThickness);

}  // namespace velmora::imagefit
