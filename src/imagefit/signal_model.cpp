// Signal model, trial cost and T1 search of the variable-flip-angle fit.
#include "imagefit/signal_model.h"

#include <cmath>
#include <limits>

namespace velmora::imagefit {

double spoiledSignal(double flipAngleRad, double b1, double trSeconds, double t1Seconds)
{
    const double e = std::exp(-trSeconds / t1Seconds);
    const double angle = b1 * flipAngleRad;
    return (1.0 - e) * std::sin(angle) / (1.0 - std::cos(angle) * e);
}

TrialCost trialCost(const PixelSignals& pixel, double t1Seconds)
{
    double sumR = 0.0;
    double sumR2 = 0.0;
    double e = pixel.sameTr ? std::exp(-pixel.trSeconds[0] / t1Seconds) : 0.0;
    for (int i = 0; i < pixel.images; ++i) {
        if (!pixel.sameTr)
            e = std::exp(-pixel.trSeconds[i] / t1Seconds);
        const double f = (1.0 - e) * pixel.sinFlip[i] / (1.0 - pixel.cosFlip[i] * e);
        const double r = pixel.signal[i] / f;
        sumR += r;
        sumR2 += r * r;
    }
    TrialCost result;
    result.amplitude = sumR / pixel.images;
    result.cost = sumR != 0.0 ? sumR2 / (sumR * sumR) : std::numeric_limits<double>::infinity();
    if (!std::isfinite(result.cost))
        result.cost = std::numeric_limits<double>::infinity();
    return result;
}

T1Estimate searchT1(const PixelSignals& pixel, double t1MinSeconds, double t1MaxSeconds,
                    util::UniformRandom& random)
{
    double step = t1MinSeconds;
    double t1 = 1.0 / (1.0 / t1MaxSeconds + (1.0 / t1MinSeconds - 1.0 / t1MaxSeconds) * random.next());
    T1Estimate best{t1, 0.0, kT1SearchStartCost};
    bool found = false;
    while (std::fabs(step) >= kT1SearchTolerance) {
        t1 += step;
        // Bounce off the range: back to the last accepted point and half a step the other way. In
        // a range narrower than 1.5 steps that trial can leave the range on the other side, so the
        // bounce repeats until it lands inside; no T1 outside the range is ever tried.
        while ((t1 < t1MinSeconds || t1 >= t1MaxSeconds) && std::fabs(step) >= kT1SearchTolerance) {
            step = -step / 2.0;
            t1 += 3.0 * step;
        }
        if (t1 < t1MinSeconds || t1 >= t1MaxSeconds)
            break;
        const TrialCost trial = trialCost(pixel, t1);
        if (!(trial.cost < best.cost)) {
            t1 -= step;
            step = -step / 2.0;
        } else {
            best = {t1, trial.amplitude, trial.cost};
            found = true;
        }
    }
    // No trial had a finite cost (an all-zero pixel, or a non-finite signal): the random start is
    // not a result.
    if (!found)
        return {0.0, 0.0, std::numeric_limits<double>::infinity()};
    return best;
}

}  // namespace velmora::imagefit
