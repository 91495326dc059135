// The exact strong-coupling path: Zeeman-basis Hamiltonian, its eigensystem, propagation and the
// acquisition's transition lines.
#include "engine/strong_coupling.h"

#include "engine/operator_basis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>

namespace velmora::engine {

namespace {

using Complex = std::complex<double>;
constexpr double kTwoPi = 6.28318530717958;
// Eigensystems kept per thread; a run with more distinct Hamiltonians (slices under a gradient)
// starts the cache afresh when it is full, which changes the time taken, never the result.
constexpr std::size_t kCachedHamiltonians = 256;

std::size_t at(int i)
{
    return static_cast<std::size_t>(i);
}

// m = +1/2 for alpha (bit clear), -1/2 for beta.
double zQuantum(int state, int spin)
{
    return ((state >> spin) & 1) != 0 ? -0.5 : 0.5;
}

// Matrix element <a|H|b> for a, b in one block.
double hamiltonianElement(const ZeemanHamiltonian& h, int a, int b)
{
    const int n = h.spinCount;
    if (a == b) {
        double e = 0.0;
        for (int k = 0; k < n; ++k)
            e += h.offsetRadPerS[at(k)] * zQuantum(a, k);
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                e += kTwoPi * h.couplingHz[at(i)][at(j)] * zQuantum(a, i) * zQuantum(a, j);
        return e;
    }
    // The flip-flop term pi J (I+S- + I-S+) joins states that differ by exchanging one alpha and
    // one beta between spins i and j.
    const int diff = a ^ b;
    for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
            if (diff != ((1 << i) | (1 << j)))
                continue;
            if (((a >> i) & 1) == ((a >> j) & 1) || h.full[at(i)][at(j)] == 0)
                return 0.0;
            return 0.5 * kTwoPi * h.couplingHz[at(i)][at(j)];
        }
    }
    return 0.0;
}

}  // namespace

ZeemanHamiltonian zeemanHamiltonian(const SpinTables& spins, std::span<const double> offsetRadPerS,
                                    bool strongCoupling)
{
    if (spins.count < 1 || spins.count > kMaxSpins || offsetRadPerS.size() < at(spins.count))
        throw std::invalid_argument("a Zeeman Hamiltonian needs 1 to 10 spins and an offset for each");
    ZeemanHamiltonian h;
    h.spinCount = spins.count;
    for (int k = 0; k < spins.count; ++k) {
        // An inactive spin is a class of its own: nothing moves its polarisation.
        h.nucleus[at(k)] = spins.active(k) ? spins.channel[at(k)] : kRfChannelCount + k;
        h.offsetRadPerS[at(k)] = spins.active(k) ? offsetRadPerS[at(k)] : 0.0;
    }
    for (int i = 0; i < spins.count; ++i) {
        for (int j = i + 1; j < spins.count; ++j) {
            if (!spins.active(i) || !spins.active(j))
                continue;
            h.couplingHz[at(i)][at(j)] = spins.couplingHz[at(i)][at(j)];
            h.full[at(i)][at(j)] = strongCoupling && spins.channel[at(i)] == spins.channel[at(j)] ? 1 : 0;
        }
    }
    return h;
}

void symmetricEigenJacobi(std::vector<double>& a, int n, std::vector<double>& values, std::vector<double>& v)
{
    const auto m = at(n);
    v.assign(m * m, 0.0);
    for (std::size_t i = 0; i < m; ++i)
        v[i * m + i] = 1.0;
    const auto el = [&](std::vector<double>& x, std::size_t r, std::size_t c) -> double& {
        return x[r * m + c];
    };
    double scale = 0.0;
    for (double x : a)
        scale = std::max(scale, std::abs(x));
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0;
        for (std::size_t p = 0; p < m; ++p)
            for (std::size_t q = p + 1; q < m; ++q)
                off = std::max(off, std::abs(el(a, p, q)));
        if (off <= 1e-15 * scale || off == 0.0)
            break;
        for (std::size_t p = 0; p < m; ++p) {
            for (std::size_t q = p + 1; q < m; ++q) {
                const double apq = el(a, p, q);
                if (apq == 0.0)
                    continue;
                // The rotation J (c at pp and qq, s at pq, -s at qp) with tan phi = t zeroes a_pq in
                // J^T A J: cot 2 phi = (a_qq - a_pp) / (2 a_pq).
                const double theta = (el(a, q, q) - el(a, p, p)) / (2.0 * apq);
                const double t =
                    (theta >= 0.0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double s = t * c;
                for (std::size_t k = 0; k < m; ++k) {
                    const double akp = el(a, k, p);
                    const double akq = el(a, k, q);
                    el(a, k, p) = c * akp - s * akq;
                    el(a, k, q) = s * akp + c * akq;
                }
                for (std::size_t k = 0; k < m; ++k) {
                    const double apk = el(a, p, k);
                    const double aqk = el(a, q, k);
                    el(a, p, k) = c * apk - s * aqk;
                    el(a, q, k) = s * apk + c * aqk;
                }
                el(a, p, q) = 0.0;
                el(a, q, p) = 0.0;
                for (std::size_t k = 0; k < m; ++k) {
                    const double vkp = el(v, k, p);
                    const double vkq = el(v, k, q);
                    el(v, k, p) = c * vkp - s * vkq;
                    el(v, k, q) = s * vkp + c * vkq;
                }
            }
        }
    }
    values.resize(m);
    for (std::size_t i = 0; i < m; ++i)
        values[i] = el(a, i, i);
}

void symmetricEigen(std::vector<double>& a, int n, std::vector<double>& values, std::vector<double>& vectors)
{
    const auto m = at(n);
    const auto el = [&](std::size_t r, std::size_t c) -> double& { return a[r * m + c]; };
    std::vector<double>& d = values;
    std::vector<double> e(m, 0.0);
    d.assign(m, 0.0);
    // Householder reduction to tridiagonal form; `a` ends as the orthogonal matrix of the reduction.
    // A row whose part left of the diagonal is zero is left alone, so a diagonal matrix stays as it is.
    for (std::size_t i = m; i-- > 1;) {
        const std::size_t l = i - 1;
        double h = 0.0;
        if (l > 0) {
            double scale = 0.0;
            for (std::size_t k = 0; k <= l; ++k)
                scale += std::abs(el(i, k));
            if (scale == 0.0) {
                e[i] = el(i, l);
            } else {
                for (std::size_t k = 0; k <= l; ++k) {
                    el(i, k) /= scale;
                    h += el(i, k) * el(i, k);
                }
                double f = el(i, l);
                double g = f >= 0.0 ? -std::sqrt(h) : std::sqrt(h);
                e[i] = scale * g;
                h -= f * g;
                el(i, l) = f - g;
                f = 0.0;
                for (std::size_t j = 0; j <= l; ++j) {
                    el(j, i) = el(i, j) / h;
                    g = 0.0;
                    for (std::size_t k = 0; k <= j; ++k)
                        g += el(j, k) * el(i, k);
                    for (std::size_t k = j + 1; k <= l; ++k)
                        g += el(k, j) * el(i, k);
                    e[j] = g / h;
                    f += e[j] * el(i, j);
                }
                const double hh = f / (h + h);
                for (std::size_t j = 0; j <= l; ++j) {
                    f = el(i, j);
                    e[j] = g = e[j] - hh * f;
                    for (std::size_t k = 0; k <= j; ++k)
                        el(j, k) -= f * e[k] + g * el(i, k);
                }
            }
        } else {
            e[i] = el(i, l);
        }
        d[i] = h;
    }
    d[0] = 0.0;
    e[0] = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        if (d[i] != 0.0) {
            for (std::size_t j = 0; j < i; ++j) {
                double g = 0.0;
                for (std::size_t k = 0; k < i; ++k)
                    g += el(i, k) * el(k, j);
                for (std::size_t k = 0; k < i; ++k)
                    el(k, j) -= g * el(k, i);
            }
        }
        d[i] = el(i, i);
        el(i, i) = 1.0;
        for (std::size_t j = 0; j < i; ++j)
            el(j, i) = el(i, j) = 0.0;
    }
    // Implicit QL with shifts on the tridiagonal (d, e), turning the columns of `a` alike.
    for (std::size_t i = 1; i < m; ++i)
        e[i - 1] = e[i];
    if (m > 0)
        e[m - 1] = 0.0;
    for (std::size_t l = 0; l < m; ++l) {
        int iterations = 0;
        std::size_t mm = l;
        do {
            for (mm = l; mm + 1 < m; ++mm) {
                const double dd = std::abs(d[mm]) + std::abs(d[mm + 1]);
                if (std::abs(e[mm]) <= std::numeric_limits<double>::epsilon() * dd)
                    break;
            }
            if (mm == l)
                break;
            if (++iterations > 100)
                throw std::runtime_error("the eigenvalues of a Hamiltonian block did not converge");
            double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
            double r = std::hypot(g, 1.0);
            g = d[mm] - d[l] + e[l] / (g + (g >= 0.0 ? r : -r));
            double s = 1.0;
            double c = 1.0;
            double p = 0.0;
            bool underflow = false;
            for (std::size_t i = mm; i-- > l;) {
                double f = s * e[i];
                const double b = c * e[i];
                e[i + 1] = (r = std::hypot(f, g));
                if (r == 0.0) {
                    d[i + 1] -= p;
                    e[mm] = 0.0;
                    underflow = true;
                    break;
                }
                s = f / r;
                c = g / r;
                g = d[i + 1] - p;
                r = (d[i] - g) * s + 2.0 * c * b;
                d[i + 1] = g + (p = s * r);
                g = c * r - b;
                for (std::size_t k = 0; k < m; ++k) {
                    f = el(k, i + 1);
                    el(k, i + 1) = s * el(k, i) + c * f;
                    el(k, i) = c * el(k, i) - s * f;
                }
            }
            if (underflow)
                continue;
            d[l] -= p;
            e[l] = g;
            e[mm] = 0.0;
        } while (true);
    }
    vectors = a;
}

ZeemanEigensystem diagonalize(const ZeemanHamiltonian& h)
{
    ZeemanEigensystem e;
    e.spinCount = h.spinCount;
    const int dim = 1 << h.spinCount;
    e.blockOf.assign(at(dim), 0);
    e.positionOf.assign(at(dim), 0);
    // Block key: the number of beta spins of each class (nucleus, or an inactive spin alone).
    std::map<std::vector<int>, int> keys;
    for (int s = 0; s < dim; ++s) {
        std::vector<int> key(at(kRfChannelCount + kSpinSlots), 0);
        for (int k = 0; k < h.spinCount; ++k)
            key[at(h.nucleus[at(k)])] += (s >> k) & 1;
        const auto [it, inserted] = keys.emplace(key, static_cast<int>(e.blocks.size()));
        if (inserted)
            e.blocks.emplace_back();
        ZeemanEigensystem::Block& block = e.blocks[at(it->second)];
        e.blockOf[at(s)] = it->second;
        e.positionOf[at(s)] = static_cast<int>(block.states.size());
        block.states.push_back(s);
    }
    std::vector<double> matrix;
    for (ZeemanEigensystem::Block& block : e.blocks) {
        const int n = static_cast<int>(block.states.size());
        matrix.assign(at(n) * at(n), 0.0);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                matrix[at(r) * at(n) + at(c)] =
                    hamiltonianElement(h, block.states[at(r)], block.states[at(c)]);
        symmetricEigen(matrix, n, block.energies, block.vectors);
    }
    return e;
}

const ZeemanEigensystem& ExactEvolution::eigensystem(const ZeemanHamiltonian& h)
{
    for (const Entry& entry : cache_)
        if (entry.hamiltonian == h)
            return entry.eigen;
    if (cache_.size() >= kCachedHamiltonians)
        cache_.clear();
    cache_.push_back({h, diagonalize(h)});
    return cache_.back().eigen;
}

void ExactEvolution::evolve(std::span<double> row, const ZeemanHamiltonian& h, double seconds,
                            const NucleusOffsets& common)
{
    if (seconds == 0.0)
        return;
    if (rho_.spinCount() != h.spinCount)
        rho_.resize(h.spinCount);
    toZeemanDensity(row, rho_, scratch_);
    const ZeemanEigensystem& eigen = eigensystem(h);
    // The common offsets' energy of each block: every state of a block has the same m per nucleus.
    blockShift_.assign(eigen.blocks.size(), 0.0);
    for (std::size_t b = 0; b < eigen.blocks.size(); ++b) {
        const int state = eigen.blocks[b].states.front();
        for (int k = 0; k < h.spinCount; ++k) {
            const int nucleus = h.nucleus[at(k)];
            if (nucleus < kRfChannelCount)  // inactive spins are classes of their own: no offset
                blockShift_[b] += common[at(nucleus)] * zQuantum(state, k);
        }
    }
    for (std::size_t bl = 0; bl < eigen.blocks.size(); ++bl) {
        const ZeemanEigensystem::Block& left = eigen.blocks[bl];
        const std::size_t nl = left.states.size();
        for (std::size_t br = 0; br < eigen.blocks.size(); ++br) {
            const ZeemanEigensystem::Block& right = eigen.blocks[br];
            const std::size_t nr = right.states.size();
            const double shift = blockShift_[bl] - blockShift_[br];
            block_.resize(nl * nr);
            work_.resize(nl * nr);
            bool any = false;
            for (std::size_t i = 0; i < nl; ++i) {
                for (std::size_t j = 0; j < nr; ++j) {
                    const Complex x = rho_.at(left.states[i], right.states[j]);
                    block_[i * nr + j] = x;
                    any = any || x != Complex{};
                }
            }
            if (!any)
                continue;
            // Into the eigenbases: work = V_l^T block, block = work V_r.
            for (std::size_t i = 0; i < nl; ++i)
                for (std::size_t j = 0; j < nr; ++j) {
                    Complex sum{};
                    for (std::size_t k = 0; k < nl; ++k)
                        sum += left.vector(k, i) * block_[k * nr + j];
                    work_[i * nr + j] = sum;
                }
            for (std::size_t i = 0; i < nl; ++i)
                for (std::size_t j = 0; j < nr; ++j) {
                    Complex sum{};
                    for (std::size_t k = 0; k < nr; ++k)
                        sum += work_[i * nr + k] * right.vector(k, j);
                    // Coherence between eigenstates i and j turns by -(E_i - E_j) t.
                    const double angle = -(left.energies[i] - right.energies[j] + shift) * seconds;
                    block_[i * nr + j] = sum * Complex{std::cos(angle), std::sin(angle)};
                }
            // Back: work = V_l block, rho = work V_r^T.
            for (std::size_t i = 0; i < nl; ++i)
                for (std::size_t j = 0; j < nr; ++j) {
                    Complex sum{};
                    for (std::size_t k = 0; k < nl; ++k)
                        sum += left.vector(i, k) * block_[k * nr + j];
                    work_[i * nr + j] = sum;
                }
            for (std::size_t i = 0; i < nl; ++i)
                for (std::size_t j = 0; j < nr; ++j) {
                    Complex sum{};
                    for (std::size_t k = 0; k < nr; ++k)
                        sum += work_[i * nr + k] * right.vector(j, k);
                    rho_.at(left.states[i], right.states[j]) = sum;
                }
        }
    }
    fromZeemanDensity(rho_, row, scratch_);
}

void evolveReference(std::span<double> row, const ZeemanHamiltonian& h, double seconds)
{
    const ZeemanEigensystem eigen = diagonalize(h);
    const int dim = 1 << h.spinCount;
    const auto d = at(dim);
    // U = sum over eigenvectors v of exp(-i E t) v v^T.
    std::vector<Complex> u(d * d, Complex{});
    for (const ZeemanEigensystem::Block& b : eigen.blocks) {
        const std::size_t n = b.states.size();
        for (std::size_t e = 0; e < n; ++e) {
            const Complex phase{std::cos(-b.energies[e] * seconds), std::sin(-b.energies[e] * seconds)};
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t j = 0; j < n; ++j)
                    u[at(b.states[i]) * d + at(b.states[j])] += phase * b.vector(i, e) * b.vector(j, e);
        }
    }
    ZeemanDensity rho(h.spinCount);
    toZeemanDensityReference(row, rho);
    std::vector<Complex> ur(d * d, Complex{});
    for (std::size_t i = 0; i < d; ++i)
        for (std::size_t k = 0; k < d; ++k)
            for (std::size_t j = 0; j < d; ++j)
                ur[i * d + j] += u[i * d + k] * rho.at(static_cast<int>(k), static_cast<int>(j));
    for (std::size_t i = 0; i < d; ++i)
        for (std::size_t j = 0; j < d; ++j) {
            Complex sum{};
            for (std::size_t k = 0; k < d; ++k)
                sum += ur[i * d + k] * std::conj(u[j * d + k]);
            rho.at(static_cast<int>(i), static_cast<int>(j)) = sum;
        }
    fromZeemanDensityReference(rho, row);
}

std::vector<TransitionLine> transitionLines(std::span<const double> row, const SpinTables& spins, int channel,
                                            const ZeemanHamiltonian& h, ExactEvolution& cache,
                                            double minimumAmplitude)
{
    const int n = h.spinCount;
    const int dim = 1 << n;
    ZeemanDensity rho(n);
    std::vector<Complex> scratch;
    toZeemanDensity(row, rho, scratch);
    const ZeemanEigensystem& eigen = cache.eigensystem(h);
    std::vector<int> detected;
    for (int k = 0; k < n; ++k)
        if (spins.active(k) && spins.channel[at(k)] == channel)
            detected.push_back(k);
    std::vector<TransitionLine> lines;
    if (detected.empty())
        return lines;
    // Mx + i My = sum_k (X_k + i Y_k) = (4 / 2^N) Tr(rho F+), F+ = sum_k I(k)+; in the eigenbasis the
    // coherence rho_ab turns as exp(-i (E_a - E_b) t), so the pair (a, b) gives a line at
    // (E_b - E_a) / 2 pi Hz with amplitude (4 / 2^N) rho_ab <b|F+|a>.
    const double norm = 4.0 / dim;
    for (std::size_t ia = 0; ia < eigen.blocks.size(); ++ia) {
        const ZeemanEigensystem::Block& a = eigen.blocks[ia];
        // I(k)+ turns a beta of spin k into alpha: the block with one beta fewer on this channel.
        // Every state of a block has the same number of betas per nucleus, so any state with a
        // detected beta shows it.
        int target = -1;
        for (int s : a.states) {
            for (int k : detected) {
                if ((s >> k) & 1) {
                    target = eigen.blockOf[at(s & ~(1 << k))];
                    break;
                }
            }
            if (target >= 0)
                break;
        }
        if (target < 0)
            continue;
        const ZeemanEigensystem::Block& b = eigen.blocks[at(target)];
        const std::size_t na = a.states.size();
        const std::size_t nb = b.states.size();
        // rho between the blocks in the eigenbases: rt[i][j] = sum V_a[s][i] rho[s][s'] V_b[s'][j].
        std::vector<Complex> tmp(na * nb, Complex{});
        std::vector<Complex> rt(na * nb, Complex{});
        bool any = false;
        for (std::size_t s = 0; s < na; ++s)
            for (std::size_t j = 0; j < nb; ++j) {
                Complex sum{};
                for (std::size_t t = 0; t < nb; ++t)
                    sum += rho.at(a.states[s], b.states[t]) * b.vector(t, j);
                tmp[s * nb + j] = sum;
                any = any || sum != Complex{};
            }
        if (!any)
            continue;
        for (std::size_t i = 0; i < na; ++i)
            for (std::size_t j = 0; j < nb; ++j) {
                Complex sum{};
                for (std::size_t s = 0; s < na; ++s)
                    sum += a.vector(s, i) * tmp[s * nb + j];
                rt[i * nb + j] = sum;
            }
        // <b_j| I(k)+ |a_i> per detected spin.
        std::vector<std::vector<double>> raise(detected.size(), std::vector<double>(na * nb, 0.0));
        for (std::size_t d = 0; d < detected.size(); ++d) {
            const int k = detected[d];
            for (std::size_t s = 0; s < na; ++s) {
                const int state = a.states[s];
                if (((state >> k) & 1) == 0)
                    continue;
                const auto t = at(eigen.positionOf[at(state & ~(1 << k))]);
                for (std::size_t i = 0; i < na; ++i) {
                    const double vai = a.vector(s, i);
                    if (vai == 0.0)
                        continue;
                    for (std::size_t j = 0; j < nb; ++j)
                        raise[d][i * nb + j] += b.vector(t, j) * vai;
                }
            }
        }
        for (std::size_t i = 0; i < na; ++i) {
            for (std::size_t j = 0; j < nb; ++j) {
                double element = 0.0;
                double weight = 0.0;
                for (std::size_t d = 0; d < detected.size(); ++d) {
                    element += raise[d][i * nb + j];
                    weight += raise[d][i * nb + j] * raise[d][i * nb + j];
                }
                const Complex amplitude = norm * rt[i * nb + j] * element;
                if (!(std::abs(amplitude) > minimumAmplitude) || weight == 0.0)
                    continue;
                TransitionLine line;
                line.frequencyHz = (b.energies[j] - a.energies[i]) / kTwoPi;
                line.amplitude = amplitude;
                for (std::size_t d = 0; d < detected.size(); ++d)
                    line.spinShare[at(detected[d])] = raise[d][i * nb + j] * raise[d][i * nb + j] / weight;
                lines.push_back(line);
            }
        }
    }
    return lines;
}

}  // namespace velmora::engine
