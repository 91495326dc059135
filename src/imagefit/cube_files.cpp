// Readers and writers of the cube files and series descriptions. Readers check every size against
// the file before reading and change the series only when all images were read.
#include "imagefit/cube_files.h"

#include "util/file_listing.h"
#include "util/numeric_text.h"
#include "util/text_compare.h"
#include "util/text_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace velmora::imagefit {

namespace {

// A whole number written in `text` (leading blanks allowed), or -1.
int wholeNumber(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    const std::optional<double> value = util::parseNumber(text);
    if (!value || *value != std::floor(*value) || *value < 0.0 || *value > 1e6)
        return -1;
    return static_cast<int>(*value);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Characters `first` (from 1) to first + count - 1 of `text` as a whole number, or -1. A field
// followed by a digit runs on ("TR10000" in a four-character TR field): it is refused rather than
// read in part.
int numberAt(std::string_view text, std::size_t first, std::size_t count)
{
    if (text.size() < first - 1 + count)
        return -1;
    const std::size_t after = first - 1 + count;
    if (after < text.size() && isDigit(text[after]))
        return -1;
    return wholeNumber(text.substr(first - 1, count));
}

std::string pathText(const std::filesystem::path& path)
{
    return path.string();
}

// An open cube source: a file, the byte offset of its cube and the cube's edge.
struct CubeSource {
    std::ifstream* file = nullptr;
    std::uintmax_t offset = 0;
    int edge = 0;
};

// Bytes of a cube of 32-bit values of this edge.
std::uintmax_t cubeBytes(int edge)
{
    const auto e = static_cast<std::uintmax_t>(edge);
    return e * e * e * 4;
}

bool blockFits(BlockSize block, int edge)
{
    return block.nx <= edge && block.ny <= edge && block.nz <= edge;
}

BlockSize resolvedBlock(BlockSize block, int edge)
{
    return {block.nx > 0 ? block.nx : edge, block.ny > 0 ? block.ny : edge, block.nz > 0 ? block.nz : edge};
}

std::string blockText(BlockSize block)
{
    return std::to_string(block.nx) + " x " + std::to_string(block.ny) + " x " + std::to_string(block.nz);
}

// Reads the central block of one cube into image `image` of `series`.
bool readCentralBlock(const CubeSource& source, ImageSeries& series, int image)
{
    const std::uintmax_t edge = static_cast<std::uintmax_t>(source.edge);
    const int x0 = (source.edge - series.nx) / 2;
    const int y0 = (source.edge - series.ny) / 2;
    const int z0 = (source.edge - series.nz) / 2;
    std::vector<unsigned char> row(static_cast<std::size_t>(series.nx) * 4);
    for (int z = 0; z < series.nz; ++z) {
        for (int y = 0; y < series.ny; ++y) {
            const std::uintmax_t element =
                (static_cast<std::uintmax_t>(z0 + z) * edge + static_cast<std::uintmax_t>(y0 + y)) * edge +
                static_cast<std::uintmax_t>(x0);
            source.file->seekg(static_cast<std::streamoff>(source.offset + 4 * element));
            source.file->read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size()));
            if (!*source.file)
                return false;
            for (int x = 0; x < series.nx; ++x) {
                const unsigned char* b = &row[static_cast<std::size_t>(x) * 4];
                const std::uint32_t bits = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                                           (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
                series.at(x, y, z, image) = static_cast<double>(std::bit_cast<float>(bits));
            }
        }
    }
    return true;
}

std::optional<std::uintmax_t> regularFileSize(const std::filesystem::path& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error)
        return std::nullopt;
    return size;
}

}  // namespace

bool isSeriesImageName(std::string_view name)
{
    return util::startsWithIgnoreCase(name, "T1_");
}

std::optional<ImageFileName> parseImageFileName(std::string_view name)
{
    if (!isSeriesImageName(name))
        return std::nullopt;
    const int angle = numberAt(name, 4, 2);
    const int tr = numberAt(name, 9, 4);
    if (angle <= 0 || tr <= 0)
        return std::nullopt;
    return ImageFileName{angle, tr};
}

std::vector<std::string> seriesImageFiles(const std::filesystem::path& folder)
{
    std::vector<std::string> names = util::listFilesWithExtension(folder, ".sgl");
    std::erase_if(names, [](const std::string& name) { return !isSeriesImageName(name); });
    return names;
}

int cubeEdge(std::uintmax_t bytes)
{
    const std::uintmax_t values = bytes / 4;
    auto edge = static_cast<std::uintmax_t>(std::cbrt(static_cast<double>(values)));
    while (edge > 0 && edge * edge * edge > values)
        --edge;
    while ((edge + 1) * (edge + 1) * (edge + 1) <= values)
        ++edge;
    return static_cast<int>(std::min<std::uintmax_t>(edge, 1u << 20));
}

util::Outcome loadImageFolder(const std::filesystem::path& folder, BlockSize block, ImageSeries& series,
                              const MemoryBudget& budget)
{
    const std::vector<std::string> names = seriesImageFiles(folder);
    if (names.empty())
        return util::Outcome::failure("No \"T1_*.sgl\" image files in " + pathText(folder) + ".");
    ImageSeries loaded;
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::filesystem::path path = folder / names[k];
        const std::optional<ImageFileName> parsed = parseImageFileName(names[k]);
        if (!parsed)
            return util::Outcome::failure(
                "The name " + names[k] +
                " does not give the flip angle (characters 4-5) and TR (characters 9-12, in microseconds, "
                "at most 9999: a TR field running on into character 13 is not read in part).");
        const std::optional<std::uintmax_t> size = regularFileSize(path);
        if (!size)
            return util::Outcome::failure("cannot read " + pathText(path));
        const int edge = cubeEdge(*size);
        if (*size != cubeBytes(edge))
            return util::Outcome::failure("The image file " + pathText(path) + " holds " +
                                          std::to_string(*size) + " bytes, which is not a cube of " +
                                          "32-bit values (edge^3 x 4 bytes; the nearest below is edge " +
                                          std::to_string(edge) + ", " + std::to_string(cubeBytes(edge)) +
                                          " bytes).");
        if (k == 0) {
            const BlockSize resolved = resolvedBlock(block, edge);
            if (edge == 0 || !blockFits(resolved, edge))
                return util::Outcome::failure("The block " + blockText(resolved) +
                                              " does not fit in the cube of edge " + std::to_string(edge) +
                                              " of " + pathText(path) + ".");
            if (util::Outcome sized =
                    checkSeriesSize(static_cast<double>(resolved.nx) * resolved.ny * resolved.nz,
                                    static_cast<double>(names.size()), 0.0, budget, pathText(folder));
                !sized)
                return sized;
            loaded.resize(resolved.nx, resolved.ny, resolved.nz, static_cast<int>(names.size()));
        }
        if (!blockFits({loaded.nx, loaded.ny, loaded.nz}, edge))
            return util::Outcome::failure("The block " + blockText({loaded.nx, loaded.ny, loaded.nz}) +
                                          " does not fit in the cube of edge " + std::to_string(edge) +
                                          " of " + pathText(path) + ".");
        std::ifstream file(path, std::ios::binary);
        if (!file || !readCentralBlock({&file, 0, edge}, loaded, static_cast<int>(k)))
            return util::Outcome::failure("cannot read " + pathText(path));
        loaded.flipAngleRad[k] = parsed->flipDegrees * kRadiansPerDegree;
        loaded.trSeconds[k] = parsed->trMicroseconds / 1e6;
    }
    loaded.updateLargestValue();
    series = std::move(loaded);
    return util::Outcome::success();
}

util::Outcome loadSeriesDescription(const std::filesystem::path& path, BlockSize block, ImageSeries& series,
                                    const MemoryBudget& budget)
{
    std::filesystem::path descriptionPath = path;
    descriptionPath += ".txt";
    const util::TextFileContent description = util::readTextLines(descriptionPath, 1u << 20, 10000);
    if (!description.ok)
        return util::Outcome::failure(description.error);
    std::vector<std::string> lines = description.lines;
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    const int count = static_cast<int>(lines.size());
    if (count == 0)
        return util::Outcome::failure("The series description " + pathText(descriptionPath) +
                                      " has no lines.");
    const std::optional<std::uintmax_t> size = regularFileSize(path);
    if (!size)
        return util::Outcome::failure("cannot read " + pathText(path));
    // The data file must hold exactly one cube per line: a length that is not (lines x edge^3 x 4)
    // means the description and the data do not belong together, and any edge read from it would
    // put the cubes at wrong offsets.
    const int edge = cubeEdge(*size / static_cast<std::uintmax_t>(count));
    if (*size != static_cast<std::uintmax_t>(count) * cubeBytes(edge))
        return util::Outcome::failure(
            "The series file " + pathText(path) + " holds " + std::to_string(*size) +
            " bytes, but its description " + pathText(descriptionPath) + " lists " + std::to_string(count) +
            " images, whose cubes take " + std::to_string(count) + " x edge^3 x 4 bytes (" +
            std::to_string(count * cubeBytes(edge)) + " at edge " + std::to_string(edge) + ", " +
            std::to_string(count * cubeBytes(edge + 1)) + " at edge " + std::to_string(edge + 1) + ").");
    const BlockSize resolved = resolvedBlock(block, edge);
    if (edge == 0 || !blockFits(resolved, edge))
        return util::Outcome::failure("The block " + blockText(resolved) +
                                      " does not fit in the cubes of edge " + std::to_string(edge) + " of " +
                                      pathText(path) + ".");
    if (util::Outcome sized = checkSeriesSize(static_cast<double>(resolved.nx) * resolved.ny * resolved.nz,
                                              count, 0.0, budget, pathText(path));
        !sized)
        return sized;
    ImageSeries loaded;
    loaded.resize(resolved.nx, resolved.ny, resolved.nz, count);
    std::ifstream file(path, std::ios::binary);
    for (int k = 0; k < count; ++k) {
        const std::string& line = lines[static_cast<std::size_t>(k)];
        const int number = numberAt(line, 20, 2);
        const int angle = numberAt(line, 4, 2);
        const int tr = numberAt(line, 9, 4);
        if (number < 1 || number > count || angle <= 0 || tr <= 0)
            return util::Outcome::failure("Line " + std::to_string(k + 1) + " of " +
                                          pathText(descriptionPath) +
                                          " does not give the image number (characters 20-21), flip angle "
                                          "(characters 4-5) and TR (characters 9-12).");
        if (!file || !readCentralBlock(
                         {&file, static_cast<std::uintmax_t>(number - 1) * cubeBytes(edge), edge}, loaded, k))
            return util::Outcome::failure("cannot read " + pathText(path));
        loaded.flipAngleRad[static_cast<std::size_t>(k)] = angle * kRadiansPerDegree;
        loaded.trSeconds[static_cast<std::size_t>(k)] = tr / 1e6;
    }
    loaded.updateLargestValue();
    series = std::move(loaded);
    return util::Outcome::success();
}

std::vector<unsigned char> bigEndianFloats(const double* values, std::size_t count)
{
    std::vector<unsigned char> bytes(4 * count);
    for (std::size_t k = 0; k < count; ++k) {
        const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(values[k]));
        bytes[4 * k] = static_cast<unsigned char>(bits >> 24);
        bytes[4 * k + 1] = static_cast<unsigned char>(bits >> 16);
        bytes[4 * k + 2] = static_cast<unsigned char>(bits >> 8);
        bytes[4 * k + 3] = static_cast<unsigned char>(bits);
    }
    return bytes;
}

util::Outcome writeCubeFile(const std::filesystem::path& path, const ImageSeries& series, int image)
{
    const int edge = std::max({series.nx, series.ny, series.nz});
    const std::size_t edgeSize = static_cast<std::size_t>(edge);
    std::vector<double> cube(edgeSize * edgeSize * edgeSize, 0.0);
    const int x0 = (edge - series.nx) / 2, y0 = (edge - series.ny) / 2, z0 = (edge - series.nz) / 2;
    for (int z = 0; z < series.nz; ++z) {
        for (int y = 0; y < series.ny; ++y) {
            for (int x = 0; x < series.nx; ++x)
                cube[(static_cast<std::size_t>(z0 + z) * edgeSize + static_cast<std::size_t>(y0 + y)) *
                         edgeSize +
                     static_cast<std::size_t>(x0 + x)] = series.at(x, y, z, image);
        }
    }
    return util::writeBinaryFile(path, bigEndianFloats(cube.data(), cube.size()));
}

util::Outcome writeImageFolder(const std::filesystem::path& folder, const ImageSeries& series)
{
    for (int i = 0; i < series.images(); ++i) {
        const long angle = std::lround(series.flipAngleRad[static_cast<std::size_t>(i)] / kRadiansPerDegree);
        const long tr = std::lround(series.trSeconds[static_cast<std::size_t>(i)] * 1e6);
        if (angle < 1 || angle > 99 || tr < 1 || tr > 9999)
            return util::Outcome::failure("A flip angle of " + std::to_string(angle) +
                                          " degrees or a TR of " + std::to_string(tr) +
                                          " microseconds does not fit an image file name.");
        char name[32];
        std::snprintf(name, sizeof name, "T1_%02ld_TR%04ld.sgl", angle, tr);
        if (util::Outcome written = writeCubeFile(folder / name, series, i); !written)
            return written;
    }
    return util::Outcome::success();
}

}  // namespace velmora::imagefit
