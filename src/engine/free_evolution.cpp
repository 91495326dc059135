// Offset and scalar-coupling rotations of one state row.
#include "engine/free_evolution.h"

#include "engine/operator_basis.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace velmora::engine {

namespace {

// pi as the coupling angle uses it.
constexpr double kPi = 3.14159265358979;

}  // namespace

void rotateSpinAboutZ(std::span<double> row, int nSpins, int spin, double thetaRad)
{
    const double cosTheta = std::cos(thetaRad);
    const double sinTheta = std::sin(thetaRad);
    if (cosTheta >= 1.0) {
        return;
    }
    double* const c = row.data();
    const std::int32_t xFromY = kStride[spin];
    forEachY(nSpins, spin, [c, xFromY, cosTheta, sinTheta](std::int32_t yIdx) {
        const std::int32_t xIdx = yIdx - xFromY;
        const double x = c[xIdx];
        const double y = c[yIdx];
        c[xIdx] = cosTheta * x - sinTheta * y;
        c[yIdx] = sinTheta * x + cosTheta * y;
    });
}

void evolveOffsets(std::span<double> row, const SpinTables& spins, std::span<const double> offsetRadPerS,
                   double seconds)
{
    for (int k = 0; k < spins.count; ++k) {
        if (spins.active(k)) {
            rotateSpinAboutZ(row, spins.count, k, offsetRadPerS[static_cast<std::size_t>(k)] * seconds);
        }
    }
}

void evolveCouplings(std::span<double> row, const SpinTables& spins, double seconds)
{
    const int nSpins = spins.count;
    double* const c = row.data();
    for (int i = 0; i + 1 < nSpins; ++i) {
        if (!spins.active(i)) {
            continue;
        }
        for (int j = i + 1; j < nSpins; ++j) {
            const double couplingHz = spins.couplingHz[i][j];
            if (!spins.active(j) || couplingHz == 0.0) {
                continue;
            }
            const double thetaRad = seconds * kPi * couplingHz;
            const double cosTheta = std::cos(thetaRad);
            const double sinTheta = std::sin(thetaRad);
            if (cosTheta >= 1.0) {
                continue;
            }
            // Offsets from the configuration of the other spins (digits i and j both E) to the
            // coefficient with the given digits at i and j.
            const std::int32_t xi = kStride[i];
            const std::int32_t yi = kYDigit[i];
            const std::int32_t zi = kSpinMask[i];
            const std::int32_t xj = kStride[j];
            const std::int32_t yj = kYDigit[j];
            const std::int32_t zj = kSpinMask[j];
            forEachZPair(nSpins, i, j, [=](std::int32_t zzIdx) {
                const std::int32_t base = zzIdx - zi - zj;

                // Ix -> Ix cos + 2IySz sin, 2IySz -> 2IySz cos - Ix sin.
                const double xE = c[base + xi];
                const double yz = c[base + yi + zj];
                c[base + xi] = cosTheta * xE - sinTheta * yz;
                c[base + yi + zj] = sinTheta * xE + cosTheta * yz;

                // Iy -> Iy cos - 2IxSz sin, 2IxSz -> 2IxSz cos + Iy sin.
                const double yE = c[base + yi];
                const double xz = c[base + xi + zj];
                c[base + yi] = cosTheta * yE + sinTheta * xz;
                c[base + xi + zj] = cosTheta * xz - sinTheta * yE;

                // Sx -> Sx cos + 2IzSy sin, 2IzSy -> 2IzSy cos - Sx sin.
                const double eX = c[base + xj];
                const double zY = c[base + zi + yj];
                c[base + xj] = cosTheta * eX - sinTheta * zY;
                c[base + zi + yj] = sinTheta * eX + cosTheta * zY;

                // Sy -> Sy cos - 2IzSx sin, 2IzSx -> 2IzSx cos + Sy sin.
                const double eY = c[base + yj];
                const double zX = c[base + zi + xj];
                c[base + yj] = cosTheta * eY + sinTheta * zX;
                c[base + zi + xj] = cosTheta * zX - sinTheta * eY;
            });
        }
    }
}

}  // namespace velmora::engine
