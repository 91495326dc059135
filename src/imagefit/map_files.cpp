// Raw and NIfTI map files.
#include "imagefit/map_files.h"

#include "imagefit/cube_files.h"
#include "imagefit/nifti_files.h"
#include "util/text_file.h"

#include <bit>
#include <chrono>
#include <fstream>

namespace velmora::imagefit {

std::filesystem::path mapBaseName(const std::filesystem::path& folder, int year, int month, int day,
                                  Orientation orientation)
{
    return folder / (std::to_string(year) + "_" + std::to_string(month) + "_" + std::to_string(day) +
                     std::string(orientationText(orientation)));
}

std::filesystem::path todaysMapBaseName(const std::filesystem::path& folder, Orientation orientation)
{
    const std::chrono::year_month_day today{
        std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
    return mapBaseName(folder, static_cast<int>(today.year()),
                       static_cast<int>(static_cast<unsigned>(today.month())),
                       static_cast<int>(static_cast<unsigned>(today.day())), orientation);
}

util::Outcome writeRawMap(const std::filesystem::path& path, const std::vector<double>& values)
{
    return util::writeBinaryFile(path, bigEndianFloats(values.data(), values.size()));
}

util::Outcome readRawMap(const std::filesystem::path& path, std::size_t count, std::vector<double>& values)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> bytes(4 * count);
    if (!file ||
        !file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        return util::Outcome::failure("cannot read " + path.string() + ": fewer than " +
                                      std::to_string(count) + " values");
    std::vector<double> read(count);
    for (std::size_t k = 0; k < count; ++k) {
        const unsigned char* b = &bytes[4 * k];
        read[k] = std::bit_cast<float>((std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                                       (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]});
    }
    values = std::move(read);
    return util::Outcome::success();
}

util::Outcome writeFitMaps(const std::filesystem::path& base, const FitMaps& maps, const ImageSeries& series,
                           const FitSettings& settings, std::vector<std::string>* written)
{
    struct Map {
        const char* suffix;
        const std::vector<double>* values;
        const char* description;
    };
    const Map list[] = {{"_T1", &maps.t1Seconds, "T1 (s)"},
                        {"_B1", &maps.b1, "B1 factor (1 = nominal flip angle)"},
                        {"_Ampl", &maps.amplitude, "amplitude (image units)"},
                        {"_Err", &maps.error, "fit error (relative)"}};
    const MapPlacement placement = mapPlacement(series, settings.orientation, settings.slice - 1);
    for (const Map& map : list) {
        std::filesystem::path raw = base;
        raw += map.suffix;
        if (util::Outcome outcome = writeRawMap(raw, *map.values); !outcome)
            return outcome;
        if (written != nullptr)
            written->push_back(raw.string());
        if (!niftiSupported())
            continue;
        std::filesystem::path nifti = raw;
        nifti += ".nii.gz";
        if (util::Outcome outcome =
                writeNiftiMap(nifti, *map.values, maps.rows, maps.columns, placement, map.description);
            !outcome)
            return outcome;
        if (written != nullptr)
            written->push_back(nifti.string());
    }
    return util::Outcome::success();
}

}  // namespace velmora::imagefit
