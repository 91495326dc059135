// The phase of a complex amplitude, as the shaped-pulse generator takes it from summed elements:
// a four-quadrant arctangent, optionally unwrapped against the phase of the previous element.
#pragma once

namespace velmora::pulses {

// Phase of x + iy in radians, in (-pi, pi]: pi/2 or -pi/2 on the imaginary axis, 0 at the origin.
// With `unwrap` the result is moved by a whole number of half turns (pi) so that it lies within
// pi/2 of `previousRad`. The result is stored in `previousRad` either way. A previous phase that is
// not finite is not unwrapped against.
double complexPhase(double x, double y, double& previousRad, bool unwrap);

}  // namespace velmora::pulses
