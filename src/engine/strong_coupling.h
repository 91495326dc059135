// The exact strong-coupling path: the Hamiltonian of one interval in the Zeeman basis (offsets along
// z, couplings between spins of the same nucleus as the full scalar term J (IxSx + IySy + IzSz),
// couplings between different nuclei as J IzSz), its eigenvectors, and the propagation of a
// product-operator row through the interval in the eigenbasis.
//
// The Hamiltonian keeps each nucleus's total z magnetisation, so it splits into blocks of Zeeman
// states with the same number of beta spins per nucleus; each block, a real symmetric matrix, is
// diagonalised on its own, and the eigensystems of the distinct Hamiltonians of a run are kept in a
// small cache. With no couplings between spins of the same nucleus every block
// is diagonal and the propagation equals the weak-coupling rotations to rounding.
#pragma once

#include "engine/spin_tables.h"
#include "engine/zeeman_density.h"

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora::engine {

// H = sum_k offset(k) Iz(k) + 2 pi sum_(i<j) J(i, j) [Iz(i) Iz(j) + full(i, j) (Ix Ix + Iy Iy)],
// in rad/s. Inactive spins carry nothing: no offset, no coupling.
struct ZeemanHamiltonian {
    int spinCount = 1;
    std::array<double, kSpinSlots> offsetRadPerS{};
    std::array<std::array<double, kSpinSlots>, kSpinSlots> couplingHz{};  // i < j
    std::array<std::array<std::uint8_t, kSpinSlots>, kSpinSlots> full{};  // 1: full scalar term
    std::array<int, kSpinSlots> nucleus{};  // spins of one nucleus may exchange polarisation
    bool operator==(const ZeemanHamiltonian&) const = default;
};

// The Hamiltonian of the active spins of `spins` with offsets offsetRadPerS (one per spin, rad/s).
// With strongCoupling, pairs on the same RF channel couple with the full scalar term; otherwise, and
// always between channels, with J IzSz alone.
ZeemanHamiltonian zeemanHamiltonian(const SpinTables& spins, std::span<const double> offsetRadPerS,
                                    bool strongCoupling);

// Eigenvalues and eigenvectors of a ZeemanHamiltonian, block by block.
struct ZeemanEigensystem {
    struct Block {
        std::vector<int> states;       // Zeeman states of the block, ascending
        std::vector<double> energies;  // rad/s, one per eigenvector
        std::vector<double> vectors;   // n x n, row = state, column = eigenvector
        double vector(std::size_t state, std::size_t column) const
        {
            return vectors[state * states.size() + column];
        }
    };
    int spinCount = 1;
    std::vector<Block> blocks;
    std::vector<int> blockOf;     // per Zeeman state
    std::vector<int> positionOf;  // its row within its block
};

ZeemanEigensystem diagonalize(const ZeemanHamiltonian& h);

// Eigenvalues (in no promised order) and eigenvectors (columns of `vectors`, n x n row-major) of the
// real symmetric n x n matrix `matrix` (row-major, destroyed), by Householder reduction to
// tridiagonal form and implicit QL. A diagonal matrix is returned as it is, with unit vectors.
void symmetricEigen(std::vector<double>& matrix, int n, std::vector<double>& values,
                    std::vector<double>& vectors);

// The same by cyclic Jacobi rotations: slower, plainly correct, the reference of the tests.
void symmetricEigenJacobi(std::vector<double>& matrix, int n, std::vector<double>& values,
                          std::vector<double>& vectors);

// Propagates rows exactly through intervals of given Hamiltonians. Keeps the eigensystems of the
// distinct Hamiltonians it has met (a bounded number) and the room of its matrices: one per thread.
// Offsets along z common to every spin of one nucleus, in rad/s per RF channel (1H, 13C, 15N): a
// gradient's term in a slice, which is the same for all spins of a nucleus. H keeps each nucleus's
// total z magnetisation, so such an offset commutes with it: it adds offset x (total m of the
// nucleus) to the energy of every state of a block and leaves the eigenvectors as they are.
using NucleusOffsets = std::array<double, kRfChannelCount>;

class ExactEvolution {
public:
    // row <- exp(-i (H + sum_c common(c) Fz(c)) t) row exp(i (...) t), with the row read and written
    // as product operators; Fz(c) sums Iz over the active spins of channel c. The eigensystem is
    // that of h alone, so the slices of a gradient and the points of a shaped gradient share it.
    void evolve(std::span<double> row, const ZeemanHamiltonian& h, double seconds,
                const NucleusOffsets& common = {});
    // The eigensystem of h, from the cache or computed and kept.
    const ZeemanEigensystem& eigensystem(const ZeemanHamiltonian& h);

private:
    struct Entry {
        ZeemanHamiltonian hamiltonian;
        ZeemanEigensystem eigen;
    };
    std::vector<Entry> cache_;
    ZeemanDensity rho_;
    std::vector<std::complex<double>> scratch_;
    std::vector<std::complex<double>> block_, work_;
    std::vector<double> blockShift_;  // rad/s per block, from the common offsets
};

// The same propagation with the full 2^N x 2^N propagator built from the eigensystem and applied by
// plain matrix products: the reference the block propagation is tested against.
void evolveReference(std::span<double> row, const ZeemanHamiltonian& h, double seconds);

// One line of the acquisition: the signal Mx + i My of a channel carries
// amplitude * exp(i 2 pi frequencyHz t), decaying at the rates of the spins it flips, weighted by
// spinShare (summing to 1). Under a gradient during the acquisition each slice row gives its own
// lines, which the synthesis moves by the slice's offset (the same for every line of a channel).
struct TransitionLine {
    double frequencyHz = 0.0;
    std::complex<double> amplitude;
    std::array<double, kSpinSlots> spinShare{};
    int slice = 0;
};

// The lines of channel `channel` that the state `row` (product operators, at the start of the
// acquisition) gives under the acquisition Hamiltonian h. Written in the frame of the synthesized
// acquisition: h carries +2 pi (shift + receiver offset) per spin, so a single x-magnetisation of
// coefficient A at f Hz gives the line A exp(i 2 pi f t). The share of spin k in the line between
// eigenstates a and b is |<b|I(k)+|a>|^2 over the sum of these for the channel's spins; lines whose
// amplitude magnitude is not above minimumAmplitude are left out.
std::vector<TransitionLine> transitionLines(std::span<const double> row, const SpinTables& spins, int channel,
                                            const ZeemanHamiltonian& h, ExactEvolution& cache,
                                            double minimumAmplitude);

}  // namespace velmora::engine
