// The values a user may give a spin: a shift, a relaxation time or a coupling outside these is a
// slip of the keyboard (a shift of 1e30 ppm, a T2 of -5 ms), not an experiment, and is refused
// where it is typed (the nuclei window, Python's spin system) with the reason. Stored molecule
// files keep what they hold: the run's own checks see to those.
#pragma once

#include <optional>
#include <string>

namespace velmora::model {

enum class SpinValue { ShiftPpm, T1Ms, T2Ms, CouplingHz };

// Why `value` cannot be this spin value (the sentence after "the shift ..."), none when it can.
std::optional<std::string> spinValueProblem(SpinValue kind, double value);

}  // namespace velmora::model
