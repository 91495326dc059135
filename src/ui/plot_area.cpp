#include "ui/plot_area.h"

#include "render/map_plot.h"
#include "render/plot_pictures.h"
#include "render/sequence_panel.h"
#include "util/file_listing.h"
#include "util/number_format.h"
#include "workbench/automatic_phase.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/workbench.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>
#include <cmath>

namespace velmora::ui {

namespace {

namespace ctl = model::ctl;

constexpr model::ControlId kMapGainUp{"Command11", 0};
constexpr model::ControlId kMapGainDown{"Command12", 0};

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

PlotArea::PlotArea(workbench::Workbench& bench, ControlBinder& binder, const Twips& twips, QWidget* area,
                   QStatusBar* status)
    : QObject(area), bench_(bench), binder_(binder), twips_(twips), status_(status)
{
    // The plot column grows with the window: the pictures share its height in the proportions
    // 34 : 40 : 26 (spectrum, map row, traces), the view controls keep theirs. The map carries its
    // axes and colour scale, so it takes the larger part of its row from the two sections.
    column_ = new QWidget(area);
    column_->setObjectName("plotColumn");
    column_->setGeometry(twips_.rect(kColumnLeftTwips, kColumnTopTwips, 7800, 10350));
    auto* stack = new QVBoxLayout(column_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(twips_.px(60));
    // A picture that changed its size starts blank: its own plot is drawn again at the new size.
    auto view = [&](const char* name, std::function<void()> redrawn) {
        auto* v = new PictureView(column_);
        v->setObjectName(name);
        v->setMinimumSize(twips_.px(1500), twips_.px(900));
        v->setResizeHandler(std::move(redrawn));
        return v;
    };
    spectrum_ = view("Picture1_0", [this] { redrawSpectrum(); });
    rowSection_ = view("Picture1_2", [this] { clearPicture(rowSection_); });
    columnSection_ = view("Picture1_3", [this] { clearPicture(columnSection_); });
    map_ = view("Picture1_1", [this] { redrawMap(); });
    traces_ = view("Picture1_4", [this] { redrawTraces(); });
    stack->addWidget(spectrum_, 34);
    stack->addWidget(buildViewControls(area));
    auto* mapRow = new QHBoxLayout;
    mapRow->setSpacing(twips_.px(100));
    auto* sections = new QVBoxLayout;
    sections->setSpacing(twips_.px(100));
    sections->addWidget(rowSection_);
    sections->addWidget(columnSection_);
    mapRow->addLayout(sections, 2700);
    mapRow->addWidget(map_, 5000);
    stack->addLayout(mapRow, 40);
    stack->addWidget(traces_, 26);

    spectrum_->setMoveHandler([this](double x, double y) {
        if (!spectrumLayout_.drawn)
            return;
        // The centre of the pixel under the pointer: the place the drawing gave that pixel.
        const QPointF pixel = spectrum_->box().toPixels(x, y) + QPointF(0.5, 0.5);
        const render::SpectrumReadout r = render::spectrumReadout(spectrumLayout_, pixel);
        bench_.controls().setText({"Text2", 0}, r.amplitude);
        bench_.controls().setText({"Text2", 1}, r.abscissa);
        status_->showMessage(text(r.amplitude + "   " + r.abscissa));
    });
    map_->setMoveHandler([this](double x, double y) { mapCursorMoved(map_->box().toPixels(x, y)); });
    traces_->setMoveHandler([this](double x, double y) {
        if (!traceTable_ || !traceLayout_.drawn || shown_)
            return;
        const QPointF pixel = traces_->box().toPixels(x, y);
        if (const auto cursor =
                render::traceCursor(*traceTable_, traceLayout_, pixel.x(), render::traceAxis(bench_))) {
            bench_.controls().setText({"Text2", 1}, cursor->text);
            status_->showMessage("run " + QString::number(cursor->run) + ": " + text(cursor->text));
        }
    });
}

void PlotArea::setColumnGeometry(const QRect& pixels)
{
    column_->setGeometry(pixels);
}

QWidget* PlotArea::buildViewControls(QWidget* area)
{
    auto* strip = new QWidget(column_);
    strip->setObjectName("viewControls");
    auto* grid = new QGridLayout(strip);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(3);
    grid->addLayout(buttons, 0, 0, 1, 6);
    model::Controls& c = bench_.controls();
    auto button = [&](model::ControlId id, auto onClick) {
        auto* b = new QPushButton(strip);
        b->setObjectName(QString("view ") + QString::fromStdString(c.caption(id)));
        b->setMinimumWidth(44);
        binder_.bind(id, b);
        connect(b, &QPushButton::clicked, this, onClick);
        buttons->addWidget(b);
        return b;
    };
    // A view bar: its caption, the bar and the value it sets, with its unit, beside it.
    int bars = 0;
    auto bar = [&](model::ControlId id, const char* caption, const char* tip, ValueFormat format,
                   auto onChange) {
        const int row = 1 + bars / 3;
        const int column = 2 * (bars % 3);
        ++bars;
        auto* s = new QSlider(Qt::Horizontal, strip);
        s->setToolTip(tip);
        s->setMinimumWidth(twips_.px(900));
        binder_.bind(id, s, onChange);
        auto* value = new QLabel(strip);
        value->setObjectName(QString("value of ") + caption);
        value->setMinimumWidth(QFontMetrics(value->font()).horizontalAdvance("x 1024 "));
        auto* cell = new QHBoxLayout;
        cell->setSpacing(3);
        cell->addWidget(new QLabel(caption, strip));
        cell->addWidget(s, 1);
        cell->addWidget(value);
        grid->addLayout(cell, row, column, 1, 2);
        valueLabels_.push_back({id, value, std::move(format)});
        return s;
    };
    button(ctl::SpectrumOrFid, [this, &c] {
        c.setCaption(ctl::SpectrumOrFid, c.caption(ctl::SpectrumOrFid) == "fid" ? "spec" : "fid");
        rebuildAndRedraw();
    });
    button(ctl::SignalOrPulse, [this, &c] {
        if (c.caption(ctl::SignalOrPulse) != "signal") {
            c.setCaption(ctl::SignalOrPulse, "signal");
            c.setCaption(ctl::CurrentRun, std::to_string(c.at({"VScroll1", 0}).value));
        } else {
            c.setCaption(ctl::SignalOrPulse, "pulse");
        }
        rebuildAndRedraw();
    });
    button(ctl::Overlay, [this, &c] {
        c.setCaption(ctl::Overlay, c.caption(ctl::Overlay) != "ON" ? "ON" : "OFF");
        redrawSpectrum();
    });
    const auto times = [](double factor) { return QString::fromUtf8("\u00d7") + text(util::formatGeneral(factor)); };
    bar({"VScroll1", 0}, "run", "run shown", [](int v) { return QString::number(v); }, [this, &c] {
        const int last = bench_.records().preparation ? bench_.records().preparation->run.lastRun : 0;
        if (c.at({"VScroll1", 0}).value > last)
            c.setValue({"VScroll1", 0}, last);
        c.setCaption(ctl::CurrentRun, std::to_string(c.at({"VScroll1", 0}).value));
        showViewValues();
        redrawSpectrum();
    });
    bar({"HScroll1", 0}, "Z", "vertical zoom 2^n", [times](int v) { return times(std::pow(2.0, v)); },
        [this, &c] {
        c.setText({"Text2", 3}, util::formatGeneral(std::pow(2.0, c.at({"HScroll1", 0}).value)));
        showViewValues();
        redrawSpectrum();
    });
    bar({"HScroll3", 0}, "X", "horizontal zoom", [times](int v) { return times(v); }, [this, &c] {
        c.setText({"Text2", 2}, std::to_string(c.at({"HScroll3", 0}).value));
        showViewValues();
        redrawSpectrum();
    });
    bar({"VScroll2", 0}, "base", "baseline, % of the strip top",
        [](int v) { return QString::number(v) + " %"; }, [this, &c] {
        c.setText({"Text2", 4}, std::to_string(c.at({"VScroll2", 0}).value));
        showViewValues();
        redrawSpectrum();
    });
    for (int k = 0; k < 2; ++k) {
        QSlider* phase =
            bar({"HScroll2", k}, k == 0 ? "rp" : "lp", k == 0 ? "first-order phase rp" : "zero-order phase lp",
                [](int v) { return QString::number(v) + QString::fromUtf8("\u00b0"); }, [this, &c, k] {
                    c.setText({"Text2", 5 + k}, std::to_string(c.at({"HScroll2", k}).value));
                    showViewValues();
                    rebuildAndRedraw();
                });
        // Degrees typed or stepped one at a time: the bar alone is too coarse for a phase.
        auto* degrees = new QSpinBox(strip);
        degrees->setObjectName(k == 0 ? "rp degrees" : "lp degrees");
        degrees->setRange(phase->minimum(), phase->maximum());
        // The bars count tenths of a degree per point (rp) and tens of degrees (lp).
        degrees->setSuffix(QString::fromUtf8(k == 0 ? " \u00d7 0.1\u00b0/pt" : " \u00d7 10\u00b0"));
        degrees->setValue(phase->value());
        degrees->setKeyboardTracking(false);
        connect(degrees, &QSpinBox::valueChanged, phase, &QSlider::setValue);
        connect(phase, &QSlider::valueChanged, degrees, [degrees](int v) {
            const QSignalBlocker quiet(degrees);
            degrees->setValue(v);
        });
        phaseBoxes_[static_cast<std::size_t>(k)] = degrees;
        valueLabels_.back().value->hide();
        auto* cell = static_cast<QHBoxLayout*>(grid->itemAtPosition(2, 2 * ((bars - 1) % 3))->layout());
        cell->addWidget(degrees);
    }
    // Automatic phasing sets both phase bars, as if they had been moved by hand.
    auto* autophase = new QPushButton("autophase", strip);
    autophase->setObjectName("autophase");
    autophase->setToolTip("phase the spectrum automatically (zero and first order)");
    connect(autophase, &QPushButton::clicked, this, [this] {
        if (const util::Outcome phased = workbench::phaseAutomatically(bench_); !phased) {
            bench_.messages().show(phased.message());
            return;
        }
        showViewValues();
        redraw();
    });
    buttons->addWidget(autophase);
    // "oper"/"viewer": the operator list or the data files of the working directory in its place.
    button({"Command4", 0}, [this, &c] {
        const bool showFiles = c.caption({"Command4", 0}) != "viewer";
        c.setCaption({"Command4", 0}, showFiles ? "viewer" : "oper");
        QWidget* operators = binder_.widget(ctl::OperatorList);
        files_->setGeometry(operators->geometry());
        operators->setVisible(!showFiles);
        files_->setVisible(showFiles);
        if (showFiles) {
            files_->clear();
            for (const std::string& name : util::listFilesWithExtension(bench_.workingDirectory(), ".dat"))
                files_->addItem(QString::fromStdString(name));
            files_->raise();
        }
    });
    button(kMapGainUp, [this] {
        mapGain_ *= 2.0;
        redrawMap();
    });
    button(kMapGainDown, [this] {
        mapGain_ /= 2.0;
        redrawMap();
    });
    // The cursor's read-outs over the spectrum: amplitude and abscissa.
    for (int k = 0; k < 2; ++k) {
        auto* readout = new QLineEdit(strip);
        readout->setReadOnly(true);
        readout->setObjectName(k == 0 ? "amplitude" : "abscissa");
        readout->setToolTip(k == 0 ? "amplitude under the cursor" : "abscissa under the cursor");
        readout->setPlaceholderText(k == 0 ? "amplitude" : "abscissa");
        readout->setFixedWidth(twips_.px(1100));
        binder_.bind({"Text2", k}, readout);
        buttons->addWidget(readout);
    }
    buttons->addStretch(1);
    controls_ = {strip};
    showViewValues();

    files_ = new QListWidget(area);
    files_->setObjectName("File2");
    files_->hide();
    connect(files_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { viewDataFile(item->text()); });

    // The operator list: the chosen operators are plotted against the arrayed value.
    if (auto* list = qobject_cast<QListWidget*>(binder_.widget(ctl::OperatorList)))
        connect(list, &QListWidget::itemSelectionChanged, this, [this] { redrawTraces(); });
    return strip;
}

void PlotArea::showViewValues()
{
    const model::Controls& c = bench_.controls();
    for (const ValueLabel& label : valueLabels_)
        if (!shown_ || isViewControl(binder_.widget(label.bar)))
            label.value->setText(label.format(c.at(label.bar).value));
    for (std::size_t k = 0; k < phaseBoxes_.size() && !shown_; ++k) {
        if (phaseBoxes_[k] != nullptr) {
            const QSignalBlocker quiet(phaseBoxes_[k]);
            phaseBoxes_[k]->setValue(c.at({"HScroll2", static_cast<int>(k)}).value);
        }
    }
}

void PlotArea::viewDataFile(const QString& name)
{
    const render::DataFileViewRead read =
        render::readDataFileView(bench_.pathOf(name.toStdString()), "*.dat");
    if (!read.view) {
        bench_.messages().show(read.error, "Error!");
        return;
    }
    model::ControlState& results = bench_.controls().at(ctl::ResultList);
    std::vector<std::string> lines = results.items;
    lines.insert(lines.end(), read.view->lines.begin(), read.view->lines.end());
    bench_.controls().setItems(ctl::ResultList, lines);
    render::drawDataFileView(traces_->box(), *read.view, 1440.0 / twips_.px(1440));
    traces_->update();
    traceLayout_.drawn = false;
}

void PlotArea::rebuildAndRedraw()
{
    workbench::rebuildDisplay(bench_);
    redraw();
}

void PlotArea::clearPicture(PictureView* view)
{
    render::PictureBox& box = view->box();
    box.setBackColor(QColor(255, 255, 255));
    box.clear();
    view->update();
}

void PlotArea::redrawSpectrum()
{
    const processing::DisplayArrays& display = shown_ ? shown_->display : bench_.records().display;
    if (display.empty()) {
        clearPicture(spectrum_);
        spectrumLayout_.drawn = false;
        return;
    }
    // The run counter shows khaki while the plot is drawn and light yellow when it is done.
    QWidget* runLabel = binder_.widget(ctl::CurrentRun);
    if (runLabel != nullptr)
        runLabel->setStyleSheet("background: rgb(191, 189, 113)");
    render::SpectrumPlotSettings settings =
        shown_ ? shownSpectrumSettings() : render::spectrumPlotSettings(bench_);
    settings.twipsPerPixel = 1440.0 / twips_.px(1440);
    spectrumLayout_ = render::drawSpectrumPlot(spectrum_->box(), display, settings);
    spectrum_->update();
    // The counter names the run the plot shows, not the last one the synthesis went through; a run
    // in progress sets it itself.
    if (spectrumLayout_.drawn && !shown_)
        bench_.controls().setCaption(ctl::CurrentRun, std::to_string(spectrumLayout_.shownRun));
    if (runLabel != nullptr)
        runLabel->setStyleSheet("background: rgb(255, 255, 128)");
}

void PlotArea::redrawMap()
{
    const std::optional<processing::Map2D>& map = shown_ ? shown_->map : bench_.records().map;
    // No map, or one that is zero everywhere (a channel the experiment never reaches): an empty
    // picture, not the map of an earlier run or channel.
    mapLayout_ = {};
    if (map && (map->maximum != 0.0 || map->minimum != 0.0)) {
        render::MapFigureSettings settings =
            shown_ ? shown_->mapFigure
                   : render::mapFigureSettings(bench_, mapGain_, 1440.0 / twips_.px(1440));
        settings.map.gain = mapGain_;
        mapLayout_ = render::drawMapFigure(map_->box(), *map, settings);
    }
    // The sections follow the pointer over the map drawn now; until it moves they show nothing.
    clearPicture(rowSection_);
    clearPicture(columnSection_);
    if (!mapLayout_.drawn) {
        clearPicture(map_);
        if (map)
            status_->showMessage("The 2D map is zero everywhere on the detection channel.", 5000);
        return;
    }
    map_->update();
}

void PlotArea::mapCursorMoved(QPointF pixel)
{
    const std::optional<processing::Map2D>& map = shown_ ? shown_->map : bench_.records().map;
    if (!map || !mapLayout_.drawn)
        return;
    const render::MapAxes axes = shown_ ? shown_->mapFigure.axes : render::mapAxes(bench_);
    const auto cursor = render::mapFigureCursor(mapLayout_, pixel, map->pointCount, axes);
    if (!cursor)
        return;
    render::MapPlotSettings settings;
    settings.gain = mapGain_;
    settings.title = "row at f1 = " + util::formatPattern(cursor->indirectHz, "0.0") + " Hz";
    render::drawMapRowSection(rowSection_->box(), *map, cursor->indirect, settings);
    settings.title = "column at f2 = " + util::formatPattern(cursor->directHz, "0.0") + " Hz";
    render::drawMapColumnSection(columnSection_->box(), *map, cursor->direct, settings);
    rowSection_->update();
    columnSection_->update();
    status_->showMessage(QString("f1 %1 Hz, f2 %2 Hz: %3")
                             .arg(cursor->indirectHz, 0, 'f', 1)
                             .arg(cursor->directHz, 0, 'f', 1)
                             .arg(map->at(cursor->indirect, cursor->direct), 0, 'g', 4));
}

void PlotArea::redrawTraces()
{
    if (shown_)
        return;  // the run writes the operator table and names its operators as it ends
    const render::OperatorTraceRead read = render::readOperatorTraces(bench_.pathOf("prodop.dat"));
    traceTable_ = read.table;
    if (!traceTable_)
        return;
    render::TracePlotSettings settings;
    settings.title = render::kOperatorTracesTitle;
    settings.horizontalTitle =
        render::arrayedAxisTitle(bench_.sequence().arrayedName(), bench_.sequence().arrayedIndex());
    if (auto* list = qobject_cast<QListWidget*>(binder_.widget(ctl::OperatorList)))
        for (const QListWidgetItem* item : list->selectedItems())
            settings.operators.push_back(item->text().toStdString());
    traceLayout_ = render::drawOperatorTraces(traces_->box(), *traceTable_, settings);
    traces_->update();
}

void PlotArea::redraw()
{
    redrawSpectrum();
    redrawMap();
    redrawTraces();
}

void PlotArea::refresh()
{
    if (!bench_.records().preparation) {
        status_->showMessage("Refresh: there is no run to recompute.", 5000);
        return;
    }
    // A refusal has said why in its message box; the plots keep what they show.
    if (workbench::refreshSpectra(bench_))
        redraw();
}

void PlotArea::detectionChanged()
{
    workbench::showDetectionChannel(bench_);
    redraw();
}

void PlotArea::savePictures(const std::filesystem::path& folder)
{
    render::PlotPictureOptions options;
    options.pixelsPerTwip = twips_.px(1440) / 1440.0;
    options.mapGain = mapGain_;
    options.drawSequencePanel = [this](render::PictureBox& box, const workbench::Workbench&) {
        render::drawSequencePanel(box, bench_);
    };
    const std::filesystem::path into = folder.empty() ? std::filesystem::path(bench_.workingDirectory()) : folder;
    const util::Outcome saved = render::savePlotPictures(bench_, into, true, options);
    if (!saved)
        bench_.messages().show(saved.message(), "Error!");
    else
        status_->showMessage("Saved plot1d, plot2d, plotOper and plotSec (.BMP and .png) in " +
                                 QString::fromStdString(into.string()),
                             8000);
}

void PlotArea::setRunning(bool running)
{
    if (running) {
        const workbench::RunRecords& records = bench_.records();
        shown_ = ShownResult{records.display, records.map, render::spectrumPlotSettings(bench_),
                             render::mapFigureSettings(bench_, mapGain_, 1440.0 / twips_.px(1440))};
        for (QWidget* w : controls_.front()->findChildren<QWidget*>()) {
            const bool input = qobject_cast<QAbstractButton*>(w) != nullptr ||
                               qobject_cast<QAbstractSlider*>(w) != nullptr ||
                               qobject_cast<QAbstractSpinBox*>(w) != nullptr ||
                               qobject_cast<QLineEdit*>(w) != nullptr;
            if (input && w->isEnabled() && !isViewControl(w)) {
                w->setEnabled(false);
                heldBack_.push_back(w);
            }
        }
        return;
    }
    shown_.reset();
    for (QWidget* w : heldBack_)
        w->setEnabled(true);
    heldBack_.clear();
    showViewValues();  // the run may have brought the run selector within its runs
}

bool PlotArea::isViewControl(const QWidget* widget) const
{
    for (const model::ControlId id :
         {model::ControlId{"HScroll1", 0}, model::ControlId{"HScroll3", 0}, model::ControlId{"VScroll2", 0},
          ctl::Overlay, kMapGainUp, kMapGainDown})
        if (const QWidget* live = binder_.widget(id);
            live != nullptr && (live == widget || live->isAncestorOf(widget)))
            return true;
    return false;
}

render::SpectrumPlotSettings PlotArea::shownSpectrumSettings() const
{
    const model::Controls& c = bench_.controls();
    render::SpectrumPlotSettings settings = shown_->spectrum;
    settings.overlay = c.caption(ctl::Overlay) != "OFF";
    settings.horizontalZoom = c.number({"Text2", 2}).value_or(1.0);
    settings.verticalZoom = std::pow(2.0, c.at({"HScroll1", 0}).value);
    settings.baselinePercent = c.at({"VScroll2", 0}).value;
    return settings;
}

}  // namespace velmora::ui
