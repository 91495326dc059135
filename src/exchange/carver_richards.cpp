#include "exchange/carver_richards.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace velmora::exchange {

namespace {

// Search range of the fitted exchange rate, 1/s, and the grid that brackets the best value.
constexpr double kLowestKex = 1.0;
constexpr double kHighestKex = 1e7;
constexpr int kGridSteps = 280;

// acosh(dPlus cosh(etaPlus) - dMinus cos(etaMinus)) without overflow for long spacings.
double logCoshCombination(double dPlus, double etaPlus, double dMinus, double etaMinus)
{
    if (etaPlus < 30)
        return std::acosh(std::max(1.0, dPlus * std::cosh(etaPlus) - dMinus * std::cos(etaMinus)));
    // cosh(x) = e^x / 2 (1 + e^-2x) and acosh(y) = ln(2y) for y >> 1.
    const double scaled = dPlus - 2 * dMinus * std::cos(etaMinus) * std::exp(-etaPlus);
    return etaPlus + std::log(std::max(scaled, 1e-300));
}

// The exchange part R2,eff - R20, which does not depend on R20 when both sites relax alike.
double exchangePart(double kex, double pa, double deltaOmega, double spacing)
{
    if (kex <= 0 || spacing <= 0)
        return 0;
    const double pb = 1 - pa;
    const double dw2 = deltaOmega * deltaOmega;
    const double psi = kex * kex - dw2;
    const double zeta = 2 * deltaOmega * kex * (pb - pa);
    const double root = std::max(std::sqrt(psi * psi + zeta * zeta), 1e-300);
    const double dPlus = 0.5 * (1 + (psi + 2 * dw2) / root);
    const double dMinus = 0.5 * (-1 + (psi + 2 * dw2) / root);
    const double etaPlus = spacing / std::sqrt(2.0) * std::sqrt(std::max(0.0, psi + root));
    const double etaMinus = spacing / std::sqrt(2.0) * std::sqrt(std::max(0.0, -psi + root));
    return 0.5 * (kex - logCoshCombination(dPlus, etaPlus, dMinus, etaMinus) / spacing);
}

struct Trial {
    double sumOfSquares = 0;
    double r20 = 0;
};

// 1 / error^2 per sample; a sample without an error takes the smallest error of the others, and
// without any errors every sample weighs 1.
std::vector<double> weightsOf(std::span<const DispersionSample> samples)
{
    double smallest = 0;
    for (const DispersionSample& sample : samples) {
        if (sample.errorPerS > 0 && (smallest == 0 || sample.errorPerS < smallest))
            smallest = sample.errorPerS;
    }
    std::vector<double> weights;
    for (const DispersionSample& sample : samples) {
        const double error = sample.errorPerS > 0 ? sample.errorPerS : smallest;
        weights.push_back(error > 0 ? 1 / (error * error) : 1.0);
    }
    return weights;
}

// For a given kex the best R20 is the weighted mean residual; returns it with the weighted sum of
// squares.
Trial trial(std::span<const DispersionSample> samples, std::span<const double> weights, double kex, double pa,
            double deltaOmega)
{
    std::vector<double> residuals;
    residuals.reserve(samples.size());
    double mean = 0;
    double totalWeight = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        residuals.push_back(samples[k].r2effPerS -
                            exchangePart(kex, pa, deltaOmega, samples[k].pulseSpacingS));
        mean += weights[k] * residuals.back();
        totalWeight += weights[k];
    }
    mean /= totalWeight;
    Trial result{0, mean};
    for (std::size_t k = 0; k < residuals.size(); ++k)
        result.sumOfSquares += weights[k] * (residuals[k] - mean) * (residuals[k] - mean);
    return result;
}

// The standard error of kex from the weighted normal equations of the two parameters (kex and
// R20): the kex entry of the inverse of sum w (dR/dkex, dR/dR20)^T (dR/dkex, dR/dR20).
std::optional<double> kexError(std::span<const DispersionSample> samples, std::span<const double> weights,
                               double kex, double pa, double deltaOmega)
{
    const double step = 1e-4 * kex;
    double sw = 0, swj = 0, swjj = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const double spacing = samples[k].pulseSpacingS;
        const double slope = (exchangePart(kex + step, pa, deltaOmega, spacing) -
                              exchangePart(kex - step, pa, deltaOmega, spacing)) /
                             (2 * step);
        sw += weights[k];
        swj += weights[k] * slope;
        swjj += weights[k] * slope * slope;
    }
    const double determinant = sw * swjj - swj * swj;
    if (!(determinant > 0) || !std::isfinite(determinant))
        return std::nullopt;
    return std::sqrt(sw / determinant);
}

}  // namespace

double carverRichardsRate(const TwoSiteExchange& exchange, double pulseSpacingS)
{
    return exchange.r20PerS +
           exchangePart(exchange.kexPerS, exchange.pa, exchange.deltaOmegaRadPerS, pulseSpacingS);
}

std::optional<ExchangeFit> fitExchangeRate(std::span<const DispersionSample> samples, double pa,
                                           double deltaOmegaRadPerS)
{
    // Without a shift difference, or with one site empty, exchange leaves no mark on the curve: any
    // kex would fit, so none is told.
    if (!(pa > 0 && pa < 1 && deltaOmegaRadPerS != 0))
        return std::nullopt;
    std::vector<double> spacings;
    for (const DispersionSample& sample : samples)
        spacings.push_back(sample.pulseSpacingS);
    std::sort(spacings.begin(), spacings.end());
    if (std::unique(spacings.begin(), spacings.end()) - spacings.begin() < 3)
        return std::nullopt;

    const std::vector<double> weights = weightsOf(samples);
    // A logarithmic grid finds the basin; a golden-section search refines within it.
    const double logLow = std::log(kLowestKex);
    const double step = (std::log(kHighestKex) - logLow) / kGridSteps;
    int best = 0;
    double bestSum = trial(samples, weights, kLowestKex, pa, deltaOmegaRadPerS).sumOfSquares;
    for (int k = 1; k <= kGridSteps; ++k) {
        const double sum =
            trial(samples, weights, std::exp(logLow + k * step), pa, deltaOmegaRadPerS).sumOfSquares;
        if (sum < bestSum) {
            bestSum = sum;
            best = k;
        }
    }
    double a = logLow + std::max(best - 1, 0) * step;
    double b = logLow + std::min(best + 1, kGridSteps) * step;
    const double ratio = (std::sqrt(5.0) - 1) / 2;
    auto cost = [&](double logKex) {
        return trial(samples, weights, std::exp(logKex), pa, deltaOmegaRadPerS).sumOfSquares;
    };
    double c = b - ratio * (b - a);
    double d = a + ratio * (b - a);
    double costC = cost(c);
    double costD = cost(d);
    for (int iteration = 0; iteration < 60; ++iteration) {
        if (costC < costD) {
            b = d;
            d = c;
            costD = costC;
            c = b - ratio * (b - a);
            costC = cost(c);
        } else {
            a = c;
            c = d;
            costC = costD;
            d = a + ratio * (b - a);
            costD = cost(d);
        }
    }
    const double kex = std::exp((a + b) / 2);
    const bool withErrors = std::any_of(samples.begin(), samples.end(),
                                        [](const DispersionSample& sample) { return sample.errorPerS > 0; });
    return ExchangeFit{kex, trial(samples, weights, kex, pa, deltaOmegaRadPerS).r20,
                       withErrors ? kexError(samples, weights, kex, pa, deltaOmegaRadPerS) : std::nullopt};
}

}  // namespace velmora::exchange
