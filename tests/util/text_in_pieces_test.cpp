// Lines built in pieces on several threads against the same lines built on one.
#include "util/text_in_pieces.h"
#include "util/work_pool.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::util {
namespace {

std::string joined(const std::vector<std::string>& pieces)
{
    std::string text;
    for (const std::string& piece : pieces)
        text += piece;
    return text;
}

TEST(TextInPieces, TheTextIsTheSameOnAnyNumberOfThreads)
{
    // Lines of unequal length, so pieces differ in size.
    const auto line = [](int i, std::string& out) {
        out += std::to_string(i);
        out.append(static_cast<std::size_t>(i % 7), 'x');
        out += "\r\n";
    };
    std::string expected = "head\r\n";
    for (int i = 0; i < 1001; ++i)
        line(i, expected);
    for (const int threads : {1, 2, 3}) {
        WorkPool pool(threads);
        EXPECT_EQ(joined(buildLines(pool, "head\r\n", 1001, 8, line)), expected) << threads << " threads";
        EXPECT_EQ(joined(buildLines(pool, "head\r\n", 0, 8, line)), "head\r\n");
    }
}

}  // namespace
}  // namespace velmora::util
