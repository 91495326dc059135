// A measured FID read into the record.
#include "processing/experimental_data.h"

#include "pulses/numeric_table.h"

#include <algorithm>
#include <cmath>

namespace velmora::processing {

bool loadExperimentalData(engine::SampleRecord& record, int pointCount, int lastRun,
                          const std::filesystem::path& path, util::Messages& messages)
{
    pulses::NumericBuffer buffer;
    const pulses::NumericReadResult read = readNumericTable({.path = path}, buffer, messages);
    if (!read.fileFound)
        return false;  // the reader said "check the address"
    const int samples = std::min(read.nextRow, pointCount);
    bool anySignal = false;  // a line without numbers reads as zeros: an all-zero table holds no FID
    for (int row = 0; row < samples; ++row)
        anySignal = anySignal || buffer.at(row, 0) != 0.0 || buffer.at(row, 1) != 0.0;
    if (!anySignal) {
        messages.show("\"Load experimental data:\" found no sample in " + path.string() +
                          ": each data line must hold the real and the imaginary part of one sample.",
                      "Error!");
        return false;
    }
    for (int row = 0; row < samples; ++row) {
        if (!std::isfinite(buffer.at(row, 0)) || !std::isfinite(buffer.at(row, 1))) {
            messages.show(
                "\"Load experimental data:\" found a value that is not a finite number on data line " +
                    std::to_string(row + 1) + " of " + path.string() + ".",
                "Error!");
            return false;
        }
    }
    for (int r = 0; r <= lastRun; ++r)
        for (int k = 1; k <= pointCount; ++k) {
            const bool measured = k <= samples;
            record.at(1, k, r) = measured ? buffer.at(k - 1, 0) : 0.0;
            record.at(2, k, r) = measured ? buffer.at(k - 1, 1) : 0.0;
            record.at(3, k, r) = 0.0;
        }
    return true;
}

}  // namespace velmora::processing
