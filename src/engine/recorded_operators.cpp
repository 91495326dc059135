#include "engine/recorded_operators.h"

#include "engine/operator_basis.h"

#include <algorithm>
#include <cstddef>

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

// The operators recorded for coupled spin i, in ascending index order: its x or y digit, every
// active coupling partner E or z, every other spin E (2 x 2^partners of the 4^n indices).
std::vector<int> recordableIndices(const SpinTables& spins, int i)
{
    std::vector<int> partners;
    for (int j = 0; j < spins.count; ++j) {
        if (coupledTo(spins, i, j))
            partners.push_back(j);
    }
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

// Folds the couplings of the observed spin into the entry, partner by partner in ascending order.
void expandMultiplet(const SpinTables& spins, RecordedOperator& entry)
{
    const int i = entry.spin;
    for (int j = 0; j < spins.count; ++j) {
        if (!coupledTo(spins, i, j))
            continue;
        const double jHz = spins.couplingHz[i][j];
        const bool partnerZ = digit(entry.operatorIndex, j) == kDigitZ;
        std::vector<MultipletComponent>& parts = entry.components;
        if (parts.empty()) {
            parts.push_back({partnerZ ? 2 * entry.kind : 1, jHz});
        } else {
            const std::size_t n = parts.size();
            parts.resize(2 * n);
            for (std::size_t m = 0; m < n; ++m) {
                MultipletComponent& first = parts[m];
                MultipletComponent& copy = parts[n + m];
                const int c = first.code;
                const double f = first.frequencyHz;
                if (!partnerZ) {
                    first = {c, f + jHz};
                    copy = {c, f - jHz};
                } else if (c == 1 || c == -1) {
                    first = {c * entry.kind * 2, f + jHz};
                    copy = {-c * entry.kind * 2, f - jHz};
                } else {
                    first = {c * entry.kind / 2, f - jHz};
                    copy = {-c * entry.kind / 2, f + jHz};
                }
            }
        }
        if (partnerZ)
            entry.kind = -entry.kind;
    }
}

}  // namespace

std::vector<RecordedOperator> buildRecordedOperators(const SpinTables& spins)
{
    std::vector<RecordedOperator> list;
    for (int i = 0; i < spins.count; ++i) {
        if (!spins.active(i))
            continue;
        bool coupled = false;
        for (int j = 0; j < spins.count; ++j)
            coupled = coupled || coupledTo(spins, i, j);
        if (!coupled) {
            list.push_back({kStride[i], i, spins.channel[i], false, 1, {}});
            list.push_back({kYDigit[i], i, spins.channel[i], false, -1, {}});
            continue;
        }
        for (const int index : recordableIndices(spins, i)) {
            const int d = digit(index, i);
            RecordedOperator entry{index, i, spins.channel[i], true, d == kDigitX ? 1 : -1, {}};
            expandMultiplet(spins, entry);
            list.push_back(std::move(entry));
        }
    }
    return list;
}

}  // namespace velmora::engine
