// The four passes of the variable-flip-angle fit. Rows of the map are the pieces of parallel work:
// a pixel's result depends only on the pixel and its random stream (seed, pixel index), and the
// neighbourhood sums of pass 2 run in a fixed order, so the maps are the same on any thread count.
#include "imagefit/vfa_fit.h"

#include "imagefit/b1_grid.h"
#include "imagefit/least_squares.h"
#include "imagefit/signal_model.h"
#include "util/uniform_random.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace velmora::imagefit {

namespace {

// Error a pixel starts pass 1 with: any grid value's cost beats it.
constexpr double kStartError = 1e25;

// Why a pixel is not fitted.
enum : unsigned char { kFitted, kBelowThreshold, kNoFiniteFit };
// Which final values lie at a bound of the global restrictions.
enum : unsigned char { kT1AtBound = 1, kAmplitudeAtBound = 2 };
// A final T1 this close to a bound of the T1 range (s) counts as at the bound: the searches stop
// at steps of 1e-5 s, so a T1 pressed against a bound ends within a few steps of it.
constexpr double kT1BoundMargin = 1e-4;

bool allFinite(const double* values, int count)
{
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

class SliceFit {
public:
    SliceFit(const ImageSeries& series, const FitSettings& settings, util::WorkPool& pool,
             const util::RunControl* control, const FitProgress& progress, FitMaps& maps)
        : series_(series), settings_(settings), geometry_(mapGeometry(series, settings.orientation)),
          grid_(settings.b1Min, settings.b1Max, series.flipAngleRad), pool_(pool), control_(control),
          progress_(progress), maps_(maps), images_(series.images()),
          slab_(2 * settings.slabHalfThickness + 1),
          firstSlice_(settings.slice - 1 - settings.slabHalfThickness),
          pixels_(static_cast<std::size_t>(geometry_.rows) * static_cast<std::size_t>(geometry_.columns))
    {
        sameTr_ = std::all_of(series.trSeconds.begin(), series.trSeconds.end(),
                              [&](double tr) { return tr == series.trSeconds.front(); });
        const std::size_t perWorker =
            static_cast<std::size_t>(5 * images_ + 2 * std::max(geometry_.rows, geometry_.columns));
        scratch_.assign(perWorker * static_cast<std::size_t>(pool.threads()), 0.0);
    }

    void run()
    {
        maps_.rows = geometry_.rows;
        maps_.columns = geometry_.columns;
        maps_.t1Seconds.assign(pixels_, 0.0);
        maps_.amplitude.assign(pixels_, 0.0);
        maps_.error.assign(pixels_, 0.0);
        maps_.b1.assign(pixels_, kUnfittedB1);
        chosen_.assign(pixels_, -1);
        reason_.assign(pixels_, kFitted);
        atBound_.assign(pixels_, 0);
        gridT1_.assign(gridIndex(grid_.count(), 0, 0), 0.0);
        gridCost_.assign(gridT1_.size(), std::numeric_limits<double>::infinity());

        maps_.stopped = !passOne() || !passTwo() || !passThree() || !passFour();
        maps_.fittedPixels = maps_.belowThreshold = maps_.noFiniteFit = 0;
        for (std::size_t p = 0; p < pixels_; ++p) {
            maps_.fittedPixels += maps_.b1[p] != kUnfittedB1 ? 1 : 0;
            maps_.belowThreshold += reason_[p] == kBelowThreshold ? 1 : 0;
            maps_.noFiniteFit += reason_[p] == kNoFiniteFit ? 1 : 0;
            const bool fitted = maps_.b1[p] != kUnfittedB1;
            maps_.t1AtBound += fitted && (atBound_[p] & kT1AtBound) != 0 ? 1 : 0;
            maps_.amplitudeAtBound += fitted && (atBound_[p] & kAmplitudeAtBound) != 0 ? 1 : 0;
        }
    }

private:
    std::size_t gridIndex(int j, int slabSlice, std::size_t pixel) const
    {
        return (static_cast<std::size_t>(j) * static_cast<std::size_t>(slab_) +
                static_cast<std::size_t>(slabSlice)) *
                   pixels_ +
               pixel;
    }
    double* scratch(int worker)
    {
        return scratch_.data() +
               scratch_.size() / static_cast<std::size_t>(pool_.threads()) * static_cast<std::size_t>(worker);
    }
    bool stopRequested() const { return control_ != nullptr && !control_->running(); }

    // Runs work(line, worker) for lines 0..total-1 in blocks of a few lines per thread; after each
    // block reports progress and lets the window act. False when Stop ended the pass.
    template <typename Work>
    bool forEachLine(int pass, int total, int doneBefore, int overall, const Work& work)
    {
        const int block = 2 * pool_.threads();
        for (int start = 0; start < total; start += block) {
            if (stopRequested())
                return false;
            const int count = std::min(block, total - start);
            pool_.run(count, [&](int piece, int worker) { work(start + piece, worker); });
            if (progress_)
                progress_(pass, doneBefore + start + count, overall);
            if (control_ != nullptr)
                control_->yield();
        }
        return !stopRequested();
    }

    // Signals of map pixel (r, c) on slab slice `slabSlice`, into `out`.
    void gatherSignals(int r, int c, int slabSlice, double* out) const
    {
        int x = 0, y = 0, z = 0;
        geometry_.voxel(r, c, firstSlice_ + slabSlice, x, y, z);
        for (int i = 0; i < images_; ++i)
            out[i] = series_.at(x, y, z, i);
    }
    bool aboveThreshold(int r, int c, int slabSlice) const
    {
        int x = 0, y = 0, z = 0;
        geometry_.voxel(r, c, firstSlice_ + slabSlice, x, y, z);
        return series_.at(x, y, z, settings_.decidingImage - 1) > settings_.threshold;
    }
    PixelSignals pixelSignals(const double* signals, const double* cosines, const double* sines) const
    {
        return {images_, signals, series_.trSeconds.data(), cosines, sines, sameTr_};
    }
    void markUnfitted(std::size_t p, unsigned char reason)
    {
        reason_[p] = reason;
        maps_.t1Seconds[p] = 0.0;
        maps_.amplitude[p] = 0.0;
        maps_.error[p] = 0.0;
        maps_.b1[p] = kUnfittedB1;
        chosen_[p] = -1;
    }

    // Pass 1: the T1 search at every grid value on every slab slice; the central slice's best grid
    // value gives the pixel's first maps.
    bool passOne()
    {
        const int central = settings_.slabHalfThickness;
        const bool done = forEachLine(1, geometry_.rows, 0, geometry_.rows, [&](int r, int worker) {
            double* signals = scratch(worker);
            for (int c = 0; c < geometry_.columns; ++c) {
                const std::size_t p = maps_.index(r, c);
                util::UniformRandom random = util::pieceStream(settings_.seed, p);
                double best = kStartError;
                bool fitted = true;
                unsigned char reason = kFitted;
                for (int s = 0; s < slab_ && fitted; ++s) {
                    gatherSignals(r, c, s, signals);
                    // A NaN or infinite signal has no place in any fit (nor in the threshold test):
                    // the pixel is not fitted rather than fitted to its other images.
                    if (!allFinite(signals, images_)) {
                        fitted = false;
                        reason = kNoFiniteFit;
                        break;
                    }
                    if (!aboveThreshold(r, c, s)) {
                        fitted = false;
                        reason = kBelowThreshold;
                        break;
                    }
                    for (int j = 0; j < grid_.count(); ++j) {
                        const T1Estimate estimate =
                            searchT1(pixelSignals(signals, grid_.cosines(j), grid_.sines(j)),
                                     settings_.t1MinSeconds, settings_.t1MaxSeconds, random);
                        gridT1_[gridIndex(j, s, p)] = estimate.t1Seconds;
                        gridCost_[gridIndex(j, s, p)] = estimate.cost;
                        if (s == central && estimate.cost < best) {
                            best = estimate.cost;
                            maps_.error[p] = estimate.cost;
                            maps_.amplitude[p] = estimate.amplitude;
                            maps_.t1Seconds[p] = estimate.t1Seconds;
                            maps_.b1[p] = grid_.value(j);
                            chosen_[p] = j;
                        }
                    }
                }
                if (!fitted || chosen_[p] < 0)
                    markUnfitted(p, fitted ? static_cast<unsigned char>(kNoFiniteFit) : reason);
            }
        });
        for (std::size_t p = 0; p < pixels_; ++p) {
            if (maps_.b1[p] == kUnfittedB1)
                continue;
            maps_.smallestError = std::min(maps_.smallestError, maps_.error[p]);
            maps_.largestError = std::max(maps_.largestError, maps_.error[p]);
        }
        return done;
    }

    // Pass 2: each grid value's cost averaged over the box of slab slices and +-10 rows and columns
    // around the pixel, over the neighbours that qualify: fitted pixels with a finite cost. In one
    // slice B1 and T1 are nearly interchangeable at small flip angles; the neighbourhood decides.
    bool passTwo()
    {
        if (stopRequested())
            return false;
        std::vector<double> average(static_cast<std::size_t>(grid_.count()) * pixels_);
        std::vector<double> sums(3 * pixels_ * static_cast<std::size_t>(pool_.threads()));
        pool_.run(grid_.count(), [&](int j, int worker) {
            double* across = sums.data() + 3 * pixels_ * static_cast<std::size_t>(worker);
            double* acrossCount = across + pixels_;
            double* boxCount = acrossCount + pixels_;
            double* boxSum = average.data() + static_cast<std::size_t>(j) * pixels_;
            std::fill(boxSum, boxSum + pixels_, 0.0);
            std::fill(boxCount, boxCount + pixels_, 0.0);
            for (int s = 0; s < slab_; ++s) {
                sumAlongRows(j, s, across, acrossCount);
                sumAlongColumns(across, acrossCount, boxSum, boxCount);
            }
            for (std::size_t p = 0; p < pixels_; ++p)
                boxSum[p] =
                    boxCount[p] > 3.0 ? boxSum[p] / boxCount[p] : std::numeric_limits<double>::quiet_NaN();
        });
        return forEachLine(2, geometry_.rows, 0, geometry_.rows, [&](int r, int) {
            for (int c = 0; c < geometry_.columns; ++c) {
                const std::size_t p = maps_.index(r, c);
                if (maps_.b1[p] == kUnfittedB1)
                    continue;
                int best = -1;
                for (int j = 0; j < grid_.count(); ++j) {
                    const double value = average[static_cast<std::size_t>(j) * pixels_ + p];
                    if (!std::isnan(value) &&
                        (best < 0 || value < average[static_cast<std::size_t>(best) * pixels_ + p]))
                        best = j;
                }
                if (best >= 0)
                    chosen_[p] = best;
                maps_.t1Seconds[p] = gridT1_[gridIndex(chosen_[p], settings_.slabHalfThickness, p)];
                maps_.b1[p] = grid_.value(chosen_[p]);
            }
        });
    }

    bool qualifies(int j, int s, std::size_t p) const
    {
        return maps_.b1[p] != kUnfittedB1 && std::isfinite(gridCost_[gridIndex(j, s, p)]);
    }

    // Sums over columns c-10..c+10 of row r, for every pixel of slab slice s, in ascending order.
    void sumAlongRows(int j, int s, double* sum, double* count) const
    {
        for (int r = 0; r < geometry_.rows; ++r) {
            for (int c = 0; c < geometry_.columns; ++c) {
                double total = 0.0;
                double n = 0.0;
                const int last = std::min(geometry_.columns - 1, c + kNeighbourhoodHalfWidth);
                for (int cc = std::max(0, c - kNeighbourhoodHalfWidth); cc <= last; ++cc) {
                    const std::size_t q = maps_.index(r, cc);
                    if (qualifies(j, s, q)) {
                        total += gridCost_[gridIndex(j, s, q)];
                        n += 1.0;
                    }
                }
                sum[maps_.index(r, c)] = total;
                count[maps_.index(r, c)] = n;
            }
        }
    }

    // Adds the row sums of rows r-10..r+10 to every pixel's box.
    void sumAlongColumns(const double* sum, const double* count, double* boxSum, double* boxCount) const
    {
        for (int r = 0; r < geometry_.rows; ++r) {
            const int last = std::min(geometry_.rows - 1, r + kNeighbourhoodHalfWidth);
            for (int c = 0; c < geometry_.columns; ++c) {
                double total = 0.0;
                double n = 0.0;
                for (int rr = std::max(0, r - kNeighbourhoodHalfWidth); rr <= last; ++rr) {
                    total += sum[maps_.index(rr, c)];
                    n += count[maps_.index(rr, c)];
                }
                boxSum[maps_.index(r, c)] += total;
                boxCount[maps_.index(r, c)] += n;
            }
        }
    }

    // Pass 3: a least-squares cubic along every row, then every column, through the B1 values of
    // the fitted pixels, which take the cubic's value (kept inside the B1 range). The abscissa is
    // the position scaled to -1..1, which leaves the fitted cubic unchanged and keeps the normal
    // equations well conditioned.
    bool passThree()
    {
        const int lines = geometry_.rows + geometry_.columns;
        if (!forEachLine(3, geometry_.rows, 0, lines,
                         [&](int r, int worker) { smoothLine(r, true, worker); }))
            return false;
        return forEachLine(3, geometry_.columns, geometry_.rows, lines,
                           [&](int c, int worker) { smoothLine(c, false, worker); });
    }

    void smoothLine(int line, bool alongRow, int worker)
    {
        const int length = alongRow ? geometry_.columns : geometry_.rows;
        double* t = scratch(worker) + 5 * images_;
        double* y = t + std::max(geometry_.rows, geometry_.columns);
        const double half = std::max(1.0, 0.5 * (length - 1));
        auto pixel = [&](int k) { return alongRow ? maps_.index(line, k) : maps_.index(k, line); };
        int n = 0;
        for (int k = 0; k < length; ++k) {
            if (maps_.b1[pixel(k)] == kUnfittedB1)
                continue;
            t[n] = (k - 0.5 * (length - 1)) / half;
            y[n] = maps_.b1[pixel(k)];
            ++n;
        }
        double coefficients[4];
        if (!fitCubic(t, y, n, coefficients))
            return;
        for (int k = 0; k < length; ++k) {
            const std::size_t p = pixel(k);
            if (maps_.b1[p] == kUnfittedB1)
                continue;
            const double u = (k - 0.5 * (length - 1)) / half;
            const double value =
                coefficients[0] + u * (coefficients[1] + u * (coefficients[2] + u * coefficients[3]));
            maps_.b1[p] = std::clamp(value, settings_.b1Min, settings_.b1Max);
        }
    }

    // Pass 4: with B1 fixed and one TR, S/sin(b a) = E * S/tan(b a) + A (1 - E) is a straight
    // line; its slope gives E and so T1, its intercept the amplitude. A slope that is not positive,
    // a T1 outside the range or a series of several TRs sends the pixel to the T1 search with B1
    // fixed.
    bool passFour()
    {
        const int central = settings_.slabHalfThickness;
        return forEachLine(4, geometry_.rows, 0, geometry_.rows, [&](int r, int worker) {
            double* signals = scratch(worker);
            double* cosines = signals + images_;
            double* sines = cosines + images_;
            double* xs = sines + images_;
            for (int c = 0; c < geometry_.columns; ++c) {
                const std::size_t p = maps_.index(r, c);
                if (maps_.b1[p] == kUnfittedB1)
                    continue;
                gatherSignals(r, c, central, signals);
                const double b1 = maps_.b1[p];
                for (int i = 0; i < images_; ++i) {
                    cosines[i] = std::cos(b1 * series_.flipAngleRad[static_cast<std::size_t>(i)]);
                    sines[i] = std::sin(b1 * series_.flipAngleRad[static_cast<std::size_t>(i)]);
                }
                util::UniformRandom random = util::pieceStream(settings_.seed, pixels_ + p);
                const FixedB1Fit fit =
                    fitWithFixedB1(pixelSignals(signals, cosines, sines), settings_, random, xs);
                if (!std::isfinite(fit.error)) {
                    markUnfitted(p, kNoFiniteFit);
                    continue;
                }
                maps_.t1Seconds[p] = fit.t1Seconds;
                maps_.amplitude[p] = fit.amplitude;
                maps_.error[p] = fit.error;
                applyRestrictions(p, pixelSignals(signals, cosines, sines));
            }
        });
    }

    // The global restrictions on the final values of a fitted pixel. T1 already lies in its range
    // (the searches and the line keep it there); one at a bound is flagged. An amplitude outside
    // its range is set to the nearer bound, which is the least-squares amplitude of the ratios
    // S_i / f_i under the restriction, and the error is that of the restricted amplitude.
    void applyRestrictions(std::size_t p, const PixelSignals& pixel)
    {
        const double t1 = maps_.t1Seconds[p];
        if (t1 - settings_.t1MinSeconds < kT1BoundMargin || settings_.t1MaxSeconds - t1 < kT1BoundMargin)
            atBound_[p] |= kT1AtBound;
        const double amplitude =
            std::clamp(maps_.amplitude[p], settings_.amplitudeMin, settings_.amplitudeMax);
        if (amplitude == maps_.amplitude[p])
            return;
        atBound_[p] |= kAmplitudeAtBound;
        double error = 0.0;
        for (int i = 0; i < pixel.images; ++i) {
            const double e = std::exp(-pixel.trSeconds[i] / t1);
            const double f = (1.0 - e) * pixel.sinFlip[i] / (1.0 - pixel.cosFlip[i] * e);
            const double misfit = 1.0 - pixel.signal[i] / (amplitude * f);
            error += misfit * misfit;
        }
        maps_.amplitude[p] = amplitude;
        maps_.error[p] = error;
    }

    const ImageSeries& series_;
    const FitSettings& settings_;
    MapGeometry geometry_;
    B1Grid grid_;
    util::WorkPool& pool_;
    const util::RunControl* control_;
    const FitProgress& progress_;
    FitMaps& maps_;
    int images_;
    int slab_;
    int firstSlice_;  // counted from 0
    std::size_t pixels_;
    bool sameTr_ = false;
    std::vector<double> scratch_;         // per worker: signals, cosines, sines, line data, smoothing data
    std::vector<int> chosen_;             // per pixel: the grid index of its B1, -1 when not fitted
    std::vector<unsigned char> reason_;   // per pixel: kFitted, or why not
    std::vector<unsigned char> atBound_;  // per pixel: kT1AtBound | kAmplitudeAtBound
    std::vector<double> gridT1_;          // per grid value, slab slice and pixel
    std::vector<double> gridCost_;
};

// The straight-line fit; false when the pixel needs the search. `scratch` has room for
// 2 * images values.
bool lineFit(const PixelSignals& pixel, const FitSettings& settings, double* scratch, FixedB1Fit& fit)
{
    // The points lie on one line only when every image shares one E = exp(-TR / T1): with
    // different TRs each image has a slope of its own, and a line through them gives a T1 that
    // belongs to no TR. The search models every image with its own TR.
    if (!pixel.sameTr)
        return false;
    const int n = pixel.images;
    double* ys = scratch;
    double* xs = scratch + n;
    for (int i = 0; i < n; ++i) {
        ys[i] = pixel.signal[i] / pixel.sinFlip[i];
        xs[i] = ys[i] * pixel.cosFlip[i];
    }
    const StraightLine line = fitStraightLine(xs, ys, n);
    if (!line.ok || !(line.slope > 0.0))
        return false;
    const double t1 = -pixel.trSeconds[0] / std::log(line.slope);
    const double amplitude = line.intercept / (1.0 - line.slope);
    if (!(t1 >= settings.t1MinSeconds && t1 <= settings.t1MaxSeconds))
        return false;
    double error = 0.0;
    for (int i = 0; i < n; ++i) {
        const double e = std::exp(-pixel.trSeconds[i] / t1);
        const double f = (1.0 - e) * pixel.sinFlip[i] / (1.0 - pixel.cosFlip[i] * e);
        const double misfit = 1.0 - pixel.signal[i] / (amplitude * f);
        error += misfit * misfit;
    }
    fit = {t1, amplitude, error, false};
    return true;
}

std::string numberText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

util::Outcome checkSettings(const ImageSeries& series, const FitSettings& settings)
{
    if (series.images() < 2 || series.voxelsPerImage() == 0)
        return util::Outcome::failure("No image series is loaded: the fit needs at least two images.");
    if (util::Outcome slab =
            checkSlab(mapGeometry(series, settings.orientation), settings.slice, settings.slabHalfThickness);
        !slab)
        return slab;
    if (settings.decidingImage < 1 || settings.decidingImage > series.images())
        return util::Outcome::failure("The deciding image must be one of the images 1 to " +
                                      std::to_string(series.images()) + ".");
    // The search's steps end at 1e-5 s: a range narrower than 0.1 ms may hold none of its trials,
    // and every pixel would end without a fit.
    if (!(settings.t1MinSeconds >= kShortestT1Seconds &&
          settings.t1MaxSeconds >= settings.t1MinSeconds + kShortestT1Seconds &&
          settings.t1MaxSeconds <= kLongestT1Seconds))
        return util::Outcome::failure(
            "The T1 range must have 0.0001 s <= minimum, minimum + 0.0001 s <= maximum <= 1000 s.");
    if (!(settings.b1Min > 0.0 && b1GridCount(settings.b1Min, settings.b1Max) >= 1))
        return util::Outcome::failure("The B1 range must have 0 < minimum <= maximum.");
    if (!(settings.amplitudeMax >= settings.amplitudeMin) || std::isnan(settings.amplitudeMin))
        return util::Outcome::failure("The amplitude range must have minimum <= maximum.");
    if (b1GridCount(settings.b1Min, settings.b1Max) > kMostB1GridValues)
        return util::Outcome::failure("The B1 range " + numberText(settings.b1Min) + " to " +
                                      numberText(settings.b1Max) + " makes more than " +
                                      std::to_string(kMostB1GridValues) +
                                      " grid values in steps of 0.1; give a range of at most 10.");
    return util::Outcome::success();
}

}  // namespace

FixedB1Fit fitWithFixedB1(const PixelSignals& pixel, const FitSettings& settings, util::UniformRandom& random,
                          double* scratch)
{
    FixedB1Fit fit;
    if (lineFit(pixel, settings, scratch, fit))
        return fit;
    const T1Estimate estimate = searchT1(pixel, settings.t1MinSeconds, settings.t1MaxSeconds, random);
    return {estimate.t1Seconds, estimate.amplitude, estimate.cost, true};
}

double fitMemoryBytes(const ImageSeries& series, const FitSettings& settings, int threads)
{
    const MapGeometry geometry = mapGeometry(series, settings.orientation);
    const double pixels = static_cast<double>(geometry.rows) * geometry.columns;
    const double grid = std::min(b1GridCount(settings.b1Min, settings.b1Max), kMostB1GridValues);
    const double slab = 2.0 * settings.slabHalfThickness + 1.0;
    const double gridTables = 2.0 * grid * slab * pixels * 8.0;  // T1 and cost per grid value and slice
    const double averages = grid * pixels * 8.0 + 3.0 * pixels * threads * 8.0;  // pass 2
    const double mapsBytes = 2.0 * (4.0 * pixels * 8.0) + 5.0 * pixels;  // result, its copy, per-pixel
    const double scratch =
        (5.0 * series.images() + 2.0 * std::max(geometry.rows, geometry.columns)) * 8.0 * threads;
    return gridTables + averages + mapsBytes + scratch;
}

util::Outcome fitImageSeries(const ImageSeries& series, const FitSettings& settings, util::WorkPool& pool,
                             const util::RunControl* control, const FitProgress& progress, FitMaps& maps,
                             const MemoryBudget& budget)
{
    if (util::Outcome checked = checkSettings(series, settings); !checked)
        return checked;
    if (util::Outcome memory = checkMemory(fitMemoryBytes(series, settings, pool.threads()), budget,
                                           "The fit of this slice (B1 grid x slab slices x pixels)");
        !memory)
        return memory;
    FitMaps result;
    try {
        SliceFit(series, settings, pool, control, progress, result).run();
    } catch (const std::bad_alloc&) {
        return util::Outcome::failure("The fit ran out of memory; take a smaller B1 range, slab or series.");
    } catch (const std::length_error&) {
        return util::Outcome::failure("The fit ran out of memory; take a smaller B1 range, slab or series.");
    }
    maps = std::move(result);
    return util::Outcome::success();
}

}  // namespace velmora::imagefit
