// Fuzz target: "Load experimental data:" into a record of a few runs. The first byte chooses the
// record's point count (1..64) and last run (0..3); the rest is the table. A refused table must
// leave the record as it was; a loaded one fills points 1..np of every run with finite samples.
#include "fuzz_input_file.h"
#include "processing/experimental_data.h"
#include "util/messages.h"

#include <cmath>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmora;
    if (size == 0)
        return 0;
    const int pointCount = 1 + (data[0] & 0x3f);
    const int lastRun = data[0] >> 6;
    const std::filesystem::path path = fuzz::writeInput("fid.dat", data + 1, size - 1);
    engine::SampleRecord record(pointCount, lastRun);
    for (int r = 0; r <= lastRun; ++r)
        for (int k = 1; k <= pointCount; ++k)
            for (int c = 1; c <= 3; ++c)
                record.at(c, k, r) = 0.25 * c + k + 100.0 * r;  // a marker to see a refusal change it
    const engine::SampleRecord before = record;
    util::RecordedMessages messages;
    const bool loaded = processing::loadExperimentalData(record, pointCount, lastRun, path, messages);
    if (!loaded && messages.entries.empty())
        std::abort();  // a refusal without a message
    for (int r = 0; r <= lastRun; ++r)
        for (int k = 1; k <= pointCount; ++k)
            for (int c = 1; c <= 3; ++c) {
                const double value = record.at(c, k, r);
                if (!loaded && value != before.at(c, k, r))
                    std::abort();  // a refusal changed the record
                if (loaded && (!std::isfinite(value) || (c == 3 && value != 0.0)))
                    std::abort();
            }
    return 0;
}
