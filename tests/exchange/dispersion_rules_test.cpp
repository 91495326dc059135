// The rules of the dispersion experiment that are not physics: refusals, the phase list, the
// swept names, the random streams and the text of the results.
#include "exchange/dispersion_experiment.h"
#include "exchange/dispersion_table.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

namespace velmora::exchange {
namespace {

using model::ExchangeSettings;

DispersionRequest smallGrid()
{
    DispersionRequest request;
    request.t2Relaxation = true;
    auto& v = request.exchange.values;
    v[ExchangeSettings::Tcp] = 500;
    v[ExchangeSettings::Tp] = 20;
    v[ExchangeSettings::W1] = 25000;
    v[ExchangeSettings::Necho] = 8;
    v[ExchangeSettings::Kex] = 1000;
    v[ExchangeSettings::Pa] = 0.9;
    request.exchange.sweptName = "kex";
    request.exchange.lastRunIndex = 2;  // kex 1000, 2000, 4000
    request.exchange.seriesValue = 2;
    request.firstMethod = "Mult";
    request.exchange.secondSweptName = "ch_shift";
    request.exchange.secondSeriesCount = 1;  // ch_shift 100, 300 Hz
    request.exchange.secondSeriesValue = 200;
    return request;
}

PreparedDispersion prepared(const DispersionRequest& request)
{
    util::RecordedMessages messages;
    std::optional<PreparedDispersion> p = prepareDispersion(request, ".", messages);
    EXPECT_TRUE(p) << (messages.entries.empty() ? "" : messages.entries[0].text);
    return p ? *p : PreparedDispersion{};
}

std::string refusal(const DispersionRequest& request)
{
    util::RecordedMessages messages;
    EXPECT_FALSE(prepareDispersion(request, ".", messages));
    return messages.entries.empty() ? "" : messages.entries[0].title + ": " + messages.entries[0].text;
}

TEST(DispersionRules, RefusesNegativeValuesZeroDelaysWithHardPulsesAndImpossiblePopulations)
{
    for (const ExchangeSettings::Value value :
         {ExchangeSettings::Kex, ExchangeSettings::HalfShift, ExchangeSettings::Necho, ExchangeSettings::Pa,
          ExchangeSettings::Tp, ExchangeSettings::Tcp, ExchangeSettings::W1}) {
        DispersionRequest request = smallGrid();
        request.exchange.values[value] = -1;
        EXPECT_EQ(refusal(request), "Error!: negative value?") << value;
    }
    DispersionRequest sweptBelowZero = smallGrid();
    sweptBelowZero.exchange.secondSeriesValue = -80;  // ch_shift 100, 20, -60 Hz
    sweptBelowZero.exchange.secondSeriesCount = 2;
    EXPECT_EQ(refusal(sweptBelowZero), "Error!: negative value?") << "every grid point is checked";

    DispersionRequest zeroDelay = smallGrid();
    zeroDelay.exchange.values[ExchangeSettings::Tcp] = 0;
    EXPECT_EQ(refusal(zeroDelay), "Error!: dellength=?");

    DispersionRequest overfull = smallGrid();
    overfull.exchange.values[ExchangeSettings::Pa] = 1.5;
    EXPECT_NE(refusal(overfull).find("Pa"), std::string::npos) << "negative waiting times in site A";

    DispersionRequest noT2 = smallGrid();
    noT2.exchange.values[ExchangeSettings::T2SiteB] = 0;
    EXPECT_NE(refusal(noT2).find("T2"), std::string::npos);

    DispersionRequest missingShape = smallGrid();
    missingShape.exchange.shapedPulse = "nothere.RF";
    EXPECT_NE(refusal(missingShape).find("check the address"), std::string::npos);
}

TEST(DispersionRules, RefusesCountsBeyondTheirLimitsNamingTheBox)
{
    DispersionRequest huge = smallGrid();
    huge.exchange.lastRunIndex = 2147483647;  // one more value would overflow a 32-bit count
    EXPECT_NE(refusal(huge).find("Ni = 2147483647 asks for 2147483648 values"), std::string::npos);

    DispersionRequest square = smallGrid();
    square.exchange.lastRunIndex = square.exchange.secondSeriesCount = 46340;
    EXPECT_NE(refusal(square).find("46341 x 46341 = 2147488281 points"), std::string::npos);

    DispersionRequest echoes = smallGrid();
    echoes.exchange.values[ExchangeSettings::Necho] = 1e10;
    EXPECT_NE(refusal(echoes).find("Necho = 10000000000"), std::string::npos);
}

TEST(DispersionRules, RefusesAGridPointThatWouldRunForHoursWithItsEstimate)
{
    DispersionRequest longDelay = smallGrid();
    longDelay.exchange.values[ExchangeSettings::Tcp] = 1e12;
    const std::string delayRefusal = refusal(longDelay);
    EXPECT_NE(delayRefusal.find("would take about"), std::string::npos) << delayRefusal;
    EXPECT_NE(delayRefusal.find("at most 10 minutes"), std::string::npos) << delayRefusal;

    // Rates whose waiting times lie below the rounding step of a delay: the jump clock cannot run.
    DispersionRequest fast = smallGrid();
    fast.exchange.values[ExchangeSettings::Kex] = 1e300;
    EXPECT_NE(refusal(fast).find("Lower kex, tcp or Tp"), std::string::npos);
    DispersionRequest steps = smallGrid();
    steps.exchange.lastRunIndex = 1;
    steps.exchange.seriesValue = 1e300;  // kex 1000 and 1e303
    EXPECT_NE(refusal(steps).find("would take about"), std::string::npos);
}

// The default second sweep is ch_shift: a first sweep of ch_shift must still step it.
TEST(DispersionRules, ASweepOfOneValueLeavesTheSameQuantitySweptByTheOtherAlone)
{
    DispersionRequest request = smallGrid();
    request.exchange.sweptName = "ch_shift";
    request.firstMethod = "Add";
    request.exchange.seriesValue = 200;
    request.exchange.secondSeriesCount = 0;
    const PreparedDispersion p = prepared(request);
    for (int point = 0; point < 3; ++point)
        EXPECT_DOUBLE_EQ(p.valuesAt(point)[ExchangeSettings::HalfShift], 50 + 100 * point) << point;

    request.exchange.secondSeriesCount = 1;
    EXPECT_NE(refusal(request).find("both sweeps step ch_shift"), std::string::npos);
}

TEST(DispersionRules, AShapedPulseNameWithAFolderIsRefusedUnread)
{
    velmora::testing::ScratchDirectory dir;
    std::filesystem::create_directory(dir.path() / "work");
    dir.writeBytes("outside.RF", "# one element\r\n0 1023 1\r\n");
    for (const std::string& name :
         std::vector<std::string>{"../outside.RF", (dir.path() / "outside.RF").string()}) {
        DispersionRequest request = smallGrid();
        request.exchange.shapedPulse = name;
        util::RecordedMessages messages;
        EXPECT_FALSE(prepareDispersion(request, dir.path() / "work", messages)) << name;
        ASSERT_EQ(messages.entries.size(), 1u);
        EXPECT_NE(messages.entries[0].text.find("without a folder"), std::string::npos);
    }
}

TEST(DispersionRules, PhaseListSweptNamesAndWaitingTimes)
{
    EXPECT_EQ(echoPhaseDigits("0", 4), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(echoPhaseDigits("01", 3), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(echoPhaseDigits("", 2), (std::vector<int>{0, 0}));

    EXPECT_EQ(sweptNameFor("TCP"), "tcp");
    EXPECT_EQ(sweptNameFor("T2"), "Kex") << "an unknown name sweeps the exchange rate";
    DispersionRequest request = smallGrid();
    request.exchange.sweptName = "nonsense";
    const PreparedDispersion p = prepared(request);
    EXPECT_EQ(p.first.name, "Kex");
    EXPECT_DOUBLE_EQ(p.valuesAt(2)[ExchangeSettings::Kex], 4000);
    EXPECT_DOUBLE_EQ(p.valuesAt(5)[ExchangeSettings::HalfShift], 150) << "ch_shift 300 Hz is h = 150 Hz";

    EXPECT_EQ(waitingTimeUs(0.0, 1000), 0.0) << "u = 0 waits no time";
    EXPECT_DOUBLE_EQ(waitingTimeUs(1 - std::exp(-1.0), 1000), 1000) << "one mean waiting time, us";
}

TEST(DispersionRules, ShapedPulseOfZeroAmplitudeActsAsAFreeDelay)
{
    velmora::testing::ScratchDirectory dir;
    dir.writeBytes("off.RF", "# no RF\r\n0 0 1\r\n0 0 1\r\n");
    DispersionRequest request = smallGrid();
    request.exchange.shapedPulse = "off.RF";
    request.exchange.values[ExchangeSettings::Kex] = 0;
    request.exchange.values[ExchangeSettings::RfOffset] = 30;
    util::RecordedMessages messages;
    const std::optional<PreparedDispersion> shaped = prepareDispersion(request, dir.path(), messages);
    ASSERT_TRUE(shaped);
    ASSERT_EQ(shaped->pulse.size(), 2u);
    const Values v = shaped->valuesAt(0);
    const double x = shaped->trainFor(v).withoutExchange();
    // Site A precesses at h - RFoffset = 20 Hz for the whole train; T2 100 ms.
    const double seconds = 8 * (2 * 500 + 20) * 1e-6;
    EXPECT_NEAR(x, std::cos(6.28318530717958 * 20 * seconds) * std::exp(-seconds / 0.1), 1e-9);

    // Elements of relative duration 3 make the pulse three times Tp: the echo spacing grows with it.
    dir.writeBytes("long.RF", "# stretched\r\n0 0 3\r\n0 0 3\r\n");
    request.exchange.shapedPulse = "long.RF";
    const std::optional<PreparedDispersion> longer = prepareDispersion(request, dir.path(), messages);
    ASSERT_TRUE(longer);
    EXPECT_DOUBLE_EQ(longer->trainFor(v).cpmgFrequencyHz(), 1e6 / (2 * (2 * 500 + 3 * 20)));
}

DispersionResults runGrids(const PreparedDispersion& p, int threads, int grids,
                           std::vector<DispersionResults>* each)
{
    DispersionExperiment experiment(p, 42);
    util::WorkPool pool(threads);
    util::RunControl control;
    EXPECT_TRUE(control.tryStart());
    EXPECT_TRUE(experiment.run(grids, pool, control,
                               [&](const DispersionResults& r) {
                                   if (each != nullptr)
                                       each->push_back(r);
                               },
                               {}));
    return experiment.results();
}

TEST(DispersionRules, TheSeedFixesTheTableOnAnyThreadCountAndGridsDiffer)
{
    const PreparedDispersion p = prepared(smallGrid());
    std::vector<DispersionResults> grids;
    const DispersionResults one = runGrids(p, 1, 2, &grids);
    const DispersionResults two = runGrids(p, 2, 2, nullptr);
    EXPECT_EQ(resultListItems(one), resultListItems(two));
    ASSERT_EQ(grids.size(), 2u);
    EXPECT_EQ(grids[1].points[0].histories, 20);
    // Identical grids would leave the mean of the per-history rates where the first grid put it.
    for (std::size_t k = 0; k < one.points.size(); ++k)
        EXPECT_NE(grids[0].points[k].r2effRepPerS, grids[1].points[k].r2effRepPerS) << k;
}

TEST(DispersionRules, TalliesComputedInAnyOrderAndAddedGridByGridGiveTheTableOfARun)
{
    const PreparedDispersion p = prepared(smallGrid());
    const DispersionResults whole = runGrids(p, 2, 3, nullptr);
    // As tasks elsewhere would: the last grid first, the points of each grid backwards.
    const DispersionExperiment tasks(p, 42);
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    std::vector<std::vector<std::optional<DispersionExperiment::Tally>>> grids(
        3, std::vector<std::optional<DispersionExperiment::Tally>>(static_cast<std::size_t>(p.pointCount())));
    for (int grid = 3; grid >= 1; --grid)
        for (int point = p.pointCount() - 1; point >= 0; --point)
            grids[static_cast<std::size_t>(grid - 1)][static_cast<std::size_t>(point)] =
                tasks.evaluate(grid, point, control);
    DispersionExperiment gathered(p, 42);
    gathered.clear();
    for (int grid = 1; grid <= 3; ++grid)
        ASSERT_TRUE(gathered.addGrid(grid, grids[static_cast<std::size_t>(grid - 1)]));
    EXPECT_EQ(gathered.results().gridsDone, 3);
    EXPECT_EQ(resultListItems(gathered.results()), resultListItems(whole));
    for (std::size_t k = 0; k < whole.points.size(); ++k) {
        EXPECT_EQ(gathered.results().points[k].x, whole.points[k].x) << k;
        EXPECT_EQ(gathered.results().points[k].r2effRepPerS, whole.points[k].r2effRepPerS) << k;
    }
}

TEST(DispersionRules, StopKeepsTheFinishedPointsOfTheUnfinishedGrid)
{
    const PreparedDispersion p = prepared(smallGrid());
    DispersionExperiment experiment(p, 3);
    util::WorkPool pool(1);
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    int batches = 0;
    int tables = 0;
    const bool completed = experiment.run(
        5, pool, control, [&](const DispersionResults&) { ++tables; },
        [&](int grid, int) {
            if (++batches == 8 && grid == 2)
                control.stop();
        });
    EXPECT_FALSE(completed);
    EXPECT_EQ(batches, 8) << "no point after the stop";
    EXPECT_EQ(tables, 2) << "the first grid, then the two points of the second";
    const DispersionResults& results = experiment.results();
    EXPECT_EQ(results.gridsDone, 1);
    EXPECT_EQ(results.partialGridPoints, 2);
    EXPECT_EQ(results.points[1].histories, 20);
    EXPECT_EQ(results.points[2].histories, 10);
}

TEST(DispersionRules, StopEndsAHistoryInsideALongDelay)
{
    // One delay of 10^6 s at kex 10^6 /s: about 5 x 10^11 jumps, hours of work without a stop.
    DispersionRequest request = smallGrid();
    auto& v = request.exchange.values;
    v[ExchangeSettings::Tcp] = 1e12;
    v[ExchangeSettings::Kex] = 1e6;
    v[ExchangeSettings::Pa] = 0.5;
    v[ExchangeSettings::Necho] = 1;
    const std::vector<PulseElement> hard{PulseElement{}};
    const std::vector<int> phases{0};
    const EchoTrain train(v, hard, phases, "Ix", false, true);
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    std::atomic<bool> started{false};
    std::thread stopper([&] {
        while (!started.load())
            std::this_thread::yield();
        control.stop();
    });
    util::UniformRandom random(5);
    started.store(true);
    const std::optional<double> x = train.history(random, control);
    stopper.join();
    EXPECT_FALSE(x) << "a stopped history has no result";
}

TEST(DispersionTable, HeaderParameterEntriesAndOneLinePerPoint)
{
    velmora::testing::ScratchDirectory dir;
    DispersionRequest request = smallGrid();
    request.exchange.values[ExchangeSettings::Tcp] = 512.345;
    const PreparedDispersion p = prepared(request);
    const DispersionResults results = runGrids(p, 1, 1, nullptr);
    ASSERT_TRUE(writeDispersionTable(dir.path() / "exchange.dat", p, results, "2026-12-08"));
    const util::TextFileContent file = util::readTextLines(dir.path() / "exchange.dat");
    ASSERT_TRUE(file.ok);
    ASSERT_EQ(file.lines.size(), 16u) << "header, 6 points, then the 9 entries left";
    EXPECT_EQ(
        file.lines[0],
        "Parameters\tKex\tch_shift\tRex\tX\tX0\terr%\tRab\tRba\tPa\tKex_cal\tR2eff\tR2eff_rep\tR2eff_se\t"
        "Kex_cal_se");
    EXPECT_EQ(file.lines[1].substr(0, 16), "_______________\t") << "no shaped pulse";
    EXPECT_EQ(file.lines[2].substr(0, 16), "ch_shift=_array\t");
    EXPECT_EQ(file.lines[3].substr(0, 16), "Necho=________8\t");
    EXPECT_EQ(file.lines[5].substr(0, 16), "kex=______array\t");
    EXPECT_EQ(file.lines[8].substr(0, 16), "tcp=_____512.34\t") << "truncated to two decimals";
    EXPECT_EQ(file.lines[10], "Tseq=___8357.52\t") << "8 x (2 x 512.345 + 20) us";
    EXPECT_EQ(file.lines[11], "w1=_______25000\t");
    EXPECT_EQ(file.lines[12], "Nexp=_________1\t");
    EXPECT_EQ(file.lines[15], "_____2026-12-08\t");
    const std::string& point = file.lines[3];
    const std::string item = point.substr(point.find('\t') + 1);
    EXPECT_EQ(item.substr(0, item.find('\t', 5)), "4000\t100") << "kex 4000 /s, ch_shift 100 Hz";
    EXPECT_EQ(std::count(item.begin(), item.end(), '\t'), 13);
}

TEST(DispersionTable, TruncatedEntriesKeepTheDecimalsTheValuesWereGiven)
{
    DispersionRequest request = smallGrid();
    auto& v = request.exchange.values;
    v[ExchangeSettings::RfOffset] = 8.2;
    v[ExchangeSettings::Kex] = 2.3;
    v[ExchangeSettings::Tcp] = 1000.1;
    v[ExchangeSettings::Tp] = 333.3;
    v[ExchangeSettings::Necho] = 7;
    request.exchange.lastRunIndex = 0;
    request.exchange.secondSeriesCount = 0;
    const std::vector<std::string> entries = parameterEntries(prepared(request), 1, "2026-12-09");
    ASSERT_EQ(entries.size(), 15u);
    EXPECT_EQ(entries[4], "kex=________2.3");
    EXPECT_EQ(entries[5], "RFoffset=___8.2");
    EXPECT_EQ(entries[7], "tcp=_____1000.1");
    EXPECT_EQ(entries[9], "Tseq=___16334.5") << "7 x (2 x 1000.1 + 333.3) us";
}

}  // namespace
}  // namespace velmora::exchange
