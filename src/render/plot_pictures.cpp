// The plots of a workbench's last run, drawn at the window's box sizes and saved as pictures.
#include "render/plot_pictures.h"

#include "model/controls.h"
#include "util/numeric_text.h"
#include "util/text_file.h"
#include "workbench/control_handlers.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/workbench.h"

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::render {

namespace {

constexpr model::ControlId kHorizontalZoomBox{"Text2", 2};
constexpr model::ControlId kVerticalZoomBar{"HScroll1", 0};
constexpr model::ControlId kBaselineBar{"VScroll2", 0};
constexpr model::ControlId kRunSelector{"VScroll1", 0};

double boxNumber(const workbench::Workbench& bench, model::ControlId id, double fallback)
{
    return bench.controls().number(id).value_or(fallback);
}

int arraySizeOf(const workbench::Workbench& bench)
{
    const workbench::RunRecords& records = bench.records();
    if (records.preparation)
        return records.preparation->run.arraySize;
    return util::parseWholeNumber(bench.controls().text(model::ctl::ArraySize)).value_or(0);
}

model::Nucleus detectedNucleus(const workbench::Workbench& bench)
{
    switch (workbench::detectionChannel(bench)) {
    case 1:
        return model::Nucleus::C13;
    case 2:
        return model::Nucleus::N15;
    default:
        return model::Nucleus::H1;
    }
}

// Writes `box` as directory/name.png, and name.BMP besides when asked; keeps the first failure.
void savePicture(const PictureBox& box, const std::filesystem::path& directory, const std::string& name,
                 bool bmpAndPng, const PlotPictureOptions& options, util::Outcome& first)
{
    std::vector<std::string> files = {name + ".png"};
    if (bmpAndPng)
        files.push_back(name + ".BMP");
    for (const std::string& file : files) {
        util::Outcome saved = box.save(directory / file);
        if (!saved && options.unsaved)
            options.unsaved(file, saved.message());
        if (!saved && first.ok())
            first = std::move(saved);
    }
}

}  // namespace

QSize picturePixels(TwipSize size, double pixelsPerTwip)
{
    return {static_cast<int>(size.width * pixelsPerTwip + 0.5),
            static_cast<int>(size.height * pixelsPerTwip + 0.5)};
}

namespace {

// What the 1D plot shows, as its title says it: the acquisition pulse, or the spectra or FIDs of the
// run (or the runs side by side) on the detection channel (both channels after a Start_2D).
std::string plotTitle(const workbench::Workbench& bench, const SpectrumPlotSettings& settings, bool spectra)
{
    if (settings.pulseView)
        return spectra ? "acquisition pulse: spectrum" : "acquisition pulse: waveform";
    const int shown = std::max(0, std::min(settings.run, settings.arraySize));
    std::string title = settings.overlay ? (spectra ? "spectrum of run " : "FID of run ")
                                         : (spectra ? "spectra of runs 0 to " : "FIDs of runs 0 to ");
    title += std::to_string(shown);
    title += bench.records().twoD ? ", channels 1H and 13C"
                                  : ", channel " + bench.controls().text(model::ctl::DetectionChannel);
    return title;
}

}  // namespace

SpectrumPlotSettings spectrumPlotSettings(const workbench::Workbench& bench, bool ticks)
{
    const model::Controls& controls = bench.controls();
    SpectrumPlotSettings settings;
    settings.overlay = controls.caption(model::ctl::Overlay) != "OFF";
    settings.horizontalZoom = boxNumber(bench, kHorizontalZoomBox, 1.0);
    settings.verticalZoom = std::pow(2.0, controls.at(kVerticalZoomBar).value);
    settings.baselinePercent = controls.at(kBaselineBar).value;
    settings.run = controls.at(kRunSelector).value;
    settings.arraySize = arraySizeOf(bench);
    settings.pulseView = controls.caption(model::ctl::SignalOrPulse) == "pulse";
    // A Start_2D keeps the direct-dimension data of the 1H and 13C channels in the real and
    // imaginary parts; the third part is their modulus, as for any display array, not the 15N data.
    if (bench.records().twoD && !settings.pulseView)
        settings.stripNames = {"1H", "13C", "√(1H² + 13C²)"};
    const std::string mode = workbench::viewMode(bench);
    bool spectra = mode.ends_with("spec");
    // The synthesis of a Start_2D keeps the direct-dimension spectra where a 1D run keeps its FIDs.
    if (bench.records().twoD && !settings.pulseView)
        spectra = !spectra;
    settings.title = plotTitle(bench, settings, spectra);
    if (!ticks)
        return settings;

    SpectrumAxisSettings& axis = settings.axis;
    axis.kind = spectra ? SpectrumAxis::Frequency : SpectrumAxis::Time;
    axis.spectralWidthHz = workbench::spectraWidthHz(bench);
    axis.acquisitionTimeMs = boxNumber(bench, model::ctl::AcquisitionTime, 0.0);
    axis.protonFrequencyMHz = settings.pulseView ? 0.0 : boxNumber(bench, model::ctl::ProtonFrequency, 0.0);
    axis.nucleus = detectedNucleus(bench);
    return settings;
}

MapAxes mapAxes(const workbench::Workbench& bench)
{
    return {workbench::spectraWidthHz(bench), workbench::indirectSpectraWidthHz(bench)};
}

MapFigureSettings mapFigureSettings(const workbench::Workbench& bench, double gain, double twipsPerPixel)
{
    const workbench::RunRecords& records = bench.records();
    // A map after a 1D run is the vector-evolution map of its sampled runs.
    const int runRows =
        records.map && !records.twoD && records.preparation ? records.preparation->run.lastRun + 1 : 0;
    return {{gain, twipsPerPixel},
            mapAxes(bench),
            boxNumber(bench, model::ctl::ProtonFrequency, 0.0),
            detectedNucleus(bench),
            runRows};
}

TraceAxis traceAxis(const workbench::Workbench& bench)
{
    return {bench.sequence().arrayedName(), bench.sequence().arrayedIndex(), arraySizeOf(bench)};
}

util::Outcome savePlotPictures(const workbench::Workbench& bench, const std::filesystem::path& directory,
                               bool bmpAndPng, const PlotPictureOptions& options)
{
    const double pixelsPerTwip = options.pixelsPerTwip > 0.0 ? options.pixelsPerTwip : 1.0 / kTwipsPerPixel;
    const double twipsPerPixel = 1.0 / pixelsPerTwip;
    util::Outcome first = util::Outcome::success();

    const QSize spectrumSize = picturePixels(kSpectrumPictureTwips, pixelsPerTwip);
    PictureBox spectrum(spectrumSize.width(), spectrumSize.height());
    SpectrumPlotSettings spectrumSettings = spectrumPlotSettings(bench, options.ticks);
    spectrumSettings.twipsPerPixel = twipsPerPixel;
    (void)drawSpectrumPlot(spectrum, bench.records().display, spectrumSettings);
    savePicture(spectrum, directory, "plot1d", bmpAndPng, options, first);

    if (bench.records().map) {
        const QSize mapSize = picturePixels(kMapFigureTwips, pixelsPerTwip);
        PictureBox map(mapSize.width(), mapSize.height());
        (void)drawMapFigure(map, *bench.records().map,
                            mapFigureSettings(bench, options.mapGain, twipsPerPixel));
        savePicture(map, directory, "plot2d", bmpAndPng, options, first);
    }

    // Every operator of the table: the header fields between the arrayed value and the two angles.
    const QSize traceSize = picturePixels(kTracePictureTwips, pixelsPerTwip);
    PictureBox traces(traceSize.width(), traceSize.height());
    // The operator table of the set the pictures join: a run's staged table before it moves in.
    const std::filesystem::path staged = directory / "prodop.dat";
    const std::filesystem::path table = util::fileExists(staged) ? staged : bench.pathOf("prodop.dat");
    if (const OperatorTraceRead read = readOperatorTraces(table); read.table) {
        const std::vector<std::string>& header = read.table->header;
        TracePlotSettings traceSettings;
        traceSettings.twipsPerPixel = twipsPerPixel;
        traceSettings.title = kOperatorTracesTitle;
        traceSettings.horizontalTitle =
            arrayedAxisTitle(bench.sequence().arrayedName(), bench.sequence().arrayedIndex());
        for (std::size_t k = 1; k + 2 < header.size(); ++k)
            traceSettings.operators.push_back(header[k]);
        drawOperatorTraces(traces, *read.table, traceSettings);
    }
    savePicture(traces, directory, "plotOper", bmpAndPng, options, first);

    const QSize sequenceSize = picturePixels(kSequencePictureTwips, pixelsPerTwip);
    PictureBox sequence(sequenceSize.width(), sequenceSize.height());
    if (options.drawSequencePanel)
        options.drawSequencePanel(sequence, bench);
    savePicture(sequence, directory, "plotSec", bmpAndPng, options, first);
    return first;
}

}  // namespace velmora::render
