// The image-series window. The scroll bars map to the display as follows: slice and image bars
// count from 1; the threshold bar sets the threshold in thousandths of the largest intensity; the
// gain bar sets the display gain in tenths (1 to 100, so 0.1 to 10).
#include "ui/image_fit_window.h"

#include "engine/run_size.h"
#include "imagefit/map_files.h"
#include "imagefit/series_loading.h"
#include "imagefit/signal_model.h"
#include "imagefit/synthetic_series.h"
#include "render/image_maps.h"
#include "ui/background_run.h"
#include "util/numeric_text.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace velmora::ui {

namespace {

constexpr int kImagePx = 320;  // side of the slice display
constexpr int kMapPx = 160;    // side of each map picture
const char* const kMapNames[4] = {"T1", "B1", "Ampl", "Error"};
const char* const kMapUnits[4] = {"s", "factor", "a.u.", "rel."};
// The same four places in the 4-D layout.
const char* const kDecayMapNames[4] = {"T2", "MAX", "INTEGRAL", "f"};
const char* const kDecayMapUnits[4] = {"ms", "a.u.", "a.u. ms", "rel."};
const char* const kLayoutNames[3] = {"3D_regular_image", "3D_256_256_256", "4D_64_64_64_64"};
// As many threads as the command line's --threads takes.
constexpr int kMostThreads = 256;

QString pathText(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

}  // namespace

ImageFitWindow::ImageFitWindow(const std::filesystem::path& settingsLocation, int threads,
                               util::Messages& messages, QWidget* parent)
    : QMainWindow(parent), messages_(messages), pool_(std::clamp(threads, 1, kMostThreads))
{
    setWindowTitle("Velmora - image series");
    setWindowFlag(Qt::Window);
    if (util::Outcome opened = imagefit::openImageFolderSettings(settingsLocation, folderSettings_); !opened)
        messages_.show(opened.message(), "Error!");
    fit_ = new BackgroundRun(this);
    buildMenus();
    buildArea();
    std::error_code error;
    showFolder(std::filesystem::is_directory(folderSettings_.rememberedFolder, error)
                   ? folderSettings_.rememberedFolder
                   : folderSettings_.settingsFile.parent_path());
}

ImageFitWindow::~ImageFitWindow()
{
    // A fit still going reads the series: it ends before the window's members go.
    control_.stop();
    delete fit_;
}

ImageFitWindow* ImageFitWindow::showFor(QWidget* owner, const std::filesystem::path& settingsLocation,
                                        int threads, util::Messages& messages)
{
    auto* window = owner->findChild<ImageFitWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr)
        window = new ImageFitWindow(settingsLocation, threads, messages, owner);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void ImageFitWindow::buildMenus()
{
    connect(menuBar()->addAction("&Load_sgl_image"), &QAction::triggered, this, [this] {
        folderList_->setVisible(true);
        fileList_->setVisible(true);
        showFolder(shownFolder_);
        status_->setText(status_->text() + "   Double-click a series to load it: a T1_*.sgl cube (the "
                                           "folder's series), a series description or a NIfTI file.");
    });
    connect(menuBar()->addAction("&Model_image"), &QAction::triggered, this, [this] { buildModel(false); });
    connect(menuBar()->addAction("&Model_imageEXP"), &QAction::triggered, this, [this] { buildModel(true); });
    connect(menuBar()->addAction("&Start_fitting"), &QAction::triggered, this, &ImageFitWindow::startFitting);
    connect(menuBar()->addAction("&Stop"), &QAction::triggered, this, &ImageFitWindow::stopFitting);
}

QLineEdit* ImageFitWindow::box(const QString& name, const QString& text, int width)
{
    auto* edit = new QLineEdit(text, this);
    edit->setObjectName(name);
    edit->setFixedWidth(width);
    boxes_[name] = edit;
    return edit;
}

double ImageFitWindow::boxNumber(const QString& name, bool& ok) const
{
    const auto found = boxes_.find(name);
    const std::optional<double> value = found != boxes_.end()
                                            ? util::parseNumber(found->second->text().trimmed().toStdString())
                                            : std::nullopt;
    ok = ok && value.has_value();
    return value.value_or(0.0);
}

int ImageFitWindow::boxWholeNumber(const QString& name, bool& ok) const
{
    const auto found = boxes_.find(name);
    const std::optional<std::int32_t> value =
        found != boxes_.end() ? util::parseWholeNumber(found->second->text().trimmed().toStdString())
                              : std::nullopt;
    ok = ok && value.has_value();
    return value.value_or(0);
}

QString ImageFitWindow::readout(const QString& name) const
{
    const auto found = boxes_.find("Text6_" + name);
    return found != boxes_.end() ? found->second->text() : QString();
}

QImage ImageFitWindow::slicePicture() const
{
    return image_->pixmap().toImage();
}

QImage ImageFitWindow::curvePicture() const
{
    return curve_->pixmap().toImage();
}

void ImageFitWindow::buildArea()
{
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);

    // Folder and file lists.
    auto* lists = new QVBoxLayout;
    folderList_ = new QListWidget(this);
    folderList_->setObjectName("Dir1");
    fileList_ = new QListWidget(this);
    fileList_->setObjectName("File1");
    lists->addWidget(new QLabel("Folders", this));
    lists->addWidget(folderList_);
    lists->addWidget(new QLabel("Series files (*.sgl, *.nii, *.nii.gz)", this));
    lists->addWidget(fileList_);
    connect(folderList_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        const QString name = item->text();
        const std::filesystem::path target =
            name == ".." ? shownFolder_.parent_path() : shownFolder_ / name.toStdString();
        showFolder(target);
        if (util::Outcome remembered = imagefit::rememberImageFolder(folderSettings_, target); !remembered)
            messages_.show(remembered.message(), "Error!");
    });
    connect(fileList_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { loadSeriesFrom(shownFolder_ / item->text().toStdString()); });
    columns->addLayout(lists, 1);

    // Slice display with its bars, and the input and fitting options.
    auto* middle = new QVBoxLayout;
    image_ = new QLabel(this);
    image_->setObjectName("Picture1");
    image_->setFixedSize(kImagePx, kImagePx);
    image_->setMouseTracking(true);
    image_->installEventFilter(this);
    auto* imageRow = new QHBoxLayout;
    imageRow->addWidget(image_);
    imageBar_ = new QScrollBar(Qt::Vertical, this);
    imageBar_->setObjectName("VScroll1");
    imageRow->addWidget(imageBar_);
    middle->addLayout(imageRow);
    auto bar = [&](const QString& name, const QString& caption, int low, int high, int value) {
        auto* scroll = new QScrollBar(Qt::Horizontal, this);
        scroll->setObjectName(name);
        scroll->setRange(low, high);
        scroll->setValue(value);
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(caption, this);
        label->setFixedWidth(70);
        row->addWidget(label);
        row->addWidget(scroll);
        middle->addLayout(row);
        return scroll;
    };
    sliceBar_ = bar("HScroll1", "slice", 1, 1, 1);
    thresholdBar_ = bar("HScroll2", "threshold", 0, 1000, 100);
    gainBar_ = bar("HScroll3", "gain", 1, 100, 10);

    auto* input = new QGroupBox("Input options", this);
    auto* inputGrid = new QGridLayout(input);
    inputGrid->addWidget(new QLabel("block nx, ny, nz", this), 0, 0);
    inputGrid->addWidget(box("Text5_0", "128", 45), 0, 1);
    inputGrid->addWidget(box("Text5_1", "128", 45), 0, 2);
    inputGrid->addWidget(box("Text5_2", "128", 45), 0, 3);
    model_ = new QComboBox(this);
    model_->setObjectName("Combo2");
    model_->addItems({imagefit::kRegularModelText, imagefit::kSolutionTestText});
    inputGrid->addWidget(new QLabel("model", this), 1, 0);
    inputGrid->addWidget(model_, 1, 1, 1, 3);
    // Input layout: ticking one box clears the other two.
    auto* layoutGroup = new QButtonGroup(this);
    layoutGroup->setExclusive(true);
    for (int k = 0; k < 3; ++k) {
        layouts_[k] = new QCheckBox(kLayoutNames[k], this);
        layouts_[k]->setObjectName(QString("Check1_%1").arg(k));
        layoutGroup->addButton(layouts_[k], k);
        inputGrid->addWidget(layouts_[k], 2 + k, 0, 1, 4);
    }
    layouts_[0]->setChecked(true);
    connect(layoutGroup, &QButtonGroup::idClicked, this, [this](int id) {
        // The 256 layout takes the central 256^3 block: the size boxes say so.
        if (id == 1)
            for (const char* name : {"Text5_0", "Text5_1", "Text5_2"})
                boxes_[name]->setText("256");
        redrawMaps();
    });
    inputGrid->addWidget(new QLabel("echo ms (4-D)", this), 5, 0);
    inputGrid->addWidget(box("echo_ms", "", 60), 5, 1);
    middle->addWidget(input);

    auto* preparation = new QGroupBox("Preparations for fitting", this);
    auto* fitGrid = new QGridLayout(preparation);
    orientation_ = new QComboBox(this);
    orientation_->setObjectName("Combo1");
    orientation_->addItems({"cor", "trans", "sag"});
    fitGrid->addWidget(new QLabel("slice #", this), 0, 0);
    fitGrid->addWidget(box("Text1", "64"), 0, 1);
    fitGrid->addWidget(new QLabel("slab +-", this), 0, 2);
    fitGrid->addWidget(box("Text5_3", "1"), 0, 3);
    fitGrid->addWidget(new QLabel("deciding image", this), 1, 0);
    fitGrid->addWidget(box("Text8", "1"), 1, 1);
    fitGrid->addWidget(new QLabel("trashhold", this), 1, 2);
    fitGrid->addWidget(box("Text7", "0", 80), 1, 3);
    fitGrid->addWidget(new QLabel("orientation", this), 2, 0);
    fitGrid->addWidget(orientation_, 2, 1);
    fitGrid->addWidget(new QLabel("Global restrictions:", this), 3, 0);
    fitGrid->addWidget(new QLabel("min                max ", this), 3, 1, 1, 2);
    const char* const rows[3][3] = {{"T1 (s)", "0.05", "5"}, {"B1", "0.1", "1.5"}, {"Ampl", "0.01", ""}};
    for (int k = 0; k < 3; ++k) {
        fitGrid->addWidget(new QLabel(rows[k][0], this), 4 + k, 0);
        fitGrid->addWidget(box(QString("Text3_%1").arg(k), rows[k][1]), 4 + k, 1);
        fitGrid->addWidget(box(QString("Text4_%1").arg(k), rows[k][2]), 4 + k, 2);
    }
    middle->addWidget(preparation);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    middle->addWidget(progress_);
    columns->addLayout(middle, 2);

    // Maps with their scales, the read-out and the signal plot.
    auto* right = new QVBoxLayout;
    auto* mapGrid = new QGridLayout;
    for (int k = 0; k < 4; ++k) {
        auto* caption = new QLabel(QString("%1 (%2)").arg(kMapNames[k], kMapUnits[k]), this);
        mapCaptions_[k] = caption;
        mapPictures_[k] = new QLabel(this);
        mapPictures_[k]->setObjectName(QString("map_%1").arg(kMapNames[k]));
        mapPictures_[k]->setFixedSize(kMapPx, kMapPx);
        mapScales_[k] = new QLabel(this);
        mapScales_[k]->setFixedSize(60, kMapPx);
        mapGrid->addWidget(caption, (k / 2) * 2, (k % 2) * 2, 1, 2);
        mapGrid->addWidget(mapPictures_[k], (k / 2) * 2 + 1, (k % 2) * 2);
        mapGrid->addWidget(mapScales_[k], (k / 2) * 2 + 1, (k % 2) * 2 + 1);
    }
    right->addLayout(mapGrid);
    auto* readGrid = new QGridLayout;
    const char* const fields[] = {"image #",   "slice #", "intensity", "Raw:", "average",
                                  "trashhold", "T1",      "B1",        "Ampl", "Error"};
    int at = 0;
    for (const char* field : fields) {
        readGrid->addWidget(new QLabel(field, this), at / 5 * 2, at % 5);
        auto* edit = box(QString("Text6_") + field, "", 80);
        edit->setReadOnly(true);
        readGrid->addWidget(edit, at / 5 * 2 + 1, at % 5);
        ++at;
    }
    right->addLayout(readGrid);
    curve_ = new QLabel(this);
    curve_->setObjectName("Picture2");
    curve_->setFixedSize(360, 170);
    right->addWidget(curve_);
    columns->addLayout(right, 3);
    setCentralWidget(central);

    status_ = new QLabel(this);
    statusBar()->addWidget(status_, 1);
    connect(sliceBar_, &QScrollBar::valueChanged, this, [this](int value) {
        boxes_["Text1"]->setText(QString::number(value));
        redrawImage();
        if (hasDecayMaps_)
            redrawMaps();
    });
    connect(imageBar_, &QScrollBar::valueChanged, this, [this](int) { redrawImage(); });
    connect(thresholdBar_, &QScrollBar::valueChanged, this, [this](int value) {
        boxes_["Text7"]->setText(QString::number(series_.largestValue * value / 1000.0, 'g', 6));
        redrawImage();
    });
    connect(gainBar_, &QScrollBar::valueChanged, this, [this](int) {
        redrawImage();
        redrawMaps();
    });
    connect(orientation_, &QComboBox::currentIndexChanged, this, [this](int) { seriesChanged(); });
    redrawImage();
    redrawMaps();
}

void ImageFitWindow::showFolder(const std::filesystem::path& folder)
{
    shownFolder_ = folder;
    folderList_->clear();
    fileList_->clear();
    folderList_->addItem("..");
    std::error_code error;
    std::vector<std::string> folders, files;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (it->is_directory(error))
            folders.push_back(name);
        else if (imagefit::isNiftiPath(name) || name.ends_with(".sgl") || name.ends_with(".SGL"))
            files.push_back(name);
    }
    std::sort(folders.begin(), folders.end());
    std::sort(files.begin(), files.end());
    for (const std::string& name : folders)
        folderList_->addItem(QString::fromStdString(name));
    for (const std::string& name : files)
        fileList_->addItem(QString::fromStdString(name));
    status_->setText(pathText(folder));
}

bool ImageFitWindow::loadSeriesFrom(const std::filesystem::path& path)
{
    if (refusedWhileFitting())
        return false;
    status_->setText("Reading data...");
    status_->repaint();  // shown before the reading holds the window up
    bool ok = true;
    const imagefit::BlockSize block{boxWholeNumber("Text5_0", ok), boxWholeNumber("Text5_1", ok),
                                    boxWholeNumber("Text5_2", ok)};
    // NIfTI volumes carry their own size; cube files give the central block of the size boxes (of
    // 256^3 in the 256 layout).
    const imagefit::InputLayout shape = layout();
    const imagefit::BlockSize used = imagefit::isNiftiPath(path) ? imagefit::BlockSize{}
                                     : shape == imagefit::InputLayout::Cube256
                                         ? imagefit::BlockSize{256, 256, 256}
                                         : block;
    double spacingMs = 0.0;
    util::Outcome loaded = util::Outcome::failure("The block sizes must be whole numbers.");
    if (ok && shape == imagefit::InputLayout::FourD)
        loaded = imagefit::loadFourDSeries(path, used, series_, spacingMs, memoryBudget());
    else if (ok)
        loaded = imagefit::loadSeries(path, used, {}, series_, memoryBudget());
    if (!loaded) {
        status_->setText(pathText(path));
        messages_.show(loaded.message(), "Error!");
        return false;
    }
    seriesIsFourD_ = shape == imagefit::InputLayout::FourD;
    loadedPath_ = path;
    if (spacingMs > 0.0)
        boxes_["echo_ms"]->setText(QString::number(spacingMs, 'g', 6));
    hasResults_ = false;
    hasDecayMaps_ = false;
    status_->setText(QString("%1: %2 images of %3 x %4 x %5")
                         .arg(pathText(path.filename()))
                         .arg(series_.images())
                         .arg(series_.nx)
                         .arg(series_.ny)
                         .arg(series_.nz));
    seriesChanged();
    return true;
}

void ImageFitWindow::buildModel(bool fromExperiment)
{
    if (refusedWhileFitting())
        return;
    // A 4-D data set's images are points of its fourth axis: they have no flip angles to model.
    if (fromExperiment && (series_.images() == 0 || seriesIsFourD_)) {
        messages_.show("Load an image series first: its flip angles and TRs make the model series.",
                       "Error!");
        return;
    }
    bool ok = true;
    const int nx = boxWholeNumber("Text5_0", ok);
    const int ny = boxWholeNumber("Text5_1", ok);
    const int nz = boxWholeNumber("Text5_2", ok);
    if (!ok || nx < 1 || ny < 1 || nz < 1 || nx > 1024 || ny > 1024 || nz > 1024) {
        messages_.show("The block sizes must be whole numbers from 1 to 1024.", "Error!");
        return;
    }
    imagefit::SyntheticAcquisition acquisition;
    acquisition.noiseFraction = 0.01;
    if (fromExperiment) {
        acquisition.flipAnglesDeg.clear();
        for (double angle : series_.flipAngleRad)
            acquisition.flipAnglesDeg.push_back(angle / imagefit::kRadiansPerDegree);
        acquisition.trSeconds = series_.trSeconds;
    }
    // 1024^3 voxels of six images are 48 GiB: the model is sized before anything is asked or made.
    if (util::Outcome sized = imagefit::checkSeriesSize(static_cast<double>(nx) * ny * nz,
                                                        static_cast<double>(acquisition.flipAnglesDeg.size()),
                                                        0.0, memoryBudget(), "the model (block boxes)");
        !sized) {
        messages_.show(sized.message(), "Error!");
        return;
    }
    if (series_.images() > 0) {
        // The model replaces the series on screen and writes its files beside the user's data.
        QMessageBox ask(QMessageBox::Question, "Velmora",
                        "The model series replaces the loaded series, and its description and maps are "
                        "written into " +
                            QString::fromStdString(folderSettings_.rememberedFolder.string()) + ". Go on?",
                        QMessageBox::Yes | QMessageBox::Cancel, this);
        ask.setObjectName("model over a loaded series");
        ask.setDefaultButton(QMessageBox::Cancel);
        if (ask.exec() != QMessageBox::Yes)
            return;
    }
    const imagefit::ModelKind kind =
        model_->currentIndex() == 1 ? imagefit::ModelKind::SolutionTest : imagefit::ModelKind::Regular;
    const imagefit::ModelMaps model = imagefit::modelMaps(nx, ny, kind);
    // Other programs may take the memory between the check and the allocation: the series on
    // screen stays.
    try {
        series_ = imagefit::syntheticSeries(model, nz, acquisition);
    } catch (const std::bad_alloc&) {
        messages_.show("Not enough memory for the model series; take smaller block sizes.", "Error!");
        return;
    }
    seriesIsFourD_ = false;
    loadedPath_.clear();
    hasResults_ = false;
    hasDecayMaps_ = false;
    const imagefit::Orientation orientation =
        imagefit::orientationFromText(orientation_->currentText().toStdString())
            .value_or(imagefit::Orientation::Coronal);
    if (util::Outcome written = imagefit::writeModelFiles(
            folderSettings_.rememberedFolder,
            imagefit::todaysMapBaseName(folderSettings_.rememberedFolder, orientation), model, kind,
            acquisition);
        !written)
        messages_.show(written.message(), "Error!");
    status_->setText(
        QString("model series: %1 images of %2 x %3 x %4").arg(series_.images()).arg(nx).arg(ny).arg(nz));
    seriesChanged();
}

imagefit::MapGeometry ImageFitWindow::geometry() const
{
    return imagefit::mapGeometry(series_,
                                 imagefit::orientationFromText(orientation_->currentText().toStdString())
                                     .value_or(imagefit::Orientation::Coronal));
}

void ImageFitWindow::seriesChanged()
{
    const imagefit::MapGeometry shape = geometry();
    const QSignalBlocker blockSlice(sliceBar_), blockImage(imageBar_), blockThreshold(thresholdBar_);
    sliceBar_->setRange(1, std::max(1, shape.slices));
    sliceBar_->setValue(std::max(1, (shape.slices + 1) / 2));
    boxes_["Text1"]->setText(QString::number(sliceBar_->value()));
    imageBar_->setRange(1, std::max(1, series_.images()));
    imageBar_->setValue(1);
    boxes_["Text7"]->setText(QString::number(series_.largestValue * thresholdBar_->value() / 1000.0, 'g', 6));
    redrawImage();
    redrawMaps();
}

void ImageFitWindow::redrawImage()
{
    bool ok = true;
    const double threshold = boxNumber("Text7", ok);
    const QImage slice =
        render::sliceGreyImage(series_, geometry(), sliceBar_->value() - 1, imageBar_->value() - 1,
                               ok ? threshold : 0.0, gainBar_->value() / 10.0);
    image_->setPixmap(
        QPixmap::fromImage(slice.scaled(kImagePx, kImagePx, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
}

void ImageFitWindow::redrawMaps()
{
    const bool fourD = layout() == imagefit::InputLayout::FourD;
    // In the 4-D layout the places show the shown slice of the decay maps: a view whose fitted
    // pixels are the voxels with a T2.
    imagefit::FitMaps view;
    std::vector<double> maximum;
    const bool showDecay = fourD && hasDecayMaps_ && decayMaps_.nx == series_.nx &&
                           decayMaps_.ny == series_.ny && decayMaps_.nz == series_.nz;
    if (showDecay) {
        const imagefit::MapGeometry shape = geometry();
        const int slice = std::clamp(sliceBar_->value() - 1, 0, std::max(0, shape.slices - 1));
        view.rows = shape.rows;
        view.columns = shape.columns;
        for (int r = 0; r < shape.rows; ++r) {
            for (int c = 0; c < shape.columns; ++c) {
                int x = 0, y = 0, z = 0;
                shape.voxel(r, c, slice, x, y, z);
                const std::size_t v = series_.index(x, y, z, 0);
                view.t1Seconds.push_back(decayMaps_.t2Ms[v]);
                view.b1.push_back(decayMaps_.t2Ms[v] > 0.0 ? 1.0 : imagefit::kUnfittedB1);
                view.amplitude.push_back(decayMaps_.integral[v]);
                view.error.push_back(decayMaps_.fitQuality[v]);
                maximum.push_back(decayMaps_.maximum[v]);
            }
        }
    }
    const imagefit::FitMaps& shown = fourD ? view : maps_;
    const std::vector<double>* values[4] = {&shown.t1Seconds, fourD ? &maximum : &shown.b1, &shown.amplitude,
                                            &shown.error};
    for (int k = 0; k < 4; ++k) {
        const char* name = fourD ? kDecayMapNames[k] : kMapNames[k];
        const char* unit = fourD ? kDecayMapUnits[k] : kMapUnits[k];
        mapCaptions_[k]->setText(QString("%1 (%2)").arg(name, unit));
        double low = 0.0, high = 1.0;
        QImage picture(kMapPx, kMapPx, QImage::Format_RGB32);
        picture.fill(Qt::black);
        if (fourD ? showDecay : hasResults_) {
            render::fittedRange(shown, *values[k], low, high);
            // The gain narrows the scale about its lower end, as it brightens the grey image.
            high = low + (high - low) / std::max(0.1, gainBar_->value() / 10.0);
            picture = render::mapColourImage(shown, *values[k], low, high)
                          .scaled(kMapPx, kMapPx, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        }
        mapPictures_[k]->setPixmap(QPixmap::fromImage(picture));
        mapScales_[k]->setPixmap(QPixmap::fromImage(render::colourScale(60, kMapPx, low, high, unit)));
    }
}

imagefit::InputLayout ImageFitWindow::layout() const
{
    if (layouts_[2] != nullptr && layouts_[2]->isChecked())
        return imagefit::InputLayout::FourD;
    if (layouts_[1] != nullptr && layouts_[1]->isChecked())
        return imagefit::InputLayout::Cube256;
    return imagefit::InputLayout::Regular3d;
}

imagefit::MemoryBudget ImageFitWindow::memoryBudget() const
{
    const engine::SystemCapacity capacity = engine::readSystemCapacity(folderSettings_.rememberedFolder);
    imagefit::MemoryBudget budget;
    if (const std::optional<std::uint64_t> left = capacity.memoryLeft())
        budget.bytes = static_cast<double>(*left);
    budget.limitName = capacity.memoryLimitName();
    return budget;
}

void ImageFitWindow::makeDecayMaps()
{
    if (!seriesIsFourD_) {
        messages_.show("Load a 4-D data set with the box 4D_64_64_64_64 ticked first.", "Error!");
        return;
    }
    bool ok = true;
    const double threshold = boxNumber("Text7", ok);
    const double spacingMs = boxNumber("echo_ms", ok);
    if (!ok) {
        messages_.show("The threshold and the echo spacing (ms) must be numbers.", "Error!");
        return;
    }
    imagefit::DecayMaps maps;
    if (util::Outcome made = imagefit::computeDecayMaps(series_, spacingMs, threshold, maps); !made) {
        messages_.show(made.message(), "Error!");
        return;
    }
    decayMaps_ = std::move(maps);
    hasDecayMaps_ = true;
    const std::filesystem::path base = imagefit::decayMapBaseName(loadedPath_);
    if (util::Outcome written = imagefit::writeDecayMaps(base, series_, decayMaps_); !written)
        messages_.show(written.message(), "Error!");
    else
        status_->setText(
            QString("%1 of %2 voxels with a T2 (%3 below the threshold, %4 non-finite, %5 without "
                    "a decay); maps written to %6_T2 ...")
                .arg(decayMaps_.fittedVoxels)
                .arg(series_.voxelsPerImage())
                .arg(decayMaps_.belowThreshold)
                .arg(decayMaps_.nonFinite)
                .arg(decayMaps_.noDecay)
                .arg(pathText(base)));
    progress_->setValue(100);
    redrawMaps();
}

void ImageFitWindow::startFitting()
{
    if (refusedWhileFitting())
        return;
    if (layout() == imagefit::InputLayout::FourD) {
        makeDecayMaps();
        return;
    }
    if (seriesIsFourD_) {
        messages_.show("The loaded series is a 4-D data set without flip angles: tick 4D_64_64_64_64 to make "
                       "its maps, or load an image series.",
                       "Error!");
        return;
    }
    if (!control_.tryStart())
        return;
    bool ok = true;
    imagefit::FitSettings settings;
    settings.slice = boxWholeNumber("Text1", ok);
    settings.slabHalfThickness = boxWholeNumber("Text5_3", ok);
    settings.decidingImage = boxWholeNumber("Text8", ok);
    settings.threshold = boxNumber("Text7", ok);
    settings.t1MinSeconds = boxNumber("Text3_0", ok);
    settings.t1MaxSeconds = boxNumber("Text4_0", ok);
    settings.b1Min = boxNumber("Text3_1", ok);
    settings.b1Max = boxNumber("Text4_1", ok);
    settings.amplitudeMin = boxNumber("Text3_2", ok);
    // An empty amplitude maximum is no maximum.
    settings.amplitudeMax = boxes_["Text4_2"]->text().trimmed().isEmpty()
                                ? std::numeric_limits<double>::infinity()
                                : boxNumber("Text4_2", ok);
    settings.orientation = geometry().orientation;
    if (!ok) {
        control_.stop();
        messages_.show("The fitting boxes must hold numbers (slice, slab and deciding image whole ones).",
                       "Error!");
        return;
    }
    progress_->setValue(0);
    // The fit runs on a worker thread over the loaded series, which nothing changes until it ends;
    // its progress is posted to the window.
    auto fitted = std::make_shared<FitOutcome>();
    fit_->start(
        [this, settings, fitted, budget = memoryBudget()] {
            fitted->outcome = imagefit::fitImageSeries(
                series_, settings, pool_, &control_,
                [this](int pass, int done, int total) {
                    const int percent = ((pass - 1) * 100 + 100 * done / std::max(1, total)) / 4;
                    BackgroundRun::post(this, [this, pass, percent] {
                        progress_->setValue(percent);
                        status_->setText(QString("pass %1 of 4").arg(pass));
                    });
                },
                fitted->maps, budget);
            control_.stop();
        },
        [this, settings, fitted] { finishFitting(settings, std::move(*fitted)); });
}

void ImageFitWindow::finishFitting(const imagefit::FitSettings& settings, FitOutcome fitted)
{
    if (!fitted.outcome) {
        messages_.show(fitted.outcome.message(),
                       fitted.outcome.message() == imagefit::kSlabMessage ? "" : "Error!");
        emit fittingFinished();
        return;
    }
    maps_ = std::move(fitted.maps);
    fittedWith_ = settings;
    hasResults_ = true;
    progress_->setValue(maps_.stopped ? progress_->value() : 100);
    boxes_["Text6_Error"]->setText(QString::number(maps_.smallestError, 'g', 6));
    writeMaps(settings);
    redrawMaps();
    emit fittingFinished();
}

bool ImageFitWindow::fitting() const
{
    return fit_->busy();
}

bool ImageFitWindow::refusedWhileFitting()
{
    if (!fitting())
        return false;
    status_->setText("A fit is in progress: Stop it first.");
    return true;
}

void ImageFitWindow::stopFitting()
{
    control_.stop();
}

void ImageFitWindow::writeMaps(const imagefit::FitSettings& settings)
{
    const std::filesystem::path base =
        imagefit::todaysMapBaseName(folderSettings_.rememberedFolder, settings.orientation);
    if (util::Outcome written = imagefit::writeFitMaps(base, maps_, series_, settings); !written) {
        messages_.show(written.message(), "Error!");
        return;
    }
    status_->setText(QString("%1 pixels fitted%2 (not fitted: %3 below the threshold, %4 with no finite fit; "
                             "at a bound: %5 T1, %6 amplitude); maps written to %7_T1 ...")
                         .arg(maps_.fittedPixels)
                         .arg(maps_.stopped ? " (stopped)" : "")
                         .arg(maps_.belowThreshold)
                         .arg(maps_.noFiniteFit)
                         .arg(maps_.t1AtBound)
                         .arg(maps_.amplitudeAtBound)
                         .arg(pathText(base)));
}

void ImageFitWindow::readPixel(int row, int column)
{
    const imagefit::MapGeometry shape = geometry();
    if (series_.images() == 0 || row < 0 || column < 0 || row >= shape.rows || column >= shape.columns)
        return;
    int x = 0, y = 0, z = 0;
    shape.voxel(row, column, sliceBar_->value() - 1, x, y, z);
    const int image = imageBar_->value() - 1;
    boxes_["Text6_image #"]->setText(QString::number(image + 1));
    boxes_["Text6_slice #"]->setText(QString::number(sliceBar_->value()));
    boxes_["Text6_intensity"]->setText(QString::number(series_.at(x, y, z, image), 'f', 2));
    boxes_["Text6_Raw:"]->setText(QString("%1, %2").arg(row + 1).arg(column + 1));
    boxes_["Text6_trashhold"]->setText(boxes_["Text7"]->text());
    // The maps belong to the orientation they were fitted in: under another one the same row and
    // column are another voxel (a cubic block gives maps of the same shape all the same).
    if (!hasResults_ || fittedWith_.orientation != shape.orientation || maps_.rows != shape.rows ||
        maps_.columns != shape.columns) {
        for (const char* field : {"Text6_average", "Text6_T1", "Text6_B1", "Text6_Ampl", "Text6_Error"})
            boxes_[field]->clear();
        curve_->clear();
        return;
    }
    const std::size_t p = maps_.index(row, column);
    boxes_["Text6_T1"]->setText(QString::number(maps_.t1Seconds[p], 'f', 3));
    boxes_["Text6_B1"]->setText(QString::number(maps_.b1[p], 'f', 3));
    boxes_["Text6_Ampl"]->setText(QString::number(maps_.amplitude[p], 'f', 2));
    boxes_["Text6_Error"]->setText(QString::number(maps_.error[p], 'f', 4));
    // The fitted slice's signals of this pixel and the model curve of its maps.
    int fx = 0, fy = 0, fz = 0;
    shape.voxel(row, column, fittedWith_.slice - 1, fx, fy, fz);
    std::vector<double> angles, measured;
    double sum = 0.0;
    for (int i = 0; i < series_.images(); ++i) {
        angles.push_back(series_.flipAngleRad[static_cast<std::size_t>(i)] / imagefit::kRadiansPerDegree);
        measured.push_back(series_.at(fx, fy, fz, i));
        sum += measured.back();
    }
    boxes_["Text6_average"]->setText(QString::number(sum / std::max(1, series_.images()), 'f', 2));
    // One model curve per TR of the series: each image's signal lies on the curve of its own TR.
    std::vector<std::function<double(double)>> models;
    if (maps_.fitted(row, column)) {
        const double t1 = maps_.t1Seconds[p], b1 = maps_.b1[p], amplitude = maps_.amplitude[p];
        std::vector<double> trs;
        for (const double tr : series_.trSeconds) {
            if (std::find(trs.begin(), trs.end(), tr) != trs.end())
                continue;
            trs.push_back(tr);
            models.push_back([=](double angleDeg) {
                return amplitude *
                       imagefit::spoiledSignal(angleDeg * imagefit::kRadiansPerDegree, b1, tr, t1);
            });
        }
    }
    curve_->setPixmap(
        QPixmap::fromImage(render::signalPlot(angles, measured, models, curve_->width(), curve_->height())));
}

void ImageFitWindow::closeEvent(QCloseEvent* event)
{
    control_.stop();
    QMainWindow::closeEvent(event);
}

bool ImageFitWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == image_ && event->type() == QEvent::MouseMove) {
        const QPointF at = static_cast<QMouseEvent*>(event)->position();
        const imagefit::MapGeometry shape = geometry();
        readPixel(static_cast<int>(at.y() * shape.rows / kImagePx),
                  static_cast<int>(at.x() * shape.columns / kImagePx));
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace velmora::ui
