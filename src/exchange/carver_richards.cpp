#include "exchange/carver_richards.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cmath>
#include <vector>

namespace velmora::exchange {

namespace {

// Search range of the fitted exchange rate, 1/s, and the grid that brackets the best value.
constexpr double kLowestKex = 1.0;
constexpr double kHighestKex = 1e7;
constexpr int kGridSteps = 280;

// (cosh sqrt(a) - cosh sqrt(c)) / (a - c) for a >= 0 >= c, a > c: the divided difference of
// cosh sqrt(x), whose series stays exact where a - c is too small to divide by.
double coshDividedDifference(double a, double c)
{
    const double span = a - c;
    if (span > 1e-3)
        return (std::cosh(std::sqrt(a)) - std::cos(std::sqrt(-c))) / span;
    // sum over n >= 1 of (a^n - c^n) / (a - c) / (2n)!, (a^n - c^n) / (a - c) = sum a^k c^(n-1-k).
    double sum = 0;
    double factorial = 1;
    std::array<double, 6> aPower{1, 0, 0, 0, 0, 0};
    std::array<double, 6> cPower{1, 0, 0, 0, 0, 0};
    for (std::size_t n = 1; n < aPower.size(); ++n) {
        aPower[n] = aPower[n - 1] * a;
        cPower[n] = cPower[n - 1] * c;
        factorial *= static_cast<double>((2 * n - 1) * (2 * n));
        double powers = 0;
        for (std::size_t k = 0; k < n; ++k)
            powers += aPower[k] * cPower[n - 1 - k];
        sum += powers / factorial;
    }
    return sum;
}

// The exchange part R2,eff - R20, which does not depend on R20 when both sites relax alike.
//   R2,eff - R20 = (kex - acosh(D+ cosh(eta+) - D- cos(eta-)) / tau) / 2, tau the pulse spacing,
//   D+- = (+-1 + (psi + 2 dw^2) / r) / 2, eta+- = tau sqrt((+-psi + r) / 2), r = sqrt(psi^2 + zeta^2).
// D+ and D- grow as 1 / r where psi and zeta vanish together (kex = dw with Pa = 1/2), and their
// difference is lost there; the argument is formed instead as
//   (cosh(eta+) + cos(eta-)) / 2 + (psi + 2 dw^2) tau^2 / 2 * (cosh(eta+) - cos(eta-)) / (eta+^2 + eta-^2),
// since eta+^2 + eta-^2 = tau^2 r, with the last quotient from its series where it is small.
double exchangePart(double kex, double pa, double deltaOmega, double spacing)
{
    if (kex <= 0 || spacing <= 0)
        return 0;
    const double pb = 1 - pa;
    const double dw2 = deltaOmega * deltaOmega;
    const double psi = kex * kex - dw2;
    const double zeta = 2 * deltaOmega * kex * (pb - pa);
    const double root = std::hypot(psi, zeta);
    const double etaPlus2 = 0.5 * spacing * spacing * std::max(0.0, psi + root);
    const double etaMinus2 = 0.5 * spacing * spacing * std::max(0.0, root - psi);
    const double etaPlus = std::sqrt(etaPlus2);
    const double etaMinus = std::sqrt(etaMinus2);
    const double weight = 0.5 * (psi + 2 * dw2) * spacing * spacing;
    double logCosh = 0;
    if (etaPlus < 30) {
        const double argument = 0.5 * (std::cosh(etaPlus) + std::cos(etaMinus)) +
                                weight * coshDividedDifference(etaPlus2, -etaMinus2);
        logCosh = std::acosh(std::max(1.0, argument));
    } else {
        // cosh(x) = e^x / 2 (1 + e^-2x) and acosh(y) = ln(2y) for y >> 1; r is far from 0 here.
        const double dPlus = 0.5 * (1 + (psi + 2 * dw2) / root);
        const double dMinus = 0.5 * (-1 + (psi + 2 * dw2) / root);
        const double scaled = dPlus - 2 * dMinus * std::cos(etaMinus) * std::exp(-etaPlus);
        logCosh = etaPlus + std::log(std::max(scaled, 1e-300));
    }
    return 0.5 * (kex - logCosh / spacing);
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
