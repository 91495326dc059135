// The two calculators of the pulse-tools area: the pulse calibration table (RF power in dB, length
// of a 90-degree pulse in microseconds, RF field strength in Hz) and the Ernst-angle table
// (excitation angle in degrees, repetition time TR in ms, T1 in ms). Each works on the texts of its
// three boxes: editing one box recomputes the other two. Pure functions, so the window only copies
// texts in and out.
#pragma once

#include <optional>
#include <string>

namespace velmora::pulses {

// Pulse calibration table, boxes 0..2 of the pulse-tools row (Text10(0..2)).
struct CalibrationBoxes {
    std::string powerDb;  // RF power, dB
    std::string pulseUs;  // length of a 90-degree pulse, microseconds
    std::string fieldHz;  // RF field strength w1, Hz
};

inline constexpr int kPowerBox = 0;
inline constexpr int kPulseBox = 1;
inline constexpr int kFieldBox = 2;

// The boxes after box `box` (kPowerBox, kPulseBox or kFieldBox) was edited: the edited box as
// typed, the other two recomputed with the engine's power law (a 90-degree pulse lasts 5 us at
// 60 dB, 6 dB doubling the field). The power and the pulse computed from the power are written
// "#0.00", the field and the pulse computed from the field "#0.0".
// nullopt, meaning every box stays as it is, when the edited text is not a number, when the result
// is undefined (a pulse or a field of 0) or not finite, or when `box` is not one of the three.
std::optional<CalibrationBoxes> onCalibrationEdited(int box, const CalibrationBoxes& boxes);

// Ernst-angle table, boxes 3..5 of the pulse-tools row (Text10(3..5)), indexed here 0..2.
struct ErnstBoxes {
    std::string angle;  // excitation angle, degrees
    std::string trMs;   // repetition time TR, ms
    std::string t1Ms;   // longitudinal relaxation time T1, ms
};

inline constexpr int kAngleBox = 0;
inline constexpr int kRepetitionTimeBox = 1;
inline constexpr int kT1Box = 2;

// The boxes after box `box` (kAngleBox, kRepetitionTimeBox or kT1Box) was edited, from the Ernst
// condition cos(angle) = exp(-TR / T1), results written "#0.00":
// - the angle edited: TR := -T1 ln(cos(angle));
// - TR or T1 edited: angle := arccos(exp(-TR / T1)) in degrees.
// nullopt, meaning every box stays as it is, when the edited text or the other input it needs is
// not a number, or when the condition has no sound solution: an angle outside (0, 90) degrees,
// T1 <= 0, TR <= 0 (TR = 0 gives an angle of 0, a negative TR a cosine above 1), or when `box` is
// not one of the three.
std::optional<ErnstBoxes> onErnstEdited(int box, const ErnstBoxes& boxes);

}  // namespace velmora::pulses
