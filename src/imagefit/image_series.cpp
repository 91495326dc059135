// Sizing of an image series.
#include "imagefit/image_series.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velmora::imagefit {

void ImageSeries::resize(int blockNx, int blockNy, int blockNz, int imageCount)
{
    nx = blockNx;
    ny = blockNy;
    nz = blockNz;
    flipAngleRad.assign(static_cast<std::size_t>(imageCount), 0.0);
    trSeconds.assign(static_cast<std::size_t>(imageCount), 0.0);
    data.assign(voxelsPerImage() * static_cast<std::size_t>(imageCount), 0.0);
    largestValue = 0.0;
}

// Non-finite voxels (NaN, infinities) say nothing about the intensity scale: the largest value,
// and so the default threshold and the grey levels, come from the finite ones.
void ImageSeries::updateLargestValue()
{
    largestValue = 0.0;
    bool any = false;
    for (const double value : data) {
        if (std::isfinite(value) && (!any || value > largestValue)) {
            largestValue = value;
            any = true;
        }
    }
}

std::string memoryText(double bytes)
{
    char text[32];
    if (bytes >= 1024.0 * 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f GiB", bytes / (1024.0 * 1024.0 * 1024.0));
    else if (bytes >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.0f MiB", bytes / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.0f KiB", bytes / 1024.0);
    return text;
}

util::Outcome checkMemory(double bytes, const MemoryBudget& budget, const std::string& what)
{
    if (budget.bytes && bytes > *budget.bytes)
        return util::Outcome::failure(what + " needs " + memoryText(bytes) + " of memory, but only " +
                                      memoryText(*budget.bytes) + " are available (" + budget.limitName +
                                      ").");
    return util::Outcome::success();
}

util::Outcome checkSeriesSize(double voxelsPerImage, double images, double extraBytes,
                              const MemoryBudget& budget, const std::string& source)
{
    const double values = voxelsPerImage * images;
    if (values > kMostSeriesValues)
        return util::Outcome::failure("The series of " + source + " would hold " +
                                      std::to_string(static_cast<long long>(std::min(values, 9e18))) +
                                      " values; at most 2147483648 (voxels x images) are read. Take a "
                                      "smaller block.");
    return checkMemory(8.0 * values + extraBytes, budget, "The series of " + source);
}

}  // namespace velmora::imagefit
