// The sample cut into slices along the gradient axis: the weight of each slice from the object
// profile, the gradient factor of each spin in each slice, and the shift offsets of a step.
//
// Slices s = 0..S sit at positions s/S - 0.5, from -0.5 to +0.5 of the sample; each is one state row
// once a gradient has acted, and sees its own gradient offset.
#pragma once

#include "engine/spin_tables.h"

#include <span>
#include <string_view>
#include <vector>

namespace velmora::model {
class ElementTable;
struct SequenceStep;
}  // namespace velmora::model

namespace velmora::engine {

// Weights of slices 0..lastSlice (S + 1 values) for an object profile, normalised to sum 1:
//   "square" 1;  "gauss" exp(-(4 (s - S/2) / S)^2);
//   "shape1" 0.25, 0.5, 1, 0.5, 0.25 in the five fifths of 0..S;
//   "shape2" 1 for s < S/4, 0 for S/4 <= s <= S/2, 0.5 for s > S/2.
// Names compare without regard to case; any other text gives equal weights. A single slice
// (lastSlice = 0) carries the whole sample. Throws std::invalid_argument for lastSlice < 0.
std::vector<double> sliceWeights(std::string_view profile, int lastSlice);

// Position of slice s of 0..lastSlice along the gradient: s / S - 0.5, from -0.5 to +0.5; a single
// slice sits at 0.
double slicePosition(int slice, int lastSlice);

// Gradient factor of every spin in slice `slice`:
// G(k) = position * gradientValue * (gamma_k / 1e7) * 26.7519 / (2 pi),
// with gamma_k the nucleus constant. The step routine multiplies it by the gradient shape value
// g = -2 pi * (shape value / 32767) to get the gradient offset in rad/s. Writes spins.count values.
void gradientFactors(const SpinTables& spins, double gradientValue, int slice, int lastSlice,
                     std::span<double> factors);

// The gradient value of a step: its gradient reference resolved like a content code (-m names
// element m, or the arrayed value when element m is the arrayed parameter; 0 gives 0).
double stepGradientValue(const model::SequenceStep& step, const model::ElementTable& elements,
                         std::string_view arrayedName, double arrayedValue);

// Shift offset of every spin in rad/s for a step: omega(k) = -2 pi (nu(k) + o(k)), with nu(k) the
// chemical shift in Hz and o(k) the offset in Hz of the step's channel of the spin (its offset
// reference resolved like a content code; 0 means no offset). Writes spins.count values.
void shiftOffsets(const SpinTables& spins, const model::SequenceStep& step,
                  const model::ElementTable& elements, std::string_view arrayedName, double arrayedValue,
                  std::span<double> offsetsRadPerS);

}  // namespace velmora::engine
