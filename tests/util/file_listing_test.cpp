// Listing the files of one extension in a directory: case-insensitive match, byte order, and
// quiet empty results for directories that cannot be listed.
#include "support/scratch_directory.h"
#include "util/file_listing.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::util {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ScratchDirectory;

using Names = std::vector<std::string>;

TEST(ListFilesWithExtension, MatchesTheExtensionWithoutRegardToCaseInByteOrder)
{
    const ScratchDirectory dir;
    for (const char* name :
         {"b.rf", "B.rf", "a.RF", "c.Rf", "x.tar.rf", "d.grd", "e.rf.bak", "rf", ".rf", "frf"})
        dir.writeBytes(name, "");
    fs::create_directory(dir.path() / "folder.rf");

    const Names expected = {"B.rf", "a.RF", "b.rf", "c.Rf", "x.tar.rf"};
    EXPECT_EQ(listFilesWithExtension(dir.path(), ".rf"), expected);
    EXPECT_EQ(listFilesWithExtension(dir.path(), ".RF"), expected);
    EXPECT_EQ(listFilesWithExtension(dir.path(), ".grd"), Names{"d.grd"});
    EXPECT_TRUE(listFilesWithExtension(dir.path(), ".mol").empty());
}

TEST(ListFilesWithExtension, DirectoriesThatCannotBeListedGiveNothing)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("plain.rf", "");

    EXPECT_TRUE(listFilesWithExtension(dir.path() / "missing", ".rf").empty());
    EXPECT_TRUE(listFilesWithExtension(file, ".rf").empty());
    EXPECT_TRUE(listFilesWithExtension(fs::path(), ".rf").empty());
}

TEST(IsBareFileName, OnlyNamesThatStayInTheirDirectory)
{
    EXPECT_TRUE(isBareFileName("pulse.RF"));
    EXPECT_TRUE(isBareFileName("..pulse"));
    EXPECT_FALSE(isBareFileName(""));
    EXPECT_FALSE(isBareFileName("."));
    EXPECT_FALSE(isBareFileName(".."));
    EXPECT_FALSE(isBareFileName("/etc/passwd"));
    EXPECT_FALSE(isBareFileName("../up.rf"));
    EXPECT_FALSE(isBareFileName("sub\\x.rf"));
    EXPECT_FALSE(isBareFileName(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace velmora::util
