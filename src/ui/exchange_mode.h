// The window's exchange mode: the Exchange command switches the main window to the relaxation-
// dispersion experiment. A panel of the exchange parameters (each box with its unit) takes the
// place of the step's parameters, the dispersion plot the place of the spectrum, and Start runs
// the experiment, its progress in the status bar and its results in the result list and the plot.
#pragma once

#include "workbench/dispersion_command.h"
#include "workbench/exchange_mode_switch.h"

#include <QObject>
#include <QString>
#include <map>
#include <string>

class QComboBox;
class QLineEdit;
class QWidget;

namespace velmora::workbench {
class Workbench;
}

namespace velmora::ui {

class MainWindow;
class PictureView;

class ExchangeMode : public QObject {
    Q_OBJECT

public:
    // The exchange mode of `window`, made on first use.
    static ExchangeMode& of(MainWindow& window, workbench::Workbench& bench);

    // The Exchange command.
    void toggle();
    // Start in exchange mode: the boxes into the exchange settings, then the experiment.
    void start();

    // Exchange settings -> boxes: after a switch into the mode and after a sequence file was read
    // in it, so that Start runs the values the file holds.
    void showSettings();

    QWidget* panel() const { return panel_; }
    PictureView* plot() const { return plot_; }
    // The box of an exchange value or setting by the name its row shows ("tcp", "seed", ...).
    QLineEdit* box(const QString& name) const;
    QComboBox* chooser(const QString& name) const;

private:
    ExchangeMode(MainWindow& window, workbench::Workbench& bench);
    void buildPanel();
    QLineEdit* addBox(const QString& name, const QString& unit, int row, int column);
    QComboBox* addChooser(const QString& name, const QStringList& items, int row, int column);
    // Boxes -> exchange settings (false, with a message, when a box holds no number).
    bool takeSettings();
    // takeSettings for an edit of the panel, while the mode is on.
    void takeEditedSettings();
    void setRunning(bool running);
    // The window shows how the experiment ended.
    void finish(const workbench::DispersionRun& run);

    MainWindow& window_;
    workbench::Workbench& bench_;
    workbench::OrdinaryCaptions ordinary_;
    QWidget* panel_ = nullptr;
    PictureView* plot_ = nullptr;
    std::map<QString, QLineEdit*> boxes_;
    std::map<QString, QComboBox*> choosers_;
};

}  // namespace velmora::ui
