#include "ui/exchange_mode.h"

#include "model/controls.h"
#include "render/dispersion_plot.h"
#include "ui/background_run.h"
#include "ui/main_window.h"
#include "ui/picture_view.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/rounding.h"
#include "workbench/dispersion_command.h"
#include "workbench/sequence_panel_editor.h"
#include "workbench/workbench.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <optional>

namespace velmora::ui {

namespace {

using model::ExchangeSettings;

// The exchange values by the names of their rows, with their units and the index of the value.
struct ValueRow {
    const char* name;
    const char* unit;
    ExchangeSettings::Value value;
    int row, column;
};
constexpr ValueRow kValueRows[] = {
    {"Tp", "us", ExchangeSettings::Tp, 1, 0},
    {"tcp", "us", ExchangeSettings::Tcp, 2, 0},
    {"Kex", "1/s", ExchangeSettings::Kex, 3, 0},
    {"RFoffset", "Hz", ExchangeSettings::RfOffset, 4, 0},
    {"ch_shift", "Hz/2", ExchangeSettings::HalfShift, 5, 0},
    {"Necho", "", ExchangeSettings::Necho, 1, 3},
    {"W1", "Hz", ExchangeSettings::W1, 2, 3},
    {"Pa", "", ExchangeSettings::Pa, 3, 3},
    {"Angle", "rad", ExchangeSettings::Angle, 4, 3},
    {"T1 A", "ms", ExchangeSettings::T1SiteA, 1, 6},
    {"T1 B", "ms", ExchangeSettings::T1SiteB, 2, 6},
    {"T2 A", "ms", ExchangeSettings::T2SiteA, 3, 6},
    {"T2 B", "ms", ExchangeSettings::T2SiteB, 4, 6},
};

const QStringList kSweptNames = {"Kex", "tcp", "Tp", "Necho", "w1", "Pa", "ch_shift", "RFoffset", "Angle"};

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

std::optional<double> numberIn(const QLineEdit* box)
{
    const std::string s = box->text().trimmed().toStdString();
    double x = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), x);
    if (s.empty() || error != std::errc() || end != s.data() + s.size() || !std::isfinite(x))
        return std::nullopt;
    return x;
}

}  // namespace

ExchangeMode& ExchangeMode::of(MainWindow& window, workbench::Workbench& bench)
{
    if (auto* mode = window.findChild<ExchangeMode*>("exchangeMode"))
        return *mode;
    return *new ExchangeMode(window, bench);
}

ExchangeMode::ExchangeMode(MainWindow& window, workbench::Workbench& bench)
    : QObject(&window), window_(window), bench_(bench)
{
    setObjectName("exchangeMode");
    buildPanel();
    plot_ = new PictureView(window_.workingArea());
    plot_->setObjectName("dispersionPlot");
    plot_->setGeometry(window_.twips().rect(7700, 100, 7800, 3600));
    plot_->hide();
}

QLineEdit* ExchangeMode::addBox(const QString& name, const QString& unit, int row, int column)
{
    auto* grid = static_cast<QGridLayout*>(panel_->layout());
    grid->addWidget(new QLabel(name, panel_), row, column);
    auto* edit = new QLineEdit(panel_);
    edit->setFixedWidth(64);
    if (!unit.isEmpty())
        edit->setToolTip(name + ", " + unit);
    edit->setObjectName(name);
    grid->addWidget(edit, row, column + 1);
    if (!unit.isEmpty())
        grid->addWidget(new QLabel(unit, panel_), row, column + 2);
    boxes_[name] = edit;
    connect(edit, &QLineEdit::editingFinished, this, [this] { takeEditedSettings(); });
    return edit;
}

QComboBox* ExchangeMode::addChooser(const QString& name, const QStringList& items, int row, int column)
{
    auto* grid = static_cast<QGridLayout*>(panel_->layout());
    grid->addWidget(new QLabel(name, panel_), row, column);
    auto* combo = new QComboBox(panel_);
    combo->setEditable(true);
    combo->addItems(items);
    combo->setObjectName(name);
    grid->addWidget(combo, row, column + 1, 1, 2);
    choosers_[name] = combo;
    connect(combo, &QComboBox::currentTextChanged, this, [this] { takeEditedSettings(); });
    return combo;
}

void ExchangeMode::buildPanel()
{
    auto* group = new QGroupBox("Exchange: CPMG relaxation dispersion (per echo: tcp, pulse Tp, tcp)",
                                window_.workingArea());
    group->setObjectName("exchangePanel");
    group->setAutoFillBackground(true);
    group->setGeometry(window_.twips().rect(0, 4600, 7600, 2850));
    panel_ = group;
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setVerticalSpacing(1);
    grid->setHorizontalSpacing(4);
    for (const ValueRow& r : kValueRows)
        addBox(r.name, r.unit, r.row, r.column);
    addBox("Phase", "digits", 5, 3);
    addBox("ShapedPulse", ".RF", 5, 6);
    addChooser("StartMagn", {"Ix", "Iy", "Iz", "Iz_Angle_Ix", "Ixz_AdiabRot"}, 6, 6);
    addChooser("Array", kSweptNames, 6, 0);
    addChooser("Array2", kSweptNames, 7, 0);
    addChooser("method", {"Add", "Mult"}, 6, 3);
    addChooser("method2", {"Add", "Mult"}, 7, 3);
    addBox("Ni", "", 8, 0);
    addBox("step", "", 8, 3);
    addBox("Ni2", "", 9, 0);
    addBox("step2", "", 9, 3);
    addBox("seed", "", 7, 6);
    addBox("grids", "", 8, 6);
    addBox("results", ".dat", 9, 6);
    boxes_.at("seed")->setText("1");
    boxes_.at("grids")->setText("1000");
    boxes_.at("Ni")->setToolTip("values of the first sweep - 1");
    boxes_.at("Ni2")->setToolTip("values of the second sweep - 1");
    boxes_.at("grids")->setToolTip("repetitions of the whole grid, 1 to 1000");
    group->hide();
}

QLineEdit* ExchangeMode::box(const QString& name) const
{
    const auto it = boxes_.find(name);
    return it == boxes_.end() ? nullptr : it->second;
}

QComboBox* ExchangeMode::chooser(const QString& name) const
{
    const auto it = choosers_.find(name);
    return it == choosers_.end() ? nullptr : it->second;
}

void ExchangeMode::showSettings()
{
    const QSignalBlocker guard(this);
    const ExchangeSettings& x = bench_.exchange();
    const model::Controls& controls = bench_.controls();
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->blockSignals(true);
    for (const ValueRow& r : kValueRows)
        boxes_.at(r.name)->setText(text(util::formatGeneral(x.values[r.value])));
    boxes_.at("Phase")->setText(text(x.phase));
    boxes_.at("ShapedPulse")->setText(text(x.shapedPulse));
    boxes_.at("Ni")->setText(QString::number(x.lastRunIndex));
    boxes_.at("step")->setText(text(util::formatGeneral(x.seriesValue)));
    boxes_.at("Ni2")->setText(QString::number(x.secondSeriesCount));
    boxes_.at("step2")->setText(text(util::formatGeneral(x.secondSeriesValue)));
    boxes_.at("results")->setText(text(controls.text({"Text9", 0})));
    const std::pair<const char*, std::string> chosen[] = {
        {"StartMagn", x.startMagnetisation},
        {"Array", x.sweptName},
        {"Array2", x.secondSweptName},
        {"method", controls.caption(model::ctl::ArrayMethod)},
        {"method2", controls.caption(model::ctl::SecondArrayMethod)}};
    for (const auto& [name, value] : chosen) {
        QComboBox* combo = choosers_.at(name);
        const QSignalBlocker block(combo);
        combo->setCurrentText(text(value));
    }
}

// A box that loses the focus as the panel hides at the switch reports its edit after the mode is
// left: taken then, it would write the exchange sweep's name and method into the simulator's array
// cells, which both modes share. The switch has already taken the panel's values.
void ExchangeMode::takeEditedSettings()
{
    if (bench_.exchangeMode())
        (void)takeSettings();
}

bool ExchangeMode::takeSettings()
{
    ExchangeSettings x = bench_.exchange();
    QString refused;
    const auto number = [&](const QString& name) {
        const std::optional<double> value = numberIn(boxes_.at(name));
        if (!value && refused.isEmpty())
            refused = name;
        return value.value_or(0);
    };
    for (const ValueRow& r : kValueRows)
        x.values[r.value] = number(r.name);
    const double lastRun = number("Ni");
    const double lastRun2 = number("Ni2");
    x.seriesValue = number("step");
    x.secondSeriesValue = number("step2");
    (void)number("seed");
    (void)number("grids");
    if (!refused.isEmpty()) {
        window_.statusBar()->showMessage(refused + ": not a number", 5000);
        return false;
    }
    // Counts typed with decimals round to the nearest whole number, as every count of the window.
    x.lastRunIndex = util::roundToInt(std::clamp(lastRun, 0.0, 1e6));
    x.secondSeriesCount = util::roundToInt(std::clamp(lastRun2, 0.0, 1e6));
    x.phase = boxes_.at("Phase")->text().toStdString();
    x.shapedPulse = boxes_.at("ShapedPulse")->text().trimmed().toStdString();
    x.startMagnetisation = choosers_.at("StartMagn")->currentText().toStdString();
    x.sweptName = choosers_.at("Array")->currentText().toStdString();
    x.secondSweptName = choosers_.at("Array2")->currentText().toStdString();
    bench_.exchange() = x;
    model::Controls& controls = bench_.controls();
    controls.setCaption(model::ctl::ArrayMethod, choosers_.at("method")->currentText().toStdString());
    controls.setCaption(model::ctl::SecondArrayMethod, choosers_.at("method2")->currentText().toStdString());
    controls.setText({"Text9", 0}, boxes_.at("results")->text().trimmed().toStdString());
    workbench::showExchangeCaptions(bench_);
    return true;
}

void ExchangeMode::toggle()
{
    if (window_.refusedWhileRunning())
        return;
    // The panel's values go into the settings first, to be stored with the working sequence at the
    // switch; a box that holds no number keeps the mode, so that nothing typed is lost.
    if (bench_.exchangeMode() && !takeSettings())
        return;
    const bool on = workbench::toggleExchangeMode(bench_, ordinary_);
    panel_->setVisible(on);
    plot_->setVisible(on);
    for (const char* caption : {"arraySizeCaption", "arrayIncrementCaption"})
        if (auto* label = window_.findChild<QLabel*>(caption))
            label->setVisible(!on);
    if (on) {
        showSettings();
        panel_->raise();
        plot_->raise();
        plot_->box().setBackColor(QColor(Qt::white));
        plot_->box().clear();
    } else {
        window_.sequenceEditor().showCurrentStep();
    }
    window_.binder().refreshAll();
    window_.redrawPanels();
    window_.statusBar()->showMessage(
        on ? "Exchange mode: Start runs the relaxation-dispersion experiment" : "Simulator mode", 5000);
}

void ExchangeMode::setRunning(bool running)
{
    panel_->setEnabled(!running);
    window_.setRunning(running);
    if (QAction* a = window_.action("&Exchange"))
        a->setEnabled(!running);
}

void ExchangeMode::start()
{
    if (window_.refusedWhileRunning())
        return;
    if (!takeSettings())
        return;
    // Accepted: a Stop from now on is kept, even before the worker has begun.
    if (!bench_.runControl().claim())
        return;
    window_.redrawPanels();
    const workbench::DispersionRunOptions options{
        static_cast<std::int64_t>(std::clamp(*numberIn(boxes_.at("seed")), -9e18, 9e18)),
        util::roundToInt(std::clamp(*numberIn(boxes_.at("grids")), 1.0, double(exchange::kMostGrids))),
        {}};
    // The experiment runs on the window's worker thread: its progress and its plot after every
    // grid are posted to the window, which draws them.
    workbench::DispersionListeners listeners;
    listeners.points = [this, grids = options.gridCount](int grid, int done, int points) {
        BackgroundRun::post(this, [this, text = QString("Exchange: grid %1 of %2, point %3 of %4")
                                                    .arg(grid)
                                                    .arg(grids)
                                                    .arg(done)
                                                    .arg(points)] {
            if (bench_.runControl().running())
                window_.statusBar()->showMessage(text);
        });
    };
    listeners.grid = [this](const exchange::PreparedDispersion& prepared,
                            const exchange::DispersionResults& results) {
        BackgroundRun::post(this, [this, data = render::dispersionPlotData(prepared, results)] {
            render::drawDispersionPlot(plot_->box(), data);
            plot_->update();
        });
    };
    setRunning(true);
    auto run = std::make_shared<workbench::DispersionRun>();
    window_.backgroundRun().start(
        [this, options, listeners, run] {
            *run = workbench::runDispersionCommand(bench_, options, listeners);
        },
        [this, run] { finish(*run); });
}

void ExchangeMode::finish(const workbench::DispersionRun& run)
{
    bench_.runControl().release();
    setRunning(false);
    window_.settleStop();
    window_.binder().refreshAll();
    switch (run.outcome) {
    case workbench::DispersionOutcome::Completed:
        window_.statusBar()->showMessage(
            QString("Exchange: %1 grids done, table %2%3")
                .arg(run.results.gridsDone)
                .arg(QString::fromStdString(run.table.filename().string()))
                .arg(run.note.empty() ? QString()
                                      : QString("; note: %1").arg(QString::fromStdString(run.note))));
        break;
    case workbench::DispersionOutcome::Stopped:
        window_.statusBar()->showMessage(
            QString("Exchange: stopped after %1 grids").arg(run.results.gridsDone));
        break;
    case workbench::DispersionOutcome::Refused:
        window_.statusBar()->showMessage("Exchange: refused; nothing was run.");
        break;
    case workbench::DispersionOutcome::Busy:
        window_.statusBar()->showMessage("A run is in progress: Stop it first.");
        break;
    }
}

}  // namespace velmora::ui
