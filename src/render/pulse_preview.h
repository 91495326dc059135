// The preview of a made shaped pulse: four panels, amplitude, phase and frequency against time and
// the excitation profile (z and transverse magnetisation against offset), each with its range.
#pragma once

#include "render/picture_box.h"
#include "workbench/pulse_preview_data.h"

namespace velmora::render {

// Panel colours: the curves of the time panels and the profile's z (blue) and |Mxy| (red).
inline constexpr int kPreviewTraceRgb = 0x000000;
inline constexpr int kPreviewZRgb = 0xFF0000;   // classic value: blue
inline constexpr int kPreviewXyRgb = 0x0000FF;  // classic value: red

// Draws `data` into `box` (cleared first), panels in a 2 x 2 grid: amplitude top left, phase top
// right, frequency bottom left, profile bottom right.
void drawPulsePreview(PictureBox& box, const workbench::PulsePreviewData& data);

}  // namespace velmora::render
