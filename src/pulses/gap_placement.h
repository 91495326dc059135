// Where the pulse elements of a gapped shaped pulse sit. A gapped pulse is cut into gaps of
// Np pulse elements (RF on) and Nd silent elements (RF off, the receiver may sample); each method
// keyword of the generator's "method" box names one way of placing them in every gap and of letting
// the sweep advance over them.
#pragma once

#include "util/uniform_random.h"

#include <optional>
#include <string_view>
#include <vector>

namespace velmora::pulses {

enum class GapMethod {
    Zv,        // "zv": pulse elements first, then the silent ones; the sweep runs on in the silences
    Step,      // "step": as "zv", but every gap holds the sweep's phase and amplitude of its first element
    Brok,      // "brok": as "zv", but the sweep stops in the silences (Ngap x Np sweep points)
    ZvRandom,  // "zv_rnd": the Np pulse elements at random places of each gap
    ZvCenter,  // "zv_center": the pulse elements in the middle, Nd/2 (rounded down) silent ones before
    Zvn,       // "zvn": silent elements first, then the pulse elements
    Zvnm,      // "zvnm": "zv" in even gaps, "zvn" in odd ones, so pulse blocks pair up across gaps
    Zvt,       // "zvt": pulse elements spread evenly over the gap, the last element a pulse element
    Zvtt,      // "zvtt": silent elements spread evenly over the gap, the last element a silent one
};

// The method of a keyword, without regard to case; none for an unknown keyword.
std::optional<GapMethod> gapMethodNamed(std::string_view keyword);

// Every keyword, in the order of GapMethod.
const std::vector<std::string_view>& gapMethodKeywords();

// Fills `pulseSlots` (resized to pulseCount + delayCount) with the places of gap `gap` (0-based)
// that carry RF: exactly pulseCount of them. "zv_rnd" draws from `random` (pulseCount draws per gap
// at most); the other methods do not touch it.
void placeInGap(GapMethod method, int gap, int pulseCount, int delayCount, util::UniformRandom& random,
                std::vector<bool>& pulseSlots);

}  // namespace velmora::pulses
