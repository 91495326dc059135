// Choosing the loader for a path.
#include "imagefit/series_loading.h"

#include <system_error>

namespace velmora::imagefit {

util::Outcome loadSeries(const std::filesystem::path& path, BlockSize block, const Acquisition& acquisition,
                         ImageSeries& series)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (isNiftiPath(path)) {
        Acquisition used = acquisition;
        if (used.flipAnglesDeg.empty() || used.trMs.empty()) {
            Acquisition side;
            if (util::Outcome read = readAcquisitionFile(acquisitionSideFile(path), side); !read)
                return util::Outcome::failure(read.message() + " (or give the flip angles and TR)");
            if (used.flipAnglesDeg.empty())
                used.flipAnglesDeg = side.flipAnglesDeg;
            if (used.trMs.empty())
                used.trMs = side.trMs;
        }
        return readNiftiSeries(path, used, series);
    }
    if (fs::is_directory(path, error))
        return loadImageFolder(path, block, series);
    fs::path description = path;
    description += ".txt";
    if (isSeriesImageName(path.filename().string()) && fs::is_regular_file(description, error))
        return loadSeriesDescription(path, block, series);
    if (fs::is_regular_file(path, error))
        return loadImageFolder(path.parent_path(), block, series);
    return util::Outcome::failure("cannot read " + path.string() + ": no such file or folder");
}

}  // namespace velmora::imagefit
