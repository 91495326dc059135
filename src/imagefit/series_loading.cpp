// Choosing the loader for a path.
#include "imagefit/series_loading.h"

#include <new>
#include <stdexcept>
#include <system_error>

namespace velmora::imagefit {

SeriesKind seriesKind(const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (isNiftiPath(path))
        return SeriesKind::Nifti;
    if (fs::is_directory(path, error))
        return SeriesKind::CubeFolder;
    fs::path description = path;
    description += ".txt";
    if (isSeriesImageName(path.filename().string()) && fs::is_regular_file(description, error))
        return SeriesKind::Description;
    if (fs::is_regular_file(path, error))
        return SeriesKind::CubeFolder;
    return SeriesKind::Missing;
}

namespace {

util::Outcome loadByKind(const std::filesystem::path& path, BlockSize block, const Acquisition& acquisition,
                         ImageSeries& series, const MemoryBudget& budget)
{
    switch (seriesKind(path)) {
    case SeriesKind::Nifti: {
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
        return readNiftiSeries(path, used, series, budget);
    }
    case SeriesKind::CubeFolder: {
        std::error_code error;
        return loadImageFolder(std::filesystem::is_directory(path, error) ? path : path.parent_path(), block,
                               series, budget);
    }
    case SeriesKind::Description:
        return loadSeriesDescription(path, block, series, budget);
    case SeriesKind::Missing:
        break;
    }
    return util::Outcome::failure("cannot read " + path.string() + ": no such file or folder");
}

}  // namespace

util::Outcome loadSeries(const std::filesystem::path& path, BlockSize block, const Acquisition& acquisition,
                         ImageSeries& series, const MemoryBudget& budget)
{
    // The loaders size everything before allocating; an allocation can still fail when other
    // programs take the memory meanwhile, and that is a refusal, not an abort.
    try {
        return loadByKind(path, block, acquisition, series, budget);
    } catch (const std::bad_alloc&) {
        return util::Outcome::failure("cannot read " + path.string() + ": not enough memory for the series");
    } catch (const std::length_error&) {
        return util::Outcome::failure("cannot read " + path.string() + ": not enough memory for the series");
    }
}

}  // namespace velmora::imagefit
