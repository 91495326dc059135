// The sampled record in the synthesized sense of rotation.
#include "processing/sampled_record.h"

#include <algorithm>

namespace velmora::processing {

void presentSampledRecord(engine::SampleRecord& record, int pointCount)
{
    const int last = std::min(pointCount, record.lastSample());
    for (int r = 0; r <= record.lastRun(); ++r)
        for (int k = 1; k <= last; ++k)
            record.at(2, k, r) = -record.at(2, k, r);
}

}  // namespace velmora::processing
