// Small least-squares fits through their normal equations: the straight line of the linearised
// signal model and the cubic that smooths the B1 map along rows and columns.
#pragma once

namespace velmora::imagefit {

// Solves the n x n system (row-major `matrix`, right side `rhs`, n <= 4) in place by Gaussian
// elimination, taking as pivot of each column the first remaining row whose entry is non-zero.
// The solution replaces `rhs`. False (and rhs unspecified) when the system is singular.
bool solveNormalEquations(double* matrix, double* rhs, int n);

struct StraightLine {
    bool ok = false;
    double intercept = 0.0;  // a of y = a + k x
    double slope = 0.0;      // k
};

// Least-squares y = a + k x through n points; not ok for fewer than 2 distinct abscissae.
StraightLine fitStraightLine(const double* x, const double* y, int n);

// Least-squares cubic y = c0 + c1 t + c2 t^2 + c3 t^3 through n points; false for fewer than 4
// distinct abscissae. Callers keep |t| near 1 so the normal equations stay well conditioned.
bool fitCubic(const double* t, const double* y, int n, double coefficients[4]);

}  // namespace velmora::imagefit
