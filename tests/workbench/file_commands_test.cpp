#include "support/scratch_directory.h"
#include "workbench/control_handlers.h"
#include "util/text_file.h"
#include "workbench/file_commands.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <gtest/gtest.h>

namespace velmora::workbench {
namespace {

using velmora::testing::ScratchDirectory;

class FileCommandsTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};
};

TEST_F(FileCommandsTest, SavedFieldAndDetectionComeBackThroughTheirHandlers)
{
    bench.controls().setText(model::ctl::ProtonFrequency, "400");
    onProtonFrequencyEdited(bench);
    bench.controls().setText(model::ctl::DetectionChannel, "C13");
    ASSERT_TRUE(saveSequence(bench, "at400.psq"));

    bench.resetToDefaults();
    ASSERT_EQ(bench.spinSystem().protonFrequencyMHz(), 170.0);
    ASSERT_TRUE(openSequence(bench, "at400.psq").wasRead());
    EXPECT_EQ(bench.spinSystem().protonFrequencyMHz(), 400.0);
    EXPECT_EQ(bench.spinSystem().fieldTesla(), 9.4);
    EXPECT_EQ(bench.controls().text(model::ctl::FieldTesla), "9.4");
    EXPECT_EQ(detectionChannel(bench), 1);
    EXPECT_TRUE(messages.entries.empty());
}

TEST_F(FileCommandsTest, ReadingASequenceRunsThePreparationOnlyRunOnce)
{
    ASSERT_TRUE(saveSequence(bench, "s.psq"));
    int preparations = 0;
    bench.setPreparationOnlyRun([&](Workbench& b) {
        ++preparations;
        EXPECT_EQ(&b, &bench);
        EXPECT_EQ(b.sequence().pointStep(), b.sequence().stepCount()) << "the point is set before";
    });
    bench.sequence().setPointStep(0);
    ASSERT_TRUE(openSequence(bench, "s.psq").wasRead());
    EXPECT_EQ(preparations, 1);
    EXPECT_EQ(openSequence(bench, "missing.psq").status, model::FileReadResult::Status::Missing);
    dir.writeBytes("broken.psq", "1,\r\n");
    EXPECT_TRUE(openSequence(bench, "broken.psq").wasRefused());
    EXPECT_EQ(preparations, 1) << "neither a missing nor a refused file prepares";
}

TEST_F(FileCommandsTest, RefusedFilesAreReportedAsErrors)
{
    dir.writeBytes("bad.mol", "99,\r\n");
    EXPECT_TRUE(openMolecule(bench, "bad.mol").wasRefused());
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].title, "Error!");
    EXPECT_NE(messages.entries[0].text.find("bad.mol"), std::string::npos);
}

TEST_F(FileCommandsTest, SavingIntoAMissingFolderIsReported)
{
    EXPECT_FALSE(saveMolecule(bench, "no/such/folder.mol"));
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].title, "Error!");
}

TEST_F(FileCommandsTest, FileFramePickOpenAndSave)
{
    EXPECT_FALSE(pickFile(bench, FileList::Molecules, "noextension"));
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].text, "The input file is unknown!");
    EXPECT_EQ(bench.controls().text(model::ctl::MoleculeFileName), "rem.mol");

    ASSERT_TRUE(bench.spinSystem().setLabel(3, "N3"));
    bench.spinSystem().rebuild();
    ASSERT_TRUE(pickFile(bench, FileList::Molecules, "four.mol"));
    ASSERT_TRUE(savePickedFile(bench, FileList::Molecules));
    bench.resetToDefaults();
    bench.spinSystem().rebuild();
    ASSERT_EQ(bench.spinSystem().spinCount(), 3);
    ASSERT_TRUE(pickFile(bench, FileList::Molecules, "four.mol"));
    ASSERT_TRUE(openPickedFile(bench, FileList::Molecules));
    EXPECT_EQ(bench.spinSystem().spinCount(), 4);

    bench.controls().setText(model::ctl::SequenceFileName, "");
    EXPECT_FALSE(openPickedFile(bench, FileList::Sequences));
    EXPECT_EQ(messages.entries.back().text, "The input file is unknown!");
}

TEST_F(FileCommandsTest, SaveAddsTheKindsExtensionAndNeverReplacesTheOtherKind)
{
    bench.controls().setText(model::ctl::MoleculeFileName, "mycosy");
    bench.controls().setText(model::ctl::SequenceFileName, "mycosy");
    ASSERT_TRUE(savePickedFile(bench, FileList::Molecules));
    ASSERT_TRUE(savePickedFile(bench, FileList::Sequences));
    EXPECT_TRUE(util::fileExists(dir.path() / "mycosy.mol"));
    EXPECT_TRUE(util::fileExists(dir.path() / "mycosy.psq"));
    EXPECT_FALSE(util::fileExists(dir.path() / "mycosy"));
    EXPECT_TRUE(openMolecule(bench, "mycosy.mol").wasRead()) << "the molecule was not overwritten";

    std::string why;
    EXPECT_EQ(savedFileName("Lab.MOL", FileList::Molecules, why), "Lab.MOL");
    EXPECT_EQ(savedFileName("lab.v2", FileList::Sequences, why), "lab.v2.psq");
    for (const char* refused : {"mycosy.psq", "../outside", "sub/x.mol", ""}) {
        EXPECT_FALSE(saveDocument(bench, FileList::Molecules, refused)) << refused;
        EXPECT_EQ(messages.entries.back().title, "Error!");
    }
    EXPECT_NE(messages.entries.back().text.find("a molecule file needs a name"), std::string::npos);
    EXPECT_TRUE(openSequence(bench, "mycosy.psq").wasRead()) << "the sequence was not overwritten";
    EXPECT_FALSE(util::fileExists(dir.path().parent_path() / "outside.mol"));
}

TEST_F(FileCommandsTest, AnEditIsToldUntilItsDocumentIsSavedAndARunDoesNotCountAsOne)
{
    startUpIn(bench, dir.path());
    EXPECT_FALSE(documentEdited(bench, FileList::Molecules));
    EXPECT_FALSE(documentEdited(bench, FileList::Sequences));

    bench.spinSystem().setShiftPpm(0, 7.25);
    EXPECT_TRUE(documentEdited(bench, FileList::Molecules));
    EXPECT_FALSE(documentEdited(bench, FileList::Sequences));
    ASSERT_TRUE(saveDocument(bench, FileList::Molecules, "shifted"));
    EXPECT_FALSE(documentEdited(bench, FileList::Molecules));
    EXPECT_EQ(bench.documents().name(FileList::Molecules), "shifted.mol");

    // A change made for the user (the preparation's derived values) keeps an unedited sequence
    // unedited, and keeps an edited one edited.
    keepingUnedited(bench, [&] { bench.controls().setText(model::ctl::AcquisitionTime, "123"); });
    EXPECT_FALSE(documentEdited(bench, FileList::Sequences));
    bench.controls().setText(model::ctl::SpectralWidth, "2500");
    keepingUnedited(bench, [&] { bench.controls().setText(model::ctl::AcquisitionTime, "456"); });
    EXPECT_TRUE(documentEdited(bench, FileList::Sequences));
}

TEST_F(FileCommandsTest, ControlHandlersKeepModelAndBoxesTogether)
{
    bench.controls().setText(model::ctl::FieldTesla, "9.4");
    onFieldTeslaEdited(bench);
    EXPECT_EQ(bench.controls().text(model::ctl::ProtonFrequency), "400");
    bench.controls().setText(model::ctl::FieldTesla, "lots");
    onFieldTeslaEdited(bench);
    EXPECT_EQ(bench.spinSystem().fieldTesla(), 9.4) << "a box without a number changes nothing";

    bench.controls().setText(model::ctl::DetectionChannel, "all_x");
    EXPECT_EQ(onDetectionChannelChosen(bench), 0);
    EXPECT_EQ(bench.controls().text(model::ctl::DetectionChannel), "H1");
    bench.controls().setText(model::ctl::DetectionChannel, "N15");
    EXPECT_EQ(onDetectionChannelChosen(bench), 2);

    bench.controls().setText(model::ctl::CycleCountBox, "3");
    EXPECT_TRUE(onCycleCountEdited(bench));
    EXPECT_EQ(bench.sequence().cycleCount(), 3.0);
    bench.controls().setText(model::ctl::CycleCountBox, "x");
    EXPECT_FALSE(onCycleCountEdited(bench));
    EXPECT_EQ(bench.sequence().cycleCount(), 3.0);
    bench.controls().setText(model::ctl::CycleCountBox, "1e10");
    EXPECT_FALSE(onCycleCountEdited(bench)) << "a count no run could finish";
    EXPECT_EQ(bench.sequence().cycleCount(), 3.0);
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_NE(messages.entries.back().text.find("larger than 100000"), std::string::npos);
}

}  // namespace
}  // namespace velmora::workbench
