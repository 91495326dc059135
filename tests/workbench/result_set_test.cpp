#include "support/scratch_directory.h"
#include "util/text_file.h"
#include "workbench/result_set.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::workbench {
namespace {

using velmora::testing::ScratchDirectory;
namespace fs = std::filesystem;

// Stages `files`, each holding the run's id, and returns the set uncommitted.
ResultSet stagedSet(const fs::path& directory, const std::vector<std::string>& files)
{
    std::string error;
    std::optional<ResultSet> set = ResultSet::open(directory, error);
    EXPECT_TRUE(set) << error;
    for (const std::string& file : files)
        EXPECT_TRUE(util::writeTextFile(set->staging() / file, {set->runId()}));
    return std::move(*set);
}

// Every file the manifest names is present and holds the run id the manifest names.
void expectManifestTrue(const fs::path& directory)
{
    const util::TextFileContent manifest = util::readTextLines(directory / kManifestFile);
    ASSERT_TRUE(manifest.ok);
    const std::string run = manifest.lines.front().substr(4);
    const std::optional<std::vector<std::string>> files = manifestFiles(directory);
    ASSERT_TRUE(files && !files->empty());
    for (const std::string& file : *files) {
        const util::TextFileContent content = util::readTextLines(directory / file);
        ASSERT_TRUE(content.ok) << file;
        EXPECT_EQ(content.lines, std::vector<std::string>{run}) << file;
    }
}

TEST(ResultSet, ACommitReplacesThePreviousSetAndTheManifestComesLast)
{
    const ScratchDirectory dir;
    ASSERT_TRUE(util::writeTextFile(dir.path() / "notes.txt", {"the user's own"}));
    ASSERT_TRUE(stagedSet(dir.path(), {"prodop.dat", "map2d.tsv"})
                    .commit(RunManifest{"Start_2D", {}, "completed", ""}));
    expectManifestTrue(dir.path());

    ResultSet second = stagedSet(dir.path(), {"prodop.dat", "a_X.dat"});
    ASSERT_TRUE(second.commit(
        RunManifest{"Start", {"rem.mol"}, "stopped after 1 of 2 runs", "stopped after 1 of 2 runs"}));
    expectManifestTrue(dir.path());
    EXPECT_FALSE(fs::exists(dir.path() / "map2d.tsv")) << "a file of the previous set only";
    EXPECT_TRUE(fs::exists(dir.path() / "notes.txt")) << "files of no set stay";
    EXPECT_FALSE(fs::exists(second.staging()));
    const util::TextFileContent manifest = util::readTextLines(dir.path() / kManifestFile);
    EXPECT_EQ(manifest.lines[1], "mode\tStart");
    EXPECT_EQ(manifest.lines[2], "input\trem.mol");
    EXPECT_EQ(manifest.lines[3], "ended\tstopped after 1 of 2 runs");
    EXPECT_EQ(manifest.lines[4], "spectra\tnone: stopped after 1 of 2 runs");
}

TEST(ResultSet, AFileTheRunCouldNotWriteIsNamedMissingAndTheRestGoesIn)
{
    const ScratchDirectory dir;
    RunManifest manifest{"Start", {}, "completed", ""};
    manifest.missing = {"plot1d.png: Cannot write the picture file plot1d.png: No space left on device."};
    ASSERT_TRUE(stagedSet(dir.path(), {"prodop.dat", "plotOper.png"}).commit(manifest));
    expectManifestTrue(dir.path());
    EXPECT_EQ(manifestFiles(dir.path()), (std::vector<std::string>{"plotOper.png", "prodop.dat"}));
    const util::TextFileContent written = util::readTextLines(dir.path() / kManifestFile);
    EXPECT_EQ(written.lines.back(), "missing\t" + manifest.missing[0]);
}

TEST(ResultSet, AKillBetweenFilesLeavesNoManifestThatLiesAndTheNextRunClearsWhatTheDeadLeft)
{
    const ScratchDirectory dir;
    ASSERT_TRUE(stagedSet(dir.path(), {"prodop.dat", "a_X.dat", "a_Y.dat"})
                    .commit(RunManifest{"Start", {}, "completed", ""}));

    // A second process is killed after moving the first of its files in.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ResultSet set = stagedSet(dir.path(), {"a_X.dat", "a_Y.dat", "prodop.dat"});
        (void)set.commit(RunManifest{"Start", {}, "completed", ""}, [] { _exit(0); });
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(dir.path() / kManifestFile)) << "the files now come from two runs";
    // What a kill inside a file write leaves, and the files of a process that still runs.
    const std::string dead = std::to_string(child);
    const std::string live = std::to_string(getpid());
    for (const std::string& name : {".a_Z.dat." + dead + ".tmp3", ".a_Z.dat." + live + ".tmp4"})
        ASSERT_TRUE(util::writeTextFile(dir.path() / name, {"partial"}));
    fs::create_directory(dir.path() / (".velmora-staging." + live + ".7"));

    EXPECT_EQ(removeStaleTemporaries(dir.path()), 2)
        << "the dead process's staging folder and temporary file";
    EXPECT_TRUE(fs::exists(dir.path() / (".a_Z.dat." + live + ".tmp4")));
    EXPECT_TRUE(fs::exists(dir.path() / (".velmora-staging." + live + ".7")));
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(dead), std::string::npos) << entry.path();

    ASSERT_TRUE(
        stagedSet(dir.path(), {"prodop.dat", "a_X.dat"}).commit(RunManifest{"Start", {}, "completed", ""}));
    expectManifestTrue(dir.path());
}

TEST(ResultSet, ADiscardedSetLeavesTheFolderAsItWas)
{
    const ScratchDirectory dir;
    fs::path staging;
    {
        ResultSet set = stagedSet(dir.path(), {"prodop.dat"});
        staging = set.staging();
    }
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(TemporaryFileOwner, ReadsTheProcessIdOfTheWritersNamesOnly)
{
    EXPECT_EQ(util::temporaryFileOwner(".a_X.dat.4242.tmp17"), 4242);
    EXPECT_FALSE(util::temporaryFileOwner(".a_X.dat.tmp17")) << "no owner: left alone";
    EXPECT_FALSE(util::temporaryFileOwner("a_X.dat.4242.tmp17"));
    EXPECT_FALSE(util::temporaryFileOwner(".a_X.dat.4242.tmp"));
}

}  // namespace
}  // namespace velmora::workbench
