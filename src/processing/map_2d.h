// The 2D map of a two-dimensional (States) run: the real direct-dimension spectra that the
// synthesis leaves per run are windowed and transformed along the indirect dimension, point by
// point of the direct dimension, into an np x np map of real intensities and its extremes.
#pragma once

#include "engine/run_records.h"
#include "util/messages.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora::processing {

// The extremes a build starts from before it sees any value.
inline constexpr double kMapMaximumStart = -1000000.0;
inline constexpr double kMapMinimumStart = 1000000.0;

struct Map2D {
    int pointCount = 0;          // np: indirect and direct frequency points
    std::vector<double> values;  // (indirect q, direct p) at q * np + p
    double maximum = kMapMaximumStart;
    double minimum = kMapMinimumStart;

    double at(int indirect, int direct) const { return values[index(indirect, direct)]; }
    double& at(int indirect, int direct) { return values[index(indirect, direct)]; }

private:
    std::size_t index(int indirect, int direct) const
    {
        return static_cast<std::size_t>(indirect) * static_cast<std::size_t>(pointCount) +
               static_cast<std::size_t>(direct);
    }
};

struct Map2DInput {
    // The synthesis' time-domain record of a 2D run: component c + 1 holds channel c's real
    // direct-dimension spectrum at points 1..np; runs 2k and 2k + 1 are the cosine and sine
    // halves of increment k.
    const engine::SampleRecord& timeDomain;
    util::Messages& messages;
    int pointCount = 256;  // np: direct points, and the indirect transform length (zero filled)
    int arraySize = 0;     // Ni: increments - 1
    int detectionChannel = 0;
    double lineBroadeningHz = 20.0;  // LB1 of the indirect window, taken at single precision
    double incrementMs = 1.0;        // the indirect dwell time t1 in ms
    // Indirect window: exactly "Gauss" gives exp(-k^2 a1^2), anything else exp(-k a1),
    // a1 = LB1 * t1 (t1 in s). The name is compared as it is: the indirect box holds "Gauss".
    std::string window = "Gauss";
    // Called before each direct point p = 0..np-1 is transformed (the window moves its progress mark).
    std::function<void(int directPoint)> progress{};
    // Threads that transform direct points side by side (the map does not depend on it).
    int threads = 1;
};

// Builds the map of the detection channel. For every direct point p the indirect signal
// re1[k] = T(d + 1, p + 1, 2k) w1[k], im1[k] = -T(d + 1, p + 1, 2k + 1) w1[k], k = 0..Ni, zero
// filled to np, is transformed forward; map(q, p) takes the real part with zero indirect frequency
// moved to q = np/2. The extremes start from -1e6 / +1e6 and see every stored value.
//
// Returns nullopt with a message when np is not a power of two from 2 to 65536 (the transform's
// message) or when the Ni + 1 increments do not fit in np indirect points. Throws
// std::invalid_argument when the detection channel is not 0..2 or the record lacks points or runs,
// and std::overflow_error when LB1 (taken at single precision) times t1 has no floating-point value.
std::optional<Map2D> buildMap2D(const Map2DInput& input);

}  // namespace velmora::processing
