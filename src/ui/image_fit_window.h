// The image-series window, the program's second window: it browses a folder of image series,
// shows one slice of one image in grey levels, builds synthetic series, fits T1, B1, amplitude
// and error maps on one slice and shows them with their colour scales and, under the mouse, one
// pixel's values and its measured signals with the fitted curve. It shares no data with the
// simulator.
#pragma once

#include "imagefit/decay_maps.h"
#include "imagefit/image_folder_settings.h"
#include "imagefit/image_series.h"
#include "imagefit/vfa_fit.h"
#include "util/messages.h"
#include "util/outcome.h"
#include "util/run_control.h"
#include "util/work_pool.h"

#include <QMainWindow>
#include <filesystem>
#include <map>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QScrollBar;

namespace velmora::ui {

class BackgroundRun;

class ImageFitWindow : public QMainWindow {
    Q_OBJECT

public:
    // `settingsLocation` is the directory of the program's settings file; the window keeps its
    // folder "imagezv" there.
    ImageFitWindow(const std::filesystem::path& settingsLocation, int threads, util::Messages& messages,
                   QWidget* parent = nullptr);
    ~ImageFitWindow() override;

    // Shows the one image window of `owner`, creating it on first use.
    static ImageFitWindow* showFor(QWidget* owner, const std::filesystem::path& settingsLocation, int threads,
                                   util::Messages& messages);

    // The window's commands.
    void showFolder(const std::filesystem::path& folder);    // "&Load_sgl_image" and a change of folder
    bool loadSeriesFrom(const std::filesystem::path& path);  // double click on a file
    void buildModel(bool fromExperiment);                    // "&Model_image", "&Model_imageEXP"
    // "&Start_fitting" (4-D: the decay maps). The fit runs on a worker thread; fittingFinished
    // follows once its maps are shown and written.
    void startFitting();
    void stopFitting();                                      // "&Stop"
    // The pixel read-out of map row r, column c (from 0), as the mouse over the image gives it.
    void readPixel(int row, int column);

    const imagefit::ImageSeries& series() const { return series_; }
    const imagefit::FitMaps& maps() const { return maps_; }
    const imagefit::DecayMaps& decayMaps() const { return decayMaps_; }
    // The ticked input-layout box ("3D_regular_image", "3D_256_256_256", "4D_64_64_64_64").
    imagefit::InputLayout layout() const;
    bool hasResults() const { return hasResults_; }
    const imagefit::ImageFolderSettings& folderSettings() const { return folderSettings_; }
    QString readout(const QString& name) const;
    QImage slicePicture() const;
    QImage curvePicture() const;
    bool fitting() const;

signals:
    void fittingFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing the window stops a running fit (its maps are still written).
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildArea();
    QLineEdit* box(const QString& name, const QString& text, int width = 60);
    double boxNumber(const QString& name, bool& ok) const;
    // The box's number rounded to a whole one (ties to even); `ok` turns false when the box holds
    // no number or one beyond the int range.
    int boxWholeNumber(const QString& name, bool& ok) const;
    imagefit::MapGeometry geometry() const;
    void seriesChanged();
    void redrawImage();
    void redrawMaps();
    void writeMaps(const imagefit::FitSettings& settings);
    void makeDecayMaps();
    imagefit::MemoryBudget memoryBudget() const;
    struct FitOutcome {
        util::Outcome outcome = util::Outcome::success();
        imagefit::FitMaps maps;
    };
    void finishFitting(const imagefit::FitSettings& settings, FitOutcome fitted);
    // Shows that the series cannot change while a fit reads it; true when a fit is in progress.
    bool refusedWhileFitting();

    util::Messages& messages_;
    imagefit::ImageFolderSettings folderSettings_;
    std::filesystem::path shownFolder_;
    util::WorkPool pool_;
    util::RunControl control_;
    BackgroundRun* fit_ = nullptr;
    imagefit::ImageSeries series_;
    imagefit::FitMaps maps_;
    imagefit::FitSettings fittedWith_;
    bool hasResults_ = false;
    // A 4-D data set is loaded (its images are the points of the fourth axis, no flip angles), from
    // this file; its decay maps once made.
    bool seriesIsFourD_ = false;
    std::filesystem::path loadedPath_;
    imagefit::DecayMaps decayMaps_;
    bool hasDecayMaps_ = false;

    std::map<QString, QLineEdit*> boxes_;
    QListWidget* folderList_ = nullptr;
    QListWidget* fileList_ = nullptr;
    QLabel* image_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* curve_ = nullptr;
    QLabel* mapCaptions_[4] = {};
    QLabel* mapPictures_[4] = {};
    QCheckBox* layouts_[3] = {};
    QLabel* mapScales_[4] = {};
    QComboBox* orientation_ = nullptr;
    QComboBox* model_ = nullptr;
    QScrollBar* sliceBar_ = nullptr;
    QScrollBar* imageBar_ = nullptr;
    QScrollBar* thresholdBar_ = nullptr;
    QScrollBar* gainBar_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace velmora::ui
