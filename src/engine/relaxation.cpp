// T1, T2 and cross-relaxation of one state row.
#include "engine/relaxation.h"

#include "engine/operator_basis.h"
#include "engine/population_basis.h"
#include "engine/row_pieces.h"
#include "util/text_compare.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace velmora::engine {

namespace {

// The single-spin z coefficients of a row, read once, changed in place and written back, in
// whichever basis the row holds its E and z digits. In the population basis only the change is
// written, so the row's other product operators stay as they were.
class ZTerms {
public:
    ZTerms(std::span<double> row, int nSpins, RowBasis basis)
        : row_(row), nSpins_(nSpins), basis_(basis), z_(singleSpinZ(row, nSpins, basis)), read_(z_)
    {
    }
    double& operator[](int k) { return z_[static_cast<std::size_t>(k)]; }
    void writeBack()
    {
        if (basis_ == RowBasis::productOperators) {
            for (int k = 0; k < nSpins_; ++k)
                row_[static_cast<std::size_t>(kSpinMask[k])] = z_[static_cast<std::size_t>(k)];
            return;
        }
        std::array<double, kSpinSlots> change{};
        for (std::size_t k = 0; k < change.size(); ++k)
            change[k] = z_[k] - read_[k];
        addToSingleSpinZ(row_, nSpins_, basis_, change);
    }

private:
    std::span<double> row_;
    int nSpins_;
    RowBasis basis_;
    std::array<double, kSpinSlots> z_;
    std::array<double, kSpinSlots> read_;
};

// Surviving fraction of a deviation after `seconds` with time constant `ms`.
double survivingFraction(double seconds, double ms)
{
    return std::exp(-seconds * 1000.0 / ms);
}

// The eigenvalues and eigenvectors of a symmetric matrix of size n (cyclic Jacobi rotations): on
// return a holds the eigenvalues on its diagonal and v the eigenvectors as columns.
void symmetricEigen(LongitudinalModes::Matrix& a, LongitudinalModes::Matrix& v, int n)
{
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            v[i][j] = i == j ? 1.0 : 0.0;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0;
        double diagonal = 0.0;
        for (int p = 0; p < n; ++p) {
            diagonal += a[p][p] * a[p][p];
            for (int q = p + 1; q < n; ++q)
                off += a[p][q] * a[p][q];
        }
        // Done once the off-diagonal part is rounding beside the diagonal: further sweeps only move
        // rounding about (and took all 100 sweeps on the degenerate matrix of equal T1s).
        if (off <= 1e-34 * diagonal || off < 1e-300)
            return;
        for (int p = 0; p < n; ++p) {
            for (int q = p + 1; q < n; ++q) {
                if (a[p][q] == 0.0)
                    continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t =
                    (theta >= 0.0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double sn = t * c;
                for (int k = 0; k < n; ++k) {
                    const double akp = a[k][p];
                    const double akq = a[k][q];
                    a[k][p] = c * akp - sn * akq;
                    a[k][q] = sn * akp + c * akq;
                }
                for (int k = 0; k < n; ++k) {
                    const double apk = a[p][k];
                    const double aqk = a[q][k];
                    a[p][k] = c * apk - sn * aqk;
                    a[q][k] = sn * apk + c * aqk;
                }
                for (int k = 0; k < n; ++k) {
                    const double vkp = v[k][p];
                    const double vkq = v[k][q];
                    v[k][p] = c * vkp - sn * vkq;
                    v[k][q] = sn * vkp + c * vkq;
                }
            }
        }
    }
}

// The z deviations of the active spins over `seconds`, exactly: d(t) = exp(-A t) d(0) minus the
// drive of the inactive spins' constant deviations u through sigma, A^-1 (1 - exp(-A t)) sigma u.
void solomonStep(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                 double seconds, RowBasis basis)
{
    if (!(seconds > 0.0))
        return;
    ZTerms z(row, spins.count, basis);
    // The step's modes, unless the caller's active spins are not those they were made for.
    bool sameSpins = true;
    for (int k = 0, i = 0; k < spins.count; ++k)
        if (spins.active(k))
            sameSpins = sameSpins && i < relaxation.longitudinal.count &&
                        relaxation.longitudinal.spin[static_cast<std::size_t>(i++)] == k;
    int activeCount = 0;
    for (int k = 0; k < spins.count; ++k)
        activeCount += spins.active(k) ? 1 : 0;
    sameSpins = sameSpins && activeCount == relaxation.longitudinal.count &&
                relaxation.longitudinal.sigmaPerSecond == 1000.0 / relaxation.crossMs;
    const LongitudinalModes made = sameSpins ? LongitudinalModes{} : longitudinalModes(spins, relaxation);
    const LongitudinalModes& modes = sameSpins ? relaxation.longitudinal : made;
    const int n = modes.count;
    const auto m0 = [&](int k) {
        return equilibriumCoefficient(spins.nucleusConstant[k], relaxation.sliceRowCount);
    };
    double drive = 0.0;  // sigma times the summed deviation of the spins that do not relax here
    for (int k = 0; k < spins.count; ++k)
        if (!spins.active(k))
            drive += modes.sigmaPerSecond * (z[k] - m0(k));
    std::array<double, kSpinSlots> mode{};
    for (int q = 0; q < n; ++q) {
        double projected = 0.0;
        double ones = 0.0;
        for (int i = 0; i < n; ++i) {
            const int k = modes.spin[static_cast<std::size_t>(i)];
            projected += modes.vectors[i][q] * (z[k] - m0(k));
            ones += modes.vectors[i][q];
        }
        const double rate = modes.rates[static_cast<std::size_t>(q)];
        const double decay = std::exp(-rate * seconds);
        const double integral = rate != 0.0 ? -std::expm1(-rate * seconds) / rate : seconds;
        mode[static_cast<std::size_t>(q)] = decay * projected - integral * drive * ones;
    }
    for (int i = 0; i < n; ++i) {
        const int k = modes.spin[static_cast<std::size_t>(i)];
        double deviation = 0.0;
        for (int q = 0; q < n; ++q)
            deviation += modes.vectors[i][q] * mode[static_cast<std::size_t>(q)];
        z[k] = m0(k) + deviation;
    }
    z.writeBack();
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
    if (r.crossOn)
        r.longitudinal = longitudinalModes(spins, r);
    return r;
}

LongitudinalModes longitudinalModes(const SpinTables& spins, const Relaxation& relaxation)
{
    LongitudinalModes modes;
    modes.sigmaPerSecond = 1000.0 / relaxation.crossMs;
    for (int k = 0; k < spins.count; ++k)
        if (spins.active(k))
            modes.spin[static_cast<std::size_t>(modes.count++)] = k;
    LongitudinalModes::Matrix a{};
    for (int i = 0; i < modes.count; ++i)
        for (int j = 0; j < modes.count; ++j)
            a[i][j] = i == j ? 1000.0 / relaxation.t1Ms[modes.spin[static_cast<std::size_t>(i)]]
                             : modes.sigmaPerSecond;
    symmetricEigen(a, modes.vectors, modes.count);
    for (int q = 0; q < modes.count; ++q)
        modes.rates[static_cast<std::size_t>(q)] = a[q][q];
    return modes;
}

double equilibriumCoefficient(double nucleusConstant, int sliceRowCount)
{
    return nucleusConstant / static_cast<double>(sliceRowCount);
}

void relaxT1(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds,
             RowBasis basis)
{
    if (!(seconds > 0.0))
        return;
    ZTerms z(row, spins.count, basis);
    for (int k = 0; k < spins.count; ++k) {
        if (!spins.active(k))
            continue;
        const double e1 = survivingFraction(seconds, relaxation.t1Ms[k]);
        const double m0 = equilibriumCoefficient(spins.nucleusConstant[k], relaxation.sliceRowCount);
        z[k] = (z[k] - m0) * e1 + m0;
    }
    z.writeBack();
}

void relaxT2(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds,
             util::WorkPool* pool)
{
    if (!(seconds > 0.0))
        return;
    std::array<double, kSpinSlots> e2{};
    for (int k = 0; k < spins.count; ++k)
        e2[static_cast<std::size_t>(k)] =
            spins.active(k) ? survivingFraction(seconds, relaxation.t2Ms[k]) : 1.0;
    const std::int32_t count = operatorCount(spins.count);
    double* const c = row.data();
    // Piece p holds whole runs of 4^k coefficients of every spin k; within it, the coefficients
    // with digit k = x or y are the runs [base + 4^k, base + 3 * 4^k) of every group of 4^(k+1).
    const auto piece = [&](int p) {
        const RowPiece part = rowPiece(count, std::min<std::int32_t>(count, 4), p);
        for (int k = 0; k < spins.count; ++k) {
            const double factor = e2[static_cast<std::size_t>(k)];
            if (factor == 1.0)
                continue;
            const std::int32_t run = kStride[k];
            const std::int32_t group = 4 * run;
            for (std::int32_t base = part.begin - part.begin % group; base < part.end; base += group) {
                const std::int32_t from = std::max(base + run, part.begin);
                const std::int32_t to = std::min(base + 3 * run, part.end);
                for (std::int32_t i = from; i < to; ++i)
                    c[i] *= factor;
            }
        }
    };
    forEachRowPiece(pool, spins.count, kRowPieces, piece);
}

void relaxT2InOnePass(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                      double seconds, util::WorkPool* pool)
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
    // The pieces cut the upper digits; each upper index h scales its lowCount coefficients.
    const auto piece = [&](int p) {
        const RowPiece part = rowPiece(kStride[highSpins], 1, p);
        for (std::int32_t h = part.begin; h < part.end; ++h) {
            double* const c = row.data() + static_cast<std::ptrdiff_t>(h) * lowCount;
            const double upper = high[static_cast<std::size_t>(h)];
            for (std::int32_t t = 0; t < lowCount; ++t)
                c[t] *= upper * low[static_cast<std::size_t>(t)];
        }
    };
    forEachRowPiece(pool, spins.count, kRowPieces, piece);
}

void crossRelax(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds,
                RowBasis basis)
{
    if (!(seconds > 0.0))
        return;
    ZTerms z(row, spins.count, basis);
    // The transfer weight is w = 1 - E, E = exp(-t * 1000 / Tcr), not E itself: the fraction of a
    // partner's deviation passed on then grows from 0 with the interval, like the recovered fraction
    // 1 - E1 of T1 relaxation, so a delay cut into many pieces transfers, to first order, what the
    // whole delay transfers, and a vanishing interval transfers nothing. expm1 keeps short intervals
    // exact.
    //
    // The z coefficients are spin polarisations whose equilibria already scale with gamma, the
    // quantities of the Solomon equations, in which one rate sigma = 1/Tcr couples both spins of a
    // pair: the partner's deviation passes on unweighted. (A further gamma_j / gamma_i would count
    // the equilibrium ratio twice: a carbon's steady-state enhancement by saturated protons would
    // become (gamma_H / gamma_C)^2 sigma / rho instead of (gamma_H / gamma_C) sigma / rho.)
    const double w = -std::expm1(-seconds * 1000.0 / relaxation.crossMs);
    for (int i = 0; i < spins.count; ++i) {
        if (!spins.active(i))
            continue;
        double& zi = z[i];
        for (int j = 0; j < spins.count; ++j) {
            if (j == i)
                continue;
            const double m0J = equilibriumCoefficient(spins.nucleusConstant[j], relaxation.sliceRowCount);
            zi += (m0J - z[j]) * w;
        }
    }
    z.writeBack();
}

// T2 touches only coefficients transverse at some spin, cross-relaxation and T1 only the single-spin
// z coefficients, so T2 commutes with both and acts once over the whole interval.
void relaxLongitudinal(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                       double seconds, RowBasis basis)
{
    if (relaxation.crossOn)
        solomonStep(row, spins, relaxation, seconds, basis);
    else if (relaxation.t1On)
        relaxT1(row, spins, relaxation, seconds, basis);
}

void relaxAfterElement(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                       double seconds, util::WorkPool* pool, RowBasis basis)
{
    if (relaxation.crossOn) {
        solomonStep(row, spins, relaxation, seconds, basis);
        if (relaxation.t2On)
            relaxT2(row, spins, relaxation, seconds, pool);
        return;
    }
    if (relaxation.t2On)
        relaxT2(row, spins, relaxation, seconds, pool);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, seconds, basis);
}

void relaxAfterShapedEvolution(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                               double seconds, util::WorkPool* pool, RowBasis basis)
{
    if (relaxation.crossOn) {
        solomonStep(row, spins, relaxation, seconds, basis);
        relaxT2(row, spins, relaxation, seconds, pool);
        return;
    }
    if (relaxation.t2On)
        relaxT2(row, spins, relaxation, seconds, pool);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, seconds, basis);
}

}  // namespace velmora::engine
