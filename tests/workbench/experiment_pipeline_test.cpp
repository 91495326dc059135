#include "processing/peaks.h"
#include "support/scratch_directory.h"
#include "util/directory_lock.h"
#include "util/number_format.h"
#include "util/text_file.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/result_set.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>

namespace velmora::workbench {
namespace {

namespace ctl = model::ctl;
using velmora::testing::ScratchDirectory;

class PipelineTest : public ::testing::Test {
protected:
    PipelineTest() { bench.spinSystem().rebuild(); }

    // Stop at the eighth step of a ten-run array on one thread, so the steps run in a known order
    // (side by side the stop falls wherever the caller's own runs have reached): three runs are done.
    void stopAtTheEighthStep()
    {
        bench.controls().setText(ctl::ArraySize, "9");
        bench.setThreads(1);
        bench.runControl().setYield([this] {
            if (++steps_ == 8)
                bench.runControl().stop();
        });
    }

    ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};

private:
    int steps_ = 0;
};

TEST_F(PipelineTest, StartSavesTheCopiesRunsAndWritesTheOperatorTable)
{
    bench.controls().setText(ctl::ArraySize, "3");
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    EXPECT_FALSE(bench.runControl().running());
    EXPECT_TRUE(util::fileExists(dir.path() / "rem.mol"));
    EXPECT_TRUE(util::fileExists(dir.path() / "rem.psq"));
    const util::TextFileContent table = util::readTextLines(dir.path() / "prodop.dat");
    ASSERT_TRUE(table.ok);
    EXPECT_EQ(table.lines.size(), 5u) << "a header and four runs";
    EXPECT_EQ(table.lines.front().rfind("d1\t", 0), 0u);
    EXPECT_EQ(bench.records().preparation->run.lastRun, 3);
    EXPECT_EQ(bench.records().driver.runsDone, 4);
    EXPECT_EQ(bench.controls().at(ctl::OperatorList).items, bench.records().operators.names);
    ASSERT_EQ(bench.controls().at(ctl::ResultList).items.size(), 1u);
    EXPECT_EQ(bench.controls().at(ctl::ResultList).items[0], table.lines.front());
    EXPECT_TRUE(messages.entries.empty()) << messages.entries.front().text;
}

TEST_F(PipelineTest, Start2DRunsTwoRunsPerIncrementAndClearsTheLists)
{
    bench.controls().setItems(ctl::ResultList, {"old header"});
    bench.controls().setText(ctl::ArraySize, "1");
    EXPECT_EQ(startExperiment(bench, true), StartOutcome::Completed);
    EXPECT_EQ(bench.records().preparation->run.lastRun, 3);
    EXPECT_TRUE(bench.records().twoD);
    EXPECT_EQ(bench.controls().at(ctl::ResultList).items.size(), 1u) << "the old header was cleared first";
}

TEST_F(PipelineTest, AWorkingDirectoryHeldByAnotherRunIsRefusedUntouchedNamingTheHolder)
{
    bench.controls().setText(ctl::ArraySize, "1");
    {
        std::string error;
        const std::optional<util::DirectoryLock> other = util::DirectoryLock::acquire(dir.path(), error);
        ASSERT_TRUE(other) << error;
        EXPECT_EQ(startExperiment(bench, false), StartOutcome::Refused);
        ASSERT_EQ(messages.entries.size(), 1u);
        EXPECT_NE(messages.entries[0].text.find("(process " + std::to_string(::getpid()) + ")"), std::string::npos)
            << messages.entries[0].text;
        EXPECT_FALSE(util::fileExists(dir.path() / "rem.mol"));
        EXPECT_FALSE(bench.runControl().running());
    }
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed) << "the lock goes with its holder";
}

TEST_F(PipelineTest, ARunInProgressRefusesAnotherStart)
{
    ASSERT_TRUE(bench.runControl().tryStart());
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Busy);
    EXPECT_FALSE(util::fileExists(dir.path() / "rem.psq")) << "nothing was done";
    EXPECT_TRUE(bench.runControl().running()) << "the other run keeps its flag";
}

TEST_F(PipelineTest, ARefusedPreparationRunsNothingAndClearsTheFlag)
{
    bench.controls().setText(ctl::PointCount, "abc");
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Refused);
    EXPECT_FALSE(bench.runControl().running());
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "rem.mol" || name == "rem.psq" || name == "rem.options")
            << name << ": only the automatic copies";
    }
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_NE(messages.entries.back().text.find("np"), std::string::npos);
}

// A refused Ni once reached "rem.psq" before the refusal, so every later run in the folder, which
// restores the model from it, was refused too.
TEST_F(PipelineTest, ARefusedValueLeavesTheAutomaticCopiesAsTheyWere)
{
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    const std::string sequenceBefore = velmora::testing::readBytes(dir.path() / "rem.psq");
    const std::string moleculeBefore = velmora::testing::readBytes(dir.path() / "rem.mol");
    const std::string ni = bench.controls().text(ctl::ArraySize);
    bench.controls().setText(ctl::ArraySize, "-3");
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Refused);
    EXPECT_EQ(velmora::testing::readBytes(dir.path() / "rem.psq"), sequenceBefore);
    EXPECT_EQ(velmora::testing::readBytes(dir.path() / "rem.mol"), moleculeBefore);
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    Workbench later(messages, dir.path());
    startUpIn(later, dir.path());
    EXPECT_EQ(later.controls().text(ctl::ArraySize), ni);
    EXPECT_EQ(startExperiment(later, false), StartOutcome::Completed);
}

TEST_F(PipelineTest, NegativePulseLengthsAndDelaysAreRefusedByName)
{
    model::ElementTable& elements = bench.sequence().elements();
    elements.setValue(model::element::kFirstDelay + 1, -5.0);  // d2, the delay before the first pulse
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Refused);
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_NE(messages.entries.back().text.find("delay d2 holds -5 ms"), std::string::npos)
        << messages.entries.back().text;

    elements.setValue(model::element::kFirstDelay + 1, 1.0);
    elements.setValue(model::element::kFirstDelay, 1.0);  // d1, arrayed
    bench.controls().setText(ctl::ArraySize, "3");
    bench.controls().setText(ctl::ArrayIncrement, "-0.5");
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Refused) << "d1 reaches -0.5 ms in run 3";
    EXPECT_NE(messages.entries.back().text.find("arrayed element d1"), std::string::npos)
        << messages.entries.back().text;
    bench.controls().setText(ctl::ArrayIncrement, "0.5");
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed);
}

TEST_F(PipelineTest, AFailureInsideTheRunIsReportedWithItsNumber)
{
    bench.setProgressListener([](int, int) { throw std::out_of_range("a table index"); });
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Failed);
    EXPECT_FALSE(bench.runControl().running());
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_EQ(messages.entries.back().text.rfind("? error 9", 0), 0u) << messages.entries.back().text;
}

TEST_F(PipelineTest, RunningOutOfMemoryIsAMemoryRefusalAndKeepsNothing)
{
    const model::PulseSequence before = bench.sequence();
    bench.setProgressListener([](int, int) { throw std::bad_alloc(); });
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Failed);
    EXPECT_FALSE(bench.runControl().running());
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_EQ(messages.entries.back().text.rfind("The run ran out of memory", 0), 0u)
        << messages.entries.back().text;
    EXPECT_FALSE(bench.records().preparation.has_value());
    EXPECT_EQ(bench.sequence().stepCount(), before.stepCount());
}

TEST_F(PipelineTest, StopDuringTheRunKeepsTheRunsDone)
{
    stopAtTheEighthStep();
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Stopped);
    EXPECT_EQ(bench.records().driver.runsDone, 3) << "run 0 takes three steps, the resumed runs two";
    EXPECT_FALSE(bench.runControl().running());
    // Its own result set, and the manifest says how it ended.
    const util::TextFileContent manifest = util::readTextLines(dir.path() / kManifestFile);
    ASSERT_TRUE(manifest.ok) << manifest.error;
    const auto says = [&](const std::string& line) {
        return std::find(manifest.lines.begin(), manifest.lines.end(), line) != manifest.lines.end();
    };
    EXPECT_TRUE(says("ended\tstopped after 3 of 10 runs"));
    EXPECT_TRUE(says("file\tprodop.dat"));
}

// The runs a stop left undone had lines of zeros in the operator table, read as results.
TEST_F(PipelineTest, AStoppedRunsOperatorTableHasLinesForTheRunsDoneOnly)
{
    stopAtTheEighthStep();
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Stopped);
    ASSERT_EQ(bench.records().driver.runsDone, 3);
    const util::TextFileContent table = util::readTextLines(dir.path() / "prodop.dat");
    ASSERT_TRUE(table.ok) << table.error;
    ASSERT_EQ(table.lines.size(), 4u) << "the header and runs 0 to 2";
    const std::vector<double>& values = bench.records().preparation->run.arrayedValues;
    for (int r = 0; r < 3; ++r)
        EXPECT_TRUE(table.lines[static_cast<std::size_t>(r) + 1].starts_with(
            util::formatPattern(values[static_cast<std::size_t>(r)], "#.000") + "\t"))
            << "run " << r;
}

TEST_F(PipelineTest, StartSynthesizesSpectraAndWritesTheMagnetisationFiles)
{
    bench.controls().setText(ctl::ArraySize, "2");
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    EXPECT_TRUE(bench.records().spectraComputed);
    EXPECT_FALSE(bench.records().display.empty());
    EXPECT_FALSE(bench.records().map.has_value());
    for (const char* file : {"a_X.dat", "a_sum.dat", "aFT_XY.dat", "aaa.dat"})
        EXPECT_TRUE(util::fileExists(dir.path() / file)) << file;
}

TEST_F(PipelineTest, RefreshDoesNotDecimateASampledAcquisitionAgain)
{
    // A mother shape of 1024 points acquired as 64: the record is brought to 64 points once.
    std::string shape = "# mother 64 #\r\n";
    for (int i = 0; i < 1024; ++i)
        shape += "0 100 1\r\n";
    dir.writeBytes("acq.rf", shape);
    ASSERT_TRUE(bench.sequence().setContent(2, 0, "n_acq.rf"));
    ASSERT_TRUE(bench.sequence().toggleAcquisition(2));
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    const engine::SampleRecord once = bench.records().preparation->signal;
    refreshSpectra(bench);
    const engine::SampleRecord& after = bench.records().preparation->signal;
    for (int k = 1; k <= 64; ++k) {
        ASSERT_EQ(after.at(1, k, 0), once.at(1, k, 0)) << "sample " << k;
        ASSERT_EQ(after.at(2, k, 0), once.at(2, k, 0)) << "sample " << k;
    }
}

TEST_F(PipelineTest, RefreshSynthesizesTheSpectraAgainFromTheRecordedOperators)
{
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    const std::vector<double> shown(bench.records().display.points(0, 0).begin(),
                                    bench.records().display.points(0, 0).end());
    // Refresh evolves the recorded operators again with the spin system as it stands now.
    bench.spinSystem().setShiftPpm(0, bench.spinSystem().shiftPpm(0) + 0.2);
    bench.spinSystem().rebuild();
    EXPECT_TRUE(refreshSpectra(bench));
    EXPECT_FALSE(bench.runControl().running());
    const std::span<const double> after = bench.records().display.points(0, 0);
    EXPECT_FALSE(std::equal(shown.begin(), shown.end(), after.begin(), after.end()));
}

TEST_F(PipelineTest, ARefreshTheSynthesisRefusesIsReportedAndKeepsTheSpectraShown)
{
    // A stored molecule may hold a T2 of 0; it runs while the T2 switch is off. Ticked afterwards,
    // the Refresh's synthesis cannot decay that spin.
    bench.spinSystem().setT2Ms(0, 0.0);
    bench.spinSystem().rebuild();
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    const std::vector<double> shown(bench.records().display.points(0, 0).begin(),
                                    bench.records().display.points(0, 0).end());
    bench.controls().setChecked(ctl::T2Relaxation, true);
    messages.entries.clear();
    EXPECT_FALSE(refreshSpectra(bench));
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].text.rfind("? error ", 0), 0u) << messages.entries[0].text;
    EXPECT_TRUE(bench.records().spectraComputed);
    const std::span<const double> after = bench.records().display.points(0, 0);
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), after.begin(), after.end()));
}

TEST_F(PipelineTest, A2DRunOfMoreIncrementsThanIndirectPointsIsRefusedBeforeItRuns)
{
    // Ni = np gives np + 1 increments: the map transforms np indirect points and could not use them.
    bench.controls().setText(ctl::PointCount, "16");
    bench.controls().setText(ctl::ArraySize, "16");
    EXPECT_EQ(startExperiment(bench, true), StartOutcome::Refused);
    EXPECT_EQ(bench.records().driver.runsDone, 0);
    bench.controls().setText(ctl::ArraySize, "15");
    EXPECT_EQ(startExperiment(bench, true), StartOutcome::Completed);
    EXPECT_TRUE(bench.records().map.has_value());
}

TEST_F(PipelineTest, TheCosyMapHasCrossPeaksBetweenTheCoupledProtons)
{
    bench.controls().setText(ctl::ArraySize, "15");
    ASSERT_EQ(startExperiment(bench, true), StartOutcome::Completed);
    ASSERT_TRUE(bench.records().map.has_value());
    const std::vector<processing::MapPeak> peaks =
        processing::strongestMapPeaks(*bench.records().map, 400.0, 500.0, 16);
    ASSERT_FALSE(peaks.empty());
    // H0 at -85 Hz and H1 at +68 Hz, each a doublet of J = 30 Hz.
    auto near = [](double f, double centre) { return std::abs(f - centre) <= 25.0; };
    bool h0ToH1 = false, h1ToH0 = false;
    for (const processing::MapPeak& p : peaks) {
        h0ToH1 = h0ToH1 || (near(p.indirectHz, -85.0) && near(p.directHz, 68.0));
        h1ToH0 = h1ToH0 || (near(p.indirectHz, 68.0) && near(p.directHz, -85.0));
    }
    EXPECT_TRUE(h0ToH1);
    EXPECT_TRUE(h1ToH0);
}

TEST(ErrorNumbers, ClassicNumbersForTheKindsOfFailure)
{
    EXPECT_EQ(errorNumber(std::bad_alloc()), 7);
    EXPECT_EQ(errorNumber(std::out_of_range("x")), 9);
    EXPECT_EQ(errorNumber(std::overflow_error("x")), 6);
    EXPECT_EQ(errorNumber(std::runtime_error("x")), 5);
}

TEST_F(PipelineTest, ReadingASequenceRunsThePreparationAndSavesTheCopies)
{
    ASSERT_TRUE(saveSequence(bench, "s.psq"));
    std::filesystem::remove(dir.path() / "rem.psq");
    ASSERT_TRUE(openSequence(bench, "s.psq").wasRead());
    EXPECT_TRUE(util::fileExists(dir.path() / "rem.psq"));
    EXPECT_TRUE(util::fileExists(dir.path() / "rem.mol"));
    EXPECT_FALSE(bench.runControl().running());
}

}  // namespace
}  // namespace velmora::workbench

namespace velmora::workbench {
namespace {

namespace fs = std::filesystem;

// Every entry of the folder with its bytes (folders as ""), but the automatic copies, which every
// accepted Start saves whatever becomes of its results.
std::map<std::string, std::string> folderContents(const fs::path& directory)
{
    std::map<std::string, std::string> contents;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name == "rem.mol" || name == "rem.psq" || name == "rem.options")
            continue;
        std::ostringstream bytes;
        if (entry.is_regular_file())
            bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        contents[name] = bytes.str();
    }
    return contents;
}

// The result files present: everything but the copies, the manifest and the folder's lock file.
std::set<std::string> resultFilesPresent(const fs::path& directory)
{
    std::set<std::string> present;
    for (const auto& [name, bytes] : folderContents(directory))
        if (name != kManifestFile && name != ".velmora-results.lock")
            present.insert(name);
    return present;
}

TEST_F(PipelineTest, AWriteFailureAtAnyFileOfARunFailsItAndKeepsThePreviousSetWhole)
{
    bench.controls().setText(ctl::ArraySize, "2");
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    bench.controls().setText(ctl::ArraySize, "3");
    const std::map<std::string, std::string> before = folderContents(dir.path());
    int failedRuns = 0;
    for (int file = 1; file < 100; ++file) {
        util::failNthWriteForTesting(file);
        const StartOutcome outcome = startExperiment(bench, false);
        util::failNthWriteForTesting(0);
        if (outcome == StartOutcome::Completed)
            break;  // the run writes fewer files than that
        ++failedRuns;
        EXPECT_EQ(outcome, StartOutcome::Failed) << "file " << file;
        const std::string& ended = bench.records().ended;
        EXPECT_EQ(ended.rfind("failed: ", 0), 0u) << ended;
        EXPECT_NE(ended.find(std::string(": ") + std::strerror(ENOSPC)), std::string::npos) << ended;
        EXPECT_TRUE(folderContents(dir.path()) == before) << "a failure at file " << file << ": " << ended;
        EXPECT_FALSE(bench.runControl().running());
    }
    // The copies, the operator table, the magnetisation tables and the manifest.
    EXPECT_GE(failedRuns, 16);
}

TEST_F(PipelineTest, AStopInEachPhaseLeavesAManifestNamingExactlyTheFilesPresent)
{
    bench.setThreads(1);
    bench.controls().setText(ctl::ArraySize, "2");
    for (const std::string phase : {"runs", "spectra", "writing"}) {
        ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
        const std::map<std::string, std::string> completed = folderContents(dir.path());
        bench.setPhaseListener([&](std::string_view now, double) {
            if (now == phase)
                bench.runControl().stop();
        });
        EXPECT_EQ(startExperiment(bench, false), StartOutcome::Stopped) << phase;
        const std::string& ended = bench.records().ended;
        EXPECT_EQ(ended.rfind("stopped ", 0), 0u) << ended;
        const std::optional<std::vector<std::string>> named = manifestFiles(dir.path());
        ASSERT_TRUE(named) << phase;
        EXPECT_EQ(std::set<std::string>(named->begin(), named->end()), resultFilesPresent(dir.path()))
            << phase;
        if (phase == "writing") {
            EXPECT_TRUE(folderContents(dir.path()) == completed) << "the previous set, whole";
        } else {
            EXPECT_EQ(resultFilesPresent(dir.path()), std::set<std::string>{"prodop.dat"}) << phase;
            EXPECT_TRUE(util::readTextLines(dir.path() / "prodop.dat").ok);
        }
        bench.setPhaseListener({});
    }
}

TEST_F(PipelineTest, AStopBetweenTheClaimAndTheStartEndsTheRunAtItsFirstCheck)
{
    // What Python's stop() does once run() has claimed the session and released the interpreter.
    bench.controls().setText(ctl::ArraySize, "5");
    ASSERT_TRUE(bench.runControl().claim());
    bench.runControl().stop();
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Stopped);
    EXPECT_EQ(bench.records().driver.runsDone, 0);
    EXPECT_EQ(bench.records().ended, "stopped after 0 of 6 runs");
}

TEST_F(PipelineTest, ProgressRisesThroughThePhasesAndReachesOneOnlyAtTheEnd)
{
    bench.controls().setText(ctl::ArraySize, "4");
    std::vector<std::pair<std::string, double>> heard;
    bench.setPhaseListener(
        [&](std::string_view phase, double fraction) { heard.emplace_back(phase, fraction); });
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    ASSERT_GE(heard.size(), 3u);
    const std::vector<std::string> order = {"runs", "spectra", "writing"};
    std::size_t phase = 0;
    for (std::size_t k = 0; k < heard.size(); ++k) {
        const auto at = std::find(order.begin(), order.end(), heard[k].first);
        ASSERT_NE(at, order.end()) << heard[k].first;
        EXPECT_GE(static_cast<std::size_t>(at - order.begin()), phase) << "phase back at " << k;
        phase = static_cast<std::size_t>(at - order.begin());
        if (k > 0) {
            EXPECT_GE(heard[k].second, heard[k - 1].second) << "fraction back at " << k;
        }
        if (k + 1 < heard.size()) {
            EXPECT_LT(heard[k].second, 1.0) << k;
        }
    }
    EXPECT_EQ(heard.front().first, "runs");
    EXPECT_EQ(heard.back(), (std::pair<std::string, double>{"writing", 1.0}));
}

TEST_F(PipelineTest, ChosenOutputsWriteOnlyTheirFilesAndNoResultSetLeavesTheFolderAsItWas)
{
    bench.controls().setText(ctl::ArraySize, "1");
    OutputChoice operatorsOnly = OutputChoice::nothing();
    operatorsOnly.operators = true;
    ASSERT_EQ(startExperiment(bench, false, {}, operatorsOnly), StartOutcome::Completed);
    EXPECT_EQ(resultFilesPresent(dir.path()), std::set<std::string>{"prodop.dat"});
    const std::map<std::string, std::string> before = folderContents(dir.path());

    OutputChoice inMemory = OutputChoice::nothing();
    inMemory.resultSet = false;
    bench.controls().setText(ctl::ArraySize, "2");
    ASSERT_EQ(startExperiment(bench, false, {}, inMemory), StartOutcome::Completed);
    EXPECT_TRUE(bench.records().spectraComputed);
    EXPECT_TRUE(folderContents(dir.path()) == before);
}

TEST_F(PipelineTest, TheManifestRecordsTheCallTheOpenedFilesTheChangesAndTheThreads)
{
    ASSERT_TRUE(saveDocument(bench, FileList::Molecules, "two.mol"));
    ASSERT_TRUE(openMolecule(bench, "two.mol").wasRead());
    markDocumentSaved(bench, FileList::Molecules, "two.mol");
    bench.setThreads(3);
    const RunRequestNote note{"velmora-cli 9.9", "velmora-cli run --set ni=0", {"--set ni=0"}};
    ASSERT_EQ(startExperiment(bench, false, {}, {}, note), StartOutcome::Completed);
    const util::TextFileContent manifest = util::readTextLines(dir.path() / kManifestFile);
    ASSERT_TRUE(manifest.ok);
    const auto says = [&](const std::string& line) {
        return std::find(manifest.lines.begin(), manifest.lines.end(), line) != manifest.lines.end();
    };
    EXPECT_TRUE(says("program\tvelmora-cli 9.9"));
    EXPECT_TRUE(says("call\tvelmora-cli run --set ni=0"));
    EXPECT_TRUE(says("set\t--set ni=0"));
    EXPECT_TRUE(says("threads\t3"));
    EXPECT_TRUE(says("opened\ttwo.mol\t" + fileHash(dir.path() / "two.mol")));
    EXPECT_EQ(fileHash(dir.path() / "two.mol").rfind("fnv1a64:", 0), 0u);
    EXPECT_TRUE(std::any_of(manifest.lines.begin(), manifest.lines.end(),
                            [](const std::string& line) { return line.rfind("started\t20", 0) == 0; }));
    EXPECT_TRUE(std::any_of(manifest.lines.begin(), manifest.lines.end(),
                            [](const std::string& line) { return line.rfind("finished\t20", 0) == 0; }));
}

}  // namespace
}  // namespace velmora::workbench
