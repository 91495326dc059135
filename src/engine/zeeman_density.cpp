// Conversions between a product-operator row and the Zeeman-basis density matrix.
#include "engine/zeeman_density.h"

#include "engine/operator_basis.h"

#include <stdexcept>
#include <string>

namespace velmora::engine {

namespace {

using Complex = std::complex<double>;
constexpr Complex kI{0.0, 1.0};

std::size_t at(int i)
{
    return static_cast<std::size_t>(i);
}

// Element (a, b) of the Pauli factor with digit d (0 = E, 1 = x, 2 = y, 3 = z); a, b are 0 (alpha)
// or 1 (beta).
Complex pauli(int d, int a, int b)
{
    switch (d) {
    case 0:
        return a == b ? 1.0 : 0.0;
    case 1:
        return a != b ? 1.0 : 0.0;
    case 2:
        return a == b ? Complex{0.0} : (a == 0 ? -kI : kI);
    default:
        return a != b ? 0.0 : (a == 0 ? 1.0 : -1.0);
    }
}

// Position of matrix element (a, b) in the transform's order: base-4 digit k is 2 a_k + b_k.
struct PairIndex {
    explicit PairIndex(int nSpins) : fromRow(at(1) << nSpins), fromColumn(at(1) << nSpins)
    {
        const int dim = 1 << nSpins;
        for (int a = 0; a < dim; ++a) {
            std::size_t r = 0;
            std::size_t c = 0;
            for (int k = 0; k < nSpins; ++k) {
                if ((a >> k) & 1) {
                    r += 2 * static_cast<std::size_t>(kStride[k]);
                    c += static_cast<std::size_t>(kStride[k]);
                }
            }
            fromRow[at(a)] = r;
            fromColumn[at(a)] = c;
        }
    }
    std::vector<std::size_t> fromRow;
    std::vector<std::size_t> fromColumn;
};

void checkRow(std::span<const double> row, int nSpins)
{
    if (nSpins < 1 || nSpins > kMaxSpins || row.size() < static_cast<std::size_t>(operatorCount(nSpins)))
        throw std::invalid_argument("a density matrix of " + std::to_string(nSpins) +
                                    " spins needs a row of 4^N coefficients");
}

}  // namespace

void ZeemanDensity::resize(int nSpins)
{
    if (nSpins < 1 || nSpins > kMaxSpins)
        throw std::invalid_argument("a density matrix takes 1 to 10 spins");
    spins_ = nSpins;
    dim_ = 1 << nSpins;
    values_.assign(static_cast<std::size_t>(dim_) * static_cast<std::size_t>(dim_), Complex{});
}

void toZeemanDensity(std::span<const double> row, ZeemanDensity& rho, std::vector<Complex>& scratch)
{
    const int n = rho.spinCount();
    checkRow(row, n);
    const auto count = static_cast<std::size_t>(operatorCount(n));
    scratch.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        scratch[i] = row[i];
    // Per spin: (E, x, y, z) -> the 2 x 2 block (aa', ab', ba', bb') of E + x sx + y sy + z sz.
    for (int k = 0; k < n; ++k) {
        const auto s = static_cast<std::size_t>(kStride[k]);
        for (std::size_t base = 0; base < count; base += 4 * s) {
            for (std::size_t i = base; i < base + s; ++i) {
                const Complex e = scratch[i];
                const Complex x = scratch[i + s];
                const Complex y = scratch[i + 2 * s];
                const Complex z = scratch[i + 3 * s];
                scratch[i] = e + z;
                scratch[i + s] = x - kI * y;
                scratch[i + 2 * s] = x + kI * y;
                scratch[i + 3 * s] = e - z;
            }
        }
    }
    const PairIndex pairs(n);
    const int dim = rho.dimension();
    for (int a = 0; a < dim; ++a)
        for (int b = 0; b < dim; ++b)
            rho.at(a, b) = 0.5 * scratch[pairs.fromRow[at(a)] + pairs.fromColumn[at(b)]];
}

void fromZeemanDensity(const ZeemanDensity& rho, std::span<double> row, std::vector<Complex>& scratch)
{
    const int n = rho.spinCount();
    checkRow(row, n);
    const auto count = static_cast<std::size_t>(operatorCount(n));
    scratch.resize(count);
    const PairIndex pairs(n);
    const int dim = rho.dimension();
    for (int a = 0; a < dim; ++a)
        for (int b = 0; b < dim; ++b)
            scratch[pairs.fromRow[at(a)] + pairs.fromColumn[at(b)]] = 2.0 * rho.at(a, b);
    for (int k = 0; k < n; ++k) {
        const auto s = static_cast<std::size_t>(kStride[k]);
        for (std::size_t base = 0; base < count; base += 4 * s) {
            for (std::size_t i = base; i < base + s; ++i) {
                const Complex aa = scratch[i];
                const Complex ab = scratch[i + s];
                const Complex ba = scratch[i + 2 * s];
                const Complex bb = scratch[i + 3 * s];
                scratch[i] = 0.5 * (aa + bb);
                scratch[i + s] = 0.5 * (ab + ba);
                scratch[i + 2 * s] = 0.5 * kI * (ab - ba);
                scratch[i + 3 * s] = 0.5 * (aa - bb);
            }
        }
    }
    row[0] = 0.0;
    for (std::size_t i = 1; i < count; ++i)
        row[i] = scratch[i].real();
}

void toZeemanDensityReference(std::span<const double> row, ZeemanDensity& rho)
{
    const int n = rho.spinCount();
    checkRow(row, n);
    const int dim = rho.dimension();
    const int count = operatorCount(n);
    for (int a = 0; a < dim; ++a) {
        for (int b = 0; b < dim; ++b) {
            Complex sum{};
            for (int p = 1; p < count; ++p) {
                Complex factor = 1.0;
                for (int k = 0; k < n; ++k)
                    factor *= pauli((p / kStride[k]) % 4, (a >> k) & 1, (b >> k) & 1);
                sum += row[at(p)] * factor;
            }
            rho.at(a, b) = 0.5 * sum;
        }
    }
}

void fromZeemanDensityReference(const ZeemanDensity& rho, std::span<double> row)
{
    const int n = rho.spinCount();
    checkRow(row, n);
    const int dim = rho.dimension();
    const int count = operatorCount(n);
    row[0] = 0.0;
    for (int p = 1; p < count; ++p) {
        // c_P = 2 Tr(rho sigma_P) / 2^N.
        Complex trace{};
        for (int a = 0; a < dim; ++a) {
            for (int b = 0; b < dim; ++b) {
                Complex factor = 1.0;
                for (int k = 0; k < n; ++k)
                    factor *= pauli((p / kStride[k]) % 4, (b >> k) & 1, (a >> k) & 1);
                trace += rho.at(a, b) * factor;
            }
        }
        row[at(p)] = 2.0 * trace.real() / dim;
    }
}

}  // namespace velmora::engine
