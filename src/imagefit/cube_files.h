// The series' image files: cubes of 32-bit big-endian floats whose edge follows from the file
// length. A folder series is every "T1_*.sgl" file of a folder, the flip angle (degrees) and TR
// (microseconds) read from the name, as in "T1_05_TR3000.sgl". A series description is one file
// holding all cubes one after another, with a text file of the same name + ".txt" that gives each
// image's number, flip angle and TR on a line of its own.
#pragma once

#include "imagefit/image_series.h"
#include "util/outcome.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::imagefit {

// Size of the central block taken from every cube; 0 takes the whole edge along that axis.
struct BlockSize {
    int nx = 0;
    int ny = 0;
    int nz = 0;
};

struct ImageFileName {
    int flipDegrees = 0;     // characters 4 and 5 of the name
    int trMicroseconds = 0;  // characters 9 to 12; a name whose TR runs on to character 13 is refused
};

// Whether the name begins with "T1_" (letters in any case).
bool isSeriesImageName(std::string_view name);
// Flip angle and TR of an image file name, or nothing when the name does not carry them.
std::optional<ImageFileName> parseImageFileName(std::string_view name);
// The "T1_*.sgl" files of a folder, in name order.
std::vector<std::string> seriesImageFiles(const std::filesystem::path& folder);

// Edge of the cube that a file of `bytes` bytes holds: the integer cube root of bytes / 4.
int cubeEdge(std::uintmax_t bytes);

// Loads every "T1_*.sgl" file of `folder` as one image, in name order. On failure `series` is
// unchanged and the message names the file. Every file must be exactly a cube of 32-bit values, and
// a series beyond the size cap or the memory budget is refused before it is allocated.
util::Outcome loadImageFolder(const std::filesystem::path& folder, BlockSize block, ImageSeries& series,
                              const MemoryBudget& budget = {});

// Loads the series that the file `path` and its description `path` + ".txt" give. The file must
// hold exactly one cube per line of the description.
util::Outcome loadSeriesDescription(const std::filesystem::path& path, BlockSize block, ImageSeries& series,
                                    const MemoryBudget& budget = {});

// Writes image `image` of the series as a cube of edge max(nx, ny, nz), the block in its centre
// and zero around it, so that the loaders take back exactly the block.
util::Outcome writeCubeFile(const std::filesystem::path& path, const ImageSeries& series, int image);

// Writes every image of the series into `folder` as "T1_<angle>_TR<TR>.sgl" (angle two digits,
// TR four digits in microseconds). Fails for angles or TRs that the names cannot carry.
util::Outcome writeImageFolder(const std::filesystem::path& folder, const ImageSeries& series);

// 32-bit big-endian float values, as the cube files and the raw maps store them.
std::vector<unsigned char> bigEndianFloats(const double* values, std::size_t count);

}  // namespace velmora::imagefit
