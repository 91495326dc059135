#include "ui/main_window.h"

#include "pulses/pulse_calculators.h"
#include "render/sequence_panel.h"
#include "render/spin_panel.h"
#include "ui/background_run.h"
#include "ui/exchange_mode.h"
#include "ui/help_window.h"
#include "ui/image_fit_window.h"
#include "ui/plot_area.h"
#include "ui/spin_table_window.h"
#include "ui/pulse_generator_page.h"
#include "ui/vector_animation.h"
#include "ui/window_texts.h"
#include "ui/working_area_layout.h"
#include "util/file_listing.h"
#include "util/numeric_text.h"
#include "util/work_pool.h"
#include "workbench/control_handlers.h"
#include "workbench/exchange_mode_switch.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/jcamp_export.h"
#include "workbench/spin_table.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <tuple>

namespace velmora::ui {

namespace {

namespace ctl = model::ctl;

// The menu bar, in its order (the Edit menu follows File).
const char* const kMenu[] = {"&File",        "&Start",     "&Start_2D", "&Stop",  "&Refresh", "&Options", "&Spectra",
                             "&Exchange",    "&savePicture", "&Image_zv", "&Help", "&About"};
// Commands this version does not have yet: shown, disabled, with a tooltip that says so.

// Where the pointer rules of the working area take effect, in twips.
constexpr int kPopupRightEdge = 11925;
constexpr int kMenuBandBottom = 700;
constexpr int kNucleiWindowRight = 7695;

QLineEdit* box(QWidget* parent, int width = 70)
{
    auto* edit = new QLineEdit(parent);
    edit->setFixedWidth(width);
    return edit;
}

}  // namespace

MainWindow::MainWindow(workbench::Workbench& bench, model::Workspace& workspace, QWidget* parent)
    : QMainWindow(parent), bench_(bench), workspace_(workspace),
      twips_(QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->logicalDotsPerInch()
                                              : 96.0),
      binder_(std::make_unique<ControlBinder>(bench.controls())), spinEditor_(bench), sequenceEditor_(bench),
      recent_(workbench::RecentFiles::locationFor(workspace, bench.workingDirectory()))
{
    setWindowTitle("Velmora");
    run_ = new BackgroundRun(this);
    history_ = std::make_unique<EditHistory>(bench_, [this] {
        spinEditor_.showModel();
        sequenceEditor_.showCurrentStep();
        binder_->refreshAll();
        redrawPanels();
    });
    buildMenus();
    buildWorkingArea();
    new VectorAnimation(bench_, this);  // "plot vector evolution": shown while the pulse runs
    // The designed size is the smallest; a larger window shares the room (see WorkingAreaLayout).
    const QSize area = designedWorkingArea(twips_);
    const QSize designed(area.width(),
                         area.height() + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    setMinimumSize(designed);
    resize(designed);
    qApp->installEventFilter(this);
    hidePopups();
    sequenceEditor_.showCurrentStep();
    binder_->refreshAll();
    // What the window opens on is the unedited model.
    bench_.documents().rebase(workbench::FileList::Molecules,
                              workbench::documentText(bench_, workbench::FileList::Molecules));
    bench_.documents().rebase(workbench::FileList::Sequences,
                              workbench::documentText(bench_, workbench::FileList::Sequences));
    binder_->setAfterEdit([this] { updateTitle(); });
    binder_->setRefusalListener([this](QWidget* box, const QString& message) {
        statusBar()->showMessage(message, 8000);
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), message, box);
    });
    redrawPanels();
}

MainWindow::~MainWindow()
{
    // The boxes outlive the binder and the history (they go with the QWidget base): a box losing
    // the focus as they go must not commit into them.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->blockSignals(true);
    qApp->removeEventFilter(this);
    // A run still going reads the model and posts to the widgets: it ends before they go.
    bench_.runControl().stop();
    delete run_;
    bench_.setProgressListener({});
}

QAction* MainWindow::action(const QString& text) const
{
    for (QAction* a : menuBar()->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

void MainWindow::buildEditMenu()
{
    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->setObjectName("editMenu");
    QAction* undo = undo_ = history_->stack().createUndoAction(this, "&Undo");
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = redo_ = history_->stack().createRedoAction(this, "&Redo");
    // Ctrl+Shift+Z everywhere, besides the platform's own redo keys; a key listed twice for one
    // action would make the shortcut ambiguous and do nothing.
    QList<QKeySequence> redoKeys = QKeySequence::keyBindings(QKeySequence::Redo);
    if (const QKeySequence shiftZ(Qt::CTRL | Qt::SHIFT | Qt::Key_Z); !redoKeys.contains(shiftZ))
        redoKeys.prepend(shiftZ);
    redo->setShortcuts(redoKeys);
    // The model's undo, not that of a box being edited: commit the box first.
    connect(edit, &QMenu::aboutToShow, this, &MainWindow::commitPendingEdit);
    edit->addAction(undo);
    edit->addAction(redo);
}

void MainWindow::buildHelpMenu()
{
    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("helpMenu");
    QAction* introduction = help->addAction("Introduction");
    introduction->setShortcut(QKeySequence::HelpContents);
    connect(introduction, &QAction::triggered, this, &MainWindow::showHelp);
    help->addSeparator();
    for (const HelpPage& page : helpPages())
        connect(help->addAction(page.title), &QAction::triggered, this, [this, title = page.title] {
            if (helpWindow_ == nullptr)
                helpWindow_ = new HelpWindow(this);
            helpWindow_->showPage(title);
            helpWindow_->show();
            helpWindow_->raise();
        });
}

void MainWindow::buildMenus()
{
    for (const char* text : kMenu) {
        const QString name = QString::fromUtf8(text);
        if (name == "&Help") {
            buildHelpMenu();
            continue;
        }
        QAction* a = menuBar()->addAction(QString::fromUtf8(text));
        if (name == "&File") {
            connect(a, &QAction::triggered, this, &MainWindow::showFileFrame);
            a->setShortcut(QKeySequence::Open);
        } else if (name == "&Start") {
            connect(a, &QAction::triggered, this, [this] { start(false); });
            a->setShortcut(Qt::CTRL | Qt::Key_R);
        } else if (name == "&Start_2D") {
            connect(a, &QAction::triggered, this, [this] { start(true); });
            a->setShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_R);
        } else if (name == "&Stop") {
            connect(a, &QAction::triggered, this, &MainWindow::stop);
            a->setShortcut(Qt::CTRL | Qt::Key_Period);
        }
        else if (name == "&Options")
            connect(a, &QAction::triggered, this, &MainWindow::showOptions);
        else if (name == "&Spectra")
            connect(a, &QAction::triggered, this, &MainWindow::showSpectra);
        else if (name == "&About")
            connect(a, &QAction::triggered, this, &MainWindow::showAbout);
        else if (name == "&Refresh")
            connect(a, &QAction::triggered, this, [this] {
                commitPendingEdit();
                hidePopups();
                plots_->refresh();
            });
        else if (name == "&savePicture")
            connect(a, &QAction::triggered, this, [this] { plots_->savePictures(); });
        else if (name == "&Exchange")
            connect(a, &QAction::triggered, this, [this] {
                hidePopups();
                workbench::keepingUnedited(bench_, [this] { ExchangeMode::of(*this, bench_).toggle(); });
            });
        else if (name == "&Image_zv")
            connect(a, &QAction::triggered, this, [this] {
                const std::filesystem::path location =
                    workspace_.settingsFile.empty() || workspace_.namedOnCommandLine
                        ? std::filesystem::path(bench_.workingDirectory())
                        : workspace_.settingsFile.parent_path();
                ImageFitWindow::showFor(this, location, bench_.threads(), bench_.messages());
            });
        if (name == "&File") {
            // Ctrl+S saves the edited molecule and sequence under their names (untitled ones
            // through the Save dialog).
            auto* save = new QAction("Save", this);
            save->setShortcut(QKeySequence::Save);
            connect(save, &QAction::triggered, this, [this] {
                commitPendingEdit();
                for (const auto document : {workbench::FileList::Molecules, workbench::FileList::Sequences})
                    if (workbench::documentEdited(bench_, document) && !saveBeforeReplacing(document))
                        return;
                statusBar()->showMessage("Saved: " + windowTitle().mid(QString("Velmora - ").size()), 5000);
            });
            addAction(save);
            buildEditMenu();
        }
    }
    progress_ = new QLabel(this);
    statusBar()->addPermanentWidget(progress_);
    progressTicker_ = new QTimer(this);
    progressTicker_->setInterval(250);
    connect(progressTicker_, &QTimer::timeout, this, &MainWindow::showProgressLine);
    auto* run = new QLabel(this);
    run->setToolTip("current run");
    binder_->bind(ctl::CurrentRun, run);
    statusBar()->addPermanentWidget(run);
}

PictureView* MainWindow::pictureView(const QString& name)
{
    auto* view = new PictureView(area_);
    view->setObjectName(name);
    return view;
}

void MainWindow::layOutParts()
{
    const WorkingAreaLayout at = layOutWorkingArea(twips_, area_->size());
    spinView_->setGeometry(at.spins);
    spinTableButton_->adjustSize();
    spinTableButton_->move(at.spins.right() - spinTableButton_->width() - 1, at.spins.top() + 1);
    acquisition_->setGeometry(at.acquisition);
    sequenceView_->setGeometry(at.sequence);
    nucleiWindow_->setGeometry(at.nuclei);
    parameters_->setGeometry(at.parameters);
    operators_->setGeometry(at.operators);
    results_->setGeometry(at.results);
    tools_->setGeometry(at.tools);
    plots_->setColumnGeometry(at.plotColumn);
}

QFrame* MainWindow::buildNucleiWindow()
{
    auto* frame = new QFrame(area_);
    frame->setObjectName("nucleiWindow");
    frame->setFrameShape(QFrame::Box);
    auto* grid = new QGridLayout(frame);
    grid->setVerticalSpacing(1);
    grid->addWidget(new QLabel("Nuclei parameters", frame), 0, 0, 1, 4);
    auto* label = new QLabel(frame);
    binder_->bind(ctl::SelectedSpinLabel, label);
    grid->addWidget(new QLabel("Nucleus", frame), 1, 0);
    auto* nucleus = new QComboBox(frame);
    grid->addWidget(nucleus, 1, 1);
    grid->addWidget(label, 1, 2);
    binder_->bind(ctl::NucleusChooser, nucleus, [this] {
        history_->record("Nucleus",
                         [this] { return spinEditor_.chooseNucleus(bench_.controls().text(ctl::NucleusChooser)); });
        afterModelChange();
    });
    grid->addWidget(new QLabel("J coupling, Hz  to spin", frame), 2, 0, 1, 4);
    for (int j = 0; j < 10; ++j) {
        grid->addWidget(new QLabel(QString::number(j), frame), 3 + j / 5, 2 * (j % 5) == 0 ? 0 : 2 * (j % 5));
        auto* edit = box(frame, 50);
        grid->addWidget(edit, 3 + j / 5, 2 * (j % 5) + 1);
        binder_->bind({"Text42", j}, edit, [this, j] {
            history_->record("Coupling", [this, j] { return spinEditor_.editBox(j); });
            afterModelChange();
        });
    }
    const std::pair<int, const char*> rest[] = {
        {11, "Chemical shift, ppm"}, {10, "Hz"}, {12, "T1, ms"}, {13, "T2, ms"}};
    const int columns[] = {0, 3, 5, 7};
    int n = 0;
    for (const auto& [index, caption] : rest) {
        const int c = columns[n++];
        grid->addWidget(new QLabel(caption, frame), 5, c, 1, c == 0 ? 3 : 2);
        auto* edit = box(frame, 60);
        if (index == 10)
            edit->setReadOnly(true);
        grid->addWidget(edit, 6, c, 1, 2);
        binder_->bind({"Text42", index}, edit, [this, i = index, caption = QString(caption)] {
            history_->record(caption, [this, i] { return spinEditor_.editBox(i); });
            afterModelChange();
        });
    }
    return frame;
}

void MainWindow::spinClicked(double xTwips, double yTwips)
{
    switch (spinEditor_.click(xTwips, yTwips)) {
    case workbench::SpinClick::Selected:
        sequenceView_->hide();  // the nuclei window lies under the sequence picture
        binder_->refreshAll();
        break;
    case workbench::SpinClick::Outside:
        sequenceView_->show();
        break;
    case workbench::SpinClick::Ignored:
        break;
    }
}

void MainWindow::selectOperators(int count)
{
    if (auto* list = qobject_cast<QListWidget*>(binder_->widget(ctl::OperatorList)))
        for (int i = 0; i < count && i < list->count(); ++i)
            list->item(i)->setSelected(true);
}

void MainWindow::openNucleiWindow(int spin)
{
    const workbench::TwipPoint at = workbench::spinPanelPosition(spin, bench_.spinSystem().spinCount());
    spinClicked(at.x, at.y);
}

void MainWindow::afterModelChange()
{
    sequenceEditor_.showCurrentStep();
    redrawPanels();
}

void MainWindow::redrawPanels()
{
    render::drawSpinPanel(spinView_->box(), bench_);
    render::drawSequencePanel(sequenceView_->box(), bench_);
    spinTableButton_->setVisible(bench_.spinSystem().spinCount() > workbench::kSpinsDrawnReadably);
    spinTableButton_->raise();
    if (spinTable_->isVisible())
        spinTable_->refresh(bench_.spinSystem());
    spinView_->update();
    sequenceView_->update();
    updateTitle();
}

void MainWindow::updateTitle()
{
    QStringList parts;
    for (const auto document : {workbench::FileList::Molecules, workbench::FileList::Sequences}) {
        const std::string& name = bench_.documents().name(document);
        QString part = name.empty() ? (document == workbench::FileList::Molecules ? "untitled molecule"
                                                                                  : "untitled sequence")
                                    : QString::fromStdString(name);
        if (workbench::documentEdited(bench_, document))
            part += "*";
        parts << part;
    }
    setWindowTitle("Velmora - " + parts.join(", "));
}

bool MainWindow::mayReplace(std::initializer_list<workbench::FileList> documents)
{
    std::vector<workbench::FileList> edited;
    QStringList what;
    for (const auto document : documents)
        if (workbench::documentEdited(bench_, document)) {
            edited.push_back(document);
            what << (document == workbench::FileList::Molecules ? "the spin system" : "the sequence");
        }
    if (edited.empty())
        return true;
    QMessageBox ask(QMessageBox::Warning, "Velmora",
                    "You have edited " + what.join(" and ") + " since it was last opened or saved.\n"
                        "Save the changes before they are replaced?",
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    ask.setObjectName("unsaved edits");
    ask.setDefaultButton(QMessageBox::Save);
    switch (ask.exec()) {
    case QMessageBox::Save:
        for (const auto document : edited)
            if (!saveBeforeReplacing(document))
                return false;
        return true;
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

bool MainWindow::saveBeforeReplacing(workbench::FileList document)
{
    std::string name = bench_.documents().name(document);
    if (name.empty()) {
        // An untitled document gets its name from the Save dialog; cancelling it cancels the whole.
        const bool molecule = document == workbench::FileList::Molecules;
        const QString path = QFileDialog::getSaveFileName(
            this, molecule ? "Save molecule as" : "Save sequence as",
            QString::fromStdString(bench_.workingDirectory()), molecule ? "Molecules (*.mol)" : "Sequences (*.psq)",
            nullptr, QFileDialog::DontUseNativeDialog);
        if (path.isEmpty() || !workIn(QFileInfo(path).absolutePath()))
            return false;
        name = QFileInfo(path).fileName().toStdString();
    }
    const bool saved = workbench::saveDocument(bench_, document, name);
    if (saved)
        rememberRecent(document);
    updateFileLists();
    updateTitle();
    return saved;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    commitPendingEdit();
    if (refusedWhileRunning() ||
        !mayReplace({workbench::FileList::Molecules, workbench::FileList::Sequences})) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::openCellChooser(int cell, QWidget* over)
{
    if (!sequenceEditor_.pickCell(cell))
        return;
    chooser_->clear();
    for (const std::string& choice : sequenceEditor_.cellChoices(cell))
        chooser_->addItem(QString::fromStdString(choice));
    chooser_->setGeometry(
        QRect(over->mapTo(area_, QPoint(0, 0)), QSize(std::max(over->width(), 120), over->height())));
    chooser_->show();
    chooser_->raise();
    chooser_->showPopup();
}

void MainWindow::buildWorkingArea()
{
    area_ = new QWidget(this);
    area_->setObjectName("workingArea");
    area_->setMouseTracking(true);
    setCentralWidget(area_);

    nucleiWindow_ = buildNucleiWindow();
    spinView_ = pictureView("spinSystemPicture");
    spinView_->setClickHandler([this](double x, double y) {
        if (!refusedWhileRunning())
            spinClicked(x, y);
    });
    sequenceView_ = pictureView("Picture2");
    sequenceView_->setClickHandler([this](double x, double) {
        if (refusedWhileRunning())
            return;
        sequenceEditor_.selectStepAt(x, render::kSequenceScaleWidth);
        afterModelChange();
    });
    for (PictureView* panel : {spinView_, sequenceView_})
        panel->setResizeHandler([this] { redrawPanels(); });
    // Beyond a few spins the drawing crowds: a button in its corner opens the spins as a table.
    spinTable_ = new SpinTableWindow(this);
    spinTable_->setSpinChosen([this](int spin) {
        if (!refusedWhileRunning())
            openNucleiWindow(spin);
    });
    spinTableButton_ = new QPushButton("table", area_);
    spinTableButton_->setObjectName("spinTableButton");
    spinTableButton_->setToolTip("The spin system as a table: nucleus, shift, T1, T2 and couplings");
    spinTableButton_->setStyleSheet("padding: 0px 6px");
    connect(spinTableButton_, &QPushButton::clicked, this, [this] {
        spinTable_->refresh(bench_.spinSystem());
        spinTable_->show();
        spinTable_->raise();
    });

    acquisition_ = buildAcquisitionArea();
    parameters_ = buildParametersArea();
    tools_ = buildPulseTools();

    operators_ = new QListWidget(area_);
    operators_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    binder_->bind(ctl::OperatorList, operators_);
    results_ = new QListWidget(area_);
    binder_->bind(ctl::ResultList, results_);

    plots_ = new PlotArea(bench_, *binder_, twips_, area_, statusBar());

    optionsFrame_ = buildOptionsFrame();
    optionsFrame_->setGeometry(twips_.rect(2500, 0, 9000, 8000));
    spectraFrame_ = buildSpectraFrame();
    spectraFrame_->setGeometry(twips_.rect(3580, 0, 5895, 3132));
    fileFrame_ = buildFileFrame();
    fileFrame_->setGeometry(twips_.rect(0, 0, 4905, 7200));
    helpList_ = buildTextList(helpText());
    helpList_->setGeometry(twips_.rect(2500, 0, 9300, 8000));
    aboutList_ = buildTextList(aboutText());
    aboutList_->setGeometry(twips_.rect(4560, 0, 7335, 2400));
    // The plots keep their view bars live during a run (PlotArea::setRunning).
    editing_ = {acquisition_,  parameters_,   tools_,     generatorWindow_, fileFrame_, optionsFrame_,
                spectraFrame_, nucleiWindow_, operators_, results_};
    // The pointer rules need every move over the working area, not only those with a button down.
    for (QWidget* w : area_->findChildren<QWidget*>())
        w->setMouseTracking(true);
    layOutParts();
}

QWidget* MainWindow::buildAcquisitionArea()
{
    auto* group = new QWidget(area_);
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setVerticalSpacing(2);
    int row = 0;
    auto add = [&](const QString& caption, QWidget* w, int column = 0) {
        auto* label = new QLabel(caption, group);
        grid->addWidget(label, row, column);
        grid->addWidget(w, row, column + 1);
        return label;
    };

    auto* tesla = box(group, 50);
    auto* mhz = box(group, 50);
    add("Field, T", tesla);
    add("MHz", mhz, 2);
    // The nuclei window stays open over a field edit: its Hz box shows the shift at the new frequency.
    const auto fieldEdited = [this](void (*edited)(workbench::Workbench&)) {
        return [this, edited] {
            edited(bench_);
            spinEditor_.showModel();
            binder_->refresh({"Text42", workbench::kShiftHzBox});
        };
    };
    binder_->bind(ctl::FieldTesla, tesla, fieldEdited(&workbench::onFieldTeslaEdited));
    binder_->bind(ctl::ProtonFrequency, mhz, fieldEdited(&workbench::onProtonFrequencyEdited));
    ++row;
    auto* detection = new QComboBox(group);
    detection->setEditable(true);
    add("Detection (t2)", detection);
    binder_->bind(ctl::DetectionChannel, detection, [this] {
        workbench::onDetectionChannelChosen(bench_);
        redrawPanels();  // the receiver mark moves to the chosen row
        plots_->detectionChanged();
    });
    // A committed value of these boxes is one undo step, like an edit of the drawn model.
    const auto undoable = [this](model::ControlId id, const QString& caption) {
        return [this, id, caption] {
            const std::optional<model::ControlState> before = binder_->takeStateBeforeEdit(id);
            if (!before || *before == bench_.controls().at(id))
                return;
            const model::ControlState after = bench_.controls().at(id);
            bench_.controls().at(id) = *before;
            history_->record(caption, [this, id, &after] {
                bench_.controls().at(id) = after;
                return true;
            });
        };
    };
    auto* sw = box(group, 50);
    add("sw, Hz", sw, 2);
    binder_->bind(ctl::SpectralWidth, sw, undoable(ctl::SpectralWidth, "sw"));
    ++row;
    auto* np = box(group, 50);
    add("np", np);
    binder_->bind(ctl::PointCount, np);
    auto* at = box(group, 50);
    add("at, ms", at, 2);
    binder_->bind(ctl::AcquisitionTime, at);
    ++row;
    // The array method and the arrayed parameter are chosen like a step's cells: a click opens the
    // chooser over them.
    auto* method = new QLabel(group);
    add("Array", method);
    binder_->bind(ctl::ArrayMethod, method);
    auto* arrayed = new QLabel(group);
    add("of", arrayed, 2);
    binder_->bind(ctl::ArrayedParameter, arrayed);
    for (QLabel* cell : {method, arrayed}) {
        cell->setFrameShape(QFrame::Panel);
        cell->setProperty("cell",
                          cell == method ? workbench::kArrayMethodCell : workbench::kArrayedParameterCell);
        cell->installEventFilter(this);
    }
    ++row;
    auto* ni = box(group, 50);
    // The exchange mode hides the simulator's Ni and increment with their captions: its sweeps
    // have their own in the exchange panel.
    add("Ni", ni)->setObjectName("arraySizeCaption");
    binder_->bind(ctl::ArraySize, ni, undoable(ctl::ArraySize, "Ni"));
    auto* increment = box(group, 50);
    add("increment", increment, 2)->setObjectName("arrayIncrementCaption");
    binder_->bind(ctl::ArrayIncrement, increment, undoable(ctl::ArrayIncrement, "increment"));
    ++row;

    grid->addWidget(new QLabel("Phase cycle  f4 f5 f6 f7 f8 f9", group), row++, 0, 1, 4);
    auto* phases = new QListWidget(group);
    phases->setFlow(QListView::LeftToRight);
    phases->setMaximumHeight(twips_.px(420));
    grid->addWidget(phases, row++, 0, 1, 4);
    binder_->bind(ctl::PhaseCycle, phases);
    // The in-place editor of a phase row: a click on a row opens it there, Enter or leaving it
    // writes the row back.
    auto* rowEditor = new QLineEdit(group);
    rowEditor->hide();
    binder_->bind(ctl::PhaseRowEditor, rowEditor, [this] {
        if (history_->record("Phase row", [this] { return sequenceEditor_.commitPhaseRow(); }))
            bench_.controls().setVisible(ctl::PhaseRowEditor, false);
        binder_->refresh(ctl::PhaseCycle);
    });
    connect(phases, &QListWidget::itemClicked, this, [this, phases, rowEditor](QListWidgetItem* item) {
        if (!sequenceEditor_.openPhaseRow(phases->row(item)))
            return;
        const QRect cell = phases->visualItemRect(item);
        rowEditor->setGeometry(QRect(phases->viewport()->mapTo(rowEditor->parentWidget(), cell.topLeft()),
                                     QSize(std::max(cell.width(), 60), cell.height() + 4)));
        bench_.controls().setVisible(ctl::PhaseRowEditor, true);
        rowEditor->raise();
        rowEditor->setFocus();
        rowEditor->selectAll();
    });
    auto* scans = box(group, 40);
    add("Ncycles X ND", scans);
    binder_->bind(ctl::ScanCount, scans);
    return group;
}

QWidget* MainWindow::buildParametersArea()
{
    auto* group = new QGroupBox("Parameters", area_);
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setVerticalSpacing(2);
    grid->setHorizontalSpacing(4);
    auto* step = new QLabel(group);
    binder_->bind(ctl::CurrentStep, step);
    grid->addWidget(step, 0, 0);
    const QStringList heads = {"name", "value, us", "power", "value, dB", "ph", "offset", "value, Hz"};
    for (int c = 0; c < heads.size(); ++c)
        grid->addWidget(new QLabel(heads[c], group), 0, c + 1);
    auto cell = [&](int index, int r, int c) {
        auto* label = new QLabel(group);
        label->setFrameShape(QFrame::Panel);
        label->setFixedWidth(c == 5 ? 30 : 64);
        label->setProperty("cell", index);
        label->installEventFilter(this);
        grid->addWidget(label, r, c);
        binder_->bind({"Label3", index}, label);
    };
    // What each value box sets, in its unit (the columns' heads say it for the channels' rows).
    const auto unitOf = [](int index) -> QString {
        if (index < 3)
            return "the pulse length, us";
        if (index == 3)
            return "the gradient, in 0.1 uT across the sample";
        if (index == 4)
            return "the delay, ms";
        return index < 8 ? "the offset from the channel's carrier, Hz" : "the RF power, dB";
    };
    auto value = [&](int index, int r, int c) {
        auto* edit = box(group, 60);
        edit->setToolTip("Sets " + unitOf(index) + ", for every step that uses the element");
        edit->setProperty("valueBox", index);
        edit->installEventFilter(this);
        grid->addWidget(edit, r, c);
        binder_->bind({"Text1", index}, edit, [this, index] {
            history_->record("Step value", [this, index] { return sequenceEditor_.editValue(index); });
            redrawPanels();
        });
    };
    const QStringList rows = {"H1", "C13", "N15", "grad", "delay, ms"};
    for (int k = 0; k < 5; ++k) {
        const int r = k + 1;
        grid->addWidget(new QLabel(rows[k], group), r, 0);
        if (k < 3) {
            cell(k, r, 1);
            value(k, r, 2);
            cell(k + 11, r, 3);
            value(k + 8, r, 4);
            cell(k + 3, r, 5);
            cell(k + 8, r, 6);
            value(k + 5, r, 7);
        } else {
            cell(k + 3, r, 1);  // Label3(6) gradient, Label3(7) delay
            value(k, r, 2);     // Text1(3), Text1(4)
        }
    }

    auto* buttons = new QWidget(group);
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    const std::pair<const char*, bool (workbench::SequencePanelEditor::*)()> actions[] = {
        {"Del", &workbench::SequencePanelEditor::deleteStep},
        {"Ins", &workbench::SequencePanelEditor::insertStep},
        {"point", &workbench::SequencePanelEditor::markPoint},
        {"Acqu", &workbench::SequencePanelEditor::toggleAcquisition},
        {"{", &workbench::SequencePanelEditor::markCycleStart},
        {"}", &workbench::SequencePanelEditor::markCycleEnd}};
    for (const auto& [caption, act] : actions) {
        auto* button = new QPushButton(caption, buttons);
        button->setObjectName(QString("step ") + caption);
        if (caption[0] == '{' || caption[0] == '}') {
            button->setStyleSheet("color: red");
            button->setFixedWidth(28);
        }
        row->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, act = act, caption = QString(caption)] {
            history_->record("Step " + caption, [this, act] { return (sequenceEditor_.*act)(); });
            afterModelChange();
        });
    }
    auto* cycle = box(buttons, 40);
    cycle->setStyleSheet("color: red");
    cycle->setProperty("valueBox", workbench::kCycleCountBox);
    cycle->installEventFilter(this);
    row->addWidget(cycle);
    binder_->bind(ctl::CycleCountBox, cycle, [this] {
        history_->record("Cycle count", [this] { return sequenceEditor_.editValue(workbench::kCycleCountBox); });
        redrawPanels();
    });
    grid->addWidget(buttons, 4, 3, 2, 5);

    grid->addWidget(new QLabel("Initial conditions:", group), 6, 0, 1, 2);
    auto* initial = new QPushButton(group);
    grid->addWidget(initial, 6, 2, 1, 2);
    binder_->bind(ctl::InitialCondition, initial);
    connect(initial, &QPushButton::clicked, this, [this] {
        history_->record("Initial condition", [this] {
            sequenceEditor_.toggleInitialCondition();
            return true;
        });
        binder_->refreshAll();
    });
    auto* operators = new QListWidget(group);
    operators->setSelectionMode(QAbstractItemView::MultiSelection);
    operators->setMaximumHeight(twips_.px(700));
    grid->addWidget(operators, 6, 4, 2, 4);
    binder_->bind(ctl::InitialOperators, operators);
    chooser_ = new QComboBox(area_);
    chooser_->hide();
    connect(chooser_, &QComboBox::textActivated, this, [this](const QString& choice) {
        chooser_->hide();
        history_->record("Step choice", [this, &choice] { return sequenceEditor_.choose(choice.toStdString()); });
        afterModelChange();
        binder_->refreshAll();
    });
    return group;
}

QWidget* MainWindow::buildPulseTools()
{
    auto* group = new QGroupBox("Pulse tools", area_);
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setVerticalSpacing(1);
    const QStringList captions = {"dB", "pi/2 pulse, microsec", "w1, Hz", "angle, degree", "TR, msec", "T1, ms"};
    grid->addWidget(new QLabel("Pulse calibration table:", group), 0, 0, 1, 3);
    grid->addWidget(new QLabel("Ernst angles table:", group), 3, 0, 1, 3);
    for (int i = 0; i < 6; ++i) {
        const int r = i < 3 ? 1 : 4;
        grid->addWidget(new QLabel(captions[i], group), r, i % 3);
        auto* edit = box(group, 72);
        grid->addWidget(edit, r + 1, i % 3);
        binder_->bind({"Text10", i}, edit, [this, i] { recomputeCalculator(i); });
    }
    grid->setColumnStretch(1, 2);
    grid->setRowStretch(6, 1);

    // The shaped-pulse generator has more boxes than the corner holds: it opens in a window of
    // its own size.
    generatorWindow_ = new QWidget(this, Qt::Tool);
    generatorWindow_->setObjectName("generatorWindow");
    generatorWindow_->setWindowTitle("Shaped-pulse generator");
    auto* page = new PulseGeneratorPage(bench_, *binder_, generatorWindow_);
    auto* pageLayout = new QVBoxLayout(generatorWindow_);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(page);
    generatorWindow_->resize(page->widget()->sizeHint() + QSize(4, 4));
    connect(page, &PulseGeneratorPage::pulseMade, this, [this] { refreshFileLists(); });
    auto* open = new QPushButton("Shaped-pulse generator...", group);
    open->setObjectName("openGenerator");
    open->setToolTip("Make a shaped pulse (.RF file) and see its excitation profile");
    connect(open, &QPushButton::clicked, this, [this] {
        generatorWindow_->show();
        generatorWindow_->raise();
        generatorWindow_->activateWindow();
    });
    grid->addWidget(open, 7, 0, 1, 3);
    return group;
}

void MainWindow::recomputeCalculator(int box)
{
    model::Controls& controls = bench_.controls();
    auto text = [&](int b) { return controls.text({"Text10", b}); };
    auto write = [&](int b, const std::string& value) { controls.setText({"Text10", b}, value); };
    const std::optional<model::ControlState> before = binder_->takeStateBeforeEdit({"Text10", box});
    if (!util::isNumeric(text(box))) {
        // Not a number: the box takes back the value the others were computed from.
        statusBar()->showMessage(QString::fromStdString("\"" + text(box) + "\" is not a number; the value is kept."),
                                 5000);
        if (before)
            controls.at({"Text10", box}) = *before;
        binder_->refresh({"Text10", box});
        return;
    }
    if (box < 3) {
        if (const auto done = pulses::onCalibrationEdited(box, {text(0), text(1), text(2)})) {
            write(0, done->powerDb);
            write(1, done->pulseUs);
            write(2, done->fieldHz);
        }
    } else if (const auto done = pulses::onErnstEdited(box - 3, {text(3), text(4), text(5)})) {
        write(3, done->angle);
        write(4, done->trMs);
        write(5, done->t1Ms);
    }
}

QFrame* MainWindow::buildOptionsFrame()
{
    auto* frame = new QFrame(area_);
    frame->setObjectName("Frame1_0");
    frame->setFrameShape(QFrame::Box);
    frame->setAutoFillBackground(true);
    auto* grid = new QGridLayout(frame);
    grid->setVerticalSpacing(1);
    grid->addWidget(new QLabel("Hamiltonian includes:", frame), 0, 0, 1, 2);
    int row = 1;
    // 29: strong coupling, a Hamiltonian switch of this program that sequence files do not carry.
    for (int i : {0, 1, 2, 29}) {
        auto* check = new QCheckBox(frame);
        grid->addWidget(check, row++, 0, 1, 2);
        binder_->bind({"Check1", i}, check, [this, i] { workbench::onOptionClicked(bench_, i); });
    }
    grid->addWidget(new QLabel("Relaxation parameters:", frame), row++, 0, 1, 2);
    for (int i : {5, 7, 4, 3}) {
        auto* check = new QCheckBox(frame);
        grid->addWidget(check, row++, 0);
        binder_->bind({"Check1", i}, check, [this, i] { workbench::onOptionClicked(bench_, i); });
    }
    const std::pair<const char*, int> relaxationBoxes[] = {{"T1 =", 16}, {"T2 =", 19}, {"Tcr =", 17}};
    int r = row - 4;
    for (const auto& [caption, index] : relaxationBoxes) {
        auto* edit = box(frame, 60);
        auto* line = new QWidget(frame);
        auto* h = new QHBoxLayout(line);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(new QLabel(caption, line));
        h->addWidget(edit);
        h->addWidget(new QLabel("ms", line));
        grid->addWidget(line, r++, 1);
        binder_->bind({"Text14", index}, edit);
    }
    auto* noise = new QCheckBox(frame);
    grid->addWidget(noise, row, 0);
    binder_->bind(ctl::Noise, noise, [this] { workbench::onOptionClicked(bench_, 6); });
    auto* amplitude = box(frame, 60);
    grid->addWidget(amplitude, row++, 1);
    binder_->bind(ctl::NoiseAmplitude, amplitude);
    grid->addWidget(new QLabel("N of slices for magnetic gradient simulations:", frame), row, 0);
    auto* slices = box(frame, 60);
    grid->addWidget(slices, row++, 1);
    binder_->bind(ctl::LastSlice, slices);
    // Threads the runs use; the Workbench holds the count, results do not depend on it.
    grid->addWidget(new QLabel("Threads:", frame), row, 0);
    auto* threads = new QSpinBox(frame);
    threads->setObjectName("thread count");
    threads->setFixedWidth(60);
    threads->setRange(1, std::max(util::WorkPool::hardwareThreads(), bench_.threads()));
    threads->setValue(bench_.threads());
    connect(threads, &QSpinBox::valueChanged, this, [this](int count) { bench_.setThreads(count); });
    grid->addWidget(threads, row++, 1);

    grid->addWidget(new QLabel("Processing of signals acquired during a pulse:", frame), row++, 0, 1, 2);
    auto* processing = new QWidget(frame);
    auto* options = new QGridLayout(processing);
    options->setContentsMargins(0, 0, 0, 0);
    options->setVerticalSpacing(1);
    int shown = 0;
    for (int i = 8; i <= 28; ++i) {
        if (bench_.controls().caption({"Check1", i}).empty())
            continue;
        auto* check = new QCheckBox(processing);
        options->addWidget(check, shown / 3, shown % 3);
        ++shown;
        binder_->bind({"Check1", i}, check, [this, i] { workbench::onOptionClicked(bench_, i); });
    }
    grid->addWidget(processing, row++, 0, 1, 2);
    // The boxes of the options above, each under the name of what it sets.
    auto* boxes = new QWidget(frame);
    auto* h = new QGridLayout(boxes);
    h->setContentsMargins(0, 0, 0, 0);
    h->setVerticalSpacing(0);
    const std::tuple<int, const char*, const char*> processingBoxes[] = {
        {18, "LP order", "Linear Prediction: the number of coefficients"},
        {20, "LP points", "Linear Prediction: the leading samples it refills"},
        {21, "floor", "contin SWIFT and MBSWIFT: the floor, a fraction of the pulse's peak power"},
        {22, "Downsample", "Downsample: the factor"},
        {23, "T2=T1/", "T2=T1/: T2 of an arrayed T1 is T1 divided by this"},
        {24, "gap, points", "receiver gapping: the points the receiver is off"},
        {25, "correlate with (.RF)", "correlate with: the pulse file that replaces the acquisition pulse"}};
    int column = 0;
    for (const auto& [index, caption, tip] : processingBoxes) {
        auto* label = new QLabel(caption, boxes);
        label->setToolTip(tip);
        h->addWidget(label, 0, column);
        auto* edit = box(boxes, index == 25 ? 160 : 56);
        edit->setToolTip(tip);
        h->addWidget(edit, 1, column++);
        binder_->bind({"Text14", index}, edit);
    }
    grid->addWidget(boxes, row++, 0, 1, 2);

    grid->addWidget(new QLabel("Directory: ", frame), row++, 0, 1, 2);
    directoryList_ = new QListWidget(frame);
    directoryList_->setMinimumHeight(twips_.px(1000));
    grid->addWidget(directoryList_, row++, 0, 1, 2);
    connect(directoryList_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        QDir dir(QString::fromStdString(bench_.workingDirectory()));
        if (!dir.cd(item->text()))
            return;
        const util::Outcome changed =
            workbench::changeDirectory(bench_, workspace_, dir.absolutePath().toStdString());
        if (!changed)
            bench_.messages().show(changed.message(), "Error!");
        refreshDirectoryList();
    });
    refreshDirectoryList();
    return frame;
}

QFrame* MainWindow::buildSpectraFrame()
{
    auto* frame = new QFrame(area_);
    frame->setObjectName("Frame1_3");
    frame->setFrameShape(QFrame::Box);
    frame->setAutoFillBackground(true);
    auto* grid = new QGridLayout(frame);
    const QStringList heads = {"", "direct (t2)", "indirect (t1)", "third"};
    for (int c = 0; c < heads.size(); ++c)
        grid->addWidget(new QLabel(heads[c], frame), 0, c);
    grid->addWidget(new QLabel("window", frame), 1, 0);
    grid->addWidget(new QLabel("Line broadening, Hz", frame), 2, 0);
    grid->addWidget(new QLabel("Spectral width , Hz", frame), 3, 0);
    grid->addWidget(new QLabel("quadrature", frame), 4, 0);
    const std::pair<model::ControlId, std::pair<int, int>> places[] = {
        {ctl::DirectWindow, {1, 1}},
        {ctl::IndirectWindow, {1, 2}},
        {ctl::Window3D, {1, 3}},
        {ctl::LineBroadening1D, {2, 1}},
        {ctl::LineBroadening2D, {2, 2}},
        {ctl::LineBroadening3D, {2, 3}},
        {ctl::IndirectSpectralWidth, {3, 2}},
        {ctl::SpectralWidth3D, {3, 3}},
        {ctl::IndirectMethod, {4, 2}},
    };
    for (const auto& [id, place] : places) {
        QWidget* w = id.array == "Combo2" ? static_cast<QWidget*>(new QComboBox(frame)) : box(frame, 60);
        grid->addWidget(w, place.first, place.second);
        binder_->bind(id, w);
    }
    auto* profile = new QComboBox(frame);
    grid->addWidget(new QLabel("object profile", frame), 5, 0);
    grid->addWidget(profile, 5, 1);
    binder_->bind(ctl::ObjectProfile, profile);
    // The companion of savePicture: the last run's spectra or map for other NMR programs.
    auto* jcamp = new QPushButton("Export JCAMP-DX", frame);
    jcamp->setObjectName("export jcamp");
    grid->addWidget(jcamp, 6, 0, 1, 2);
    connect(jcamp, &QPushButton::clicked, this, [this] {
        std::vector<std::string> written;
        if (const util::Outcome exported = workbench::writeJcampFiles(bench_, bench_.workingDirectory(), &written);
            !exported)
            bench_.messages().show(exported.message(), "Error!");
        else
            statusBar()->showMessage(QString("Saved %1 JCAMP-DX file(s) in the working directory.")
                                         .arg(written.size()), 5000);
    });
    return frame;
}

QFrame* MainWindow::buildFileFrame()
{
    auto* frame = new QFrame(area_);
    frame->setObjectName("Frame1_2");
    frame->setFrameShape(QFrame::Box);
    frame->setAutoFillBackground(true);
    auto* grid = new QGridLayout(frame);
    grid->addWidget(new QLabel("Open", frame), 0, 0, 1, 2);
    moleculeFiles_ = new QListWidget(frame);
    sequenceFiles_ = new QListWidget(frame);
    grid->addWidget(moleculeFiles_, 1, 0);
    grid->addWidget(sequenceFiles_, 1, 1);
    grid->addWidget(new QLabel("Save", frame), 3, 0, 1, 2);
    for (int i = 0; i < 2; ++i) {
        const auto list = static_cast<workbench::FileList>(i);
        QListWidget* files = i == 0 ? moleculeFiles_ : sequenceFiles_;
        const QString kind = i == 0 ? "molecule" : "sequence";
        auto* browse = new QPushButton(QString("Open %1...").arg(kind), frame);
        browse->setObjectName(QString("open %1 dialog").arg(kind));
        grid->addWidget(browse, 2, i);
        connect(browse, &QPushButton::clicked, this, [this, list] { openWithDialog(list); });
        auto* name = new QLineEdit(frame);
        grid->addWidget(name, 4, i);
        binder_->bind({"Text11", i}, name);
        auto* go = new QPushButton(frame);
        go->setObjectName("save " + kind);
        grid->addWidget(go, 5, i);
        binder_->bind({"Command5", i}, go);
        auto* saveAs = new QPushButton(QString("Save %1 as...").arg(kind), frame);
        saveAs->setObjectName(QString("save %1 dialog").arg(kind));
        grid->addWidget(saveAs, 6, i);
        connect(saveAs, &QPushButton::clicked, this, [this, list] { saveWithDialog(list); });
        connect(files, &QListWidget::itemClicked, this, [this, list](QListWidgetItem* item) {
            workbench::pickFile(bench_, list, item->text().toStdString());
        });
        // The frame stays open: a molecule and then a sequence can be opened in one visit.
        connect(files, &QListWidget::itemDoubleClicked, this, [this, list](QListWidgetItem* item) {
            if (bench_.runControl().running() || !mayReplace({list}))
                return;
            openInWorkingDirectory(list, item->text().toStdString());
        });
        connect(go, &QPushButton::clicked, this, [this, list] {
            if (workbench::savePickedFile(bench_, list))
                rememberRecent(list);
            updateFileLists();
            updateTitle();
        });
    }
    // The pictures of the last run into a folder of the user's choice (savePicture writes them into
    // the working directory).
    auto* pictures = new QPushButton("Save pictures to a folder...", frame);
    pictures->setObjectName("save pictures dialog");
    grid->addWidget(pictures, 9, 0, 1, 2);
    connect(pictures, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(
            this, "Save plot1d, plot2d, plotOper and plotSec in", QString::fromStdString(bench_.workingDirectory()),
            QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        if (!folder.isEmpty())
            plots_->savePictures(folder.toStdString());
    });
    grid->addWidget(new QLabel("Recent (double-click to open)", frame), 7, 0, 1, 2);
    recentFiles_ = new QListWidget(frame);
    recentFiles_->setObjectName("recentFiles");
    recentFiles_->setMaximumHeight(twips_.px(1300));
    grid->addWidget(recentFiles_, 8, 0, 1, 2);
    connect(recentFiles_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { openRecent(item->data(Qt::UserRole).toString()); });
    showRecentFiles();
    return frame;
}

void MainWindow::showRecentFiles()
{
    recentFiles_->clear();
    for (const std::filesystem::path& path : recent_.paths()) {
        auto* item = new QListWidgetItem(QString::fromStdString(path.filename().string() + "  (" +
                                                                path.parent_path().string() + ")"),
                                         recentFiles_);
        item->setData(Qt::UserRole, QString::fromStdString(path.string()));
        item->setToolTip(QString::fromStdString(path.string()));
    }
}

void MainWindow::rememberRecent(workbench::FileList list)
{
    const std::string& name = bench_.documents().name(list);
    if (name.empty())
        return;
    if (!recent_.note(std::filesystem::path(bench_.workingDirectory()) / name))
        statusBar()->showMessage("The list of recent files could not be written.", 5000);
    showRecentFiles();
}

void MainWindow::openRecent(const QString& path)
{
    const QFileInfo file(path);
    const auto list = file.suffix().compare("mol", Qt::CaseInsensitive) == 0 ? workbench::FileList::Molecules
                                                                                 : workbench::FileList::Sequences;
    if (!file.isFile()) {
        bench_.messages().show("The file " + path.toStdString() + " is no longer there.", "Error!");
        return;
    }
    if (bench_.runControl().running() || !mayReplace({list}) || !workIn(file.absolutePath()))
        return;
    openInWorkingDirectory(list, file.fileName().toStdString());
}

void MainWindow::openInWorkingDirectory(workbench::FileList list, const std::string& name)
{
    if (workbench::pickFile(bench_, list, name) && workbench::openPickedFile(bench_, list))
        rememberRecent(list);
    afterFileOpened();
}

void MainWindow::afterFileOpened()
{
    history_->clear();  // the edits before belong to another document
    if (bench_.exchangeMode()) {
        // The file's exchange values replace the panel's, as a switch into the mode shows them.
        workbench::showExchangeCaptions(bench_);
        ExchangeMode::of(*this, bench_).showSettings();
    }
    afterModelChange();
    binder_->refreshAll();
    updateFileLists();
}

bool MainWindow::workIn(const QString& folder)
{
    const QDir current(QString::fromStdString(bench_.workingDirectory()));
    if (QDir(folder) == current)
        return true;
    const util::Outcome changed = workbench::changeDirectory(bench_, workspace_, folder.toStdString());
    if (!changed) {
        bench_.messages().show(changed.message(), "Error!");
        return false;
    }
    refreshDirectoryList();
    refreshFileLists();
    statusBar()->showMessage("Working directory: " + QString::fromStdString(bench_.workingDirectory()), 5000);
    return true;
}

QFileDialog* MainWindow::fileDialog(workbench::FileList list, bool save)
{
    const bool molecules = list == workbench::FileList::Molecules;
    auto* dialog = new QFileDialog(this, save ? (molecules ? "Save molecule as" : "Save sequence as")
                                              : (molecules ? "Open molecule" : "Open sequence"),
                                   QString::fromStdString(bench_.workingDirectory()),
                                   molecules ? "Molecules (*.mol)" : "Sequences (*.psq)");
    dialog->setObjectName("fileDialog");
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setDefaultSuffix(molecules ? "mol" : "psq");
    return dialog;
}

void MainWindow::openWithDialog(workbench::FileList list)
{
    if (bench_.runControl().running() || !mayReplace({list}))
        return;
    QFileDialog* dialog = fileDialog(list, false);
    // A molecule or sequence opened elsewhere makes its folder the working directory: the shaped
    // pulses it names lie beside it, and the results of its runs belong there.
    connect(dialog, &QFileDialog::fileSelected, this, [this, list](const QString& path) {
        const QFileInfo file(path);
        if (!workIn(file.absolutePath()))
            return;
        openInWorkingDirectory(list, file.fileName().toStdString());
    });
    dialog->open();
}

void MainWindow::saveWithDialog(workbench::FileList list)
{
    QFileDialog* dialog = fileDialog(list, true);
    connect(dialog, &QFileDialog::fileSelected, this, [this, list](const QString& path) {
        const QFileInfo file(path);
        if (!workIn(file.absolutePath()))
            return;
        if (workbench::pickFile(bench_, list, file.fileName().toStdString()) &&
            workbench::savePickedFile(bench_, list))
            rememberRecent(list);
        updateFileLists();
        updateTitle();
    });
    dialog->open();
}

QListWidget* MainWindow::buildTextList(const QStringList& lines)
{
    auto* list = new QListWidget(area_);
    list->addItems(lines);
    return list;
}

void MainWindow::refreshFileLists()
{
    for (QListWidget* list : {moleculeFiles_, sequenceFiles_})
        list->clear();
    updateFileLists();
}

void MainWindow::updateFileLists()
{
    // One order, the names', on every visit: a file that appeared (the automatic copies, a file just
    // saved) takes its place by name and the others keep theirs relative to one another. The file
    // the model was last opened from or saved to is in bold.
    for (const auto& [list, document, extension] :
         {std::tuple{moleculeFiles_, workbench::FileList::Molecules, ".mol"},
          std::tuple{sequenceFiles_, workbench::FileList::Sequences, ".psq"}}) {
        const std::vector<std::string> present =
            util::listFilesWithExtension(bench_.workingDirectory(), extension);
        for (int row = list->count() - 1; row >= 0; --row)
            if (!std::binary_search(present.begin(), present.end(), list->item(row)->text().toStdString()))
                delete list->takeItem(row);
        for (int row = 0; row < static_cast<int>(present.size()); ++row) {
            const QString name = QString::fromStdString(present[static_cast<std::size_t>(row)]);
            if (row >= list->count() || list->item(row)->text() != name)
                list->insertItem(row, name);
            QListWidgetItem* item = list->item(row);
            QFont font = item->font();
            font.setBold(present[static_cast<std::size_t>(row)] == bench_.documents().name(document));
            item->setFont(font);
        }
    }
}

void MainWindow::refreshDirectoryList()
{
    directoryList_->clear();
    const QDir dir(QString::fromStdString(bench_.workingDirectory()));
    directoryList_->addItem(dir.absolutePath());
    directoryList_->addItem("..");
    directoryList_->addItems(dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name));
}

void MainWindow::hidePopups()
{
    for (QWidget* w : {static_cast<QWidget*>(optionsFrame_), static_cast<QWidget*>(spectraFrame_),
                       static_cast<QWidget*>(fileFrame_), static_cast<QWidget*>(helpList_),
                       static_cast<QWidget*>(aboutList_)})
        w->hide();
    bench_.controls().setVisible(ctl::CellChooser, false);
    if (chooser_ != nullptr)
        chooser_->hide();
    sequenceView_->show();
    if (!bench_.exchangeMode())
        bench_.controls().setVisible(ctl::PhaseRowEditor, false);
}

void MainWindow::showFileFrame()
{
    hidePopups();
    refreshFileLists();
    fileFrame_->show();
    fileFrame_->raise();
}

void MainWindow::showOptions()
{
    hidePopups();
    optionsFrame_->show();
    optionsFrame_->raise();
}

void MainWindow::showSpectra()
{
    hidePopups();
    spectraFrame_->show();
    spectraFrame_->raise();
}

void MainWindow::showHelp()
{
    hidePopups();
    helpList_->scrollToTop();
    helpList_->show();
    helpList_->raise();
}

void MainWindow::showAbout()
{
    hidePopups();
    // As wide as its longest line needs, so that no line is cut at the right edge.
    const int needed = aboutList_->sizeHintForColumn(0) + 2 * aboutList_->frameWidth() + twips_.px(200);
    aboutList_->resize(std::max(aboutList_->width(), needed), aboutList_->height());
    aboutList_->show();
    aboutList_->raise();
}

void MainWindow::setRunning(bool running)
{
    for (QWidget* w : editing_)
        w->setEnabled(!running);
    plots_->setRunning(running);
    for (const char* text : {"&File", "&Edit", "&Start", "&Start_2D", "&Refresh", "&savePicture"})
        if (QAction* a = action(text))
            a->setEnabled(!running);
    // The model's undo and redo act through their keys even with the Edit menu off.
    undo_->setEnabled(!running && history_->stack().canUndo());
    redo_->setEnabled(!running && history_->stack().canRedo());
}

bool MainWindow::runInProgress() const
{
    return run_->busy() || bench_.runControl().running();
}

bool MainWindow::refusedWhileRunning()
{
    if (!runInProgress())
        return false;
    statusBar()->showMessage("A run is in progress: Stop it first.", 5000);
    return true;
}

void MainWindow::commitPendingEdit()
{
    // A menu command does not take the focus: the box being edited gives it up first, so that the
    // value typed in it is committed (or refused) before the command reads the model.
    QWidget* focused = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(focused) != nullptr && isAncestorOf(focused))
        focused->clearFocus();
}

void MainWindow::start(bool twoD)
{
    commitPendingEdit();
    hidePopups();
    if (bench_.exchangeMode()) {
        // Start runs the exchange experiment; Start_2D does nothing in exchange mode.
        if (!twoD)
            ExchangeMode::of(*this, bench_).start();
        return;
    }
    // The run is accepted here: a Stop from now on is kept, even before the worker has begun.
    if (refusedWhileRunning() || !bench_.runControl().claim()) {
        statusBar()->showMessage("A run is in progress: Stop it first.", 5000);
        return;
    }
    runClock_.start();
    showProgress("preparing", 0);
    // Both listeners are told on the run's threads: the label changes on the window's.
    bench_.setProgressListener([this](int done, int runs) {
        BackgroundRun::post(progress_, [this, done, runs] {
            showProgress(QString("runs %1 of %2").arg(done).arg(runs), 100 * done / std::max(runs, 1));
        });
    });
    bench_.setPhaseListener([this](std::string_view phase, double fraction) {
        if (phase == "runs")
            return;
        BackgroundRun::post(progress_,
                            [this, name = QString::fromUtf8(phase.data(), static_cast<int>(phase.size())),
                             percent = static_cast<int>(100.0 * fraction)] { showProgress(name, percent); });
    });
    // The seconds go on between the reports (runs side by side report when they all are done).
    progressTicker_->start();
    stopping_ = false;
    setRunning(true);
    auto outcome = std::make_shared<workbench::StartOutcome>(workbench::StartOutcome::Busy);
    run_->start(
        [this, twoD, outcome] {
            // The preparation writes derived values back (at, Ni from an array file, np from a
            // shape): they do not make an unedited sequence an edited one.
            workbench::keepingUnedited(bench_, [&] { *outcome = workbench::startExperiment(bench_, twoD); });
        },
        [this, outcome] { finishRun(*outcome, runClock_.elapsed()); });
}

void MainWindow::showProgress(const QString& phase, int percent)
{
    progressPhase_ = phase;
    progressPercent_ = percent;
    showProgressLine();
}

void MainWindow::showProgressLine()
{
    if (!stopping_)
        progress_->setText(QString("%1, %2 %, %3 s")
                               .arg(progressPhase_)
                               .arg(progressPercent_)
                               .arg(runClock_.elapsed() / 1000.0, 0, 'f', 1));
}

void MainWindow::finishRun(workbench::StartOutcome outcome, qint64 elapsedMs)
{
    bench_.runControl().release();
    progressTicker_->stop();
    bench_.setProgressListener({});
    bench_.setPhaseListener({});
    setRunning(false);
    binder_->refreshAll();
    redrawPanels();
    plots_->redraw();
    settleStop();
    const QString elapsed = QString::number(elapsedMs / 1000.0, 'f', 2) + " s";
    switch (outcome) {
    case workbench::StartOutcome::Completed:
        statusBar()->showMessage("Run finished in " + elapsed + withoutSpectraReason());
        break;
    case workbench::StartOutcome::Stopped:
        statusBar()->showMessage("Stopped after " + elapsed + withoutSpectraReason());
        break;
    case workbench::StartOutcome::Refused:
        statusBar()->showMessage("The sequence was refused; nothing was run.");
        break;
    case workbench::StartOutcome::StepRefused:
        statusBar()->showMessage("Runs finished in " + elapsed + withoutSpectraReason());
        break;
    case workbench::StartOutcome::Failed:
        statusBar()->showMessage("The run failed.");
        break;
    case workbench::StartOutcome::Busy:
        statusBar()->showMessage("A run is in progress: Stop it first.");
        break;
    }
    emit runFinished();
}

QString MainWindow::withoutSpectraReason() const
{
    const std::string reason = workbench::missingSpectraReason(bench_.records());
    const std::string note = workbench::operatorListNote(bench_.records());
    return (reason.empty() ? QString() : QString::fromStdString("; no spectra: " + reason + ".")) +
           (note.empty() ? QString() : QString::fromStdString("; " + note + "."));
}

void MainWindow::stop()
{
    hidePopups();
    bench_.runControl().stop();
    if (!run_->busy())
        return;
    // The run ends at its next check of the flag; the window says so at once.
    stopping_ = true;
    progress_->setText(QString::fromUtf8("Stopping\u2026"));
    statusBar()->showMessage(QString::fromUtf8("Stopping\u2026"));
}

void MainWindow::settleStop()
{
    if (stopping_)
        progress_->setText("Stopped");
    stopping_ = false;
}

bool MainWindow::isUndoKeyForTheModel(QObject* watched, const QKeyEvent& key) const
{
    // A box whose value was committed (Enter, or it lost the focus since) has nothing of its own to
    // undo, so Ctrl+Z there undoes the model's last edit, as it does anywhere else in the window.
    const auto* edit = qobject_cast<QLineEdit*>(watched);
    if (edit == nullptr || edit->isModified() || !isAncestorOf(edit))
        return false;
    const QKeyCombination pressed = key.keyCombination();
    return key.matches(QKeySequence::Undo) || key.matches(QKeySequence::Redo) ||
           pressed == QKeyCombination(Qt::CTRL | Qt::SHIFT, Qt::Key_Z);
}

bool MainWindow::isInsidePopup(QWidget* widget) const
{
    for (QWidget* w = widget; w != nullptr; w = w->parentWidget())
        if (w == optionsFrame_ || w == spectraFrame_ || w == fileFrame_ || w == helpList_ || w == aboutList_)
            return true;
    return false;
}

void MainWindow::pointerMoved(int xTwips, int yTwips)
{
    if (!sequenceView_->isVisible()) {
        // The nuclei window is open under the sequence picture.
        if (xTwips > kNucleiWindowRight && xTwips < kPopupRightEdge)
            hidePopups();
    } else if (xTwips < kPopupRightEdge && yTwips > kMenuBandBottom) {
        hidePopups();
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == area_ && event->type() == QEvent::Resize)
        layOutParts();
    if (event->type() == QEvent::ShortcutOverride && isUndoKeyForTheModel(watched, *static_cast<QKeyEvent*>(event))) {
        event->ignore();  // not the box's own undo: the Edit menu's shortcut takes the key
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress && watched->property("cell").isValid()) {
        commitPendingEdit();
        openCellChooser(watched->property("cell").toInt(), static_cast<QWidget*>(watched));
        return true;
    }
    if (event->type() == QEvent::FocusIn && watched->property("valueBox").isValid()) {
        chooser_->hide();
        sequenceEditor_.clickValueBox(watched->property("valueBox").toInt());
    }
    if (event->type() == QEvent::MouseMove) {
        auto* widget = qobject_cast<QWidget*>(watched);
        // A move over a popup's button or label reaches the working area too (those widgets do
        // not track the mouse and pass it on): what counts is the widget under the pointer.
        const QPoint global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        QWidget* under = QApplication::widgetAt(global);
        if (widget != nullptr && widget->window() == this && !isInsidePopup(widget) &&
            (under == nullptr || !isInsidePopup(under)) && (widget == area_ || area_->isAncestorOf(widget))) {
            const QPoint at = area_->mapFromGlobal(global);
            pointerMoved(twips_.twips(at.x()), twips_.twips(at.y()));
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace velmora::ui
