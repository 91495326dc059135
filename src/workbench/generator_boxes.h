// The generator's boxes in the controls registry: the six shape boxes Check2(0..5), the number and
// keyword boxes Text4(0..15) and the output name Text3. Reads them into the generator's settings,
// refusing with a message that names the box, and keeps the first four shape boxes exclusive
// whether they are clicked in the window or set from the command line.
#pragma once

#include "model/controls.h"
#include "pulses/pulse_generator.h"

#include <optional>
#include <string>

namespace velmora::workbench {

namespace box {
inline constexpr model::ControlId FreqShift{"Text4", 0};
inline constexpr model::ControlId Phase{"Text4", 1};
inline constexpr model::ControlId GapCount{"Text4", 2};     // "Ngap"
inline constexpr model::ControlId PulsePerGap{"Text4", 3};  // "N pulse in gap"
inline constexpr model::ControlId DelayPerGap{"Text4", 4};  // "N delay in gap"
inline constexpr model::ControlId HsOrder{"Text4", 5};      // "n factor"
inline constexpr model::ControlId RValue{"Text4", 6};
inline constexpr model::ControlId Truncation{"Text4", 7};
inline constexpr model::ControlId ZerosAtEnd{"Text4", 8};  // "add zero at end"
inline constexpr model::ControlId Method{"Text4", 9};
inline constexpr model::ControlId SweepSign{"Text4", 10};
inline constexpr model::ControlId HarmonicsSource{"Text4", 11};  // "shape"
inline constexpr model::ControlId ZerosAtStart{"Text4", 12};     // "add zero at start"
inline constexpr model::ControlId Comment{"Text4", 13};          // "y" writes the header
inline constexpr model::ControlId SecondWeight{"Text4", 14};     // "ttt2=1     ttt1="
inline constexpr model::ControlId FrankRepeat{"Text4", 15};
inline constexpr model::ControlId OutputName{"Text3", 0};  // "Name"
inline constexpr int kShapeBoxes = 6;                      // Check2(0..5)
inline constexpr int kExclusiveShapeBoxes = 4;             // Check2(0..3) exclude one another
}  // namespace box

// The files the sum of two pulses adds: "ttt2.RF" + w1 x "ttt1.RF".
inline constexpr std::string_view kSumFirstFile = "ttt2.RF";
inline constexpr std::string_view kSumSecondFile = "ttt1.RF";

// A click on shape box Check2(index), after the box changed: ticking one of the first four clears
// the other three; the stripe and FM_sin boxes are left alone.
void onShapeBoxClicked(model::Controls& controls, int index);

// The shape the boxes choose: the last ticked box in the order Check2(0..5). When none is ticked the
// shape is "HSn pulse" and Check2(3) is ticked.
std::string chooseShape(model::Controls& controls);

struct BoxReading {
    std::optional<pulses::GeneratorSettings> settings;
    std::string outputName;     // Text3 + ".RF"
    std::string harmonicsFile;  // the box "shape" + ".RF": the source of the harmonics
    std::string error;          // names the box that was refused (settings empty)
};

// Reads every box, as "make pulse" does: chooses the shape, writes the default "0.001" into a
// truncation box that holds 0, and refuses a box that is no number, a count that is not a whole
// number of 0 or more, and a name that is empty or not a bare file name.
BoxReading readGeneratorBoxes(model::Controls& controls);

}  // namespace velmora::workbench
