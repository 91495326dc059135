// Normal equations and their elimination.
#include "imagefit/least_squares.h"

#include <utility>

namespace velmora::imagefit {

bool solveNormalEquations(double* matrix, double* rhs, int n)
{
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        while (pivot < n && matrix[pivot * n + col] == 0.0)
            ++pivot;
        if (pivot == n)
            return false;
        if (pivot != col) {
            for (int k = 0; k < n; ++k)
                std::swap(matrix[pivot * n + k], matrix[col * n + k]);
            std::swap(rhs[pivot], rhs[col]);
        }
        for (int row = col + 1; row < n; ++row) {
            const double factor = matrix[row * n + col] / matrix[col * n + col];
            for (int k = col; k < n; ++k)
                matrix[row * n + k] -= factor * matrix[col * n + k];
            rhs[row] -= factor * rhs[col];
        }
    }
    for (int row = n - 1; row >= 0; --row) {
        double sum = rhs[row];
        for (int k = row + 1; k < n; ++k)
            sum -= matrix[row * n + k] * rhs[k];
        rhs[row] = sum / matrix[row * n + row];
    }
    return true;
}

namespace {

// Normal equations of a polynomial of degree `degree` from the sums of powers of the abscissa
// and of their products with the ordinate.
bool fitPolynomial(const double* x, const double* y, int n, int degree, double* coefficients)
{
    const int size = degree + 1;
    double powerSums[7] = {};
    double rhs[4] = {};
    for (int p = 0; p < n; ++p) {
        double power = 1.0;
        for (int k = 0; k <= 2 * degree; ++k) {
            powerSums[k] += power;
            if (k < size)
                rhs[k] += power * y[p];
            power *= x[p];
        }
    }
    double matrix[16];
    for (int row = 0; row < size; ++row) {
        for (int col = 0; col < size; ++col)
            matrix[row * size + col] = powerSums[row + col];
    }
    if (!solveNormalEquations(matrix, rhs, size))
        return false;
    for (int k = 0; k < size; ++k)
        coefficients[k] = rhs[k];
    return true;
}

bool hasDistinctValues(const double* x, int n, int wanted)
{
    int distinct = 0;
    for (int p = 0; p < n && distinct < wanted; ++p) {
        bool seen = false;
        for (int q = 0; q < p && !seen; ++q)
            seen = x[q] == x[p];
        if (!seen)
            ++distinct;
    }
    return distinct >= wanted;
}

}  // namespace

StraightLine fitStraightLine(const double* x, const double* y, int n)
{
    StraightLine line;
    double coefficients[2];
    if (!hasDistinctValues(x, n, 2) || !fitPolynomial(x, y, n, 1, coefficients))
        return line;
    line.ok = true;
    line.intercept = coefficients[0];
    line.slope = coefficients[1];
    return line;
}

bool fitCubic(const double* t, const double* y, int n, double coefficients[4])
{
    return hasDistinctValues(t, n, 4) && fitPolynomial(t, y, n, 3, coefficients);
}

}  // namespace velmora::imagefit
