// The indirect-dimension transform of a States 2D run.
#include "processing/map_2d.h"

#include "processing/fourier.h"
#include "util/number_format.h"
#include "util/rounding.h"
#include "util/work_pool.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <stdexcept>
#include <string>

namespace velmora::processing {

namespace {

bool isSupportedLength(int n)
{
    return n >= 2 && n <= kMaxFourierSamples && (n & (n - 1)) == 0;
}

std::size_t at(int i)
{
    return static_cast<std::size_t>(i);
}

// Direct points whose indirect signals are gathered together (16 x np values each for the real
// and imaginary parts).
constexpr int kBlockPoints = 16;

}  // namespace

std::optional<Map2D> buildMap2D(const Map2DInput& in)
{
    const int np = in.pointCount;
    const int ni = in.arraySize;
    if (!isSupportedLength(np)) {
        const std::span<double> none;
        (void)Fourier(np, none, none, none, none, false, in.messages);
        return std::nullopt;
    }
    if (ni + 1 > np) {
        in.messages.show("The 2D map cannot be built: Ni = " + std::to_string(ni) + " gives " +
                             std::to_string(ni + 1) + " increments, more than the " + std::to_string(np) +
                             " indirect points of np = " + std::to_string(np) + ".",
                         "2D map");
        return std::nullopt;
    }
    if (ni < 0)
        throw std::invalid_argument("2D map: Ni must not be negative");
    if (in.detectionChannel < 0 || in.detectionChannel > 2)
        throw std::invalid_argument("2D map: the detection channel must be 0, 1 or 2");
    if (in.timeDomain.lastSample() < np || in.timeDomain.lastRun() < 2 * ni + 1)
        throw std::invalid_argument("2D map: the time-domain record lacks points or runs");

    // Indirect window over increments k = 0..Ni; a1 is dimensionless (LB1 in Hz times t1 in s).
    const double a1 = util::toSingle(in.lineBroadeningHz) * (in.incrementMs / 1000.0);
    const bool gauss = in.window == "Gauss";
    // LB1 beyond the single-precision range is infinite, and exp(-0 x infinity) at the first
    // increment would fill the map with NaN: an overflow, as the conversion is. A negative LB1 (a
    // stored file may hold one) makes the exponential window grow towards the last increment,
    // where it must stay finite too.
    if (!std::isfinite(a1) || !std::isfinite(gauss ? a1 * a1 : std::exp(-ni * a1)))
        throw std::overflow_error(
            "2D map: the indirect window's exponent LB1 x t1 of " + util::formatGeneral(in.lineBroadeningHz) +
            " Hz x " + util::formatGeneral(in.incrementMs) + " ms is beyond the floating-point range");
    std::vector<double> w1(at(ni) + 1);
    for (int k = 0; k <= ni; ++k) {
        const double kd = k;
        w1[at(k)] = gauss ? std::exp(-(kd * kd) * (a1 * a1)) : std::exp(-kd * a1);
    }

    Map2D map;
    map.pointCount = np;
    map.values.assign(at(np) * at(np), 0.0);
    map.maximum = kMapMaximumStart;
    map.minimum = kMapMinimumStart;

    // Direct points are independent: pieces of neighbouring points run side by side, each with its
    // own transform buffers and extremes (a progress callback keeps them on the caller, in order).
    const int component = in.detectionChannel + 1;
    const int half = np / 2;
    util::WorkPool pool(in.progress ? 1 : in.threads);
    const int pieceCount = std::min(np, 8 * pool.threads());
    std::vector<std::pair<double, double>> extremes(at(pieceCount), {kMapMaximumStart, kMapMinimumStart});
    pool.run(pieceCount, [&](int piece, int /*worker*/) {
        // Zero filled beyond Ni: only the first Ni + 1 values of each signal are ever written.
        std::vector<double> re1(at(kBlockPoints) * at(np), 0.0), im1(at(kBlockPoints) * at(np), 0.0);
        // The block's spectra, each in map order (zero indirect frequency at q = np/2).
        std::vector<double> spectra(at(kBlockPoints) * at(np)), out1Re(at(np)), out1Im(at(np));
        double maximum = kMapMaximumStart;
        double minimum = kMapMinimumStart;
        const int end = np * (piece + 1) / pieceCount;
        for (int first = np * piece / pieceCount; first < end; first += kBlockPoints) {
            const int count = std::min(kBlockPoints, end - first);
            // States: the cosine run gives the real part and the negated sine run the imaginary part
            // of the indirect signal, so one sign of indirect frequency is told from the other. The
            // record keeps a run's points together, so the block's signals are gathered run by run.
            for (int k = 0; k <= ni; ++k) {
                const std::span<const double> cosine =
                    in.timeDomain.samples(component, 2 * k).subspan(at(first) + 1);
                const std::span<const double> sine =
                    in.timeDomain.samples(component, 2 * k + 1).subspan(at(first) + 1);
                for (int i = 0; i < count; ++i) {
                    re1[at(i) * at(np) + at(k)] = cosine[at(i)] * w1[at(k)];
                    im1[at(i) * at(np) + at(k)] = -sine[at(i)] * w1[at(k)];
                }
            }
            for (int i = 0; i < count; ++i) {
                const int p = first + i;
                if (in.progress)
                    in.progress(p);
                const std::span<const double> signalRe(re1.data() + at(i) * at(np), at(np));
                const std::span<const double> signalIm(im1.data() + at(i) * at(np), at(np));
                if (!Fourier(np, signalRe, signalIm, out1Re, out1Im, false, in.messages))
                    throw std::logic_error("2D map: the transform refused a checked length");
                double* spectrum = spectra.data() + at(i) * at(np);
                for (int q = 0; q < np; ++q) {
                    const double value = out1Re[at(q < half ? q + half : q - half)];
                    spectrum[q] = value;
                    maximum = std::max(maximum, value);
                    minimum = std::min(minimum, value);
                }
            }
            // Row by row into the map: the block's points of a row lie together.
            for (int q = 0; q < np; ++q)
                for (int i = 0; i < count; ++i)
                    map.at(q, first + i) = spectra[at(i) * at(np) + at(q)];
        }
        extremes[at(piece)] = {maximum, minimum};
    });
    for (const auto& [maximum, minimum] : extremes) {
        map.maximum = std::max(map.maximum, maximum);
        map.minimum = std::min(map.minimum, minimum);
    }
    return map;
}

}  // namespace velmora::processing
