#include "model/operator_choices.h"

#include <array>

namespace velmora::model {

namespace {

constexpr std::array<char, 3> kComponents = {'x', 'y', 'z'};

// "H0" + component for spin k: the group the preparation parses (letter, digit, component).
std::string group(const SpinSystem& spins, int k, char component)
{
    return std::string(1, spins.label(k).front()) + std::to_string(k) + component;
}

bool coupled(const SpinSystem& spins, int i, int j)
{
    return spins.couplingHz(i, j) != 0.0;
}

}  // namespace

std::vector<std::string> initialOperatorChoices(const SpinSystem& spins)
{
    const int n = spins.spinCount();
    std::vector<int> present;
    for (int k = 0; k < n && k < SpinSystem::kMaxSpins; ++k) {
        if (!spins.isEmpty(k))
            present.push_back(k);
    }

    std::vector<std::string> choices;
    for (int i : present) {
        for (char a : kComponents)
            choices.push_back(group(spins, i, a));
    }
    for (std::size_t p = 0; p < present.size(); ++p) {
        for (std::size_t q = p + 1; q < present.size(); ++q) {
            const int i = present[p];
            const int j = present[q];
            if (!coupled(spins, i, j))
                continue;
            for (char a : kComponents)
                for (char b : kComponents)
                    choices.push_back(group(spins, i, a) + group(spins, j, b));
        }
    }
    for (std::size_t p = 0; p < present.size(); ++p) {
        for (std::size_t q = p + 1; q < present.size(); ++q) {
            for (std::size_t r = q + 1; r < present.size(); ++r) {
                const int i = present[p];
                const int j = present[q];
                const int k = present[r];
                const int links =
                    int{coupled(spins, i, j)} + int{coupled(spins, j, k)} + int{coupled(spins, i, k)};
                if (links < 2)
                    continue;
                for (char a : kComponents)
                    for (char b : kComponents)
                        for (char c : kComponents)
                            choices.push_back(group(spins, i, a) + group(spins, j, b) + group(spins, k, c));
            }
        }
    }
    return choices;
}

}  // namespace velmora::model
