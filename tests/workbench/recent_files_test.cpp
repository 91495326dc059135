#include "support/scratch_directory.h"
#include "util/text_file.h"
#include "workbench/recent_files.h"

#include <gtest/gtest.h>

namespace velmora::workbench {
namespace {

using velmora::testing::ScratchDirectory;

TEST(RecentFilesTest, NewestFirstOnceEachAndNoLongerThanTheList)
{
    ScratchDirectory dir;
    const std::filesystem::path file = dir.path() / kRecentFilesName;
    {
        RecentFiles recent(file);
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(recent.note(dir.path() / ("m" + std::to_string(i) + ".mol")));
        ASSERT_TRUE(recent.note(dir.path() / "sub" / ".." / "m5.mol"));  // the same file again
        EXPECT_FALSE(recent.note(dir.path() / "notes.txt"));
    }
    const RecentFiles again(file);  // as the next session reads it
    ASSERT_EQ(again.paths().size(), RecentFiles::kLength);
    EXPECT_EQ(again.paths()[0], dir.path() / "m5.mol");
    EXPECT_EQ(again.paths()[1], dir.path() / "m9.mol");
    EXPECT_EQ(std::count(again.paths().begin(), again.paths().end(), dir.path() / "m5.mol"), 1);
}

TEST(RecentFilesTest, ADamagedListKeepsItsGoodLinesOnly)
{
    ScratchDirectory dir;
    const std::filesystem::path file = dir.path() / kRecentFilesName;
    const std::string good = (dir.path() / "cosy.psq").string();
    ASSERT_TRUE(util::writeWholeText(file, std::string("relative.mol\r\n\r\n") + std::string(5000, '\0') +
                                               "\r\n" + good + "\r\n/etc/passwd\r\n" + good + "\r\n"));
    const RecentFiles recent(file);
    ASSERT_EQ(recent.paths().size(), 1u);
    EXPECT_EQ(recent.paths()[0].string(), good);

    ASSERT_TRUE(util::writeWholeText(file, std::string(100000, 'x')));  // not a list at all
    EXPECT_TRUE(RecentFiles(file).paths().empty());
}

}  // namespace
}  // namespace velmora::workbench
