// A series of 3-D images of one object, one image per flip angle, as the variable-flip-angle fit
// reads it: the voxel values of a block of nx x ny x nz voxels per image, and each image's flip
// angle (radians) and repetition time (seconds).
#pragma once

#include "util/outcome.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmora::imagefit {

// Degrees to radians as the series files' whole-degree angles are converted.
inline constexpr double kRadiansPerDegree = 0.017453292519943278;

struct ImageSeries {
    int nx = 0;  // voxels along x (fastest in memory)
    int ny = 0;
    int nz = 0;
    std::vector<double> flipAngleRad;  // one per image
    std::vector<double> trSeconds;     // one per image
    std::vector<double> data;          // nx*ny*nz values per image, x fastest, then y, z, image
    double largestValue = 0.0;         // the largest voxel value, for the grey-level display
    // Voxel size (mm) and the voxel-to-world rows of the source, kept to give written maps the
    // input's geometry; a series from cube files has 1 mm voxels and no placement.
    double voxelMm[3] = {1.0, 1.0, 1.0};
    bool hasPlacement = false;
    double placement[3][4] = {};  // world (mm) = placement * (x, y, z, 1)

    int images() const { return static_cast<int>(flipAngleRad.size()); }
    std::size_t voxelsPerImage() const
    {
        return static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny) * static_cast<std::size_t>(nz);
    }
    // Voxel (x, y, z) of image i, all counted from 0.
    double at(int x, int y, int z, int i) const { return data[index(x, y, z, i)]; }
    double& at(int x, int y, int z, int i) { return data[index(x, y, z, i)]; }
    std::size_t index(int x, int y, int z, int i) const
    {
        return static_cast<std::size_t>(x) +
               static_cast<std::size_t>(nx) *
                   (static_cast<std::size_t>(y) +
                    static_cast<std::size_t>(ny) *
                        (static_cast<std::size_t>(z) +
                         static_cast<std::size_t>(nz) * static_cast<std::size_t>(i)));
    }

    // Sizes the block and the per-image lists; every voxel 0.
    void resize(int blockNx, int blockNy, int blockNz, int imageCount);
    // Recomputes largestValue from the voxels.
    void updateLargestValue();
};

// The memory a load or a fit may still take (bytes): the least of what the system, the process's
// address-space limit and its control group can give, with the name of that limit for messages.
// No figure where nothing is known; the series size cap below holds regardless.
struct MemoryBudget {
    std::optional<double> bytes;
    std::string limitName = "the memory available";
};

// Most values (voxels x images) a series may hold on any machine: 2^31, 16 GiB as doubles.
inline constexpr double kMostSeriesValues = 2147483648.0;

// Refuses a series of voxelsPerImage x images values held as doubles, plus `extraBytes` needed
// while it is read, when it exceeds the cap or the budget; `source` names the file for the message.
util::Outcome checkSeriesSize(double voxelsPerImage, double images, double extraBytes,
                              const MemoryBudget& budget, const std::string& source);

// Refuses work that needs `bytes` of memory beyond the budget; `what` says which work.
util::Outcome checkMemory(double bytes, const MemoryBudget& budget, const std::string& what);

// "12.3 GiB", "640 MiB", "12 KiB".
std::string memoryText(double bytes);

}  // namespace velmora::imagefit
