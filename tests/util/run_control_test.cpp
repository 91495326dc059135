#include "util/run_control.h"

#include <gtest/gtest.h>

namespace velmora::util {
namespace {

TEST(RunControl, AStopBetweenTheClaimAndTheStartIsKeptForTheRun)
{
    RunControl control;
    ASSERT_TRUE(control.claim());
    control.stop();
    EXPECT_TRUE(control.tryStart()) << "the claimed run is accepted";
    EXPECT_FALSE(control.running()) << "and starts stopped";
    EXPECT_TRUE(control.claim()) << "the flag is free for the next run";
    EXPECT_TRUE(control.tryStart());
    EXPECT_TRUE(control.running()) << "a claim not stopped starts running";
    EXPECT_FALSE(control.claim()) << "no claim while a run is in progress";
}

}  // namespace
}  // namespace velmora::util
