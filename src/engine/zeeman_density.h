// The density matrix of N spins in the Zeeman basis, and its conversion to and from one row of
// product-operator coefficients, so that the exact strong-coupling path can propagate a matrix
// while every other part of the engine keeps reading and writing the same rows.
//
// Zeeman state a (0 .. 2^N - 1) has bit k clear when spin k is alpha (Iz = +1/2) and set when it is
// beta (Iz = -1/2). A product operator with m non-E factors carries the coefficient of
// 2^(m-1) * (product of spin operators) = 1/2 * (product of Pauli matrices), so the row c and the
// matrix rho are related by rho = 1/2 * sum_P c_P sigma_P and c_P = 2 Tr(rho sigma_P) / 2^N.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace velmora::engine {

class ZeemanDensity {
public:
    ZeemanDensity() = default;
    explicit ZeemanDensity(int nSpins) { resize(nSpins); }
    void resize(int nSpins);

    int spinCount() const { return spins_; }
    int dimension() const { return dim_; }
    std::complex<double>& at(int a, int b) { return values_[index(a, b)]; }
    const std::complex<double>& at(int a, int b) const { return values_[index(a, b)]; }

private:
    std::size_t index(int a, int b) const
    {
        return static_cast<std::size_t>(a) * static_cast<std::size_t>(dim_) + static_cast<std::size_t>(b);
    }
    int spins_ = 0;
    int dim_ = 0;
    std::vector<std::complex<double>> values_;
};

// Row (4^N coefficients) -> matrix, by a fast Pauli transform: one butterfly per spin over the
// row, O(N 4^N). `scratch` keeps its room between calls.
void toZeemanDensity(std::span<const double> row, ZeemanDensity& rho,
                     std::vector<std::complex<double>>& scratch);

// Matrix -> row: the inverse transform; the coefficient of the unit operator (index 0) is written
// as 0, as the engine never populates it.
void fromZeemanDensity(const ZeemanDensity& rho, std::span<double> row,
                       std::vector<std::complex<double>>& scratch);

// The same conversions, element by element from the definition (sum over the operators of
// Kronecker products): the plain reference the transforms are tested against. O(8^N).
void toZeemanDensityReference(std::span<const double> row, ZeemanDensity& rho);
void fromZeemanDensityReference(const ZeemanDensity& rho, std::span<double> row);

}  // namespace velmora::engine
