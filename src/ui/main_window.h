// The main window: the spin-system and sequence drawings on the left, the parameters of the current
// step in the middle, spectra and traces on the right, and the pop-up frames (Options, Spectra,
// file frame) and lists (Help, About) that appear over the working area on a menu command and hide
// again when the pointer moves back into it. Every box is bound to the core's controls registry;
// the window computes nothing the core could.
#pragma once

#include "model/workspace.h"
#include "ui/control_binder.h"
#include "ui/edit_history.h"
#include "ui/picture_view.h"
#include "ui/twips.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/recent_files.h"
#include "workbench/sequence_panel_editor.h"
#include "workbench/spin_panel_editor.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <initializer_list>
#include <memory>

class QAction;
class QTimer;
class QComboBox;
class QFileDialog;
class QKeyEvent;

namespace velmora::ui {
class BackgroundRun;
class PlotArea;
class SpinTableWindow;
class HelpWindow;
}
class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

namespace velmora::workbench {
class Workbench;
}

namespace velmora::ui {

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(workbench::Workbench& bench, model::Workspace& workspace, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Pop-ups by their control names, for the commands and for tests.
    QFrame* optionsFrame() const { return optionsFrame_; }
    QFrame* spectraFrame() const { return spectraFrame_; }
    QFrame* fileFrame() const { return fileFrame_; }
    QListWidget* helpList() const { return helpList_; }
    QListWidget* aboutList() const { return aboutList_; }
    QWidget* workingArea() const { return area_; }
    QAction* action(const QString& text) const;
    ControlBinder& binder() { return *binder_; }
    const Twips& twips() const { return twips_; }

    // The menu commands.
    void showFileFrame();
    void showOptions();
    void showSpectra();
    void showHelp();
    void showAbout();
    // Starts the run on a worker thread and returns; runFinished follows once it has ended and
    // the window shows its result.
    void start(bool twoD);
    // Asks the run to stop; the status bar says "Stopping…" until it has.
    void stop();
    // A run (a Start, the exchange experiment) has ended: a Stop asked during it is done, and the
    // progress label says "Stopped" instead of "Stopping…".
    void settleStop();
    // A run (a Start, the exchange experiment) is in progress: the window refuses edits.
    bool runInProgress() const;
    // Shows that an edit is refused while a run is in progress; true when one is.
    bool refusedWhileRunning();
    // Disables the editing widgets and commands for a run, or enables them again.
    void setRunning(bool running);
    BackgroundRun& backgroundRun() { return *run_; }
    void hidePopups();

    // The pointer moved to (x, y) twips of the working area, over no pop-up.
    void pointerMoved(int xTwips, int yTwips);

    // Chooses the first `count` operators of the operator list, whose traces are then plotted.
    void selectOperators(int count);
    // As a click on spin `spin` of the drawing does.
    void openNucleiWindow(int spin);
    // Redraws the spin-system and sequence panels (and so rebuilds the spin system).
    void redrawPanels();
    PictureView* spinPicture() const { return spinView_; }
    PictureView* sequencePicture() const { return sequenceView_; }
    QFrame* nucleiWindow() const { return nucleiWindow_; }
    QComboBox* cellChooser() const { return chooser_; }
    workbench::SequencePanelEditor& sequenceEditor() { return sequenceEditor_; }
    workbench::SpinPanelEditor& spinEditor() { return spinEditor_; }
    PlotArea& plots() { return *plots_; }
    EditHistory& history() { return *history_; }

    // Before an edited molecule or sequence is replaced: asks Save / Discard / Cancel; true when
    // the caller may go on (saved, discarded or nothing edited).
    bool mayReplace(std::initializer_list<workbench::FileList> documents);

signals:
    void runFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The title names the open molecule and sequence, with "*" after an edited one.
    void updateTitle();
    bool saveBeforeReplacing(workbench::FileList document);
    void buildMenus();
    void buildEditMenu();
    void buildHelpMenu();
    void buildWorkingArea();
    QWidget* buildAcquisitionArea();
    QWidget* buildArrayAndPhaseArea();
    QWidget* buildParametersArea();
    QWidget* buildPulseTools();
    // A calculator box (0..5) was edited: the other boxes of its table follow.
    void recomputeCalculator(int box);
    QFrame* buildOptionsFrame();
    QFrame* buildSpectraFrame();
    QFrame* buildFileFrame();
    QListWidget* buildTextList(const QStringList& lines);
    PictureView* pictureView(const QString& name);
    // Places the working area's parts for its present size.
    void layOutParts();
    QFrame* buildNucleiWindow();
    void openCellChooser(int cell, QWidget* over);
    void afterModelChange();
    void spinClicked(double xTwips, double yTwips);
    void refreshFileLists();
    void updateFileLists();
    void afterFileOpened();
    // The recent files of the File frame: shown, noted after an open or a save, opened again.
    void showRecentFiles();
    void rememberRecent(workbench::FileList list);
    void openRecent(const QString& path);
    // Opens the file `name` of the working directory into the list's document, noting it as recent.
    void openInWorkingDirectory(workbench::FileList list, const std::string& name);
    // The working directory becomes `folder` (and the settings remember it); false with a message
    // when it cannot.
    bool workIn(const QString& folder);
    QFileDialog* fileDialog(workbench::FileList list, bool save);
    void openWithDialog(workbench::FileList list);
    void saveWithDialog(workbench::FileList list);
    void refreshDirectoryList();
    // The progress label: the phase ("runs 3 of 10", "spectra", "writing"), its percentage of the
    // whole run and the seconds since Start.
    void showProgress(const QString& phase, int percent);
    void showProgressLine();
    void finishRun(workbench::StartOutcome outcome, qint64 elapsedMs);
    void commitPendingEdit();
    // Why the last run left no spectra, as the tail of the status message; empty when it has some.
    QString withoutSpectraReason() const;
    bool isInsidePopup(QWidget* widget) const;
    bool isUndoKeyForTheModel(QObject* watched, const QKeyEvent& key) const;

    workbench::Workbench& bench_;
    model::Workspace& workspace_;
    Twips twips_;
    std::unique_ptr<ControlBinder> binder_;
    std::unique_ptr<EditHistory> history_;
    QWidget* area_ = nullptr;
    QFrame* optionsFrame_ = nullptr;
    QFrame* spectraFrame_ = nullptr;
    QFrame* fileFrame_ = nullptr;
    QListWidget* helpList_ = nullptr;
    QListWidget* aboutList_ = nullptr;
    QListWidget* moleculeFiles_ = nullptr;
    QListWidget* sequenceFiles_ = nullptr;
    QListWidget* directoryList_ = nullptr;
    PictureView* spinView_ = nullptr;
    PictureView* sequenceView_ = nullptr;
    QFrame* nucleiWindow_ = nullptr;
    QWidget* acquisition_ = nullptr;
    QWidget* parameters_ = nullptr;
    QWidget* tools_ = nullptr;
    QWidget* generatorWindow_ = nullptr;
    SpinTableWindow* spinTable_ = nullptr;  // the spins as a table, for large spin systems
    QPushButton* spinTableButton_ = nullptr;
    QListWidget* recentFiles_ = nullptr;
    HelpWindow* helpWindow_ = nullptr;  // made when a page is first asked for  // the shaped-pulse generator, a tool window
    QListWidget* operators_ = nullptr;
    QListWidget* results_ = nullptr;
    QComboBox* chooser_ = nullptr;
    PlotArea* plots_ = nullptr;
    workbench::SpinPanelEditor spinEditor_;
    workbench::SequencePanelEditor sequenceEditor_;
    workbench::RecentFiles recent_;
    QLabel* progress_ = nullptr;
    std::vector<QWidget*> editing_;  // disabled while a run is in progress
    BackgroundRun* run_ = nullptr;
    bool stopping_ = false;  // Stop was asked and the run has not ended yet
    QElapsedTimer runClock_;
    QTimer* progressTicker_ = nullptr;
    QString progressPhase_;
    int progressPercent_ = 0;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
};

}  // namespace velmora::ui
