// T1, T2 and cross-relaxation of one state row.
#include "engine/relaxation.h"

#include "engine/operator_basis.h"
#include "util/text_compare.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace velmora::engine {

namespace {

// Surviving fraction of a deviation after `seconds` with time constant `ms`.
double survivingFraction(double seconds, double ms)
{
    return std::exp(-seconds * 1000.0 / ms);
}

}  // namespace

Relaxation relaxationForRun(const SpinTables& spins, const RunSettings& settings, double arrayedValue,
                            int sliceRowCount)
{
    Relaxation r;
    r.t1On = settings.t1Relaxation;
    r.t2On = settings.t2Relaxation;
    r.crossOn = settings.crossRelaxation;
    r.sliceRowCount = sliceRowCount;

    const bool arrayedT1 = util::equalsIgnoreCase(settings.arrayedName, "T1");
    const bool arrayedT2 = util::equalsIgnoreCase(settings.arrayedName, "T2");
    for (int k = 0; k < kSpinSlots; ++k) {
        double t1 = spins.t1Ms[k];
        double t2 = spins.t2Ms[k];
        if (arrayedT1) {
            t1 = arrayedValue;
            if (settings.t2FromT1)
                t2 = arrayedValue / settings.t2FromT1Factor;
        }
        if (arrayedT2) {
            t2 = arrayedValue;
            if (settings.t2FromT1)
                t1 = settings.t2FromT1Factor * arrayedValue;
        }
        r.t1Ms[k] = t1;
        r.t2Ms[k] = t2;
    }
    r.crossMs =
        util::equalsIgnoreCase(settings.arrayedName, "Tcr") ? arrayedValue : settings.crossRelaxationMs;
    return r;
}

double equilibriumCoefficient(double nucleusConstant, int sliceRowCount)
{
    return nucleusConstant / static_cast<double>(sliceRowCount);
}

void relaxT1(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds)
{
    if (!(seconds > 0.0))
        return;
    for (int k = 0; k < spins.count; ++k) {
        if (!spins.active(k))
            continue;
        const double e1 = survivingFraction(seconds, relaxation.t1Ms[k]);
        const double m0 = equilibriumCoefficient(spins.nucleusConstant[k], relaxation.sliceRowCount);
        double& z = row[static_cast<std::size_t>(kSpinMask[k])];
        z = (z - m0) * e1 + m0;
    }
}

void relaxT2(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds)
{
    if (!(seconds > 0.0))
        return;
    double* const c = row.data();
    for (int k = 0; k < spins.count; ++k) {
        if (!spins.active(k))
            continue;
        const double e2 = survivingFraction(seconds, relaxation.t2Ms[k]);
        if (e2 == 1.0)
            continue;
        // Every index with digit k = y, and its partner with digit k = x, together cover all
        // coefficients transverse at spin k.
        const std::int32_t xFromY = kStride[k];
        forEachY(spins.count, k, [c, xFromY, e2](std::int32_t yIdx) {
            c[yIdx] *= e2;
            c[yIdx - xFromY] *= e2;
        });
    }
}

void relaxT2InOnePass(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                      double seconds)
{
    if (!(seconds > 0.0))
        return;
    constexpr int kLowSpins = 5;
    const int lowSpins = std::min(spins.count, kLowSpins);
    const int highSpins = spins.count - lowSpins;
    // factor[t] for the digits t of a group of spins: the product of e2 of the spins with x or y.
    const auto fillFactors = [&](std::array<double, 1 << (2 * kLowSpins)>& factor, int first, int count) {
        factor[0] = 1.0;
        for (int m = 0; m < count; ++m) {
            const int k = first + m;
            const double e2 = spins.active(k) ? survivingFraction(seconds, relaxation.t2Ms[k]) : 1.0;
            // Digits of spin k above those of the spins before it: E and z keep, x and y take e2.
            const std::int32_t below = kStride[m];
            for (std::int32_t t = 0; t < below; ++t) {
                const double f = factor[static_cast<std::size_t>(t)];
                factor[static_cast<std::size_t>(t + below)] = f * e2;
                factor[static_cast<std::size_t>(t + 2 * below)] = f * e2;
                factor[static_cast<std::size_t>(t + 3 * below)] = f;
            }
        }
    };
    std::array<double, 1 << (2 * kLowSpins)> low{};
    std::array<double, 1 << (2 * kLowSpins)> high{};
    fillFactors(low, 0, lowSpins);
    fillFactors(high, lowSpins, highSpins);
    const std::int32_t lowCount = kStride[lowSpins];
    double* c = row.data();
    for (std::int32_t h = 0; h < kStride[highSpins]; ++h, c += lowCount) {
        const double upper = high[static_cast<std::size_t>(h)];
        for (std::int32_t t = 0; t < lowCount; ++t)
            c[t] *= upper * low[static_cast<std::size_t>(t)];
    }
}

void crossRelax(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds)
{
    if (!(seconds > 0.0))
        return;
    // The transfer weight is w = 1 - E, E = exp(-t * 1000 / Tcr), not E itself: the fraction of a
    // partner's deviation passed on then grows from 0 with the interval, like the recovered fraction
    // 1 - E1 of T1 relaxation, so a delay cut into many pieces transfers, to first order, what the
    // whole delay transfers, and a vanishing interval transfers nothing. expm1 keeps short intervals
    // exact.
    const double w = -std::expm1(-seconds * 1000.0 / relaxation.crossMs);
    for (int i = 0; i < spins.count; ++i) {
        if (!spins.active(i))
            continue;
        double& zi = row[static_cast<std::size_t>(kSpinMask[i])];
        const double gammaI = spins.nucleusConstant[i];
        for (int j = 0; j < spins.count; ++j) {
            if (j == i)
                continue;
            const double gammaJ = spins.nucleusConstant[j];
            const double deviationJ = equilibriumCoefficient(gammaJ, relaxation.sliceRowCount) -
                                      row[static_cast<std::size_t>(kSpinMask[j])];
            zi += gammaJ / gammaI * deviationJ * w;
        }
    }
}

void relaxAfterElement(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                       double seconds)
{
    if (relaxation.crossOn)
        crossRelax(row, spins, relaxation, seconds);
    if (relaxation.t2On)
        relaxT2(row, spins, relaxation, seconds);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, seconds);
}

void relaxAfterShapedEvolution(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                               double seconds)
{
    if (relaxation.crossOn) {
        relaxT1(row, spins, relaxation, seconds);
        crossRelax(row, spins, relaxation, seconds);
        relaxT2(row, spins, relaxation, seconds);
        return;
    }
    if (relaxation.t2On)
        relaxT2(row, spins, relaxation, seconds);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, seconds);
}

}  // namespace velmora::engine
