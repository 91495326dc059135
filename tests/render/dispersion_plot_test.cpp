#include "render/dispersion_plot.h"

#include <gtest/gtest.h>

namespace velmora::render {
namespace {

using model::ExchangeSettings;

TEST(DispersionPlot, OneCurvePerKexAlongTheCpmgFrequencyWithItsFit)
{
    // kex swept first (3 values), tcp second (4 values): curves run along tcp, one per kex.
    exchange::DispersionRequest request;
    request.exchange.sweptName = "Kex";
    request.exchange.lastRunIndex = 2;
    request.exchange.secondSweptName = "tcp";
    request.exchange.secondSeriesCount = 3;
    request.exchange.secondSeriesValue = 500;
    request.exchange.values[ExchangeSettings::Tcp] = 250;
    // 180-degree pulses of 2 us, which refocus the shift: X stays well above its noise.
    request.exchange.values[ExchangeSettings::Tp] = 2;
    request.exchange.values[ExchangeSettings::W1] = 250000;
    request.exchange.values[ExchangeSettings::Necho] = 4;
    util::RecordedMessages messages;
    const std::optional<exchange::PreparedDispersion> prepared =
        exchange::prepareDispersion(request, ".", messages);
    ASSERT_TRUE(prepared);
    exchange::DispersionExperiment experiment(*prepared, 1);
    util::WorkPool pool(1);
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    ASSERT_TRUE(experiment.run(2, pool, control, {}, {}));

    const DispersionPlotData data = dispersionPlotData(*prepared, experiment.results());
    EXPECT_EQ(data.xTitle, "nu_CPMG, Hz");
    ASSERT_EQ(data.curves.size(), 3u);
    EXPECT_EQ(data.curves[1].label, "Kex = 101");
    ASSERT_EQ(data.curves[0].x.size(), 4u);
    EXPECT_DOUBLE_EQ(data.curves[0].x[0], 1e6 / (2 * 502)) << "pulses 502 us apart";
    EXPECT_DOUBLE_EQ(data.curves[0].x[1], 1e6 / (2 * 1502)) << "tcp 750 us: pulses 1502 us apart";
    EXPECT_FALSE(data.curves[2].fitX.empty()) << "tcp swept over four values: Kex_cal and its curve";

    PictureBox box(400, 300);
    drawDispersionPlot(box, data);
    int drawn = 0;
    for (int y = 0; y < box.pixelHeight(); ++y)
        for (int x = 0; x < box.pixelWidth(); ++x)
            drawn += box.image().pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_GT(drawn, 500);

    exchange::DispersionResults oneLost = experiment.results();
    oneLost.points[3].signalLost = true;  // kex 100, the second tcp
    EXPECT_EQ(dispersionPlotData(*prepared, oneLost).curves[0].x.size(), 3u) << "a lost point is not drawn";
}

}  // namespace
}  // namespace velmora::render
