// The excitation profile of a shaped pulse: one proton, no relaxation, taken through the step
// routine once per resonance offset, starting at equilibrium. What the pulse does to z and to the
// transverse magnetisation across a band of offsets.
#pragma once

#include "pulses/shape_table.h"

#include <span>
#include <vector>

namespace velmora::engine {

// Magnetisation after the pulse at one offset, relative to the equilibrium z magnetisation.
struct ProfilePoint {
    double offsetHz = 0.0;
    double mx = 0.0;
    double my = 0.0;
    double mz = 1.0;
};

// The pulse `shape` (points 1..L: phase in degrees, amplitude with 1023 = full, relative duration)
// lasting pulseUs microseconds at powerDb on the proton channel, applied as the one step of a
// sequence whose offset o1 is arrayed over offsetsHz.
std::vector<ProfilePoint> excitationProfile(const pulses::ShapeTable& shape, double pulseUs, double powerDb,
                                            std::span<const double> offsetsHz);

// The power in dB at which the full amplitude (1023) of a shaped pulse is a nutation of peakHz:
// at 60 dB the nutation is 50 kHz, and every 20 dB less a tenth of it.
double powerForNutationHz(double peakHz);

// Offsets in Hz from -bandHz / 2 to bandHz / 2, `count` of them evenly spread (0 alone for one).
std::vector<double> offsetsAcross(double bandHz, int count);

}  // namespace velmora::engine
