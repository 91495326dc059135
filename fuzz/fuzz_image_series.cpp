// Fuzz target: the image-series loaders, chosen by the first byte, through the one entry point the
// window and the command line use. Mode 0: a folder of two "T1_" cubes (the input split in half);
// mode 1: a series description "T1_series" with its "T1_series.txt" (the next two bytes give the
// text's length). The second byte gives the block (0..3 voxels per axis, 0 the whole edge). A
// loaded series must be consistent and goes through the fit's slab checks in every orientation;
// a refusal must give a message and leave the series as it was.
#include "fuzz_input_file.h"
#include "imagefit/map_geometry.h"
#include "imagefit/series_loading.h"

#include <algorithm>
#include <cstdlib>

namespace {

using namespace velmora;

// A fresh empty folder of the scratch folder for this input's files.
std::filesystem::path freshFolder()
{
    const std::filesystem::path folder = fuzz::scratchFolder() / "series";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::filesystem::path writeIn(const std::filesystem::path& folder, const std::string& name, const std::uint8_t* data,
                              std::size_t size)
{
    return fuzz::writeInput((folder.filename() / name).string(), data, size);
}

void checkLoaded(const imagefit::ImageSeries& series)
{
    const std::size_t images = static_cast<std::size_t>(series.images());
    if (series.nx < 1 || series.ny < 1 || series.nz < 1 || images == 0 || series.trSeconds.size() != images ||
        series.data.size() != series.voxelsPerImage() * images)
        std::abort();
    // Both loaders take only names and lines with a positive angle and TR.
    for (std::size_t i = 0; i < images; ++i)
        if (!(series.flipAngleRad[i] > 0.0) || !(series.trSeconds[i] > 0.0))
            std::abort();
    for (const imagefit::Orientation orientation :
         {imagefit::Orientation::Coronal, imagefit::Orientation::Transverse, imagefit::Orientation::Sagittal}) {
        const imagefit::MapGeometry geometry = imagefit::mapGeometry(series, orientation);
        if (geometry.rows * geometry.columns * geometry.slices != static_cast<int>(series.voxelsPerImage()))
            std::abort();
        // The middle slice fits; one past the last does not.
        if (!imagefit::checkSlab(geometry, (geometry.slices + 1) / 2, 0) ||
            imagefit::checkSlab(geometry, geometry.slices + 1, 0))
            std::abort();
        int x = 0, y = 0, z = 0;
        geometry.voxel(geometry.rows - 1, geometry.columns - 1, geometry.slices - 1, x, y, z);
        (void)series.at(x, y, z, series.images() - 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const int mode = data[0] % 2;
    const imagefit::BlockSize block{data[1] & 3, (data[1] >> 2) & 3, (data[1] >> 4) & 3};
    const std::filesystem::path folder = freshFolder();
    std::filesystem::path path;
    if (mode == 0) {
        const std::size_t half = (size - 2) / 2;
        writeIn(folder, "T1_05_TR3000.sgl", data + 2, half);
        writeIn(folder, "T1_20_TR3000.sgl", data + 2 + half, size - 2 - half);
        path = folder;
    } else {
        const std::size_t textLength = std::min<std::size_t>((data[2] << 8) | data[3], size - 4);
        writeIn(folder, "T1_series.txt", data + 4, textLength);
        path = writeIn(folder, "T1_series", data + 4 + textLength, size - 4 - textLength);
    }
    imagefit::ImageSeries series;
    series.resize(1, 1, 1, 1);
    series.data[0] = 42.0;  // a marker to see a refusal change the series
    const util::Outcome outcome = imagefit::loadSeries(path, block, imagefit::Acquisition{}, series);
    if (outcome)
        checkLoaded(series);
    else if (outcome.message().empty() || series.images() != 1 || series.data.size() != 1 || series.data[0] != 42.0)
        std::abort();
    return 0;
}
