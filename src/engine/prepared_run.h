// What the sequence preparation hands to the driver and the step routine: the run count and the
// arrayed value of every run, the loaded shapes, the acquisition's point count and oversampling,
// the rate limits, the initial operators and the settings of the run.
#pragma once

#include "engine/run_settings.h"
#include "pulses/shape_table.h"

#include <string>
#include <vector>

namespace velmora::engine {

inline constexpr int kNoAcquisitionShape = 256;

struct PreparedRun {
    int arraySize = 0;     // Ni: arrayed values - 1 (0 when nothing is arrayed)
    int runsPerValue = 1;  // 1 for Start, 2 for Start_2D
    int lastRun = 0;       // runs are 0..lastRun
    std::vector<double> arrayedValues;
    int arrayGroupSize = 0;  // array-from-file mode only

    int pointCount = 0;    // np
    int oversampling = 1;  // F: samples computed per acquired point
    int acquisitionShapeSlot = kNoAcquisitionShape;

    pulses::ShapeSlots pulseShapes;
    pulses::ShapeSlots gradientShapes;

    double fastestRate = 0.0;           // 1/s
    double elementLimitUs = 0.0;        // longest pulse element that still resolves the fastest rate
    std::vector<int> initialOperators;  // operator indices of a non-equilibrium start

    RunSettings settings;
};

}  // namespace velmora::engine
