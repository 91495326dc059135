// Model maps and the synthetic series made from them.
#include "imagefit/synthetic_series.h"

#include "imagefit/map_files.h"
#include "imagefit/signal_model.h"
#include "util/text_file.h"
#include "util/uniform_random.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velmora::imagefit {

namespace {

// Standard normal deviate from two uniform numbers (Box-Muller).
double gaussian(util::UniformRandom& random)
{
    const double u = 1.0 - random.next();  // in (0, 1]
    const double v = random.next();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.28318530717958 * v);
}

}  // namespace

ModelMaps modelMaps(int nx, int ny, ModelKind kind)
{
    ModelMaps maps;
    maps.nx = nx;
    maps.ny = ny;
    const std::size_t count = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    maps.t1Seconds.assign(count, 0.0);
    maps.b1.assign(count, 0.0);
    maps.amplitude.assign(count, 0.0);
    const double cx = 0.5 * (nx - 1);
    const double cy = 0.5 * (ny - 1);
    const double radius = 0.42 * std::min(nx, ny);
    for (int y = 0; y < ny; ++y) {
        for (int x = 0; x < nx; ++x) {
            const double u = (x - cx) / radius;  // -1..1 across the object
            const double v = (y - cy) / radius;
            if (u * u + v * v > 1.0)
                continue;
            const std::size_t k = static_cast<std::size_t>(y) * nx + x;
            maps.amplitude[k] = 1000.0;
            if (kind == ModelKind::SolutionTest) {
                maps.t1Seconds[k] = 1.0;
                maps.b1[k] = 1.0;
            } else {
                maps.t1Seconds[k] = 0.3 + 1.7 * 0.5 * (u + 1.0);
                maps.b1[k] = 1.0 + 0.25 * v + 0.05 * (1.0 - 2.0 * u * u);
            }
        }
    }
    return maps;
}

ImageSeries syntheticSeries(const ModelMaps& maps, int nz, const SyntheticAcquisition& acquisition)
{
    ImageSeries series;
    const int images = static_cast<int>(acquisition.flipAnglesDeg.size());
    series.resize(maps.nx, maps.ny, nz, images);
    for (int i = 0; i < images; ++i) {
        series.flipAngleRad[static_cast<std::size_t>(i)] =
            acquisition.flipAnglesDeg[static_cast<std::size_t>(i)] * kRadiansPerDegree;
        series.trSeconds[static_cast<std::size_t>(i)] =
            acquisition.trSeconds[std::min(static_cast<std::size_t>(i), acquisition.trSeconds.size() - 1)];
    }
    for (int i = 0; i < images; ++i) {
        for (int y = 0; y < maps.ny; ++y) {
            for (int x = 0; x < maps.nx; ++x) {
                if (!maps.inside(x, y))
                    continue;
                const std::size_t k = static_cast<std::size_t>(y) * maps.nx + x;
                const double signal =
                    maps.amplitude[k] *
                    spoiledSignal(series.flipAngleRad[static_cast<std::size_t>(i)], maps.b1[k],
                                  series.trSeconds[static_cast<std::size_t>(i)], maps.t1Seconds[k]);
                for (int z = 0; z < nz; ++z)
                    series.at(x, y, z, i) = signal;
            }
        }
    }
    if (acquisition.noiseFraction > 0.0) {
        util::UniformRandom random(acquisition.seed);
        const std::size_t perImage = series.voxelsPerImage();
        for (int i = 0; i < images; ++i) {
            double* image = series.data.data() + perImage * static_cast<std::size_t>(i);
            double sum = 0.0;
            std::size_t count = 0;
            for (std::size_t k = 0; k < perImage; ++k) {
                sum += image[k];
                count += image[k] != 0.0 ? 1 : 0;
            }
            const double sigma =
                acquisition.noiseFraction * (count > 0 ? sum / static_cast<double>(count) : 0.0);
            for (std::size_t k = 0; k < perImage; ++k)
                image[k] += sigma * gaussian(random);
        }
    }
    series.updateLargestValue();
    return series;
}

util::Outcome writeModelFiles(const std::filesystem::path& folder, const std::filesystem::path& base,
                              const ModelMaps& maps, ModelKind kind, const SyntheticAcquisition& acquisition)
{
    std::vector<double> firstSignal(maps.amplitude.size(), 0.0);
    for (std::size_t k = 0; k < firstSignal.size(); ++k) {
        if (maps.amplitude[k] > 0.0)
            firstSignal[k] = maps.amplitude[k] *
                             spoiledSignal(acquisition.flipAnglesDeg.front() * kRadiansPerDegree, maps.b1[k],
                                           acquisition.trSeconds.front(), maps.t1Seconds[k]);
    }
    const std::pair<const char*, const std::vector<double>*> files[] = {
        {"_mT1", &maps.t1Seconds}, {"_mB1", &maps.b1}, {"_mAmpl", &maps.amplitude}, {"_mSig", &firstSignal}};
    for (const auto& [suffix, values] : files) {
        std::filesystem::path path = base;
        path += suffix;
        if (util::Outcome written = writeRawMap(path, *values); !written)
            return written;
    }
    std::vector<std::string> lines{
        std::string("model: ") + (kind == ModelKind::Regular ? kRegularModelText : kSolutionTestText),
        "block: " + std::to_string(maps.nx) + " x " + std::to_string(maps.ny),
        "object: disc of radius 0.42 * min(nx, ny) about the block centre, the same on every slice",
        "maps: " + base.filename().string() +
            "_mT1 (s), _mB1, _mAmpl, _mSig (first image), float32 big-endian, "
            "rows = y, columns = x"};
    std::string angles = "flip angles (deg):";
    for (double angle : acquisition.flipAnglesDeg) {
        char text[32];
        std::snprintf(text, sizeof text, " %.6g", angle);
        angles += text;
    }
    lines.push_back(angles);
    char text[96];
    std::snprintf(text, sizeof text, "TR (s): %.6g; noise: %.6g of each image's mean signal; seed %lld",
                  acquisition.trSeconds.front(), acquisition.noiseFraction,
                  static_cast<long long>(acquisition.seed));
    lines.emplace_back(text);
    return util::writeTextFile(folder / "M_solution", lines);
}

}  // namespace velmora::imagefit
