// Sizing of an image series.
#include "imagefit/image_series.h"

#include <algorithm>

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

void ImageSeries::updateLargestValue()
{
    largestValue = data.empty() ? 0.0 : *std::max_element(data.begin(), data.end());
}

}  // namespace velmora::imagefit
