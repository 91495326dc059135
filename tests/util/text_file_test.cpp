// Whole-file text output with CR LF line ends and its all-or-nothing replacement of the target,
// and line reading of CR LF and LF files.
#include "support/scratch_directory.h"
#include "util/text_file.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::util {
namespace {

namespace fs = std::filesystem;
using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

using Lines = std::vector<std::string>;

// Names of everything in a directory, to check that no temporary file is left behind.
std::vector<std::string> entriesOf(const fs::path& directory)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(WriteTextFile, EndsEveryLineWithCrLf)
{
    const ScratchDirectory dir;
    const fs::path file = dir.path() / "sequence.psq";
    const Lines lines = {"14,", "", "H,0.5,", "a\tb"};

    const Outcome outcome = writeTextFile(file, lines);

    ASSERT_TRUE(outcome.ok()) << outcome.message();
    EXPECT_EQ(readBytes(file), "14,\r\n\r\nH,0.5,\r\na\tb\r\n");
    const TextFileContent content = readTextLines(file);
    ASSERT_TRUE(content.ok) << content.error;
    EXPECT_EQ(content.lines, lines);
}

TEST(WriteTextFile, NoLinesGiveAnEmptyFile)
{
    const ScratchDirectory dir;
    const fs::path file = dir.path() / "empty.txt";

    ASSERT_TRUE(writeTextFile(file, {}).ok());

    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST(WriteTextFile, ReplacesTheWholeOldContentAndLeavesNoTemporary)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("molecule.mol", "a much longer old content\r\nsecond line\r\n");

    ASSERT_TRUE(writeTextFile(file, {"new"}).ok());

    EXPECT_EQ(readBytes(file), "new\r\n");
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"molecule.mol"});
}

// The replacement is a new file renamed over the old one; it must not open a private file to everyone.
TEST(WriteTextFile, ReplacedFileKeepsItsPermissions)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("private.psq", "old\r\n");
    const fs::perms owner = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(file, owner);

    ASSERT_TRUE(writeTextFile(file, {"new"}).ok());

    EXPECT_EQ(readBytes(file), "new\r\n");
    EXPECT_EQ(fs::status(file).permissions(), owner);
}

TEST(WriteTextFile, SavingThroughALinkChangesTheFileItLeadsTo)
{
    const ScratchDirectory dir;
    fs::create_directories(dir.path() / "shared");
    const fs::path shared = dir.writeBytes("shared/cosy.psq", "old\r\n");
    const fs::path link = dir.path() / "cosy.psq";
    fs::create_symlink(fs::path("shared") / "cosy.psq", link);

    ASSERT_TRUE(writeTextFile(link, {"new"}).ok());

    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readBytes(shared), "new\r\n");
}

TEST(WriteTextFile, TargetThatIsADirectoryIsRefusedAndKept)
{
    const ScratchDirectory dir;
    const fs::path target = dir.path() / "results";
    fs::create_directory(target);
    dir.writeBytes("results/inside.txt", "kept");

    const Outcome outcome = writeTextFile(target, {"x"});

    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.message().rfind("cannot write " + target.string() + ": ", 0), 0u) << outcome.message();
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(readBytes(target / "inside.txt"), "kept");
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"results"});
}

TEST(WriteTextFile, MissingDirectoryIsReportedWithThePath)
{
    const ScratchDirectory dir;
    const fs::path target = dir.path() / "no such folder" / "out.txt";

    const Outcome outcome = writeTextFile(target, {"x"});

    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.message().rfind("cannot write " + target.string() + ": ", 0), 0u) << outcome.message();
    EXPECT_GT(outcome.message().size(), ("cannot write " + target.string() + ": ").size());
    EXPECT_FALSE(fs::exists(target));
}

TEST(WriteTextFile, ReadOnlyDirectoryLeavesTheOldFileIntact)
{
    const ScratchDirectory dir;
    const fs::path folder = dir.path() / "locked";
    fs::create_directory(folder);
    const fs::path file = dir.writeBytes("locked/settings.ini", "old\r\n");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);

    // A privileged user may create files regardless of the permissions; the refusal cannot be observed then.
    const fs::path probe = folder / "probe";
    if (std::FILE* f = std::fopen(probe.string().c_str(), "wb")) {
        std::fclose(f);
        GTEST_SKIP() << "the directory stays writable for this user";
    }

    const Outcome outcome = writeTextFile(file, {"new"});

    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.message().rfind("cannot write " + file.string() + ": ", 0), 0u) << outcome.message();
    EXPECT_EQ(readBytes(file), "old\r\n");
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"settings.ini"});
}

struct ReadCase {
    const char* name;
    std::string bytes;
    Lines expected;
};

TEST(ReadTextLines, SplitsCrLfAndLfFilesAlike)
{
    using namespace std::string_literals;
    const std::vector<ReadCase> cases = {{"crlf", "x\r\ny\r\n", {"x", "y"}},
                                         {"lf", "x\ny\n", {"x", "y"}},
                                         {"mixed", "x\r\ny\nz\r\n", {"x", "y", "z"}},
                                         {"last line without line end", "x\r\ny", {"x", "y"}},
                                         {"single line without line end", "only", {"only"}},
                                         {"empty", "", {}},
                                         {"one empty line", "\r\n", {""}},
                                         {"empty lines", "\n\r\n\n", {"", "", ""}},
                                         {"empty line in the middle", "a\r\n\r\nb\r\n", {"a", "", "b"}},
                                         {"lone cr stays in its line", "a\rb\r\n", {"a\rb"}},
                                         {"only one cr removed", "a\r\r\n", {"a\r"}},
                                         {"trailing cr without lf stays", "a\r", {"a\r"}},
                                         {"nul bytes are text", "a\0b\r\n\0\n"s, {"a\0b"s, "\0"s}},
                                         {"bytes above 127", "\xC3\xA4\xFF\n", {"\xC3\xA4\xFF"}}};

    const ScratchDirectory dir;
    for (const ReadCase& c : cases) {
        const fs::path file = dir.writeBytes("case.txt", c.bytes);
        const TextFileContent content = readTextLines(file);
        ASSERT_TRUE(content.ok) << c.name << ": " << content.error;
        EXPECT_EQ(content.lines, c.expected) << c.name;
        EXPECT_TRUE(content.error.empty()) << c.name;
    }
}

TEST(ReadTextLines, RefusesMissingFilesAndDirectoriesNamingThePath)
{
    const ScratchDirectory dir;
    for (const fs::path& path : {dir.path() / "missing.mol", dir.path()}) {
        const TextFileContent content = readTextLines(path);
        EXPECT_FALSE(content.ok) << path;
        EXPECT_TRUE(content.lines.empty()) << path;
        EXPECT_NE(content.error.find(path.string()), std::string::npos) << content.error;
    }
}

TEST(ReadTextLines, RefusesUnreadableFilesNamingThePath)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("secret.mol", "x\r\n");
    fs::permissions(file, fs::perms::none, fs::perm_options::replace);

    // A privileged user may read the file regardless of the permissions; the refusal cannot be observed then.
    if (std::FILE* f = std::fopen(file.string().c_str(), "rb")) {
        std::fclose(f);
        GTEST_SKIP() << "the file stays readable for this user";
    }

    const TextFileContent content = readTextLines(file);

    EXPECT_FALSE(content.ok);
    EXPECT_TRUE(content.lines.empty());
    EXPECT_EQ(content.error.rfind("cannot read " + file.string() + ": ", 0), 0u) << content.error;
}

TEST(ReadTextLines, RefusesFilesLargerThanTheLimit)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("big.txt", "0123456789\r\n");  // 12 bytes

    const TextFileContent atLimit = readTextLines(file, 12);
    ASSERT_TRUE(atLimit.ok) << atLimit.error;
    EXPECT_EQ(atLimit.lines, Lines{"0123456789"});

    const TextFileContent overLimit = readTextLines(file, 11);
    EXPECT_FALSE(overLimit.ok);
    EXPECT_TRUE(overLimit.lines.empty());
    EXPECT_NE(overLimit.error.find(file.string()), std::string::npos) << overLimit.error;
}

TEST(ReadTextLines, KeepsAtMostTheRequestedLines)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("many.txt", "a\r\nb\nc\r\nd");
    EXPECT_EQ(readTextLines(file, 1024, 2).lines, (Lines{"a", "b"}));
    EXPECT_EQ(readTextLines(file, 1024).lines, (Lines{"a", "b", "c", "d"}));
}

TEST(VisitTextLines, SeesTheSameLinesAndStopsWhenAsked)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("visit.txt", "one\r\n\r\ntwo\rx\nthree");
    Lines seen;
    ASSERT_TRUE(visitTextLines(file, 1024, [&](std::string_view line) {
        seen.emplace_back(line);
        return true;
    }));
    EXPECT_EQ(seen, (Lines{"one", "", "two\rx", "three"}));

    seen.clear();
    ASSERT_TRUE(visitTextLines(file, 1024, [&](std::string_view line) {
        seen.emplace_back(line);
        return seen.size() < 2;
    }));
    EXPECT_EQ(seen, (Lines{"one", ""}));
    EXPECT_FALSE(visitTextLines(dir.path() / "absent.txt", 1024, [](std::string_view) { return true; }));
}

TEST(FileExists, OnlyForExistingRegularFiles)
{
    const ScratchDirectory dir;
    const fs::path file = dir.writeBytes("present.txt", "x");

    EXPECT_TRUE(fileExists(file));
    EXPECT_FALSE(fileExists(dir.path() / "absent.txt"));
    EXPECT_FALSE(fileExists(dir.path()));
}

}  // namespace
}  // namespace velmora::util
