// The exact strong-coupling path against independent computations written here: a density matrix
// built from the definition of the product operators, propagated by a Taylor-series exponential of
// the Hamiltonian written out as Kronecker products, and the closed forms of the AB and A2 spectra.
#include "engine/operator_basis.h"
#include "engine/strong_coupling.h"
#include "engine/zeeman_density.h"
#include "support/largest_difference.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

namespace velmora::engine {
namespace {

using Complex = std::complex<double>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Dense complex matrices of the test's own density-matrix calculation.
struct Matrix {
    explicit Matrix(int d) : dim(d), v(static_cast<std::size_t>(d * d)) {}
    Complex& operator()(int a, int b) { return v[static_cast<std::size_t>(a * dim + b)]; }
    Complex operator()(int a, int b) const { return v[static_cast<std::size_t>(a * dim + b)]; }
    int dim;
    std::vector<Complex> v;
};

Matrix product(const Matrix& x, const Matrix& y)
{
    Matrix r(x.dim);
    for (int i = 0; i < x.dim; ++i)
        for (int k = 0; k < x.dim; ++k)
            for (int j = 0; j < x.dim; ++j)
                r(i, j) += x(i, k) * y(k, j);
    return r;
}

Matrix adjoint(const Matrix& x)
{
    Matrix r(x.dim);
    for (int i = 0; i < x.dim; ++i)
        for (int j = 0; j < x.dim; ++j)
            r(i, j) = std::conj(x(j, i));
    return r;
}

// Spin operator I(k)alpha (alpha = 1, 2, 3 for x, y, z) of n spins: sigma_alpha / 2 on spin k
// (bit k of the state: 0 alpha, 1 beta), unit on the others.
Matrix spinOperator(int n, int k, int alpha)
{
    static const Complex pauli[4][2][2] = {
        {{1, 0}, {0, 1}}, {{0, 1}, {1, 0}}, {{0, Complex(0, -1)}, {Complex(0, 1), 0}}, {{1, 0}, {0, -1}}};
    const int dim = 1 << n;
    Matrix m(dim);
    for (int a = 0; a < dim; ++a)
        for (int b = 0; b < dim; ++b)
            if (((a ^ b) & ~(1 << k)) == 0)
                m(a, b) = 0.5 * pauli[alpha][(a >> k) & 1][(b >> k) & 1];
    return m;
}

// rho = sum_P c_P 2^(m-1) prod(I(k)digit): the definition of the coefficients.
Matrix densityOf(const std::vector<double>& row, int n)
{
    Matrix rho(1 << n);
    for (int p = 1; p < operatorCount(n); ++p) {
        if (row[static_cast<std::size_t>(p)] == 0.0)
            continue;
        Matrix term(1 << n);
        for (int a = 0; a < term.dim; ++a)
            term(a, a) = 1.0;
        int factors = 0;
        for (int k = 0; k < n; ++k) {
            const int digit = (p / kStride[k]) % 4;
            if (digit != 0) {
                term = product(term, spinOperator(n, k, digit));
                ++factors;
            }
        }
        const double scale = row[static_cast<std::size_t>(p)] * std::pow(2.0, factors - 1);
        for (std::size_t i = 0; i < rho.v.size(); ++i)
            rho.v[i] += scale * term.v[i];
    }
    return rho;
}

// c_P = Tr(rho O_P) / Tr(O_P O_P) with O_P = 2^(m-1) prod(I(k)digit).
std::vector<double> rowOf(const Matrix& rho, int n)
{
    std::vector<double> row(static_cast<std::size_t>(operatorCount(n)), 0.0);
    for (int p = 1; p < operatorCount(n); ++p) {
        std::vector<double> one(row.size(), 0.0);
        one[static_cast<std::size_t>(p)] = 1.0;
        const Matrix op = densityOf(one, n);
        Complex num = 0.0;
        Complex den = 0.0;
        for (int a = 0; a < rho.dim; ++a)
            for (int b = 0; b < rho.dim; ++b) {
                num += rho(a, b) * op(b, a);
                den += op(a, b) * op(b, a);
            }
        row[static_cast<std::size_t>(p)] = (num / den).real();
    }
    return row;
}

struct SpinPair {
    int i, j;
    double jHz;
    bool full;
};

// H = sum offset(k) Iz(k) + 2 pi sum J (IzSz [+ IxSx + IySy]).
Matrix hamiltonian(int n, const std::vector<double>& offsets, const std::vector<SpinPair>& pairs)
{
    Matrix h(1 << n);
    const auto add = [&](const Matrix& m, double f) {
        for (std::size_t i = 0; i < h.v.size(); ++i)
            h.v[i] += f * m.v[i];
    };
    for (int k = 0; k < n; ++k)
        add(spinOperator(n, k, 3), offsets[static_cast<std::size_t>(k)]);
    for (const SpinPair& p : pairs)
        for (int alpha = p.full ? 1 : 3; alpha <= 3; ++alpha)
            add(product(spinOperator(n, p.i, alpha), spinOperator(n, p.j, alpha)), kTwoPi * p.jHz);
    return h;
}

// exp(-i H t) by scaling and squaring of a Taylor series.
Matrix propagator(const Matrix& h, double t)
{
    double norm = 0.0;
    for (const Complex& x : h.v)
        norm += std::abs(x);
    int squarings = 0;
    while (norm * std::abs(t) / std::pow(2.0, squarings) > 0.1)
        ++squarings;
    Matrix a(h.dim);
    for (std::size_t i = 0; i < a.v.size(); ++i)
        a.v[i] = Complex(0.0, -t / std::pow(2.0, squarings)) * h.v[i];
    Matrix u(h.dim);
    Matrix term(h.dim);
    for (int i = 0; i < h.dim; ++i)
        u(i, i) = term(i, i) = 1.0;
    for (int order = 1; order <= 20; ++order) {
        term = product(term, a);
        for (std::size_t i = 0; i < u.v.size(); ++i)
            u.v[i] += term.v[i] / std::tgamma(order + 1.0);
    }
    for (int s = 0; s < squarings; ++s)
        u = product(u, u);
    return u;
}

SpinTables tables(const std::vector<int>& channels, const std::vector<SpinPair>& pairs)
{
    SpinTables spins;
    spins.count = static_cast<int>(channels.size());
    for (int k = 0; k < spins.count; ++k) {
        spins.slotState[static_cast<std::size_t>(k)] = 1;
        spins.channel[static_cast<std::size_t>(k)] = channels[static_cast<std::size_t>(k)];
    }
    for (const SpinPair& p : pairs) {
        spins.couplingHz[static_cast<std::size_t>(p.i)][static_cast<std::size_t>(p.j)] = p.jHz;
        spins.couplingHz[static_cast<std::size_t>(p.j)][static_cast<std::size_t>(p.i)] = p.jHz;
    }
    return spins;
}

std::vector<double> randomRow(int n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> row(static_cast<std::size_t>(operatorCount(n)));
    for (double& c : row)
        c = value(generator);
    row[0] = 0.0;
    return row;
}

// Mx + i My of the spins of one channel at time t under h, from the test's matrices.
Complex transverse(const Matrix& rho0, const Matrix& h, double t, int n, const std::vector<int>& detected)
{
    const Matrix u = propagator(h, t);
    const Matrix rho = product(product(u, rho0), adjoint(u));
    const std::vector<double> row = rowOf(rho, n);
    Complex sum = 0.0;
    for (int k : detected)
        sum +=
            Complex(row[static_cast<std::size_t>(kStride[k])], row[static_cast<std::size_t>(2 * kStride[k])]);
    return sum;
}

Complex fromLines(const std::vector<TransitionLine>& lines, double t)
{
    Complex sum = 0.0;
    for (const TransitionLine& l : lines)
        sum += l.amplitude * std::exp(Complex(0.0, kTwoPi * l.frequencyHz * t));
    return sum;
}

TEST(ZeemanDensity, TheFastPauliTransformsEqualTheDefinitionBothWays)
{
    const int n = 3;
    const std::vector<double> row = randomRow(n, 7);
    ZeemanDensity fast(n);
    ZeemanDensity reference(n);
    std::vector<Complex> scratch;
    toZeemanDensity(row, fast, scratch);
    toZeemanDensityReference(row, reference);
    const Matrix independent = densityOf(row, n);
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) {
            EXPECT_NEAR(std::abs(fast.at(a, b) - independent(a, b)), 0.0, 1e-14);
            EXPECT_NEAR(std::abs(reference.at(a, b) - independent(a, b)), 0.0, 1e-14);
        }
    std::vector<double> back(row.size());
    std::vector<double> backReference(row.size());
    fromZeemanDensity(fast, back, scratch);
    fromZeemanDensityReference(fast, backReference);
    const testing::Deviation d = testing::deviationFrom(row, back);
    EXPECT_LT(d.difference, 1e-14);
    EXPECT_LT(testing::deviationFrom(row, backReference).difference, 1e-14);
}

TEST(SymmetricEigen, TheTridiagonalSolverAgreesWithJacobiRotationsAndLeavesADiagonalMatrixAlone)
{
    const int n = 9;
    std::mt19937 generator(4);
    std::uniform_real_distribution<double> value(-50.0, 50.0);
    std::vector<double> matrix(81);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            matrix[static_cast<std::size_t>(i * n + j)] = matrix[static_cast<std::size_t>(j * n + i)] =
                value(generator);
    matrix[10] = matrix[0];  // a repeated diagonal value, as a degenerate pair of states has
    std::vector<double> copy = matrix;
    std::vector<double> fast, fastVectors, jacobi, jacobiVectors;
    std::vector<double> work = matrix;
    symmetricEigen(work, n, fast, fastVectors);
    symmetricEigenJacobi(copy, n, jacobi, jacobiVectors);
    for (int e = 0; e < n; ++e) {
        // A v = lambda v for every pair the fast solver gives.
        for (int i = 0; i < n; ++i) {
            double av = 0.0;
            for (int k = 0; k < n; ++k)
                av += matrix[static_cast<std::size_t>(i * n + k)] *
                      fastVectors[static_cast<std::size_t>(k * n + e)];
            EXPECT_NEAR(av,
                        fast[static_cast<std::size_t>(e)] * fastVectors[static_cast<std::size_t>(i * n + e)],
                        1e-11);
        }
    }
    std::sort(fast.begin(), fast.end());
    std::sort(jacobi.begin(), jacobi.end());
    for (int e = 0; e < n; ++e)
        EXPECT_NEAR(fast[static_cast<std::size_t>(e)], jacobi[static_cast<std::size_t>(e)], 1e-11);

    std::vector<double> diagonal = {3.0, 0.0, 0.0, 0.0, -1.5, 0.0, 0.0, 0.0, 3.0};
    symmetricEigen(diagonal, 3, fast, fastVectors);
    EXPECT_EQ(fast, (std::vector<double>{3.0, -1.5, 3.0}));
    EXPECT_EQ(fastVectors, (std::vector<double>{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0}));
}

TEST(ExactEvolution, MatchesTheExponentialOfTheHamiltonianForAStronglyCoupledPairBesideACarbon)
{
    // Two protons 8 Hz apart with J = 12 Hz (strong), each weakly coupled to a carbon.
    const std::vector<SpinPair> pairs = {{0, 1, 12.0, true}, {0, 2, 140.0, false}, {1, 2, -5.0, false}};
    const SpinTables spins = tables({kChannelH1, kChannelH1, kChannelC13}, pairs);
    const std::vector<double> offsets = {kTwoPi * 30.0, kTwoPi * 38.0, kTwoPi * -200.0};
    const double seconds = 0.0371;
    std::vector<double> row = randomRow(3, 11);
    const Matrix u = propagator(hamiltonian(3, offsets, pairs), seconds);
    const std::vector<double> expected = rowOf(product(product(u, densityOf(row, 3)), adjoint(u)), 3);

    std::vector<double> reference = row;
    const ZeemanHamiltonian h = zeemanHamiltonian(spins, offsets, true);
    evolveReference(reference, h, seconds);
    ExactEvolution evolution;
    evolution.evolve(row, h, seconds);
    EXPECT_LT(testing::deviationFrom(expected, row).difference, 1e-11);
    EXPECT_LT(testing::deviationFrom(reference, row).difference, 1e-12)
        << "block propagation vs full propagator";
}

// A gradient's offset, the same for every spin of a nucleus, enters as a phase per block and gives
// what the Hamiltonian with the offset in every spin's shift gives.
TEST(ExactEvolution, AnOffsetCommonToANucleusEqualsTheExponentialWithItInEveryShift)
{
    const std::vector<SpinPair> pairs = {{0, 1, 12.0, true}, {1, 2, 9.0, true}, {0, 3, 140.0, false}};
    const SpinTables spins = tables({kChannelH1, kChannelH1, kChannelH1, kChannelC13}, pairs);
    const std::vector<double> shifts = {kTwoPi * 30.0, kTwoPi * 38.0, kTwoPi * 61.0, kTwoPi * -200.0};
    const NucleusOffsets common = {kTwoPi * 410.0, kTwoPi * 103.0, 0.0};  // 1H and 13C
    std::vector<double> withGradient = shifts;
    for (int k = 0; k < 4; ++k)
        withGradient[static_cast<std::size_t>(k)] += common[static_cast<std::size_t>(spins.channel[k])];
    const double seconds = 0.0173;
    std::vector<double> row = randomRow(4, 19);
    const Matrix u = propagator(hamiltonian(4, withGradient, pairs), seconds);
    const std::vector<double> expected = rowOf(product(product(u, densityOf(row, 4)), adjoint(u)), 4);

    ExactEvolution evolution;
    evolution.evolve(row, zeemanHamiltonian(spins, shifts, true), seconds, common);
    EXPECT_LT(testing::deviationFrom(expected, row).difference, 1e-11);
}

// The AB quartet after a 90 degree pulse (x magnetisation on both spins): lines at
// centre +- (D +- J)/2, D = sqrt(dv^2 + J^2), the inner pair of intensity 1 + J/D, the outer 1 - J/D.
TEST(TransitionLines, TheABQuartetHasItsClosedFormPositionsAndIntensities)
{
    const double jHz = 10.0;
    for (const double ratio : {0.2, 1.0, 3.0, 20.0}) {
        const double dv = ratio * jHz;
        const double nuA = 100.0;
        const double nuB = nuA + dv;
        const SpinTables spins = tables({kChannelH1, kChannelH1}, {{0, 1, jHz, true}});
        const std::vector<double> omega = {kTwoPi * nuA, kTwoPi * nuB};
        std::vector<double> row(16, 0.0);
        row[static_cast<std::size_t>(kStride[0])] = 1.0;
        row[static_cast<std::size_t>(kStride[1])] = 1.0;
        ExactEvolution cache;
        std::vector<TransitionLine> lines =
            transitionLines(row, spins, kChannelH1, zeemanHamiltonian(spins, omega, true), cache, 1e-12);
        ASSERT_EQ(lines.size(), 4u) << "dv/J = " << ratio;
        std::sort(lines.begin(), lines.end(), [](const TransitionLine& a, const TransitionLine& b) {
            return a.frequencyHz < b.frequencyHz;
        });
        const double centre = 0.5 * (nuA + nuB);
        const double d = std::sqrt(dv * dv + jHz * jHz);
        const double positions[4] = {centre - (d + jHz) / 2, centre - (d - jHz) / 2, centre + (d - jHz) / 2,
                                     centre + (d + jHz) / 2};
        // Two spins of x magnetisation 1 each: intensities (1 -+ J/D) / 2, summing to 2.
        const double intensities[4] = {(1 - jHz / d) / 2, (1 + jHz / d) / 2, (1 + jHz / d) / 2,
                                       (1 - jHz / d) / 2};
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(lines[static_cast<std::size_t>(i)].frequencyHz, positions[i], 1e-9)
                << "dv/J = " << ratio;
            EXPECT_NEAR(lines[static_cast<std::size_t>(i)].amplitude.real(), intensities[i], 1e-12);
            EXPECT_NEAR(lines[static_cast<std::size_t>(i)].amplitude.imag(), 0.0, 1e-12);
        }
    }
}

TEST(TransitionLines, AnA2PairGivesOneLineAtItsShift)
{
    const SpinTables spins = tables({kChannelH1, kChannelH1}, {{0, 1, 7.0, true}});
    const std::vector<double> omega = {kTwoPi * 50.0, kTwoPi * 50.0};
    std::vector<double> row(16, 0.0);
    row[static_cast<std::size_t>(2 * kStride[0])] = 1.0;  // I(0)y + I(1)y
    row[static_cast<std::size_t>(2 * kStride[1])] = 1.0;
    ExactEvolution cache;
    const std::vector<TransitionLine> lines =
        transitionLines(row, spins, kChannelH1, zeemanHamiltonian(spins, omega, true), cache, 1e-9);
    Complex total = 0.0;
    for (const TransitionLine& l : lines) {
        EXPECT_NEAR(l.frequencyHz, 50.0, 1e-9) << "the transitions of the singlet are forbidden";
        total += l.amplitude;
    }
    EXPECT_NEAR(std::abs(total - Complex(0.0, 2.0)), 0.0, 1e-12);
}

// ABX: two protons 6 Hz apart with J(AB) = 11 Hz, a third proton 150 Hz away coupled to both; the
// lines of a random state against the FID of the test's own density-matrix propagation.
TEST(TransitionLines, TheABXSignalEqualsTheDensityMatrixPropagation)
{
    const std::vector<SpinPair> pairs = {{0, 1, 11.0, true}, {0, 2, 7.0, true}, {1, 2, 2.5, true}};
    const SpinTables spins = tables({kChannelH1, kChannelH1, kChannelH1}, pairs);
    const std::vector<double> omega = {kTwoPi * 20.0, kTwoPi * 26.0, kTwoPi * 176.0};
    const std::vector<double> row = randomRow(3, 5);
    ExactEvolution cache;
    const std::vector<TransitionLine> lines =
        transitionLines(row, spins, kChannelH1, zeemanHamiltonian(spins, omega, true), cache, 0.0);
    const Matrix rho0 = densityOf(row, 3);
    const Matrix h = hamiltonian(3, omega, pairs);
    for (const double t : {0.0, 0.0123, 0.0877, 0.31})
        EXPECT_NEAR(std::abs(fromLines(lines, t) - transverse(rho0, h, t, 3, {0, 1, 2})), 0.0, 1e-10) << t;
    for (const TransitionLine& l : lines) {
        double share = 0.0;
        for (double s : l.spinShare)
            share += s;
        EXPECT_NEAR(share, 1.0, 1e-12);
    }
}

// At dv/J >= 200 every line of a random system lies within J^2/dv of a first-order line
// shift(k) +- J/2 +- ..., and each spin's multiplet keeps its intensity within 2J/dv.
TEST(TransitionLines, FarApartShiftsGiveTheFirstOrderLinesAndIntensitiesWithinTheirBounds)
{
    std::mt19937 generator(3);
    std::uniform_real_distribution<double> coupling(-15.0, 15.0);
    for (int n = 2; n <= 4; ++n) {
        std::vector<SpinPair> pairs;
        double largestJ = 0.0;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
                pairs.push_back({i, j, coupling(generator), true});
                largestJ = std::max(largestJ, std::abs(pairs.back().jHz));
            }
        const double dv = 200.0 * 15.0;
        std::vector<double> omega;
        for (int k = 0; k < n; ++k)
            omega.push_back(kTwoPi * dv * k);
        const SpinTables spins = tables(std::vector<int>(static_cast<std::size_t>(n), kChannelH1), pairs);
        std::vector<double> row(static_cast<std::size_t>(operatorCount(n)), 0.0);
        for (int k = 0; k < n; ++k)
            row[static_cast<std::size_t>(kStride[k])] = 1.0;
        ExactEvolution cache;
        const std::vector<TransitionLine> lines =
            transitionLines(row, spins, kChannelH1, zeemanHamiltonian(spins, omega, true), cache, 1e-6);
        // First-order lines: spin k at its shift plus sum over partners of +-J/2.
        std::vector<double> firstOrder;
        for (int k = 0; k < n; ++k)
            for (int signs = 0; signs < (1 << n); ++signs) {
                double f = dv * k;
                for (const SpinPair& p : pairs)
                    if (p.i == k || p.j == k)
                        f += ((signs >> (p.i == k ? p.j : p.i)) & 1 ? 0.5 : -0.5) * p.jHz;
                firstOrder.push_back(f);
            }
        // The integrated intensity of each spin's multiplet (x magnetisation 1 on every spin).
        for (int k = 0; k < n; ++k) {
            double integral = 0.0;
            for (const TransitionLine& l : lines)
                if (std::abs(l.frequencyHz - dv * k) < dv / 2)
                    integral += l.amplitude.real();
            EXPECT_NEAR(integral, 1.0, 2.0 * largestJ / dv) << n << " spins, spin " << k;
        }
        for (const TransitionLine& l : lines) {
            double nearest = 1e300;
            for (double f : firstOrder)
                nearest = std::min(nearest, std::abs(l.frequencyHz - f));
            EXPECT_LT(nearest, largestJ * largestJ / dv) << n << " spins, line at " << l.frequencyHz;
        }
    }
}

}  // namespace
}  // namespace velmora::engine
