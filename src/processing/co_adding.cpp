// Co-adding runs in groups.
#include "processing/co_adding.h"

#include "util/rounding.h"

#include <vector>

namespace velmora::processing {

CoAddedSize coAddRuns(engine::SampleRecord& record, int pointCount, int lastRun, int arraySize, int groupSize)
{
    if (groupSize < 2)
        return {lastRun, arraySize};
    const int G = groupSize;
    const CoAddedSize size{util::roundToInt(static_cast<double>(lastRun) / G),
                           util::roundToInt(static_cast<double>(arraySize) / G)};
    const int lastGroup = lastRun / G;
    // The sums go to a side buffer first: group g lands on run g, which a later group still reads.
    const auto values = static_cast<std::size_t>(pointCount) * 3;
    std::vector<double> sums(values * static_cast<std::size_t>(lastGroup + 1), 0.0);
    for (int r = 0; r <= lastRun; ++r)
        for (int c = 1; c <= 3; ++c)
            for (int i = 1; i <= pointCount; ++i)
                sums[static_cast<std::size_t>(r / G) * values + static_cast<std::size_t>(c - 1) * pointCount +
                     static_cast<std::size_t>(i - 1)] += record.at(c, i, r);
    for (int g = 0; g <= size.lastRun && g <= lastRun; ++g)
        for (int c = 1; c <= 3; ++c)
            for (int i = 1; i <= pointCount; ++i)
                record.at(c, i, g) =
                    g <= lastGroup
                        ? sums[static_cast<std::size_t>(g) * values +
                               static_cast<std::size_t>(c - 1) * pointCount + static_cast<std::size_t>(i - 1)]
                        : 0.0;
    return size;
}

}  // namespace velmora::processing
