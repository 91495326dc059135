// Loading 4-D data sets and the per-voxel maps along their fourth axis.
#include "imagefit/decay_maps.h"

#include "imagefit/map_files.h"
#include "imagefit/nifti_files.h"
#include "util/text_compare.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <new>
#include <stdexcept>
#include <system_error>

namespace velmora::imagefit {

namespace {

// The edge e of a file of exactly e^4 32-bit values, or 0.
int fourDEdge(std::uintmax_t bytes)
{
    if (bytes % 4 != 0)
        return 0;
    const std::uintmax_t values = bytes / 4;
    auto edge = static_cast<std::uintmax_t>(std::llround(std::pow(static_cast<double>(values), 0.25)));
    for (std::uintmax_t e = edge > 0 ? edge - 1 : 0; e <= edge + 1; ++e)
        if (e > 0 && e * e * e * e == values)
            return static_cast<int>(e);
    return 0;
}

util::Outcome loadRawFourD(const std::filesystem::path& path, BlockSize block, ImageSeries& series,
                           const MemoryBudget& budget)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || !std::filesystem::is_regular_file(path, error))
        return util::Outcome::failure("cannot read " + path.string());
    const int edge = fourDEdge(size);
    if (edge == 0)
        return util::Outcome::failure("The 4-D file " + path.string() + " holds " + std::to_string(size) +
                                      " bytes, which is not edge^4 x 4 bytes of 32-bit values (64^4 x 4 = "
                                      "67108864 for the 4D_64_64_64_64 layout).");
    const int nx = block.nx > 0 ? block.nx : edge;
    const int ny = block.ny > 0 ? block.ny : edge;
    const int nz = block.nz > 0 ? block.nz : edge;
    if (nx > edge || ny > edge || nz > edge)
        return util::Outcome::failure("The block " + std::to_string(nx) + " x " + std::to_string(ny) + " x " +
                                      std::to_string(nz) + " does not fit in the volumes of edge " +
                                      std::to_string(edge) + " of " + path.string() + ".");
    if (util::Outcome sized =
            checkSeriesSize(static_cast<double>(nx) * ny * nz, edge, 0.0, budget, path.string());
        !sized)
        return sized;
    ImageSeries loaded;
    loaded.resize(nx, ny, nz, edge);
    std::ifstream file(path, std::ios::binary);
    const auto e = static_cast<std::uintmax_t>(edge);
    const int x0 = (edge - nx) / 2, y0 = (edge - ny) / 2, z0 = (edge - nz) / 2;
    std::vector<unsigned char> row(static_cast<std::size_t>(nx) * 4);
    for (int t = 0; t < edge; ++t) {
        for (int z = 0; z < nz; ++z) {
            for (int y = 0; y < ny; ++y) {
                const std::uintmax_t element =
                    ((static_cast<std::uintmax_t>(t) * e + static_cast<std::uintmax_t>(z0 + z)) * e +
                     static_cast<std::uintmax_t>(y0 + y)) *
                        e +
                    static_cast<std::uintmax_t>(x0);
                file.seekg(static_cast<std::streamoff>(4 * element));
                file.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size()));
                if (!file)
                    return util::Outcome::failure("cannot read " + path.string());
                for (int x = 0; x < nx; ++x) {
                    const unsigned char* b = &row[static_cast<std::size_t>(x) * 4];
                    const std::uint32_t bits = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                                               (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
                    loaded.at(x, y, z, t) = static_cast<double>(std::bit_cast<float>(bits));
                }
            }
        }
    }
    loaded.updateLargestValue();
    series = std::move(loaded);
    return util::Outcome::success();
}

}  // namespace

util::Outcome loadFourDSeries(const std::filesystem::path& path, BlockSize block, ImageSeries& series,
                              double& spacingMs, const MemoryBudget& budget)
{
    try {
        if (isNiftiPath(path))
            return readNiftiDataSet(path, series, spacingMs, budget);
        if (util::Outcome loaded = loadRawFourD(path, block, series, budget); !loaded)
            return loaded;
        spacingMs = 0.0;
        return util::Outcome::success();
    } catch (const std::bad_alloc&) {
        return util::Outcome::failure("cannot read " + path.string() +
                                      ": not enough memory for the data set");
    } catch (const std::length_error&) {
        return util::Outcome::failure("cannot read " + path.string() +
                                      ": not enough memory for the data set");
    }
}

DecayFit fitMonoExponential(const double* values, int points, double spacingMs)
{
    // Weighted sums of the line ln S = ln S0 - t / T2 over the positive points.
    double sw = 0.0, st = 0.0, sy = 0.0, stt = 0.0, sty = 0.0;
    int used = 0;
    for (int k = 0; k < points; ++k) {
        if (!(values[k] > 0.0))
            continue;
        const double t = k * spacingMs;
        const double w = values[k] * values[k];
        const double y = std::log(values[k]);
        sw += w;
        st += w * t;
        sy += w * y;
        stt += w * t * t;
        sty += w * t * y;
        ++used;
    }
    DecayFit fit;
    const double determinant = sw * stt - st * st;
    if (used < 2 || !(determinant > 0.0))
        return fit;
    const double slope = (sw * sty - st * sy) / determinant;
    const double intercept = (sy - slope * st) / sw;
    if (!(slope < 0.0) || !std::isfinite(intercept))
        return fit;
    fit.t2Ms = -1.0 / slope;
    fit.s0 = std::exp(intercept);
    double misfit = 0.0, total = 0.0;
    for (int k = 0; k < points; ++k) {
        const double model = fit.s0 * std::exp(-k * spacingMs / fit.t2Ms);
        misfit += (values[k] - model) * (values[k] - model);
        total += values[k] * values[k];
    }
    fit.quality = total > 0.0 ? std::sqrt(misfit / total) : 0.0;
    fit.ok = std::isfinite(fit.t2Ms) && std::isfinite(fit.s0) && std::isfinite(fit.quality);
    return fit;
}

util::Outcome computeDecayMaps(const ImageSeries& series, double spacingMs, double threshold, DecayMaps& maps)
{
    const int points = series.images();
    if (points < 2 || series.voxelsPerImage() == 0)
        return util::Outcome::failure("A 4-D data set needs at least two points along its fourth axis.");
    if (!(spacingMs > 0.0) || !std::isfinite(spacingMs))
        return util::Outcome::failure("The spacing of the fourth axis (echo spacing, ms) must be a positive "
                                      "number.");
    DecayMaps result;
    result.nx = series.nx;
    result.ny = series.ny;
    result.nz = series.nz;
    const std::size_t voxels = series.voxelsPerImage();
    try {
        result.integral.assign(voxels, 0.0);
        result.maximum.assign(voxels, 0.0);
        result.t2Ms.assign(voxels, 0.0);
        result.fitQuality.assign(voxels, 0.0);
        std::vector<double> values(static_cast<std::size_t>(points));
        for (std::size_t v = 0; v < voxels; ++v) {
            bool finite = true;
            for (int k = 0; k < points; ++k) {
                values[static_cast<std::size_t>(k)] = series.data[v + voxels * static_cast<std::size_t>(k)];
                finite = finite && std::isfinite(values[static_cast<std::size_t>(k)]);
            }
            if (!finite) {
                ++result.nonFinite;
                continue;
            }
            double sum = 0.0;
            for (const double value : values)
                sum += value;
            result.integral[v] = spacingMs * (sum - 0.5 * (values.front() + values.back()));
            result.maximum[v] = *std::max_element(values.begin(), values.end());
            if (!(result.maximum[v] > threshold)) {
                ++result.belowThreshold;
                continue;
            }
            const DecayFit fit = fitMonoExponential(values.data(), points, spacingMs);
            if (!fit.ok) {
                ++result.noDecay;
                continue;
            }
            result.t2Ms[v] = fit.t2Ms;
            result.fitQuality[v] = fit.quality;
            ++result.fittedVoxels;
        }
    } catch (const std::bad_alloc&) {
        return util::Outcome::failure("The decay maps ran out of memory; take a smaller block.");
    }
    maps = std::move(result);
    return util::Outcome::success();
}

std::filesystem::path decayMapBaseName(const std::filesystem::path& dataSet)
{
    std::string name = dataSet.filename().string();
    for (const std::string_view suffix : {".nii.gz", ".nii", ".sgl"}) {
        if (name.size() > suffix.size() && util::endsWithIgnoreCase(name, suffix)) {
            name.resize(name.size() - suffix.size());
            break;
        }
    }
    return dataSet.parent_path() / name;
}

namespace {

util::Outcome writeEach(const std::filesystem::path& base, const ImageSeries& series, const DecayMaps& maps,
                        std::vector<std::string>* written)
{
    auto named = [&](const char* suffix) {
        std::filesystem::path path = base;
        path += suffix;
        return path;
    };
    if (util::Outcome outcome = writeRawMap(named("_trunc"), series.data); !outcome)
        return outcome;
    if (written != nullptr)
        written->push_back(named("_trunc").string());
    struct Map {
        const char* suffix;
        const std::vector<double>* values;
        const char* description;
    };
    const Map list[] = {{"_INTEGRAL", &maps.integral, "integral along the 4th axis (units x ms)"},
                        {"_MAX", &maps.maximum, "maximum along the 4th axis"},
                        {"_T2", &maps.t2Ms, "mono-exponential T2 (ms)"},
                        {"_f", &maps.fitQuality, "T2 fit: relative rms misfit"}};
    for (const Map& map : list) {
        if (util::Outcome outcome = writeRawMap(named(map.suffix), *map.values); !outcome)
            return outcome;
        if (written != nullptr)
            written->push_back(named(map.suffix).string());
        if (!niftiSupported())
            continue;
        std::filesystem::path nifti = named(map.suffix);
        nifti += ".nii.gz";
        if (util::Outcome outcome = writeNiftiVolume(nifti, *map.values, series, map.description); !outcome)
            return outcome;
        if (written != nullptr)
            written->push_back(nifti.string());
    }
    return util::Outcome::success();
}

}  // namespace

util::Outcome writeDecayMaps(const std::filesystem::path& base, const ImageSeries& series,
                             const DecayMaps& maps, std::vector<std::string>* written)
{
    // The files are built as bytes before they are written (the "_trunc" data set as large as the
    // series in floats): a failed allocation is a refusal like a failed write.
    try {
        return writeEach(base, series, maps, written);
    } catch (const std::bad_alloc&) {
        return util::Outcome::failure("cannot write " + base.string() + "_trunc ...: not enough memory");
    }
}

}  // namespace velmora::imagefit
