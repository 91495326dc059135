// Fuzz target: NIfTI series input. The input is a side file "vol_vfa.txt" (its length in the low
// 15 bits of the first two bytes) followed by the volume: "vol.nii", or, when the top bit of the
// first byte is set, the gzip-compressed "vol.nii.gz". Both are read through the series entry
// point, the volume as a 4-D data set and once more as a plain volume, and the side file alone. A
// loaded series must be consistent and fit the slab checks; a refusal must give a message and
// leave the series as it was.
#include "fuzz_input_file.h"
#include "imagefit/decay_maps.h"
#include "imagefit/map_geometry.h"
#include "imagefit/series_loading.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmora;
    if (size < 2)
        return 0;
    const bool compressed = (data[0] & 0x80) != 0;
    const std::size_t textLength = std::min<std::size_t>(((data[0] & 0x7f) << 8) | data[1], size - 2);
    const std::filesystem::path side = fuzz::writeInput("vol_vfa.txt", data + 2, textLength);
    const std::filesystem::path volume =
        fuzz::writeInput(compressed ? "vol.nii.gz" : "vol.nii", data + 2 + textLength, size - 2 - textLength);

    imagefit::Acquisition acquisition;
    const util::Outcome acquired = imagefit::readAcquisitionFile(side, acquisition);
    if (!acquired && acquired.message().empty())
        std::abort();

    imagefit::ImageSeries series;
    series.resize(1, 1, 1, 1);
    series.data[0] = 42.0;  // a marker to see a refusal change the series
    const util::Outcome loaded = imagefit::loadSeries(volume, {}, imagefit::Acquisition{}, series);
    if (loaded) {
        const std::size_t images = static_cast<std::size_t>(series.images());
        if (series.voxelsPerImage() == 0 || images == 0 || series.trSeconds.size() != images ||
            series.data.size() != series.voxelsPerImage() * images)
            std::abort();
        const imagefit::MapGeometry geometry = imagefit::mapGeometry(series, imagefit::Orientation::Coronal);
        if (!imagefit::checkSlab(geometry, 1, 0))
            std::abort();
    } else if (loaded.message().empty() || series.data.size() != 1 || series.data[0] != 42.0) {
        std::abort();
    }

    // The same volume as a 4-D data set (time points or echoes, no acquisition).
    imagefit::ImageSeries dataSet;
    double spacingMs = -1.0;
    if (imagefit::loadFourDSeries(volume, {}, dataSet, spacingMs)) {
        if (dataSet.voxelsPerImage() == 0 || dataSet.images() < 1 ||
            dataSet.data.size() != dataSet.voxelsPerImage() * static_cast<std::size_t>(dataSet.images()) ||
            !(spacingMs >= 0.0))
            std::abort();
    }

    std::vector<double> values;
    int dims[4] = {};
    std::string description;
    const util::Outcome read = imagefit::readNiftiVolume(volume, values, dims, description);
    // dims holds the rank, then the extents along x, y and z; the values are whole 3-D volumes.
    if (read) {
        const std::size_t volumeVoxels = static_cast<std::size_t>(std::max(1, dims[1])) *
                                         static_cast<std::size_t>(std::max(1, dims[2])) *
                                         static_cast<std::size_t>(std::max(1, dims[3]));
        if (values.empty() || values.size() % volumeVoxels != 0)
            std::abort();
    }
    return 0;
}
