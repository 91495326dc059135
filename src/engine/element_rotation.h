// The turn of one spin's (x, y, z) coefficients by a pulse element, and the loops that apply it to
// contiguous stretches of a state row: shared by the step routine, the blocked pulse elements and
// the free evolution that takes a point's elements into its passes.
#pragma once

#include "engine/operator_basis.h"
#include "util/vector_clones.h"

#include <cstdint>
#include <type_traits>

namespace velmora::engine {

// The turn as rows of a 3x3 matrix: x' = x xx + y xy + z xz, and so on.
struct ElementRotation {
    double xx, xy, xz, yx, yy, yz, zx, zy, zz;
};

// The element of one spin of a point, as the free evolution takes it.
struct SpinRotation {
    int spin = 0;
    ElementRotation rotation{};
};

// One (x, y, z) triple turned.
VELMORA_INLINE_IN_CLONES void turnTriple(double& x, double& y, double& z, const ElementRotation& r)
{
    const double xv = x;
    const double yv = y;
    const double zv = z;
    x = xv * r.xx + yv * r.xy + zv * r.xz;
    y = xv * r.yx + yv * r.yy + zv * r.yz;
    z = xv * r.zx + yv * r.zy + zv * r.zz;
}

// The same turn of a spin held in the population basis, whose u = E + Z and v = E - Z stand where
// its E and z stood: E is kept, z turns with x and y, and u and v are formed again.
VELMORA_INLINE_IN_CLONES void turnPopulationQuad(double& u, double& x, double& y, double& v, const ElementRotation& r)
{
    const double e = 0.5 * (u + v);
    const double z = 0.5 * (u - v);
    const double xv = x;
    const double yv = y;
    const double zTurned = xv * r.zx + yv * r.zy + z * r.zz;
    x = xv * r.xx + yv * r.xy + z * r.xz;
    y = xv * r.yx + yv * r.yy + z * r.yz;
    u = e + zTurned;
    v = e - zTurned;
}

// Turns `length` coefficient triples (x, y, z), each kind a contiguous run, as applyPulseElement
// turns one triple.
VELMORA_INLINE_IN_CLONES void rotateTriples(double* __restrict px, double* __restrict py, double* __restrict pz,
                          std::int32_t length, const ElementRotation& r)
{
    for (std::int32_t i = 0; i < length; ++i)
        turnTriple(px[i], py[i], pz[i], r);
}

// turnPopulationQuad on `length` quadruples, each kind a contiguous run.
VELMORA_INLINE_IN_CLONES void rotatePopulationQuads(double* __restrict pu, double* __restrict px, double* __restrict py,
                                  double* __restrict pv, std::int32_t length, const ElementRotation& r)
{
    for (std::int32_t i = 0; i < length; ++i)
        turnPopulationQuad(pu[i], px[i], py[i], pv[i], r);
}

// The elements of two spins on 16 runs of n coefficients each, runs[4 h + l] holding digit l of
// the lower spin and digit h of the upper: `lower` turns every row of four, then `upper` every
// column. Each coefficient goes through the same operations as with the two turns one after the
// other, so the bits are the same, with one read and write of the row instead of two. Pays where
// the processor has 32 vector registers (AVX-512): with 16, the sixteen values spill.
template <bool Populations>
VELMORA_INLINE_IN_CLONES void rotateTwoSpins(double* const* runs, std::int32_t n, const ElementRotation& lower,
                                             const ElementRotation& upper)
{
    const auto turn = [](double& first, double& x, double& y, double& last, const ElementRotation& r)
                          __attribute__((always_inline)) {
                              if constexpr (Populations)
                                  turnPopulationQuad(first, x, y, last, r);
                              else
                                  turnTriple(x, y, last, r);
                          };
    VELMORA_RUNS_APART
    for (std::int32_t i = 0; i < n; ++i) {
        double w[16];
        for (int k = 0; k < 16; ++k)
            w[k] = runs[k][i];
        for (int h = 0; h < 4; ++h)
            turn(w[4 * h], w[4 * h + 1], w[4 * h + 2], w[4 * h + 3], lower);
        for (int l = 0; l < 4; ++l)
            turn(w[l], w[l + 4], w[l + 8], w[l + 12], upper);
        for (int k = 0; k < 16; ++k)
            runs[k][i] = w[k];
    }
}

// Calls turn(first, x, y, last, n) on every run of n coefficients of each of a spin's four digits
// in [c, c + length) (whole groups of them: length a multiple of 4^(spin + 1)); first and last are
// the E and z runs, or u and v in the population basis. The runs of spins 0 and 1 (1 and 4
// coefficients) have their length known at compile time.
template <class Turn>
VELMORA_INLINE_IN_CLONES void forEachDigitRun(double* c, std::int32_t length, int spin, const Turn& turn)
{
    const auto walk = [&](auto run) __attribute__((always_inline)) {
        for (std::int32_t base = 0; base < length; base += 4 * run)
            turn(c + base, c + base + run, c + base + 2 * run, c + base + 3 * run, run);
    };
    const std::int32_t run = kStride[spin];
    if (run == 1)
        walk(std::integral_constant<std::int32_t, 1>{});
    else if (run == 4)
        walk(std::integral_constant<std::int32_t, 4>{});
    else
        walk(run);
}

// Spin `spin`'s turn on the coefficients [c, c + length), which hold whole groups of its four
// digits (length a multiple of 4^(spin + 1)).
VELMORA_INLINE_IN_CLONES void rotateSpinIn(double* c, std::int32_t length, int spin, const ElementRotation& r)
{
    forEachDigitRun(c, length, spin,
                    [&r](double*, double* x, double* y, double* z, std::int32_t n)
                        __attribute__((always_inline)) { rotateTriples(x, y, z, n, r); });
}

// rotateSpinIn on a spin held in the population basis.
VELMORA_INLINE_IN_CLONES void rotateSpinPopulationsIn(double* c, std::int32_t length, int spin, const ElementRotation& r)
{
    forEachDigitRun(c, length, spin,
                    [&r](double* u, double* x, double* y, double* v, std::int32_t n)
                        __attribute__((always_inline)) { rotatePopulationQuads(u, x, y, v, n, r); });
}

// Spins `lower` and lower + 1 turned in one sweep over the coefficients [c, c + length), which
// hold whole groups of both spins' digits (length a multiple of 4^(lower + 2)).
template <bool Populations>
VELMORA_INLINE_IN_CLONES void rotateTwoSpinsIn(double* c, std::int32_t length, int lower, const ElementRotation& rLower,
                                               const ElementRotation& rUpper)
{
    const std::int32_t run = kStride[lower];
    for (std::int32_t base = 0; base < length; base += 16 * run) {
        double* runs[16];
        for (int k = 0; k < 16; ++k)
            runs[k] = c + base + (k & 3) * run + (k >> 2) * 4 * run;
        rotateTwoSpins<Populations>(runs, run, rLower, rUpper);
    }
}

}  // namespace velmora::engine
