#include "support/scratch_directory.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <gtest/gtest.h>

namespace velmora::workbench {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

model::WorkspaceRoots rootsIn(const ScratchDirectory& dir)
{
    return {dir.path() / "program", dir.path() / "home", dir.path() / "config", {}};
}

TEST(StartUp, AFirstStartWorksInTheHomeFolderWithTheExamplesNeverBesideTheProgram)
{
    const ScratchDirectory dir;
    std::filesystem::create_directories(dir.path() / "program");
    std::filesystem::create_directories(dir.path() / "shipped");
    dir.writeBytes("shipped/cosy.mol", "the example molecule");
    model::WorkspaceRoots roots = rootsIn(dir);
    roots.examplesDirectory = dir.path() / "shipped";
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    model::Workspace workspace;
    ASSERT_TRUE(startUp(bench, roots, workspace));

    const std::string expected = (dir.path() / "home" / "Velmora").string() + "/";
    EXPECT_EQ(bench.workingDirectory(), expected);
    EXPECT_EQ(readBytes(dir.path() / "config" / "Velmora" / "Velmora.ini"), expected + "\r\n");
    EXPECT_EQ(readBytes(dir.path() / "home" / "Velmora" / "cosy.mol"), "the example molecule");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "program" / "Velmora"));
    EXPECT_EQ(bench.spinSystem().spinCount(), 3) << "the start-up molecule, rebuilt";
    EXPECT_TRUE(messages.entries.empty()) << "missing rem.mol and rem.psq are ignored silently";

    // Only the first start copies them: a user's own changes stay.
    dir.writeBytes("home/Velmora/cosy.mol", "edited");
    Workbench again(messages, dir.path());
    ASSERT_TRUE(startUp(again, roots, workspace));
    EXPECT_EQ(readBytes(dir.path() / "home" / "Velmora" / "cosy.mol"), "edited");
}

// A start in a directory the user named makes nothing in the home or configuration folders; a
// later change of directory in that session still reaches the settings file.
TEST(StartUp, ANamedDirectoryLeavesTheHomeFolderAlone)
{
    const ScratchDirectory dir;
    std::filesystem::create_directories(dir.path() / "program");
    std::filesystem::create_directories(dir.path() / "named");
    model::WorkspaceRoots roots = rootsIn(dir);
    roots.examplesDirectory = dir.path() / "program";
    model::Workspace workspace = model::locateWorkspace(roots);
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    startUpIn(bench, dir.path() / "named");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "home")) << "no default working directory";
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "config")) << "no settings file";
    EXPECT_EQ(workspace.workingDirectory, (dir.path() / "home" / "Velmora").string() + "/");

    ASSERT_TRUE(changeDirectory(bench, workspace, dir.path() / "named"));
    EXPECT_EQ(readBytes(dir.path() / "config" / "Velmora" / "Velmora.ini"), (dir.path() / "named").string() + "/\r\n");
}

TEST(StartUp, AChangedDirectoryIsRememberedForTheNextStart)
{
    const ScratchDirectory dir;
    std::filesystem::create_directories(dir.path() / "program");
    std::filesystem::create_directories(dir.path() / "elsewhere");
    util::RecordedMessages messages;
    Workbench first(messages, dir.path());
    model::Workspace workspace;
    ASSERT_TRUE(startUp(first, rootsIn(dir), workspace));
    ASSERT_TRUE(changeDirectory(first, workspace, dir.path() / "elsewhere"));
    EXPECT_EQ(first.workingDirectory(), (dir.path() / "elsewhere").string() + "/");
    EXPECT_EQ(readBytes(dir.path() / "config" / "Velmora" / "Velmora.ini"),
              (dir.path() / "elsewhere").string() + "/\r\n")
        << "the settings file stays in the user's configuration folder";

    Workbench second(messages, dir.path());
    model::Workspace again;
    ASSERT_TRUE(startUp(second, rootsIn(dir), again));
    EXPECT_EQ(second.workingDirectory(), (dir.path() / "elsewhere").string() + "/");
}

TEST(StartUp, TheAutomaticCopiesOfTheLastSessionAreReloaded)
{
    const ScratchDirectory dir;
    std::filesystem::create_directories(dir.path() / "program");
    util::RecordedMessages messages;
    Workbench first(messages, dir.path());
    model::Workspace workspace;
    ASSERT_TRUE(startUp(first, rootsIn(dir), workspace));
    ASSERT_TRUE(first.spinSystem().setLabel(3, "N3"));
    first.spinSystem().rebuild();
    ASSERT_TRUE(first.sequence().insertStep(1));
    ASSERT_TRUE(saveMolecule(first, kAutomaticMolecule));
    ASSERT_TRUE(saveSequence(first, kAutomaticSequence));

    Workbench second(messages, dir.path());
    int preparations = 0;
    second.setPreparationOnlyRun([&](Workbench&) { ++preparations; });
    model::Workspace again;
    ASSERT_TRUE(startUp(second, rootsIn(dir), again));
    EXPECT_EQ(second.spinSystem().spinCount(), 4);
    EXPECT_EQ(second.sequence().stepCount(), 3);
    EXPECT_EQ(preparations, 1);
    EXPECT_TRUE(messages.entries.empty());
}

TEST(StartUp, AnUnwritableProgramDirectoryFallsBackToTheUsersDirectories)
{
    const ScratchDirectory dir;
    dir.writeBytes("program", "a file where the program directory should be");
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    model::Workspace workspace;
    ASSERT_TRUE(startUp(bench, rootsIn(dir), workspace));
    const std::string expected = (dir.path() / "home" / "Velmora").string() + "/";
    EXPECT_EQ(bench.workingDirectory(), expected);
    EXPECT_EQ(readBytes(dir.path() / "config" / "Velmora" / "Velmora.ini"), expected + "\r\n");
}

TEST(StartUp, ADirectoryWithALineBreakInItsNameIsRefusedAndTheSettingsKept)
{
    const ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    model::Workspace workspace;
    ASSERT_TRUE(startUp(bench, rootsIn(dir), workspace));
    const std::string settings = readBytes(workspace.settingsFile);
    const std::string before = bench.workingDirectory();
    const std::filesystem::path broken = dir.path() / "two\nlines";
    std::filesystem::create_directories(broken);

    EXPECT_FALSE(changeDirectory(bench, workspace, broken));
    EXPECT_EQ(bench.workingDirectory(), before);
    EXPECT_EQ(readBytes(workspace.settingsFile), settings);
}

TEST(StartUp, ASettingsLineWithoutSeparatorStillNamesTheDirectory)
{
    const ScratchDirectory dir;
    std::filesystem::create_directories(dir.path() / "program" / "Velmora");
    dir.writeBytes("program/Velmora/Velmora.ini", (dir.path() / "gone").string() + "\r\n");
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    model::Workspace workspace;
    ASSERT_TRUE(startUp(bench, rootsIn(dir), workspace));
    EXPECT_EQ(bench.workingDirectory(), (dir.path() / "gone").string() + "/")
        << "a directory that no longer exists is used unchanged";
    EXPECT_TRUE(messages.entries.empty());
}

TEST(StartUp, ASettingsFileSavedWithASignatureStillNamesTheDirectory)
{
    const ScratchDirectory dir;
    std::filesystem::create_directories(dir.path() / "program" / "Velmora");
    std::filesystem::create_directories(dir.path() / "chosen");
    dir.writeBytes("program/Velmora/Velmora.ini",
                   "\xEF\xBB\xBF" + (dir.path() / "chosen").string() + "/\r\n");
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    model::Workspace workspace;
    ASSERT_TRUE(startUp(bench, rootsIn(dir), workspace));
    EXPECT_EQ(bench.workingDirectory(), (dir.path() / "chosen").string() + "/");
}

TEST(StartUp, ASettingsLineHoldingANulByteIsReplacedByTheDefault)
{
    const ScratchDirectory dir;
    std::filesystem::create_directories(dir.path() / "config" / "Velmora");
    std::filesystem::create_directories(dir.path() / "chosen");
    dir.writeBytes("config/Velmora/Velmora.ini",
                   (dir.path() / "chosen").string() + std::string(1, '\0') + "junk/\r\n");
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    model::Workspace workspace;
    ASSERT_TRUE(startUp(bench, rootsIn(dir), workspace));
    EXPECT_EQ(bench.workingDirectory(), (dir.path() / "home" / "Velmora").string() + "/");
    EXPECT_EQ(readBytes(workspace.settingsFile), bench.workingDirectory() + "\r\n");
}

TEST(StartUp, TheStrongCouplingSwitchOfTheLastStartComesBack)
{
    const ScratchDirectory dir;
    util::RecordedMessages messages;
    {
        Workbench bench(messages, dir.path());
        startUpIn(bench, dir.path());
        bench.controls().setChecked(model::ctl::StrongCoupling, true);
        bench.controls().setText(model::ctl::ArraySize, "0");
        ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    }
    EXPECT_EQ(readBytes(dir.path() / "rem.options"), "strong-coupling,1,\r\n");
    Workbench next(messages, dir.path());
    startUpIn(next, dir.path());
    EXPECT_TRUE(next.controls().checked(model::ctl::StrongCoupling));
    dir.writeBytes("rem.options", "strong-coupling,maybe,\r\nsomething else\r\n");
    Workbench third(messages, dir.path());
    startUpIn(third, dir.path());
    EXPECT_FALSE(third.controls().checked(model::ctl::StrongCoupling)) << "a line it does not know is left out";
}

}  // namespace
}  // namespace velmora::workbench
