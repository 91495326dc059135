// Backward linear prediction by least squares.
#include "processing/linear_prediction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace velmora::processing {

namespace {

using Complex = std::complex<double>;

// Solves the square system m x = v in place by Gaussian elimination with partial pivoting; m is
// row-major n x n. False when it is singular.
bool solve(std::vector<Complex>& m, std::vector<Complex>& v, int n)
{
    const auto at = [&](int r, int c) -> Complex& { return m[static_cast<std::size_t>(r * n + c)]; };
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r)
            if (std::abs(at(r, col)) > std::abs(at(pivot, col)))
                pivot = r;
        if (std::abs(at(pivot, col)) == 0.0)
            return false;
        for (int c = 0; c < n; ++c)
            std::swap(at(col, c), at(pivot, c));
        std::swap(v[static_cast<std::size_t>(col)], v[static_cast<std::size_t>(pivot)]);
        for (int r = col + 1; r < n; ++r) {
            const Complex f = at(r, col) / at(col, col);
            for (int c = col; c < n; ++c)
                at(r, c) -= f * at(col, c);
            v[static_cast<std::size_t>(r)] -= f * v[static_cast<std::size_t>(col)];
        }
    }
    for (int r = n - 1; r >= 0; --r) {
        Complex s = v[static_cast<std::size_t>(r)];
        for (int c = r + 1; c < n; ++c)
            s -= at(r, c) * v[static_cast<std::size_t>(c)];
        v[static_cast<std::size_t>(r)] = s / at(r, r);
    }
    return true;
}

}  // namespace

bool refillLeadingSamples(std::span<std::complex<double>> fid, int missing, int order)
{
    // In 64 bits: an order and a count near the int range would overflow the difference.
    const auto n = static_cast<std::int64_t>(fid.size());
    // equations x[k] = sum_j b_j x[k + j], k = missing ..
    const std::int64_t windowCount = n - std::int64_t{missing} - std::int64_t{order};
    if (missing <= 0 || order < 1 || windowCount < 2 * std::int64_t{order})
        return false;
    const int windows = static_cast<int>(windowCount);
    // Normal equations (A^H A) b = A^H y with row k of A = x[k + 1 .. k + order], y_k = x[k]. A
    // ridge far below the signal's power keeps them solvable when the order exceeds the number of
    // lines (the surplus coefficients are then free); the prediction of the data is not changed by it.
    std::vector<Complex> normal(static_cast<std::size_t>(order * order));
    std::vector<Complex> rhs(static_cast<std::size_t>(order));
    double power = 0.0;
    for (int k = missing; k < missing + windows; ++k) {
        const Complex y = fid[static_cast<std::size_t>(k)];
        for (int i = 0; i < order; ++i) {
            const Complex ai = std::conj(fid[static_cast<std::size_t>(k + 1 + i)]);
            rhs[static_cast<std::size_t>(i)] += ai * y;
            for (int j = 0; j < order; ++j)
                normal[static_cast<std::size_t>(i * order + j)] +=
                    ai * fid[static_cast<std::size_t>(k + 1 + j)];
        }
        power += std::norm(y);
    }
    const double ridge = 1e-13 * power;
    for (int i = 0; i < order; ++i)
        normal[static_cast<std::size_t>(i * order + i)] += ridge;
    if (!solve(normal, rhs, order))
        return false;
    for (int k = missing - 1; k >= 0; --k) {
        Complex x = 0.0;
        for (int j = 0; j < order; ++j)
            x += rhs[static_cast<std::size_t>(j)] * fid[static_cast<std::size_t>(k + 1 + j)];
        fid[static_cast<std::size_t>(k)] = x;
    }
    return true;
}

}  // namespace velmora::processing
