// Blocks of the cache-line allocator: every one starts on a line, whatever its size and after the
// vector grows, and holds what was put in it.
#include "util/cache_aligned.h"

#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>

namespace velmora::util {
namespace {

bool onALine(const double* p)
{
    return reinterpret_cast<std::uintptr_t>(p) % kCacheLineBytes == 0;
}

TEST(CacheAlignedVector, EveryBlockStartsOnALineAndKeepsItsValuesAsItGrows)
{
    // From one value to a ten-spin row (8 MiB, a block malloc maps on its own).
    for (const std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, std::size_t{1} << 20}) {
        CacheAlignedVector<double> values(size);
        EXPECT_TRUE(onALine(values.data())) << size;
        for (std::size_t i = 0; i < size; ++i)
            values[i] = static_cast<double>(i);
        values.resize(2 * size + 1, -1.0);
        EXPECT_TRUE(onALine(values.data())) << size << " grown";
        EXPECT_EQ(values[size - 1], static_cast<double>(size - 1)) << size;
        EXPECT_EQ(values[2 * size], -1.0) << size;
    }
}

}  // namespace
}  // namespace velmora::util
