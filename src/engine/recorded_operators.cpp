#include "engine/recorded_operators.h"

#include "engine/operator_basis.h"

namespace velmora::engine {

namespace {

constexpr int kDigitE = 0, kDigitX = 1, kDigitY = 2, kDigitZ = 3;

int digit(int index, int spin)
{
    return (index / kStride[spin]) % 4;
}

bool coupledTo(const SpinTables& spins, int i, int j)
{
    return j != i && spins.active(j) && spins.couplingHz[i][j] != 0.0;
}

// Every other spin is E, or z when it is an active coupling partner of the observed spin.
bool recordable(const SpinTables& spins, int index, int observed)
{
    for (int j = 0; j < spins.count; ++j) {
        if (j == observed)
            continue;
        const int d = digit(index, j);
        if (d == kDigitE)
            continue;
        if (d != kDigitZ || !coupledTo(spins, observed, j))
            return false;
    }
    return true;
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
    const int count = operatorCount(spins.count);
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
        for (int index = kStride[i]; index < count; ++index) {
            const int d = digit(index, i);
            if ((d != kDigitX && d != kDigitY) || !recordable(spins, index, i))
                continue;
            RecordedOperator entry{index, i, spins.channel[i], true, d == kDigitX ? 1 : -1, {}};
            expandMultiplet(spins, entry);
            list.push_back(std::move(entry));
        }
    }
    return list;
}

}  // namespace velmora::engine
