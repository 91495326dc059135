// The pictures of a workbench's last run: which files are written, at which sizes, what they show,
// the sequence-panel callback; and the plot settings read from the window's controls.
#include "model/controls.h"
#include "render/plot_pictures.h"
#include "support/scratch_directory.h"
#include "util/messages.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/workbench.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace velmora::render {
namespace {

namespace ctl = model::ctl;
using velmora::testing::ScratchDirectory;

QImage load(const std::filesystem::path& file)
{
    return QImage(QString::fromStdString(file.string()));
}

int countNot(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int row = 0; row < image.height(); ++row)
        for (int column = 0; column < image.width(); ++column)
            count += image.pixelColor(column, row) != colour ? 1 : 0;
    return count;
}

class PlotPictures : public ::testing::Test {
protected:
    PlotPictures() { bench.spinSystem().rebuild(); }

    void run(bool twoD, const char* arraySize)
    {
        bench.controls().setText(ctl::ArraySize, arraySize);
        ASSERT_EQ(workbench::startExperiment(bench, twoD), workbench::StartOutcome::Completed);
    }

    ScratchDirectory dir;
    util::RecordedMessages messages;
    workbench::Workbench bench{messages, dir.path()};
};

TEST_F(PlotPictures, A2DRunSavesFourPicturesAsBitmapAndPngAtTheBoxSizes)
{
    run(true, "3");
    const std::filesystem::path out = dir.path() / "pictures";
    std::filesystem::create_directory(out);
    ASSERT_TRUE(savePlotPictures(bench, out, true)) << "saved";

    struct Expected {
        const char* name;
        int width;
        int height;
        QColor ground;
    };
    // 7800 x 3900, 7800 x 7200 (the map with its axes), 7800 x 2650 and 7600 x 2500 twips at 15
    // twips per pixel.
    const Expected pictures[] = {{"plot1d", 520, 260, Qt::white},
                                 {"plot2d", 520, 480, Qt::white},
                                 {"plotOper", 520, 177, Qt::white},
                                 {"plotSec", 507, 167, Qt::white}};
    for (const Expected& e : pictures) {
        for (const char* extension : {".png", ".BMP"}) {
            const QImage image = load(out / (std::string(e.name) + extension));
            ASSERT_FALSE(image.isNull()) << e.name << extension;
            EXPECT_EQ(image.width(), e.width) << e.name;
            EXPECT_EQ(image.height(), e.height) << e.name;
        }
        const int drawn = countNot(load(out / (std::string(e.name) + ".png")), e.ground);
        if (std::string(e.name) == "plotSec")
            EXPECT_EQ(drawn, 0) << "no sequence panel drawer: a blank picture";
        else
            EXPECT_GT(drawn, 500) << e.name << " shows the run";
    }
}

TEST_F(PlotPictures, A1DRunHasNoMapPictureAndPngAloneWhenAsked)
{
    run(false, "3");
    ASSERT_TRUE(savePlotPictures(bench, dir.path(), false));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "plot1d.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "plotOper.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "plotSec.png"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "plot2d.png"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "plot1d.BMP"));
}

TEST_F(PlotPictures, TheWindowsScaleAndTheSequencePanelDrawerArePassedOn)
{
    run(false, "1");
    PlotPictureOptions options;
    options.pixelsPerTwip = 2.0 / 15.0;
    QSize panelSize;
    options.drawSequencePanel = [&](PictureBox& box, const workbench::Workbench& drawn) {
        EXPECT_EQ(&drawn, &bench);
        panelSize = QSize(box.pixelWidth(), box.pixelHeight());
        box.setForeColor(QColor(255, 0, 0));
        box.line(0.0, 100.0, box.pixelWidth() * kTwipsPerPixel, 100.0);
    };
    ASSERT_TRUE(savePlotPictures(bench, dir.path(), false, options));
    EXPECT_EQ(panelSize, QSize(1013, 333));
    const QImage panel = load(dir.path() / "plotSec.png");
    EXPECT_EQ(panel.size(), QSize(1013, 333));
    EXPECT_GT(countNot(panel, Qt::white), 1000) << "the drawer's line, across the width";
    EXPECT_EQ(load(dir.path() / "plot1d.png").size(), QSize(1040, 520));
}

TEST_F(PlotPictures, AFolderThatDoesNotExistIsReported)
{
    run(false, "1");
    const util::Outcome saved = savePlotPictures(bench, dir.path() / "absent", false);
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.message().find("absent"), std::string::npos) << saved.message();
}

TEST_F(PlotPictures, APictureThatCannotBeWrittenIsToldWithWhyAndTheOthersAreSaved)
{
    run(false, "1");
    std::filesystem::create_directory(dir.path() / "plot1d.png");  // in the way of the file
    std::vector<std::string> unsaved;
    PlotPictureOptions options;
    options.unsaved = [&](const std::string& file, const std::string& why) {
        unsaved.push_back(file + ": " + why);
    };
    const util::Outcome saved = savePlotPictures(bench, dir.path(), false, options);
    ASSERT_FALSE(saved);
    ASSERT_EQ(unsaved.size(), 1u);
    EXPECT_EQ(unsaved[0].rfind("plot1d.png: Cannot write the picture file ", 0), 0u) << unsaved[0];
    EXPECT_GT(unsaved[0].size(), unsaved[0].find(".png: ", 20) + 3) << "a reason follows the name";
    EXPECT_EQ(saved.message(), unsaved[0].substr(std::string("plot1d.png: ").size()));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "plotOper.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "plotSec.png"));
}

TEST_F(PlotPictures, TheSpectrumSettingsFollowTheViewControls)
{
    model::Controls& controls = bench.controls();
    SpectrumPlotSettings settings = spectrumPlotSettings(bench);
    EXPECT_TRUE(settings.overlay);
    EXPECT_EQ(settings.horizontalZoom, 1.0);
    EXPECT_EQ(settings.verticalZoom, 1.0);
    EXPECT_EQ(settings.axis.kind, SpectrumAxis::Time) << "the start-up view shows the FIDs";

    controls.setCaption(ctl::Overlay, "OFF");
    controls.setText({"Text2", 2}, "4");
    controls.setValue({"HScroll1", 0}, 3);
    controls.setValue({"VScroll2", 0}, -40);
    controls.setValue({"VScroll1", 0}, 5);
    controls.setText(ctl::ArraySize, "7");
    controls.setCaption(ctl::SpectrumOrFid, "spec");
    controls.setText(ctl::SpectralWidth, "1000");
    controls.setText(ctl::ProtonFrequency, "500");
    controls.setText(ctl::DetectionChannel, "C13");
    settings = spectrumPlotSettings(bench);
    EXPECT_FALSE(settings.overlay);
    EXPECT_EQ(settings.horizontalZoom, 4.0);
    EXPECT_EQ(settings.verticalZoom, 8.0) << "Z = 2^3";
    EXPECT_EQ(settings.baselinePercent, -40.0);
    EXPECT_EQ(settings.run, 5);
    EXPECT_EQ(settings.arraySize, 7) << "before any run, Ni of its box";
    EXPECT_FALSE(settings.pulseView);
    EXPECT_EQ(settings.axis.kind, SpectrumAxis::Frequency);
    EXPECT_EQ(settings.axis.spectralWidthHz, 1000.0);
    EXPECT_EQ(settings.axis.protonFrequencyMHz, 500.0);
    EXPECT_EQ(settings.axis.nucleus, model::Nucleus::C13);

    controls.setCaption(ctl::SignalOrPulse, "pulse");
    settings = spectrumPlotSettings(bench);
    EXPECT_TRUE(settings.pulseView);
    EXPECT_EQ(settings.axis.protonFrequencyMHz, 0.0) << "no ppm for the pulse's spectrum";
    EXPECT_EQ(spectrumPlotSettings(bench, false).axis.kind, SpectrumAxis::None);
}

TEST_F(PlotPictures, AfterA2DRunTheFidViewHoldsSpectraAndGetsHertzTicks)
{
    run(true, "1");
    EXPECT_EQ(workbench::viewMode(bench), "signalfid");
    EXPECT_EQ(spectrumPlotSettings(bench).axis.kind, SpectrumAxis::Frequency);
    EXPECT_EQ(spectrumPlotSettings(bench).arraySize, 1);
    bench.controls().setCaption(ctl::SpectrumOrFid, "spec");
    EXPECT_EQ(spectrumPlotSettings(bench).axis.kind, SpectrumAxis::Time);

    // The strips name what they hold: the 1H and 13C channels, and the modulus of the two (lit,
    // although the spin system holds no 15N).
    const auto names = spectrumPlotSettings(bench).stripNames;
    EXPECT_EQ(names[0], "1H");
    EXPECT_EQ(names[1], "13C");
    EXPECT_EQ(names[2], "\u221a(1H\u00b2 + 13C\u00b2)");
    const processing::DisplayArrays& display = bench.records().display;
    ASSERT_FALSE(display.empty());
    double largest = 0.0;
    for (int i = 0; i < display.pointCount(); ++i) {
        EXPECT_NEAR(display.at(0, 2, i), std::hypot(display.at(0, 0, i), display.at(0, 1, i)), 1e-9);
        largest = std::max(largest, display.at(0, 2, i));
    }
    EXPECT_GT(largest, 0.0);
}

}  // namespace
}  // namespace velmora::render
