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

// For a given kex the best R20 is the mean residual; returns it with the sum of squares.
Trial trial(std::span<const DispersionSample> samples, double kex, double pa, double deltaOmega)
{
    std::vector<double> residuals;
    residuals.reserve(samples.size());
    double mean = 0;
    for (const DispersionSample& sample : samples) {
        residuals.push_back(sample.r2effPerS - exchangePart(kex, pa, deltaOmega, sample.pulseSpacingS));
        mean += residuals.back();
    }
    mean /= static_cast<double>(residuals.size());
    Trial result{0, mean};
    for (const double r : residuals)
        result.sumOfSquares += (r - mean) * (r - mean);
    return result;
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
    std::vector<double> spacings;
    for (const DispersionSample& sample : samples)
        spacings.push_back(sample.pulseSpacingS);
    std::sort(spacings.begin(), spacings.end());
    if (std::unique(spacings.begin(), spacings.end()) - spacings.begin() < 3)
        return std::nullopt;

    // A logarithmic grid finds the basin; a golden-section search refines within it.
    const double logLow = std::log(kLowestKex);
    const double step = (std::log(kHighestKex) - logLow) / kGridSteps;
    int best = 0;
    double bestSum = trial(samples, kLowestKex, pa, deltaOmegaRadPerS).sumOfSquares;
    for (int k = 1; k <= kGridSteps; ++k) {
        const double sum = trial(samples, std::exp(logLow + k * step), pa, deltaOmegaRadPerS).sumOfSquares;
        if (sum < bestSum) {
            bestSum = sum;
            best = k;
        }
    }
    double a = logLow + std::max(best - 1, 0) * step;
    double b = logLow + std::min(best + 1, kGridSteps) * step;
    const double ratio = (std::sqrt(5.0) - 1) / 2;
    auto cost = [&](double logKex) {
        return trial(samples, std::exp(logKex), pa, deltaOmegaRadPerS).sumOfSquares;
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
    return ExchangeFit{kex, trial(samples, kex, pa, deltaOmegaRadPerS).r20};
}

}  // namespace velmora::exchange
