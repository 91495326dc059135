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

// Turns `length` coefficient triples (x, y, z), each kind a contiguous run, as applyPulseElement
// turns one triple.
VELMORA_INLINE_IN_CLONES void rotateTriples(double* __restrict px, double* __restrict py, double* __restrict pz,
                          std::int32_t length, const ElementRotation& r)
{
    for (std::int32_t i = 0; i < length; ++i) {
        const double x = px[i];
        const double y = py[i];
        const double z = pz[i];
        px[i] = x * r.xx + y * r.xy + z * r.xz;
        py[i] = x * r.yx + y * r.yy + z * r.yz;
        pz[i] = x * r.zx + y * r.zy + z * r.zz;
    }
}

// The same turn on a spin held in the population basis, whose u = E + Z and v = E - Z runs stand
// where its E and z runs stood: E is kept, z turns with x and y, and u and v are formed again.
VELMORA_INLINE_IN_CLONES void rotatePopulationQuads(double* __restrict pu, double* __restrict px, double* __restrict py,
                                  double* __restrict pv, std::int32_t length, const ElementRotation& r)
{
    for (std::int32_t i = 0; i < length; ++i) {
        const double e = 0.5 * (pu[i] + pv[i]);
        const double z = 0.5 * (pu[i] - pv[i]);
        const double x = px[i];
        const double y = py[i];
        const double zTurned = x * r.zx + y * r.zy + z * r.zz;
        px[i] = x * r.xx + y * r.xy + z * r.xz;
        py[i] = x * r.yx + y * r.yy + z * r.yz;
        pu[i] = e + zTurned;
        pv[i] = e - zTurned;
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

}  // namespace velmora::engine
