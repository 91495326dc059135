// The fit-images command: options, loading, the fit on every core, the map files and the summary.
#include "app/cli_fit_images.h"

#include "app/cli_messages.h"
#include "app/cli_run.h"
#include "engine/run_size.h"
#include "imagefit/map_files.h"
#include "imagefit/nifti_files.h"
#include "imagefit/series_loading.h"
#include "imagefit/synthetic_series.h"
#include "util/numeric_text.h"
#include "util/run_control.h"
#include "util/work_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <limits>
#include <new>
#include <stdexcept>

namespace velmora::app {

namespace {

// Ctrl-C ends the fit as Stop does; the maps done so far are still written.
std::atomic<util::RunControl*> interruptedFit{nullptr};

extern "C" void onFitInterrupt(int)
{
    if (util::RunControl* control = interruptedFit.load())
        control->stop();
}

class FitInterruptScope {
public:
    explicit FitInterruptScope(util::RunControl& control)
    {
        interruptedFit.store(&control);
        struct sigaction action {};
        action.sa_handler = onFitInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &previous_);
    }
    ~FitInterruptScope()
    {
        sigaction(SIGINT, &previous_, nullptr);
        interruptedFit.store(nullptr);
    }
    FitInterruptScope(const FitInterruptScope&) = delete;
    FitInterruptScope& operator=(const FitInterruptScope&) = delete;

private:
    struct sigaction previous_ {};
};

std::optional<std::vector<double>> numbers(std::string_view text, std::size_t least, std::size_t most)
{
    std::vector<double> values;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::optional<double> value = util::parseNumber(text.substr(0, comma));
        if (!value)
            return std::nullopt;
        values.push_back(*value);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (values.size() < least || values.size() > most)
        return std::nullopt;
    return values;
}

std::optional<int> wholeNumber(std::string_view text, int least)
{
    const std::optional<double> value = util::parseNumber(text);
    if (!value || *value != static_cast<double>(static_cast<long long>(*value)) || *value < least ||
        *value > 1e9)
        return std::nullopt;
    return static_cast<int>(*value);
}

// As many threads as `run` takes.
constexpr int kMostFitThreads = 256;

ParsedFitImages refused(std::string error)
{
    return {std::nullopt, std::move(error)};
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

// What the memory of this process can still give, as the run-size guard reads it.
imagefit::MemoryBudget memoryBudget(const std::filesystem::path& folder)
{
    const engine::SystemCapacity capacity = engine::readSystemCapacity(folder.empty() ? "." : folder);
    imagefit::MemoryBudget budget;
    if (const std::optional<std::uint64_t> left = capacity.memoryLeft())
        budget.bytes = static_cast<double>(*left);
    budget.limitName = capacity.memoryLimitName();
    return budget;
}

// Builds the synthetic series into the series folder: its cube files and the model's files. The
// series, the cubes written from it and their disk space are sized before anything is made.
util::Outcome buildModel(const FitImagesOptions& options, imagefit::ImageSeries& series)
{
    const imagefit::BlockSize block{options.block.nx > 0 ? options.block.nx : 128,
                                    options.block.ny > 0 ? options.block.ny : 128,
                                    options.block.nz > 0 ? options.block.nz : 128};
    const double edge = std::max({block.nx, block.ny, block.nz});
    const double cubeValues = edge * edge * edge;
    const double images = static_cast<double>(imagefit::SyntheticAcquisition{}.flipAnglesDeg.size());
    std::filesystem::path existing = options.series;
    std::error_code error;
    while (!existing.empty() && !std::filesystem::exists(existing, error))
        existing = existing.parent_path();
    // Each cube is built as doubles and as its bytes before it is written.
    if (util::Outcome sized =
            imagefit::checkSeriesSize(static_cast<double>(block.nx) * block.ny * block.nz, images,
                                      12.0 * cubeValues, memoryBudget(existing), "the model (--block)");
        !sized)
        return sized;
    const engine::SystemCapacity capacity = engine::readSystemCapacity(existing.empty() ? "." : existing);
    if (capacity.diskFree && 4.0 * cubeValues * images > static_cast<double>(*capacity.diskFree))
        return util::Outcome::failure(
            "The model's cube files need " + imagefit::memoryText(4.0 * cubeValues * images) + ", but only " +
            imagefit::memoryText(static_cast<double>(*capacity.diskFree)) + " are free on the disk of " +
            options.series.string() + ". Take a smaller --block.");
    std::filesystem::create_directories(options.series, error);
    if (!std::filesystem::is_directory(options.series, error))
        return util::Outcome::failure("cannot create the folder " + options.series.string());
    imagefit::SyntheticAcquisition acquisition;
    acquisition.noiseFraction = 0.01;
    acquisition.seed = options.settings.seed;
    const imagefit::ModelMaps maps = imagefit::modelMaps(block.nx, block.ny, imagefit::ModelKind::Regular);
    series = imagefit::syntheticSeries(maps, block.nz, acquisition);
    if (util::Outcome written = imagefit::writeImageFolder(options.series, series); !written)
        return written;
    return imagefit::writeModelFiles(
        options.series, imagefit::todaysMapBaseName(options.series, options.settings.orientation), maps,
        imagefit::ModelKind::Regular, acquisition);
}

bool wasGiven(const FitImagesOptions& options, std::string_view name)
{
    return std::find(options.given.begin(), options.given.end(), name) != options.given.end();
}

// "--a", "--a and --b", "--a, --b and --c" of the options given among `names`.
std::string givenAmong(const FitImagesOptions& options, std::initializer_list<std::string_view> names)
{
    std::vector<std::string_view> found;
    for (const std::string_view name : names)
        if (wasGiven(options, name))
            found.push_back(name);
    std::string text;
    for (std::size_t k = 0; k < found.size(); ++k)
        text += std::string(k == 0 ? "" : k + 1 == found.size() ? " and " : ", ") + std::string(found[k]);
    return text;
}

// The refusal of options given for another kind of input than the one named, which would
// otherwise be ignored silently; none when every option applies.
std::optional<std::string> inapplicableOptions(const FitImagesOptions& options)
{
    if (options.layout == imagefit::InputLayout::FourD) {
        const std::string vfaOnly = givenAmong(
            options, {"--flip-angles", "--tr-ms", "--slice", "--slab", "--orientation", "--deciding-image",
                      "--t1-range", "--b1-range", "--ampl-range", "--model", "--seed", "--threads"});
        if (!vfaOnly.empty())
            return vfaOnly + " of the variable-flip-angle fit " +
                   (vfaOnly.find(' ') != std::string::npos ? "do" : "does") +
                   " not apply to the 4-D layout, which makes decay maps along the fourth axis";
        if (wasGiven(options, "--block") && imagefit::isNiftiPath(options.series))
            return "--block does not apply to the NIfTI data set " + options.series.string() +
                   ": a NIfTI volume keeps its own size";
        return std::nullopt;
    }
    if (wasGiven(options, "--echo-ms"))
        return std::string("--echo-ms applies only to the 4-D layout (--layout 4d)");
    if (options.layout == imagefit::InputLayout::Cube256 && wasGiven(options, "--block"))
        return std::string(
            "--block does not apply to the 256 layout, which takes the central 256 x 256 x 256 block");
    const bool acquisitionGiven = !options.flipAnglesDeg.empty() || !options.trMs.empty();
    const bool blockGiven = options.block.nx > 0 || options.block.ny > 0 || options.block.nz > 0;
    std::string given;
    if (!options.flipAnglesDeg.empty())
        given += "--flip-angles";
    if (!options.trMs.empty())
        given += std::string(given.empty() ? "" : " and ") + "--tr-ms";
    if (options.model) {
        if (acquisitionGiven)
            return given + (given.find(" and ") != std::string::npos ? " do" : " does") +
                   " not apply to --model: the model series has its own flip angles and TR";
        return std::nullopt;
    }
    const imagefit::SeriesKind kind = imagefit::seriesKind(options.series);
    if (kind == imagefit::SeriesKind::Nifti) {
        if (blockGiven)
            return "--block does not apply to the NIfTI series " + options.series.string() +
                   ": a NIfTI volume keeps its own size";
        return std::nullopt;
    }
    if (acquisitionGiven && kind != imagefit::SeriesKind::Missing)
        return given + (given.find(" and ") != std::string::npos ? " apply" : " applies") +
               " only to a NIfTI series; " + options.series.string() +
               (kind == imagefit::SeriesKind::Description
                    ? " is a series description, whose lines give the flip angles and TRs"
                    : " is a folder of cube files, whose names give the flip angles and TRs");
    return std::nullopt;
}

int fitImages(const FitImagesOptions& options);
int decayMaps(const FitImagesOptions& options);

}  // namespace

ParsedFitImages parseFitImages(std::span<const std::string_view> arguments)
{
    FitImagesOptions options;
    options.settings.slabHalfThickness = 1;
    bool haveSeries = false;
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const auto [name, inlineValue] = splitArgument(arguments[k]);
        if (name == "--help" || name == "-h") {
            options.help = true;
            return {options, {}};
        }
        if (name == "--model" || name == "--quiet") {
            if (inlineValue)
                return refused(std::string(name) + " takes no value");
            (name == "--model" ? options.model : options.quiet) = true;
            options.given.emplace_back(name);
            continue;
        }
        std::string_view value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (k + 1 < arguments.size()) {
            value = arguments[++k];
        } else {
            return refused(name.starts_with("-") ? std::string(name) + " needs a value"
                                                 : "unexpected argument \"" + std::string(name) + "\"");
        }
        const std::string bad =
            "the value \"" + std::string(value) + "\" of " + std::string(name) + " is not ";
        options.given.emplace_back(name);
        if (name == "--series") {
            if (value.empty())
                return refused("--series needs a path");
            options.series = std::filesystem::path(value);
            haveSeries = true;
        } else if (name == "--flip-angles" || name == "--tr-ms") {
            const std::optional<std::vector<double>> list = numbers(value, 1, 1000);
            if (!list || std::any_of(list->begin(), list->end(), [](double v) { return !(v > 0.0); }))
                return refused(bad + "a list of positive numbers separated by commas");
            (name == "--flip-angles" ? options.flipAnglesDeg : options.trMs) = *list;
        } else if (name == "--slice" || name == "--slab" || name == "--deciding-image" ||
                   name == "--threads" || name == "--seed") {
            const std::optional<int> number =
                wholeNumber(value, name == "--slab" || name == "--seed" ? 0 : 1);
            if (!number)
                return refused(bad + (name == "--slab" ? "a whole number from 0" : "a whole number from 1"));
            if (name == "--slice")
                options.slice = *number;
            else if (name == "--slab")
                options.settings.slabHalfThickness = *number;
            else if (name == "--deciding-image")
                options.settings.decidingImage = *number;
            else if (name == "--threads" && *number > kMostFitThreads)
                return refused("--threads takes a whole number from 1 to " + std::to_string(kMostFitThreads) +
                               ", not \"" + std::string(value) + "\"");
            else if (name == "--threads")
                options.threads = *number;
            else
                options.settings.seed = *number;
        } else if (name == "--orientation") {
            const std::optional<imagefit::Orientation> orientation = imagefit::orientationFromText(value);
            if (!orientation)
                return refused(bad + "cor, trans or sag");
            options.settings.orientation = *orientation;
        } else if (name == "--threshold") {
            const std::optional<double> threshold = util::parseNumber(value);
            if (!threshold)
                return refused(bad + "a number");
            options.threshold = *threshold;
        } else if (name == "--t1-range" || name == "--b1-range") {
            const std::optional<std::vector<double>> range = numbers(value, 2, 2);
            if (!range || !((*range)[0] > 0.0) || !((*range)[1] >= (*range)[0]))
                return refused(bad + "MIN,MAX with 0 < MIN <= MAX");
            double& low = name == "--t1-range" ? options.settings.t1MinSeconds : options.settings.b1Min;
            double& high = name == "--t1-range" ? options.settings.t1MaxSeconds : options.settings.b1Max;
            low = (*range)[0];
            high = (*range)[1];
        } else if (name == "--ampl-range") {
            const std::optional<std::vector<double>> range = numbers(value, 1, 2);
            if (!range || !((*range)[0] >= 0.0) || (range->size() == 2 && !((*range)[1] >= (*range)[0])))
                return refused(bad + "MIN or MIN,MAX with 0 <= MIN <= MAX");
            options.settings.amplitudeMin = (*range)[0];
            options.settings.amplitudeMax =
                range->size() == 2 ? (*range)[1] : std::numeric_limits<double>::infinity();
        } else if (name == "--layout") {
            if (value == "regular")
                options.layout = imagefit::InputLayout::Regular3d;
            else if (value == "256")
                options.layout = imagefit::InputLayout::Cube256;
            else if (value == "4d")
                options.layout = imagefit::InputLayout::FourD;
            else
                return refused(bad + "regular, 256 or 4d");
        } else if (name == "--echo-ms") {
            const std::optional<double> spacing = util::parseNumber(value);
            if (!spacing || !(*spacing > 0.0) || !(*spacing <= 1e6))
                return refused(bad + "a spacing in ms above 0 and at most 1e6");
            options.echoSpacingMs = *spacing;
        } else if (name == "--block") {
            const std::optional<std::vector<double>> sizes = numbers(value, 3, 3);
            if (!sizes || std::any_of(sizes->begin(), sizes->end(), [](double v) {
                    return !(v >= 1.0 && v <= 4096.0) || v != static_cast<double>(static_cast<int>(v));
                }))
                return refused(bad + "NX,NY,NZ, three whole numbers from 1 to 4096");
            options.block = {static_cast<int>((*sizes)[0]), static_cast<int>((*sizes)[1]),
                             static_cast<int>((*sizes)[2])};
        } else if (name == "--out") {
            if (value.empty())
                return refused("--out needs a prefix");
            options.outPrefix = std::filesystem::path(value);
        } else {
            return refused(name.starts_with("-")
                               ? "unknown option \"" + std::string(name) + "\" of fit-images"
                               : "unexpected argument \"" + std::string(name) + "\"");
        }
    }
    if (!haveSeries)
        return refused("fit-images needs --series PATH");
    return {options, {}};
}

std::string fitImagesUsage()
{
    return "Usage: velmora-cli fit-images --series PATH [options]\n"
           "\n"
           "Fits T1, B1 and amplitude maps to one slice of a variable-flip-angle image series, as the\n"
           "image window's Start_fitting does, and writes PREFIX_T1, PREFIX_B1, PREFIX_Ampl, PREFIX_Err\n"
           "(32-bit big-endian floats, rows of the map one after another; T1 in seconds) and, beside\n"
           "them, PREFIX_T1.nii.gz and so on.\n"
           "\n"
           "  --series PATH           a folder of T1_<angle>_TR<us>.sgl cubes (or a file in it), a file\n"
           "                          T1_... with its description T1_....txt, or a 4-D NIfTI file\n"
           "                          (.nii, .nii.gz) with one volume per flip angle\n"
           "  --flip-angles A,B,...   flip angles of a NIfTI series in degrees, and\n"
           "  --tr-ms TR[,TR...]      its TR in ms (one for all volumes or one per volume); without\n"
           "                          them the side file NAME_vfa.txt is read\n"
           "  --slice S               the fitted slice, from 1 (default: the middle one)\n"
           "  --slab H                H slices on either side of S enter passes 1 and 2 (default 1)\n"
           "  --orientation O         cor (slices along z), trans (along y) or sag (along x); default cor\n"
           "  --threshold X           fit pixels whose deciding image is above X on every slab slice\n"
           "                          (default: a tenth of the largest intensity)\n"
           "  --deciding-image K      the image, from 1, that the threshold applies to (default 1)\n"
           "  --t1-range MIN,MAX      T1 search range in s (default 0.05,5); a T1 within 0.1 ms of a bound\n"
           "                          is counted as at the bound (the truth there or beyond)\n"
           "  --ampl-range MIN[,MAX]  amplitude restriction (default 0.01, no maximum); an amplitude\n"
           "                          outside is set to the nearer bound and counted\n"
           "  --b1-range MIN,MAX      B1 grid range, steps of 0.1 (default 0.1,1.5)\n"
           "  --block NX,NY,NZ        the central block taken from cube files (default: the whole cube;\n"
           "                          with --model the model's size, default 128,128,128)\n"
           "  --layout L              regular (cubes, the central block; default), 256 (the central\n"
           "                          256 x 256 x 256 block), or 4d: PATH is one 4-D data set (a raw file\n"
           "                          of edge^4 big-endian floats, x fastest, or a 4-D NIfTI file) and the\n"
           "                          maps along its fourth axis are made: NAME_trunc (the block\n"
           "                          processed), NAME_INTEGRAL, NAME_MAX, NAME_T2 (ms), NAME_f (relative\n"
           "                          rms misfit of the T2 fit)\n"
           "  --echo-ms D             4d: spacing of the fourth axis in ms (default: the NIfTI header's)\n"
           "  --out PREFIX            map files PREFIX_T1 ... (default: <series folder>/<year>_<month>_\n"
           "                          <day><orientation>)\n"
           "  --model                 first build the synthetic series of Model_image (\"second regular\n"
           "                          model\", 1 % noise) into the folder PATH, then fit it\n"
           "  --seed N                seed of the T1 searches' random starts and of the model's noise\n"
           "  --threads N             worker threads, 1 to 256 (default: every core); the maps do not\n"
           "                          depend on it\n"
           "  --quiet                 print nothing but errors\n"
           "\n"
           "Exit status: 0 maps written; 1 the series could not be read, the fit was refused or stopped,\n"
           "or a map could not be written; 2 the command line was not understood or names options\n"
           "that do not apply to the input.\n";
}

int runFitImages(const FitImagesOptions& options)
{
    if (options.help) {
        std::cout << fitImagesUsage();
        return kExitSuccess;
    }
    if (const std::optional<std::string> problem = inapplicableOptions(options))
        return usageError(*problem);
    try {
        if (options.layout == imagefit::InputLayout::FourD)
            return decayMaps(options);
        if (options.layout == imagefit::InputLayout::Cube256) {
            FitImagesOptions cube = options;
            cube.block = {256, 256, 256};
            return fitImages(cube);
        }
        return fitImages(options);
    } catch (const std::bad_alloc&) {
        std::cerr << "velmora-cli: fit-images ran out of memory; take a smaller block, slab or B1 range\n";
    } catch (const std::length_error&) {
        std::cerr << "velmora-cli: fit-images ran out of memory; take a smaller block, slab or B1 range\n";
    }
    return kExitRunFailed;
}

namespace {

int fitImages(const FitImagesOptions& options)
{
    const auto started = std::chrono::steady_clock::now();
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::is_directory(options.series, error) ? options.series : options.series.parent_path();
    imagefit::ImageSeries series;
    const util::Outcome loaded = options.model ? buildModel(options, series)
                                               : imagefit::loadSeries(options.series, options.block,
                                                                      {options.flipAnglesDeg, options.trMs},
                                                                      series, memoryBudget(folder));
    if (!loaded) {
        std::cerr << "velmora-cli: " << loaded.message() << "\n";
        return kExitRunFailed;
    }
    imagefit::FitSettings settings = options.settings;
    const imagefit::MapGeometry geometry = imagefit::mapGeometry(series, settings.orientation);
    settings.slice = options.slice.value_or((geometry.slices + 1) / 2);
    settings.threshold = options.threshold.value_or(0.1 * series.largestValue);

    util::WorkPool pool(options.threads > 0 ? options.threads : util::WorkPool::hardwareThreads());
    util::RunControl control;
    (void)control.tryStart();
    imagefit::FitMaps maps;
    util::Outcome fitted = util::Outcome::success();
    {
        FitInterruptScope interrupt(control);
        fitted = imagefit::fitImageSeries(series, settings, pool, &control, {}, maps, memoryBudget(folder));
    }
    if (!fitted) {
        std::cerr << "velmora-cli: " << fitted.message() << "\n";
        return kExitRunFailed;
    }
    const std::filesystem::path outFolder =
        std::filesystem::is_directory(options.series, error) ? options.series : options.series.parent_path();
    const std::filesystem::path base = options.outPrefix.value_or(
        imagefit::todaysMapBaseName(outFolder.empty() ? "." : outFolder, settings.orientation));
    std::vector<std::string> written;
    if (util::Outcome outcome = imagefit::writeFitMaps(base, maps, series, settings, &written); !outcome) {
        std::cerr << "velmora-cli: " << outcome.message() << "\n";
        return kExitRunFailed;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::vector<double> t1, b1;
    for (std::size_t p = 0; p < maps.b1.size(); ++p) {
        if (maps.b1[p] != imagefit::kUnfittedB1) {
            t1.push_back(maps.t1Seconds[p]);
            b1.push_back(maps.b1[p]);
        }
    }
    if (!options.quiet) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "series: %d images of %d x %d x %d; slice %d (%s), slab +-%d, threshold %.6g\n",
                      series.images(), series.nx, series.ny, series.nz, settings.slice,
                      std::string(imagefit::orientationText(settings.orientation)).c_str(),
                      settings.slabHalfThickness, settings.threshold);
        std::cout << line;
        std::snprintf(line, sizeof line, "fitted pixels: %d of %d\nmedian T1: %.4f s\nmedian B1: %.4f\n",
                      maps.fittedPixels, maps.rows * maps.columns, median(t1), median(b1));
        std::cout << line;
        std::snprintf(line, sizeof line,
                      "not fitted: %d at or below the threshold, %d with no finite fit (non-finite or "
                      "all-zero signals)\n",
                      maps.belowThreshold, maps.noFiniteFit);
        std::cout << line;
        std::snprintf(line, sizeof line,
                      "at a bound: %d T1 (at or beyond the bound of the T1 range), %d amplitude (set to the "
                      "bound)\n",
                      maps.t1AtBound, maps.amplitudeAtBound);
        std::cout << line;
        std::snprintf(line, sizeof line, "time: %.2f s on %d threads%s\n", seconds, pool.threads(),
                      maps.stopped ? " (stopped)" : "");
        std::cout << line;
        for (const std::string& file : written)
            std::cout << "wrote " << file << "\n";
    }
    return maps.stopped ? kExitRunFailed : kExitSuccess;
}

int decayMaps(const FitImagesOptions& options)
{
    imagefit::ImageSeries series;
    double headerSpacingMs = 0.0;
    if (util::Outcome loaded =
            imagefit::loadFourDSeries(options.series, options.block, series, headerSpacingMs,
                                      memoryBudget(options.series.parent_path()));
        !loaded) {
        std::cerr << "velmora-cli: " << loaded.message() << "\n";
        return kExitRunFailed;
    }
    const double spacingMs = options.echoSpacingMs.value_or(headerSpacingMs);
    if (!(spacingMs > 0.0)) {
        std::cerr << "velmora-cli: " << options.series.string()
                  << " does not give the spacing of its fourth axis: give it with --echo-ms\n";
        return kExitRunFailed;
    }
    const double threshold = options.threshold.value_or(0.1 * series.largestValue);
    imagefit::DecayMaps maps;
    if (util::Outcome computed = imagefit::computeDecayMaps(series, spacingMs, threshold, maps); !computed) {
        std::cerr << "velmora-cli: " << computed.message() << "\n";
        return kExitRunFailed;
    }
    std::vector<std::string> written;
    const std::filesystem::path base = options.outPrefix.value_or(imagefit::decayMapBaseName(options.series));
    if (util::Outcome outcome = imagefit::writeDecayMaps(base, series, maps, &written); !outcome) {
        std::cerr << "velmora-cli: " << outcome.message() << "\n";
        return kExitRunFailed;
    }
    if (options.quiet)
        return kExitSuccess;
    std::vector<double> t2;
    for (const double value : maps.t2Ms)
        if (value > 0.0)
            t2.push_back(value);
    char line[320];
    std::snprintf(line, sizeof line,
                  "4-D data set: %d points of %d x %d x %d; spacing %.6g ms, threshold %.6g\n"
                  "T2 fitted voxels: %d of %zu\nnot fitted: %d at or below the threshold, %d non-finite, %d "
                  "without a decay\nmedian T2: %.4g ms\n",
                  series.images(), series.nx, series.ny, series.nz, spacingMs, threshold, maps.fittedVoxels,
                  series.voxelsPerImage(), maps.belowThreshold, maps.nonFinite, maps.noDecay, median(t2));
    std::cout << line;
    for (const std::string& file : written)
        std::cout << "wrote " << file << "\n";
    return kExitSuccess;
}

}  // namespace

}  // namespace velmora::app
