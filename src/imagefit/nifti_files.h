// NIfTI-1 input and output through Debian's niftiio library, built in when the library is found:
// a 4-D series (one volume per flip angle) with its flip angles and TRs, and the fitted maps as
// float32 volumes placed where the fitted slice lies in the series' space. Without the library
// every call refuses with a message saying so.
#pragma once

#include "imagefit/image_series.h"
#include "imagefit/map_geometry.h"
#include "util/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::imagefit {

bool niftiSupported();
// ".nii" or ".nii.gz" (letters in any case).
bool isNiftiPath(const std::filesystem::path& path);

// Flip angles (degrees) and TRs (ms) of a NIfTI series. The side file of "name.nii(.gz)" is
// "name_vfa.txt" with the two lines "flip_angles_deg: 3,5,8" and "tr_ms: 3" (one TR for all
// images, or one per image).
struct Acquisition {
    std::vector<double> flipAnglesDeg;
    std::vector<double> trMs;
};
std::filesystem::path acquisitionSideFile(const std::filesystem::path& niftiPath);
util::Outcome readAcquisitionFile(const std::filesystem::path& path, Acquisition& acquisition);
util::Outcome writeAcquisitionFile(const std::filesystem::path& path, const ImageSeries& series);

// Reads a 3-D or 4-D NIfTI volume as a series; the acquisition gives one flip angle per volume.
// Data sets of more than four dimensions and complex or RGB data are refused, and so is a file
// (plain or gzip-compressed, decompressed in pieces to count) shorter than its header says, or
// one whose voxels would not fit the memory budget, before any voxel is allocated.
util::Outcome readNiftiSeries(const std::filesystem::path& path, const Acquisition& acquisition,
                              ImageSeries& series, const MemoryBudget& budget = {});

// Reads a 3-D or 4-D volume whose fourth axis is time points or echoes (no flip angles): the
// volumes become the series' images (their angles and TRs 0), and `fourthAxisMs` the spacing of
// the fourth axis in ms from the header (0 when it gives none). The same checks as above.
util::Outcome readNiftiDataSet(const std::filesystem::path& path, ImageSeries& series, double& fourthAxisMs,
                               const MemoryBudget& budget = {});

// Writes values of the series' voxels (x fastest) as a 3-D float32 volume with its geometry.
util::Outcome writeNiftiVolume(const std::filesystem::path& path, const std::vector<double>& values,
                               const ImageSeries& geometry, const std::string& description);

// Writes the series as a 4-D float32 volume and its side file.
util::Outcome writeNiftiSeries(const std::filesystem::path& path, const ImageSeries& series);

// Where a map lies: its voxel size (mm, columns then rows then slices) and voxel-to-world rows.
struct MapPlacement {
    double voxelMm[3] = {1.0, 1.0, 1.0};
    double toWorld[3][4] = {};
    bool placed = false;
};
MapPlacement mapPlacement(const ImageSeries& series, Orientation orientation, int sliceFromZero);

// Writes a row-major map (rows x columns) as a float32 volume of columns x rows x 1 voxels whose
// header description names the map and its unit.
util::Outcome writeNiftiMap(const std::filesystem::path& path, const std::vector<double>& values, int rows,
                            int columns, const MapPlacement& placement, const std::string& description);

// Reads a volume's values (x fastest) and description, for checks of written maps.
util::Outcome readNiftiVolume(const std::filesystem::path& path, std::vector<double>& values, int dims[4],
                              std::string& description);

}  // namespace velmora::imagefit
