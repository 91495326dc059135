#include "pulses/gap_placement.h"

#include "util/text_compare.h"

#include <algorithm>
#include <numeric>

namespace velmora::pulses {

const std::vector<std::string_view>& gapMethodKeywords()
{
    static const std::vector<std::string_view> keywords = {"zv",  "step", "brok", "zv_rnd", "zv_center",
                                                           "zvn", "zvnm", "zvt",  "zvtt"};
    return keywords;
}

std::optional<GapMethod> gapMethodNamed(std::string_view keyword)
{
    const std::vector<std::string_view>& keywords = gapMethodKeywords();
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (util::equalsIgnoreCase(keyword, keywords[k]))
            return static_cast<GapMethod>(k);
    }
    return std::nullopt;
}

namespace {

// Slot j of a gap of `size` slots is one of `count` evenly spread ones when floor((j + 1) count / size)
// steps up there (a line drawn across the gap); the last slot is always one of them.
bool evenlySpread(int j, int count, int size)
{
    return static_cast<long long>(j + 1) * count / size > static_cast<long long>(j) * count / size;
}

}  // namespace

void placeInGap(GapMethod method, int gap, int pulseCount, int delayCount, util::UniformRandom& random,
                std::vector<bool>& pulseSlots)
{
    const int size = pulseCount + delayCount;
    pulseSlots.assign(static_cast<std::size_t>(size), false);
    const auto fill = [&](int first, int count) { std::fill_n(pulseSlots.begin() + first, count, true); };
    switch (method) {
    case GapMethod::Zv:
    case GapMethod::Step:
    case GapMethod::Brok:
        fill(0, pulseCount);
        return;
    case GapMethod::Zvn:
        fill(delayCount, pulseCount);
        return;
    case GapMethod::Zvnm:
        fill(gap % 2 == 0 ? 0 : delayCount, pulseCount);
        return;
    case GapMethod::ZvCenter:
        fill(delayCount / 2, pulseCount);
        return;
    case GapMethod::Zvt:
        for (int j = 0; j < size; ++j)
            pulseSlots[static_cast<std::size_t>(j)] = evenlySpread(j, pulseCount, size);
        return;
    case GapMethod::Zvtt:
        for (int j = 0; j < size; ++j)
            pulseSlots[static_cast<std::size_t>(j)] = !evenlySpread(j, delayCount, size);
        return;
    case GapMethod::ZvRandom: {
        // A uniform choice of pulseCount places: the first steps of a Fisher-Yates shuffle.
        std::vector<int> places(static_cast<std::size_t>(size));
        std::iota(places.begin(), places.end(), 0);
        for (int k = 0; k < pulseCount; ++k) {
            const int pick = k + std::min(static_cast<int>(random.next() * (size - k)), size - k - 1);
            std::swap(places[static_cast<std::size_t>(k)], places[static_cast<std::size_t>(pick)]);
            pulseSlots[static_cast<std::size_t>(places[static_cast<std::size_t>(k)])] = true;
        }
        return;
    }
    }
}

}  // namespace velmora::pulses
