#include "engine/experiment_driver.h"
#include "engine/run_size.h"
#include "engine/sequence_preparation.h"
#include "model/count_limits.h"
#include "support/preparation_from_controls.h"
#include "support/scratch_directory.h"
#include "util/run_control.h"

#include <climits>
#include <gtest/gtest.h>

namespace velmora::engine {
namespace {

namespace ctl = model::ctl;
using velmora::testing::ScratchDirectory;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// Every counter of a run stays inside 32 bits at the stated limits: the largest run index of a
// Start_2D and the pass count scans x runs that the progress reports.
static_assert((std::int64_t{model::kMostArraySize} + 1) * 2 * model::kMostScans < INT_MAX);
static_assert(model::kMostCycles < INT_MAX);

class RunSizeTest : public ::testing::Test {
protected:
    RunSizeTest() { spins.rebuild(); }

    std::optional<Preparation> prepare(int runsPerValue, std::optional<SystemCapacity> capacity)
    {
        return velmora::testing::prepareFromControls(sequence, controls, spins, dir.path(), runsPerValue,
                                                     messages, capacity);
    }
    std::string lastMessage() const
    {
        return messages.entries.empty() ? std::string() : messages.entries.back().text;
    }

    ScratchDirectory dir;
    model::SpinSystem spins;
    model::PulseSequence sequence;
    model::Controls controls;
    util::RecordedMessages messages;
};

TEST_F(RunSizeTest, OversizedRunsAreRefusedWithTheSizeTheMemoryAndTheBoxToChange)
{
    // 64 GiB free, but an address space of 8 GiB: the least of the figures counts.
    SystemCapacity eightGiB;
    eightGiB.memAvailable = 64 * kGiB;
    eightGiB.addressSpaceLeft = 8 * kGiB;
    for (const char* ni : {"1000000", "2147483647"}) {
        controls.setText(ctl::ArraySize, ni);
        EXPECT_FALSE(prepare(1, eightGiB)) << ni;
        EXPECT_NE(lastMessage().find("of memory for its records, but only 8.0 GiB are available (the "
                                     "address-space limit"),
                  std::string::npos)
            << lastMessage();
        EXPECT_NE(lastMessage().find("Lower \"Ni\" (Text14(11))"), std::string::npos) << lastMessage();
        EXPECT_EQ(controls.text(ctl::ArraySize), ni) << "the model is left as it was";
    }

    // Ten spins, 128 slices (a gradient in the sequence), 4096 increments of a Start_2D.
    for (int k = 3; k < 10; ++k)
        ASSERT_TRUE(spins.setLabel(k, "H" + std::to_string(k)));
    spins.rebuild();
    ASSERT_EQ(spins.spinCount(), 10);
    sequence.step(1).gradient = -21;
    sequence.elements().setValue(21, 10.0);
    controls.setText(ctl::LastSlice, "127");
    controls.setText(ctl::ArraySize, "4096");
    EXPECT_FALSE(prepare(2, eightGiB));
    EXPECT_NE(lastMessage().find("This run needs "), std::string::npos) << lastMessage();

    // The start-up run fits easily.
    spins.resetToDefaults();
    spins.rebuild();
    sequence = model::PulseSequence();
    controls.setText(ctl::ArraySize, "31");
    EXPECT_TRUE(prepare(1, eightGiB)) << lastMessage();

    // An array file sets the run count from its rows, whatever the box holds.
    controls.setText(ctl::ArraySize, "2147483647");
    controls.setCaption(ctl::ArrayMethod, "ar2.tab");
    dir.writeBytes("ar2.tab", "0 1\r\n0 2\r\n0 3\r\n");
    const std::optional<Preparation> fromFile = prepare(1, eightGiB);
    ASSERT_TRUE(fromFile) << lastMessage();
    EXPECT_EQ(fromFile->run.lastRun, 2);  // three rows, three runs
}

TEST_F(RunSizeTest, ResultFilesThatWouldNotFitOnTheDiskAreRefused)
{
    SystemCapacity noDisk;
    noDisk.memAvailable = 64 * kGiB;
    noDisk.diskFree = 1024 * 1024;
    EXPECT_FALSE(prepare(1, noDisk));
    EXPECT_NE(lastMessage().find("are free on the disk of the working directory"), std::string::npos)
        << lastMessage();
}

TEST_F(RunSizeTest, CountsBeyondTheirLimitsAreRefusedAndThoseAtTheLimitsRun)
{
    const SystemCapacity plenty{};  // nothing known: only the count limits apply
    controls.setText(ctl::ScanCount, std::to_string(model::kMostScans));
    sequence.elements().setValue(model::element::kCycleCount, model::kMostCycles);
    EXPECT_TRUE(prepare(1, plenty)) << lastMessage();

    controls.setText(ctl::ScanCount, std::to_string(model::kMostScans + 1));
    EXPECT_FALSE(prepare(1, plenty));
    EXPECT_NE(lastMessage().find("scans must be at least 1 and at most 1024"), std::string::npos)
        << lastMessage();
    controls.setText(ctl::ScanCount, "1");

    sequence.elements().setValue(model::element::kCycleCount, 1e10);
    EXPECT_FALSE(prepare(1, plenty));
    EXPECT_NE(lastMessage().find("the cycle count 10000000000 is larger than 100000"), std::string::npos)
        << lastMessage();
    sequence.elements().setValue(model::element::kCycleCount, 0.0);

    controls.setText(ctl::ArraySize, std::to_string(model::kMostArraySize + 1));
    EXPECT_FALSE(prepare(1, plenty));
    EXPECT_NE(lastMessage().find("a run takes at most 1000000 arrayed values"), std::string::npos)
        << lastMessage();
}

TEST_F(RunSizeTest, TheEstimateCoversTheRecordsARealRunHolds)
{
    // Two coupled protons and a carbon, sliced by a gradient on the acquisition, three runs.
    sequence.step(sequence.stepCount() + 1).gradient = -21;
    sequence.elements().setValue(21, 5.0);
    controls.setText(ctl::LastSlice, "7");
    controls.setText(ctl::ArraySize, "2");
    std::optional<Preparation> prepared = prepare(1, SystemCapacity{});
    ASSERT_TRUE(prepared) << lastMessage();
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    const DriverResult result = runExperiment(
        {sequence, spins, prepared->run, prepared->signal, dir.path(), control, 1, nullptr, {}});

    RunShape shape;
    shape.spinCount = spins.spinCount();
    shape.runs = prepared->run.lastRun + 1;
    shape.pointCount = prepared->run.pointCount;
    shape.stateRows = 8;
    shape.detectionRows = 8;
    for (int partners : {1, 2, 1})
        addRecordedOperatorBound(partners, shape);
    EXPECT_GE(shape.recordedEntries, static_cast<std::int64_t>(result.recorded.size()));
    std::int64_t components = 0;
    for (const RecordedOperator& e : result.recorded)
        components += e.componentCount;
    EXPECT_GE(shape.multipletComponents, components);
    EXPECT_GE(shape.multipletFrequencies, static_cast<std::int64_t>(result.recorded.frequenciesHz().size()));

    const double held =
        8.0 * (static_cast<double>(result.operators.operatorCount()) * (result.operators.lastRun() + 1) +
               (result.detection.lastSlice() + 1.0) * result.detection.entries() *
                   (result.detection.lastRun() + 1) +
               2.0 * 4.0 * (prepared->signal.lastSample() + 1.0) * (prepared->signal.lastRun() + 1));
    EXPECT_GE(estimateRunSize(shape).memoryBytes, held);
}

TEST(SystemCapacity, TheLeastFigureCountsAndIsNamed)
{
    SystemCapacity capacity;
    capacity.memAvailable = 6 * kGiB;
    capacity.cgroupLeft = 2 * kGiB;
    capacity.addressSpaceLeft = 4 * kGiB;
    EXPECT_EQ(capacity.memoryLeft(), 2 * kGiB);
    EXPECT_NE(capacity.memoryLimitName().find("control group"), std::string::npos);
    capacity.cgroupLeft.reset();
    EXPECT_NE(capacity.memoryLimitName().find("address-space"), std::string::npos);
    EXPECT_FALSE(SystemCapacity{}.memoryLeft().has_value());
    EXPECT_TRUE(readSystemCapacity(".").memAvailable.has_value()) << "Linux reports MemAvailable";
}

}  // namespace
}  // namespace velmora::engine
