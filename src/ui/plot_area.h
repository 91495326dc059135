// The plots of the main window: the 1D spectrum or FID strips (Picture1(0)) with their view
// buttons and bars, the 2D map (Picture1(1)) with its row and column sections (Picture1(2), (3))
// following the cursor, and the operator traces (Picture1(4)) of the operators chosen in the list.
#pragma once

#include "processing/display_arrays.h"
#include "processing/map_2d.h"
#include "render/map_figure.h"
#include "render/spectrum_plot.h"
#include "render/trace_plot.h"
#include "ui/control_binder.h"
#include "ui/picture_view.h"
#include "ui/twips.h"

#include <QObject>

#include <filesystem>
#include <QRect>
#include <array>
#include <functional>
#include <optional>

class QLabel;
class QListWidget;
class QSpinBox;
class QStatusBar;
class QWidget;

namespace velmora::workbench {
class Workbench;
}

namespace velmora::ui {

class PlotArea : public QObject {
    Q_OBJECT

public:
    PlotArea(workbench::Workbench& bench, ControlBinder& binder, const Twips& twips, QWidget* area,
             QStatusBar* status);

    // Draws every plot from the records of the last run.
    void redraw();
    // "&Refresh": the spectra again from the last run's records, then every plot.
    void refresh();
    // The detection channel was chosen: the display arrays and the map follow it at once.
    void detectionChanged();
    // "&savePicture": the four pictures as ".BMP" and ".png" in the working directory.
    // Writes plot1d, plot2d, plotOper and plotSec (.BMP and .png) into `folder`, by default the
    // working directory.
    void savePictures(const std::filesystem::path& folder = {});
    // While a run fills the records on its worker thread, the plots go on showing the last result
    // from a copy taken here: the view bars (zoom, baseline, overlay, map gain) stay live and redraw
    // it, every other control of the plots waits for the run's end.
    void setRunning(bool running);

    PictureView* spectrum() const { return spectrum_; }
    PictureView* map() const { return map_; }
    PictureView* traces() const { return traces_; }
    PictureView* rowSection() const { return rowSection_; }
    PictureView* columnSection() const { return columnSection_; }
    // Where the map picture put the map (drawn false when it shows none).
    const render::MapFigureLayout& mapLayout() const { return mapLayout_; }
    QListWidget* dataFiles() const { return files_; }
    // The column the plots fill, in pixels of the working area; the pictures grow with it.
    void setColumnGeometry(const QRect& pixels);
    // Where the column starts in the working area's design, in twips.
    static constexpr int kColumnLeftTwips = 7700;
    static constexpr int kColumnTopTwips = 100;
    std::vector<QWidget*> controls() const { return controls_; }
    bool running() const { return shown_.has_value(); }

private:
    QWidget* buildViewControls(QWidget* area);
    // Each bar's value beside it, with its unit, and the phase boxes.
    void showViewValues();
    void redrawSpectrum();
    void redrawMap();
    // Empties a picture whose data are gone, so that no picture outlives the records it showed.
    static void clearPicture(PictureView* view);
    void redrawTraces();
    void mapCursorMoved(QPointF pixel);
    // The settings of the last result's spectrum with the view bars as they stand now.
    render::SpectrumPlotSettings shownSpectrumSettings() const;
    bool isViewControl(const QWidget* widget) const;
    void rebuildAndRedraw();
    // The data-file viewer: the file's columns plotted in the trace picture, its lines in the
    // results list.
    void viewDataFile(const QString& name);

    workbench::Workbench& bench_;
    ControlBinder& binder_;
    const Twips& twips_;
    QStatusBar* status_;
    PictureView* spectrum_ = nullptr;
    PictureView* map_ = nullptr;
    PictureView* rowSection_ = nullptr;
    PictureView* columnSection_ = nullptr;
    PictureView* traces_ = nullptr;
    QListWidget* files_ = nullptr;
    std::vector<QWidget*> controls_;
    QWidget* column_ = nullptr;
    using ValueFormat = std::function<QString(int)>;
    struct ValueLabel {
        model::ControlId bar;
        QLabel* value = nullptr;
        ValueFormat format;
    };
    std::vector<ValueLabel> valueLabels_;
    std::array<QSpinBox*, 2> phaseBoxes_{};
    double mapGain_ = 1.0;
    render::MapFigureLayout mapLayout_;  // where the map picture put the records' map, if it shows it
    render::SpectrumPlotLayout spectrumLayout_;
    render::TracePlotLayout traceLayout_;
    std::optional<render::OperatorTraceTable> traceTable_;

    // What the plots showed when the run started; none while no run is in progress.
    struct ShownResult {
        processing::DisplayArrays display;
        std::optional<processing::Map2D> map;
        render::SpectrumPlotSettings spectrum;
        render::MapFigureSettings mapFigure;
    };
    std::optional<ShownResult> shown_;
    std::vector<QWidget*> heldBack_;  // the controls disabled while the run goes on
};

}  // namespace velmora::ui
