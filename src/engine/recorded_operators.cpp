#include "engine/recorded_operators.h"

#include "engine/operator_basis.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <stdexcept>

namespace velmora::engine {

namespace {

constexpr int kDigitX = 1, kDigitZ = 3;

int digit(int index, int spin)
{
    return (index / kStride[spin]) % 4;
}

bool coupledTo(const SpinTables& spins, int i, int j)
{
    return j != i && spins.active(j) && spins.couplingHz[i][j] != 0.0;
}

std::vector<int> partnersOf(const SpinTables& spins, int i)
{
    std::vector<int> partners;
    for (int j = 0; j < spins.count; ++j) {
        if (coupledTo(spins, i, j))
            partners.push_back(j);
    }
    return partners;
}

// The operators recorded for coupled spin i, in ascending index order: its x or y digit, every
// active coupling partner E or z, every other spin E (2 x 2^partners of the 4^n indices).
std::vector<int> recordableIndices(const std::vector<int>& partners, int i)
{
    std::vector<int> indices;
    const unsigned subsets = 1u << partners.size();
    indices.reserve(2 * subsets);
    for (unsigned zMask = 0; zMask < subsets; ++zMask) {
        int partnersZ = 0;
        for (std::size_t p = 0; p < partners.size(); ++p) {
            if ((zMask >> p) & 1u)
                partnersZ += kSpinMask[partners[p]];
        }
        indices.push_back(partnersZ + kStride[i]);
        indices.push_back(partnersZ + kYDigit[i]);
    }
    std::sort(indices.begin(), indices.end());
    return indices;
}

// A component while the multiplet is folded: its code and which partners after the first enter its
// frequency with -J (bit q - 1 for partner q).
struct Fold {
    int code = 1;
    unsigned minusPartners = 0;
};

// Folds the couplings of the observed spin into the entry, partner by partner in ascending order:
// a partner in E multiplies by cos(pi J t), one in z by sin(pi J t) and turns x into y. Returns the
// entry's kind after the folds; `parts` receives the 2^(partners - 1) components.
int expandMultiplet(const std::vector<int>& partners, int operatorIndex, int kind, std::vector<Fold>& parts)
{
    parts.clear();
    for (std::size_t q = 0; q < partners.size(); ++q) {
        const bool partnerZ = digit(operatorIndex, partners[q]) == kDigitZ;
        if (q == 0) {
            parts.push_back({partnerZ ? 2 * kind : 1, 0});
        } else {
            const unsigned minus = 1u << (q - 1);
            const std::size_t n = parts.size();
            parts.resize(2 * n);
            for (std::size_t m = 0; m < n; ++m) {
                const Fold first = parts[m];
                const int c = first.code;
                if (!partnerZ) {
                    parts[n + m] = {c, first.minusPartners | minus};
                } else if (c == 1 || c == -1) {
                    parts[m] = {c * kind * 2, first.minusPartners};
                    parts[n + m] = {-c * kind * 2, first.minusPartners | minus};
                } else {
                    parts[m] = {c * kind / 2, first.minusPartners | minus};
                    parts[n + m] = {-c * kind / 2, first.minusPartners};
                }
            }
        }
        if (partnerZ)
            kind = -kind;
    }
    return kind;
}

// Appends the 2^(partners - 1) frequencies J1 +- J2 +- ... of spin i, summed partner by partner in
// ascending order, at the index of their minus bits; returns the index of the first.
int addSpinFrequencies(const SpinTables& spins, const std::vector<int>& partners, int i,
                       RecordedOperators& list)
{
    int first = -1;
    const unsigned combinations = 1u << (partners.size() - 1);
    for (unsigned minus = 0; minus < combinations; ++minus) {
        double f = spins.couplingHz[i][partners[0]];
        for (std::size_t q = 1; q < partners.size(); ++q) {
            const double jHz = spins.couplingHz[i][partners[q]];
            f = ((minus >> (q - 1)) & 1u) != 0 ? f - jHz : f + jHz;
        }
        const int index = list.addFrequency(f);
        if (first < 0)
            first = index;
    }
    return first;
}

bool sameBits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

MultipletComponent RecordedOperators::component(const RecordedOperator& o, int m) const
{
    const PackedComponent p = components_[static_cast<std::size_t>(o.firstComponent + m)];
    return {p.code(), frequenciesHz_[static_cast<std::size_t>(p.frequency())]};
}

std::vector<MultipletComponent> RecordedOperators::components(const RecordedOperator& o) const
{
    std::vector<MultipletComponent> unpacked;
    unpacked.reserve(static_cast<std::size_t>(o.componentCount));
    for (int m = 0; m < o.componentCount; ++m)
        unpacked.push_back(component(o, m));
    return unpacked;
}

int RecordedOperators::addFrequency(double frequencyHz)
{
    if (frequenciesHz_.size() >= static_cast<std::size_t>(PackedComponent::kMostFrequencies))
        throw std::length_error("the recorded operators combine too many coupling frequencies");
    frequenciesHz_.push_back(frequencyHz);
    return static_cast<int>(frequenciesHz_.size()) - 1;
}

void RecordedOperators::addPacked(RecordedOperator entry, std::span<const PackedComponent> components)
{
    entry.firstComponent = static_cast<std::int32_t>(components_.size());
    entry.componentCount = static_cast<std::int32_t>(components.size());
    components_.insert(components_.end(), components.begin(), components.end());
    entries_.push_back(entry);
}

void RecordedOperators::add(RecordedOperator entry, std::span<const MultipletComponent> components)
{
    std::vector<PackedComponent> packed;
    packed.reserve(components.size());
    for (const MultipletComponent& m : components) {
        const auto found = std::find_if(frequenciesHz_.begin(), frequenciesHz_.end(),
                                        [&](double f) { return sameBits(f, m.frequencyHz); });
        const int index = found != frequenciesHz_.end() ? static_cast<int>(found - frequenciesHz_.begin())
                                                        : addFrequency(m.frequencyHz);
        packed.emplace_back(std::abs(m.code) != 1, m.code < 0, index);
    }
    addPacked(entry, packed);
}

void RecordedOperators::reserve(std::size_t entries, std::size_t components)
{
    entries_.reserve(entries);
    components_.reserve(components);
}

RecordedOperators buildRecordedOperators(const SpinTables& spins)
{
    // Sized before it is filled, so that the largest lists are not copied while they grow.
    std::size_t entries = 0, components = 0;
    for (int i = 0; i < spins.count; ++i) {
        if (!spins.active(i))
            continue;
        const std::size_t multiplet = std::size_t{1} << partnersOf(spins, i).size();
        entries += 2 * multiplet;
        components += multiplet > 1 ? multiplet * multiplet : 0;
    }
    RecordedOperators list;
    list.reserve(entries, components);

    std::vector<Fold> parts;
    std::vector<PackedComponent> packed;
    for (int i = 0; i < spins.count; ++i) {
        if (!spins.active(i))
            continue;
        const std::vector<int> partners = partnersOf(spins, i);
        if (partners.empty()) {
            list.addPacked({kStride[i], i, spins.channel[i], false, 1}, {});
            list.addPacked({kYDigit[i], i, spins.channel[i], false, -1}, {});
            continue;
        }
        const int firstFrequency = addSpinFrequencies(spins, partners, i, list);
        for (const int index : recordableIndices(partners, i)) {
            const int observed = digit(index, i) == kDigitX ? 1 : -1;
            const int kind = expandMultiplet(partners, index, observed, parts);
            packed.clear();
            for (const Fold& f : parts)
                packed.emplace_back(std::abs(f.code) != 1, f.code < 0,
                                    firstFrequency + static_cast<int>(f.minusPartners));
            list.addPacked({index, i, spins.channel[i], true, kind}, packed);
        }
    }
    return list;
}

}  // namespace velmora::engine
