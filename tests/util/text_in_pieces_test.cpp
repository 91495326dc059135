// Lines written in pieces on several threads against the same lines built on one.
#include "support/scratch_directory.h"
#include "util/text_in_pieces.h"
#include "util/work_pool.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::util {
namespace {

namespace fs = std::filesystem;
using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

TEST(TextInPieces, TheFileIsTheSameOnAnyNumberOfThreads)
{
    // Lines of unequal length, some far longer than a piece, so pieces differ in size and buffers grow.
    const auto line = [](int i, TextBuffer& out) {
        out.append(std::to_string(i));
        out.append(std::string(static_cast<std::size_t>(i % 331 == 0 ? 300000 : i % 7), 'x'));
        out.append("\r\n");
    };
    std::string expected = "head\r\n";
    for (int i = 0; i < 2001; ++i) {
        TextBuffer one;
        line(i, one);
        expected += one.view();
    }
    const auto lines = [&](int first, int end, TextBuffer& out) {
        for (int i = first; i < end; ++i)
            line(i, out);
    };
    const ScratchDirectory dir;
    for (const int threads : {1, 2, 3}) {
        WorkPool pool(threads);
        const fs::path file = dir.path() / ("table" + std::to_string(threads) + ".tsv");
        ASSERT_TRUE(writeLines(pool, file, "head\r\n", 2001, 8, lines).ok());
        EXPECT_EQ(readBytes(file), expected) << threads << " threads";
        ASSERT_TRUE(writeLines(pool, file, "head\r\n", 0, 8, lines).ok());
        EXPECT_EQ(readBytes(file), "head\r\n");
    }
}

TEST(TextInPieces, ALineThatFailsLeavesTheOldFileAndNoTemporary)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("map2d.tsv", "old\r\n");
    for (const int threads : {1, 2}) {
        WorkPool pool(threads);
        // A failure early on: the pieces after it must not wait for it for ever.
        EXPECT_THROW((void)writeLines(pool, file, "head\r\n", 500, 8,
                                      [](int first, int end, TextBuffer& out) {
                                          for (int i = first; i < end; ++i) {
                                              if (i == 3)
                                                  throw std::runtime_error("no memory for this line");
                                              out.append("line\r\n");
                                          }
                                      }),
                     std::runtime_error);
        EXPECT_EQ(readBytes(file), "old\r\n");
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir.path()))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"map2d.tsv"}) << threads << " threads";
    }
}

}  // namespace
}  // namespace velmora::util
