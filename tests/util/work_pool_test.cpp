// The work pool hands every piece out exactly once, also when calls follow one another at once (the
// workers then still spin from the call before) and after a piece has thrown.
#include "util/work_pool.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace velmora::util {
namespace {

TEST(WorkPool, EveryPieceOnceInCallsThatFollowAtOnceAndAfterAFailure)
{
    for (const int threads : {2, 3}) {
        WorkPool pool(threads);
        std::vector<int> done(17);
        for (int call = 0; call < 3000; ++call) {
            const int count = 1 + call % 17;
            std::fill(done.begin(), done.end(), 0);
            pool.run(count, [&](int piece, int worker) {
                ASSERT_LT(worker, threads);
                ++done[static_cast<std::size_t>(piece)];
            });
            for (int piece = 0; piece < count; ++piece)
                ASSERT_EQ(done[static_cast<std::size_t>(piece)], 1) << "call " << call << " piece " << piece;
            if (call % 500 == 0) {
                EXPECT_THROW(pool.run(8,
                                      [](int piece, int) {
                                          if (piece == 5)
                                              throw std::runtime_error("piece 5");
                                      }),
                             std::runtime_error);
            }
        }
    }
}

}  // namespace
}  // namespace velmora::util
