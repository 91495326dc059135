// Runs with the strong-coupling switch through the whole pipeline: without couplings between spins
// of one nucleus the exact path gives the weak path's spectra and operator table, with hard and
// shaped pulses, with sampling during a pulse and with a gradient during the acquisition.
#include "support/largest_difference.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"
#include "workbench/control_override.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::workbench {
namespace {

namespace ctl = model::ctl;
using velmora::testing::ScratchDirectory;

struct Records {
    std::vector<double> spectra;    // every component, point and run of the signal record
    std::vector<double> operators;  // the operator record at the point step
};

class StrongCouplingRunTest : public ::testing::Test {
protected:
    // Copies the example sequence and writes a molecule: two protons, each coupled to a carbon and a
    // nitrogen, and not to each other.
    void load(const std::string& sequence)
    {
        std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / sequence,
                                   dir.path() / sequence);
        ASSERT_TRUE(util::writeTextFile(
            dir.path() / "hcn.mol", {"4,14,4,", "H0,H1,C2,N3,", "H0,H1,C2,N3,", "0.5,-1.2,3,1,",
                                     "0,0,140,-90,0,0,150,5,140,150,0,12,-90,5,12,0,", "800,900,1000,1200,",
                                     "120,80,100,150,", "spare,", "spare,", "spare,"}));
        ASSERT_TRUE(openMolecule(bench, "hcn.mol").wasRead());
        ASSERT_TRUE(openSequence(bench, sequence).wasRead());
    }

    Records run(bool strong, bool twoD)
    {
        bench.controls().setChecked(ctl::StrongCoupling, strong);
        EXPECT_EQ(startExperiment(bench, twoD), StartOutcome::Completed);
        Records r;
        const engine::SampleRecord& signal = bench.records().preparation->signal;
        for (int run = 0; run <= signal.lastRun(); ++run)
            for (int c = 1; c <= 3; ++c)
                for (int p = 1; p <= signal.lastSample(); ++p)
                    r.spectra.push_back(signal.at(c, p, run));
        const engine::OperatorRecord& ops = bench.records().driver.operators;
        for (int run = 0; run <= ops.lastRun(); ++run)
            for (int op = 0; op < ops.operatorCount(); ++op)
                r.operators.push_back(ops.at(op, run));
        return r;
    }

    // Both records to 1e-9 of their largest value: the paths differ only by rounding.
    void expectPathsAgree(bool twoD)
    {
        const double spectrumTolerance = 1e-9;
        const Records weak = run(false, twoD);
        const Records strong = run(true, twoD);

        const testing::Deviation spectra = testing::deviationFrom(weak.spectra, strong.spectra);
        const testing::Deviation operators = testing::deviationFrom(weak.operators, strong.operators);
        EXPECT_GT(spectra.largest, 0.0);
        EXPECT_LT(spectra.difference, spectrumTolerance * spectra.largest);
        EXPECT_LT(operators.difference, 1e-9 * operators.largest);
        EXPECT_TRUE(messages.entries.empty()) << messages.entries.front().text;
        // The result set says which path made it.
        const util::TextFileContent manifest = util::readTextLines(dir.path() / "run-manifest.txt");
        ASSERT_TRUE(manifest.ok);
        EXPECT_NE(std::find(manifest.lines.begin(), manifest.lines.end(), "coupling\tstrong"), manifest.lines.end());
    }

    // The shapes the sequences use lie in the working directory before the workbench opens it, as in
    // a folder of examples (the workbench names its default shaped elements after the first one).
    static bool copyShapes(const std::filesystem::path& to)
    {
        for (const char* file : {"hs1_gapped_acq.RF", "hs1_inversion.RF"})
            std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / file, to / file);
        return true;
    }

    ScratchDirectory dir;
    bool shapesCopied = copyShapes(dir.path());
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};
};

TEST_F(StrongCouplingRunTest, WithoutHomonuclearCouplingsAnArrayedIneptWithRelaxationAgreesWithTheWeakPath)
{
    load("inept.psq");
    bench.controls().setText(ctl::ArraySize, "3");
    bench.controls().setChecked(ctl::T1Relaxation, true);
    bench.controls().setChecked(ctl::T2Relaxation, true);
    // The carbon signal after the transfer carries small antiphase terms with the nitrogen; the
    // exact path leaves out the same product operators below the synthesis threshold as the weak
    // path (not the lines below it, which would drop parts of operators the weak path keeps).
    expectPathsAgree(false);
}

TEST_F(StrongCouplingRunTest, WithoutHomonuclearCouplingsACosyMapAgreesWithTheWeakPath)
{
    load("cosy.psq");
    bench.controls().setText(ctl::ArraySize, "7");
    expectPathsAgree(true);
}

TEST_F(StrongCouplingRunTest, WithoutHomonuclearCouplingsAShapedInversionBeforeAnIneptAgreesWithTheWeakPath)
{
    load("inept.psq");
    ASSERT_TRUE(bench.sequence().setContent(0, engine::kChannelH1, "n_hs1_inversion.RF"));
    expectPathsAgree(false);
}

TEST_F(StrongCouplingRunTest, AStronglyCoupledCosyGivesTheSameMapOnOneAndTwoThreads)
{
    load("cosy.psq");
    ASSERT_TRUE(
        util::writeTextFile(dir.path() / "ab.mol", {"2,14,2,", "H0,H1,", "H0,H1,", "1,1.02,", "0,10,10,0,",
                                                    "1000,1000,", "100,100,", "spare,", "spare,", "spare,"}));
    ASSERT_TRUE(openMolecule(bench, "ab.mol").wasRead());
    bench.controls().setText(ctl::ArraySize, "7");
    bench.setThreads(1);
    const Records one = run(true, true);
    bench.setThreads(2);
    const Records two = run(true, true);
    EXPECT_EQ(one.spectra, two.spectra);
    EXPECT_EQ(one.operators, two.operators);
}

TEST_F(StrongCouplingRunTest, WithoutHomonuclearCouplingsSamplingDuringAGappedSweepAgreesWithTheWeakPath)
{
    load("swift_gapped.psq");
    // "swift", "correlation" and "receiver gapping", through their handlers as the command line sets them.
    for (const char* option : {"Check1(8)=1", "Check1(17)=1", "Check1(20)=1"})
        ASSERT_TRUE(applyControlOverride(bench, option));
    expectPathsAgree(false);
}

TEST_F(StrongCouplingRunTest, WithoutHomonuclearCouplingsAGradientDuringTheAcquisitionAgreesWithTheWeakPath)
{
    // A read-out gradient over 16 slices: each slice row gives its own lines, moved by its offset.
    load("inept.psq");
    ASSERT_TRUE(bench.sequence().setGradient(bench.sequence().stepCount() + 1, "g1"));
    bench.controls().setText(ctl::LastSlice, "15");
    expectPathsAgree(false);
}

TEST_F(StrongCouplingRunTest, ASequenceTakesTheSwitchFromItsOptionsFileAndASavedOneKeepsIt)
{
    for (const char* file : {"strong_cosy.psq", "strong_cosy.options"})
        std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / file, dir.path() / file);
    ASSERT_FALSE(bench.controls().checked(ctl::StrongCoupling));
    ASSERT_TRUE(openSequence(bench, "strong_cosy.psq").wasRead());
    EXPECT_TRUE(bench.controls().checked(ctl::StrongCoupling));
    ASSERT_TRUE(saveSequence(bench, "mine.psq"));
    bench.controls().setChecked(ctl::StrongCoupling, false);
    ASSERT_TRUE(openSequence(bench, "mine.psq").wasRead());
    EXPECT_TRUE(bench.controls().checked(ctl::StrongCoupling)) << "mine.options was written beside mine.psq";
}

}  // namespace
}  // namespace velmora::workbench
