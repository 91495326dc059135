// Loading a measured FID into the record in place of the simulated one, to process it with the
// same chain: a numeric table whose columns 0 and 1 are the real and imaginary parts of one sample
// per data line, zero-filled or cut to the record's np points.
#pragma once

#include "engine/run_records.h"
#include "util/messages.h"

#include <filesystem>

namespace velmora::processing {

// Puts the samples of the table at `path` into points 1..np of every run. A missing file, a file
// without data lines or with a value that is not finite is refused with a message, the record
// unchanged; so is a table whose samples are all zero (lines without numbers read as zeros).
bool loadExperimentalData(engine::SampleRecord& record, int pointCount, int lastRun,
                          const std::filesystem::path& path, util::Messages& messages);

}  // namespace velmora::processing
