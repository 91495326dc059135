// NIfTI series and maps. The library reads the header first; sizes are checked against the file
// before any data is loaded, so a hostile header cannot make it allocate or read without bound.
#include "imagefit/nifti_files.h"

#include "util/numeric_text.h"
#include "util/text_compare.h"
#include "util/text_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <system_error>

#ifdef VELMORA_HAVE_NIFTI
#include <nifti1_io.h>
#include <zlib.h>
#endif

namespace velmora::imagefit {

namespace {

std::vector<double> numberList(std::string_view text, bool& ok)
{
    std::vector<double> values;
    ok = true;
    while (ok) {
        const std::size_t comma = text.find(',');
        std::string_view field = text.substr(0, comma);
        while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
            field.remove_prefix(1);
        while (!field.empty() && (field.back() == ' ' || field.back() == '\t'))
            field.remove_suffix(1);
        const std::optional<double> value = util::parseNumber(field);
        ok = value && *value > 0.0;
        if (ok)
            values.push_back(*value);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return values;
}

// The slice axis and the axes of map columns and rows, as block axes 0 = x, 1 = y, 2 = z.
void mapAxes(Orientation orientation, int& columnAxis, int& rowAxis, int& sliceAxis)
{
    switch (orientation) {
    case Orientation::Coronal:
        columnAxis = 0, rowAxis = 1, sliceAxis = 2;
        return;
    case Orientation::Transverse:
        columnAxis = 0, rowAxis = 2, sliceAxis = 1;
        return;
    case Orientation::Sagittal:
        columnAxis = 2, rowAxis = 1, sliceAxis = 0;
        return;
    }
}

}  // namespace

bool isNiftiPath(const std::filesystem::path& path)
{
    const std::string name = path.filename().string();
    return util::endsWithIgnoreCase(name, ".nii") || util::endsWithIgnoreCase(name, ".nii.gz");
}

std::filesystem::path acquisitionSideFile(const std::filesystem::path& niftiPath)
{
    std::string name = niftiPath.filename().string();
    const std::size_t suffix = util::endsWithIgnoreCase(name, ".nii.gz") ? 7
                               : util::endsWithIgnoreCase(name, ".nii")  ? 4
                                                                         : 0;
    name.resize(name.size() - suffix);
    return niftiPath.parent_path() / (name + "_vfa.txt");
}

util::Outcome readAcquisitionFile(const std::filesystem::path& path, Acquisition& acquisition)
{
    const util::TextFileContent content = util::readTextLines(path, 1u << 16, 100);
    if (!content.ok)
        return util::Outcome::failure(content.error);
    Acquisition read;
    for (const std::string& line : content.lines) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string_view key = std::string_view(line).substr(0, colon);
        bool ok = false;
        const std::vector<double> values = numberList(std::string_view(line).substr(colon + 1), ok);
        if (util::equalsIgnoreCase(key, "flip_angles_deg"))
            read.flipAnglesDeg = ok ? values : std::vector<double>{};
        else if (util::equalsIgnoreCase(key, "tr_ms"))
            read.trMs = ok ? values : std::vector<double>{};
        else
            continue;
        if (!ok)
            return util::Outcome::failure("The line \"" + line + "\" of " + path.string() +
                                          " must hold positive numbers separated by commas.");
    }
    if (read.flipAnglesDeg.empty() || read.trMs.empty())
        return util::Outcome::failure(path.string() + " must give \"flip_angles_deg:\" and \"tr_ms:\".");
    acquisition = std::move(read);
    return util::Outcome::success();
}

util::Outcome writeAcquisitionFile(const std::filesystem::path& path, const ImageSeries& series)
{
    std::string angles = "flip_angles_deg: ";
    std::string trs = "tr_ms: ";
    for (int i = 0; i < series.images(); ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "%s%.10g", i > 0 ? "," : "",
                      series.flipAngleRad[static_cast<std::size_t>(i)] / kRadiansPerDegree);
        angles += text;
        std::snprintf(text, sizeof text, "%s%.10g", i > 0 ? "," : "",
                      series.trSeconds[static_cast<std::size_t>(i)] * 1e3);
        trs += text;
    }
    return util::writeTextFile(path, {angles, trs});
}

MapPlacement mapPlacement(const ImageSeries& series, Orientation orientation, int sliceFromZero)
{
    int axes[3] = {0, 1, 2};
    mapAxes(orientation, axes[0], axes[1], axes[2]);
    double source[3][4] = {};
    if (series.hasPlacement) {
        std::copy(&series.placement[0][0], &series.placement[0][0] + 12, &source[0][0]);
    } else {
        for (int k = 0; k < 3; ++k)
            source[k][k] = series.voxelMm[k];
    }
    MapPlacement placement;
    placement.placed = series.hasPlacement;
    for (int k = 0; k < 3; ++k)
        placement.voxelMm[k] = series.voxelMm[axes[k]];
    for (int row = 0; row < 3; ++row) {
        for (int k = 0; k < 3; ++k)
            placement.toWorld[row][k] = source[row][axes[k]];
        placement.toWorld[row][3] = source[row][3] + sliceFromZero * source[row][axes[2]];
    }
    return placement;
}

#ifdef VELMORA_HAVE_NIFTI

namespace {

struct ImageDeleter {
    void operator()(nifti_image* image) const { nifti_image_free(image); }
};
using NiftiImage = std::unique_ptr<nifti_image, ImageDeleter>;

// Files of more voxels are refused before their data are read: 2^28 voxels are 2 GiB once held as
// doubles, and a compressed file's length cannot bound what its header claims.
constexpr double kMostVoxels = 268435456.0;

// Decompresses a gzip file in pieces, holding none of it, until `wanted` bytes came out or the
// stream ended; the count of bytes that came out (at most `wanted`, a little more at the end of a
// piece), or none when the file cannot be opened. The NIfTI library cannot be asked: it fills the
// voxels of a cut compressed file with zeros and reports success.
std::optional<double> decompressedLength(const std::filesystem::path& path, double wanted)
{
    const gzFile file = gzopen(path.string().c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::vector<char> piece(1 << 16);
    double count = 0.0;
    while (count < wanted) {
        const int read = gzread(file, piece.data(), static_cast<unsigned>(piece.size()));
        if (read <= 0)
            break;  // the end, or a damaged or cut stream: what came out is all there is
        count += read;
    }
    gzclose(file);
    return count;
}

util::Outcome loadChecked(const std::filesystem::path& path, NiftiImage& image,
                          const MemoryBudget& budget = {})
{
    nifti_set_debug_level(0);
    image.reset(nifti_image_read(path.string().c_str(), 0));
    if (!image)
        return util::Outcome::failure("cannot read " + path.string() + ": not a NIfTI-1 file");
    double voxels = 1.0;
    for (int k = 1; k <= image->dim[0] && k <= 7; ++k)
        voxels *= std::max(1, image->dim[k]);
    if (image->dim[0] < 1 || image->dim[0] > 7 || voxels > kMostVoxels)
        return util::Outcome::failure("cannot read " + path.string() +
                                      ": the header's dimensions are not usable");
    // A negative data offset would make the length check below pass for any file, and the library
    // would then allocate and read whatever the dimensions claim.
    if (image->iname_offset < 0)
        return util::Outcome::failure("cannot read " + path.string() +
                                      ": the header's data offset is not usable");
    // The library holds the voxels as stored, and the series as doubles beside them.
    if (util::Outcome memory =
            checkMemory(voxels * (image->nbyper + 8.0), budget, "Reading " + path.string());
        !memory)
        return memory;
    const double needed = static_cast<double>(image->iname_offset) + voxels * image->nbyper;
    double length = 0.0;
    if (!util::endsWithIgnoreCase(path.string(), ".gz")) {
        std::error_code error;
        length = static_cast<double>(std::filesystem::file_size(path, error));
        if (error)
            length = 0.0;
    } else {
        // A compressed file's length says nothing of its content: decompress it in pieces up to the
        // length the header asks for (a cut file, or a small one claiming a huge volume, ends early).
        length = decompressedLength(path, needed).value_or(0.0);
    }
    if (length < needed)
        return util::Outcome::failure(
            "cannot read " + path.string() + ": the file is shorter than its header says (" +
            std::to_string(static_cast<long long>(length)) + " bytes" +
            (util::endsWithIgnoreCase(path.string(), ".gz") ? " once decompressed" : "") + ", " +
            std::to_string(static_cast<long long>(needed)) + " needed)");
    if (nifti_image_load(image.get()) != 0)
        return util::Outcome::failure("cannot read " + path.string() + ": the data are truncated or damaged");
    return util::Outcome::success();
}

bool valuesAsDoubles(const nifti_image& image, std::vector<double>& values)
{
    const std::size_t count = image.nvox;
    values.resize(count);
    auto convert = [&](const auto* data) {
        for (std::size_t k = 0; k < count; ++k)
            values[k] = static_cast<double>(data[k]);
    };
    switch (image.datatype) {
    case NIFTI_TYPE_UINT8:
        convert(static_cast<const std::uint8_t*>(image.data));
        break;
    case NIFTI_TYPE_INT8:
        convert(static_cast<const std::int8_t*>(image.data));
        break;
    case NIFTI_TYPE_INT16:
        convert(static_cast<const std::int16_t*>(image.data));
        break;
    case NIFTI_TYPE_UINT16:
        convert(static_cast<const std::uint16_t*>(image.data));
        break;
    case NIFTI_TYPE_INT32:
        convert(static_cast<const std::int32_t*>(image.data));
        break;
    case NIFTI_TYPE_UINT32:
        convert(static_cast<const std::uint32_t*>(image.data));
        break;
    case NIFTI_TYPE_FLOAT32:
        convert(static_cast<const float*>(image.data));
        break;
    case NIFTI_TYPE_FLOAT64:
        convert(static_cast<const double*>(image.data));
        break;
    default:
        return false;
    }
    if (image.scl_slope != 0.0f && std::isfinite(image.scl_slope) && std::isfinite(image.scl_inter)) {
        for (double& value : values)
            value = value * image.scl_slope + image.scl_inter;
    }
    return true;
}

// Writes `image` under a temporary name beside `path` and moves it in when the library wrote it.
util::Outcome writeImage(nifti_image& image, const std::filesystem::path& path)
{
    const bool compressed = util::endsWithIgnoreCase(path.string(), ".gz");
    const std::filesystem::path temporary =
        path.parent_path() /
        ("." + path.filename().string() + ".partial" + (compressed ? ".nii.gz" : ".nii"));
    if (nifti_set_filenames(&image, temporary.string().c_str(), 0, 1) != 0)
        return util::Outcome::failure("cannot write " + path.string());
    std::error_code error;
    std::filesystem::remove(temporary, error);
    nifti_image_write(&image);
    const std::uintmax_t size = std::filesystem::file_size(temporary, error);
    if (error || size == 0) {
        std::filesystem::remove(temporary, error);
        return util::Outcome::failure("cannot write " + path.string());
    }
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return util::Outcome::failure("cannot write " + path.string() + ": " + error.message());
    }
    return util::Outcome::success();
}

void setPlacement(nifti_image& image, const double toWorld[3][4], const double voxelMm[3])
{
    image.dx = image.pixdim[1] = static_cast<float>(voxelMm[0]);
    image.dy = image.pixdim[2] = static_cast<float>(voxelMm[1]);
    image.dz = image.pixdim[3] = static_cast<float>(voxelMm[2]);
    image.xyz_units = NIFTI_UNITS_MM;
    image.sform_code = NIFTI_XFORM_SCANNER_ANAT;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 4; ++col)
            image.sto_xyz.m[row][col] = static_cast<float>(toWorld[row][col]);
    }
    image.sto_xyz.m[3][0] = image.sto_xyz.m[3][1] = image.sto_xyz.m[3][2] = 0.0f;
    image.sto_xyz.m[3][3] = 1.0f;
    image.sto_ijk = nifti_mat44_inverse(image.sto_xyz);
}

}  // namespace

bool niftiSupported()
{
    return true;
}

namespace {

// Reads a 3-D or 4-D volume into `series`; with an acquisition, one flip angle per volume. The
// spacing of the fourth axis (ms, 0 when the header gives none) goes to `fourthAxisMs`.
util::Outcome readVolumes(const std::filesystem::path& path, const Acquisition* acquisition,
                          ImageSeries& series, const MemoryBudget& budget, double* fourthAxisMs)
{
    NiftiImage image;
    if (util::Outcome loaded = loadChecked(path, image, budget); !loaded)
        return loaded;
    if (image->dim[0] > 4)
        for (int k = 5; k <= image->dim[0]; ++k)
            if (image->dim[k] > 1)
                return util::Outcome::failure(path.string() +
                                              " has more than four dimensions; a series is one 3-D "
                                              "volume per flip angle or time point.");
    const int volumes = image->dim[0] >= 4 ? std::max(1, image->dim[4]) : 1;
    const int nx = std::max(1, image->dim[1]);
    const int ny = image->dim[0] >= 2 ? std::max(1, image->dim[2]) : 1;
    const int nz = image->dim[0] >= 3 ? std::max(1, image->dim[3]) : 1;
    if (acquisition != nullptr) {
        if (static_cast<int>(acquisition->flipAnglesDeg.size()) != volumes)
            return util::Outcome::failure(
                path.string() + " holds " + std::to_string(volumes) + " volumes but " +
                std::to_string(acquisition->flipAnglesDeg.size()) + " flip angles are given.");
        if (acquisition->trMs.size() != 1 && static_cast<int>(acquisition->trMs.size()) != volumes)
            return util::Outcome::failure("Give one TR for all volumes or one per volume.");
    }
    ImageSeries loaded;
    loaded.resize(nx, ny, nz, volumes);
    if (!valuesAsDoubles(*image, loaded.data))
        return util::Outcome::failure(path.string() +
                                      ": only real integer and floating-point data are read.");
    loaded.data.resize(loaded.voxelsPerImage() * static_cast<std::size_t>(volumes));
    for (int i = 0; acquisition != nullptr && i < volumes; ++i) {
        loaded.flipAngleRad[static_cast<std::size_t>(i)] =
            acquisition->flipAnglesDeg[static_cast<std::size_t>(i)] * kRadiansPerDegree;
        const double trMs =
            acquisition->trMs[acquisition->trMs.size() == 1 ? 0 : static_cast<std::size_t>(i)];
        loaded.trSeconds[static_cast<std::size_t>(i)] = trMs / 1e3;
    }
    loaded.voxelMm[0] = image->dx > 0 ? image->dx : 1.0;
    loaded.voxelMm[1] = image->dy > 0 ? image->dy : 1.0;
    loaded.voxelMm[2] = image->dz > 0 ? image->dz : 1.0;
    const mat44* toWorld = image->sform_code > 0   ? &image->sto_xyz
                           : image->qform_code > 0 ? &image->qto_xyz
                                                   : nullptr;
    if (toWorld != nullptr) {
        loaded.hasPlacement = true;
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 4; ++col)
                loaded.placement[row][col] = toWorld->m[row][col];
    }
    if (fourthAxisMs != nullptr) {
        const double unit = image->time_units == NIFTI_UNITS_SEC    ? 1e3
                            : image->time_units == NIFTI_UNITS_USEC ? 1e-3
                                                                    : 1.0;  // ms, or no unit given
        *fourthAxisMs =
            image->dim[0] >= 4 && image->dt > 0 && std::isfinite(image->dt) ? image->dt * unit : 0.0;
    }
    loaded.updateLargestValue();
    series = std::move(loaded);
    return util::Outcome::success();
}

}  // namespace

util::Outcome readNiftiSeries(const std::filesystem::path& path, const Acquisition& acquisition,
                              ImageSeries& series, const MemoryBudget& budget)
{
    return readVolumes(path, &acquisition, series, budget, nullptr);
}

util::Outcome readNiftiDataSet(const std::filesystem::path& path, ImageSeries& series, double& fourthAxisMs,
                               const MemoryBudget& budget)
{
    double spacing = 0.0;
    if (util::Outcome read = readVolumes(path, nullptr, series, budget, &spacing); !read)
        return read;
    fourthAxisMs = spacing;
    return util::Outcome::success();
}

util::Outcome writeNiftiVolume(const std::filesystem::path& path, const std::vector<double>& values,
                               const ImageSeries& geometry, const std::string& description)
{
    const int dims[8] = {3, geometry.nx, geometry.ny, geometry.nz, 1, 1, 1, 1};
    NiftiImage image(nifti_make_new_nim(dims, NIFTI_TYPE_FLOAT32, 1));
    if (!image || values.size() != geometry.voxelsPerImage())
        return util::Outcome::failure("cannot write " + path.string());
    auto* data = static_cast<float*>(image->data);
    for (std::size_t k = 0; k < values.size(); ++k)
        data[k] = static_cast<float>(values[k]);
    MapPlacement identity;
    for (int k = 0; k < 3; ++k)
        identity.toWorld[k][k] = geometry.voxelMm[k];
    setPlacement(*image, geometry.hasPlacement ? geometry.placement : identity.toWorld, geometry.voxelMm);
    std::snprintf(image->descrip, sizeof image->descrip, "%s", description.c_str());
    return writeImage(*image, path);
}

util::Outcome writeNiftiSeries(const std::filesystem::path& path, const ImageSeries& series)
{
    const int dims[8] = {4, series.nx, series.ny, series.nz, series.images(), 1, 1, 1};
    NiftiImage image(nifti_make_new_nim(dims, NIFTI_TYPE_FLOAT32, 1));
    if (!image)
        return util::Outcome::failure("cannot write " + path.string());
    auto* data = static_cast<float*>(image->data);
    for (std::size_t k = 0; k < series.data.size(); ++k)
        data[k] = static_cast<float>(series.data[k]);
    MapPlacement identity;
    for (int k = 0; k < 3; ++k)
        identity.toWorld[k][k] = series.voxelMm[k];
    setPlacement(*image, series.hasPlacement ? series.placement : identity.toWorld, series.voxelMm);
    std::snprintf(image->descrip, sizeof image->descrip, "%s", "variable flip angle series");
    if (util::Outcome written = writeImage(*image, path); !written)
        return written;
    return writeAcquisitionFile(acquisitionSideFile(path), series);
}

util::Outcome writeNiftiMap(const std::filesystem::path& path, const std::vector<double>& values, int rows,
                            int columns, const MapPlacement& placement, const std::string& description)
{
    const int dims[8] = {3, columns, rows, 1, 1, 1, 1, 1};
    NiftiImage image(nifti_make_new_nim(dims, NIFTI_TYPE_FLOAT32, 1));
    if (!image || values.size() != static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns))
        return util::Outcome::failure("cannot write " + path.string());
    auto* data = static_cast<float*>(image->data);
    for (std::size_t k = 0; k < values.size(); ++k)
        data[k] = static_cast<float>(values[k]);
    setPlacement(*image, placement.toWorld, placement.voxelMm);
    std::snprintf(image->descrip, sizeof image->descrip, "%s", description.c_str());
    return writeImage(*image, path);
}

util::Outcome readNiftiVolume(const std::filesystem::path& path, std::vector<double>& values, int dims[4],
                              std::string& description)
{
    NiftiImage image;
    if (util::Outcome loaded = loadChecked(path, image); !loaded)
        return loaded;
    std::vector<double> read;
    if (!valuesAsDoubles(*image, read))
        return util::Outcome::failure(path.string() +
                                      ": only real integer and floating-point data are read.");
    for (int k = 0; k < 4; ++k)
        dims[k] = k <= image->dim[0] ? image->dim[k] : 1;
    values = std::move(read);
    description = image->descrip;
    return util::Outcome::success();
}

#else

namespace {
util::Outcome notBuiltIn()
{
    return util::Outcome::failure(
        "This build of Velmora reads and writes no NIfTI files (the niftiio library was "
        "not found when it was built).");
}
}  // namespace

bool niftiSupported()
{
    return false;
}

util::Outcome readNiftiSeries(const std::filesystem::path&, const Acquisition&, ImageSeries&,
                              const MemoryBudget&)
{
    return notBuiltIn();
}

util::Outcome readNiftiDataSet(const std::filesystem::path&, ImageSeries&, double&, const MemoryBudget&)
{
    return notBuiltIn();
}

util::Outcome writeNiftiVolume(const std::filesystem::path&, const std::vector<double>&, const ImageSeries&,
                               const std::string&)
{
    return notBuiltIn();
}

util::Outcome writeNiftiSeries(const std::filesystem::path&, const ImageSeries&)
{
    return notBuiltIn();
}

util::Outcome writeNiftiMap(const std::filesystem::path&, const std::vector<double>&, int, int,
                            const MapPlacement&, const std::string&)
{
    return notBuiltIn();
}

util::Outcome readNiftiVolume(const std::filesystem::path&, std::vector<double>&, int[4], std::string&)
{
    return notBuiltIn();
}

#endif

}  // namespace velmora::imagefit
