// Automatic phase correction of a one-dimensional spectrum: the zero- and first-order phases, in the
// units of the phase bars, that make the spectrum's lines absorptive. The phase is the one the
// display arrays apply (display_arrays.h): 10 lp degrees everywhere plus rp / 10 degrees per point
// away from point np/2 (points counted from 1), the spectrum multiplied by exp(-i phase).
#pragma once

#include <span>

namespace velmora::processing {

struct PhaseSetting {
    int rp = 0;  // first order, tenths of a degree per point, -360..360
    int lp = 0;  // zero order, tens of degrees, -18..18
};

// The phase setting with the most absorption and the least negative area: over every rp of the
// bar, the zero order that turns the spectrum's sum onto the real axis (rounded to the bar's steps
// of 10 degrees, both neighbours tried), scored as the sum of the phased real part less its
// negative area. Ties go to the smaller |rp|. All zero for an empty or silent spectrum.
// `real` and `imaginary` are the unphased spectrum, display points 1..np at indices 0..np-1.
PhaseSetting automaticPhase(std::span<const double> real, std::span<const double> imaginary);

// The real part of the spectrum phased by `phase`, summed over all points (the absorption), and the
// same sum with negative points counted twice (the score automaticPhase maximises).
struct PhasedArea {
    double absorption = 0.0;
    double score = 0.0;
};
PhasedArea phasedArea(std::span<const double> real, std::span<const double> imaginary, PhaseSetting phase);

}  // namespace velmora::processing
