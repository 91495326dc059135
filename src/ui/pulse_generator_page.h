// The shaped-pulse generator's page of the pulse tools: the six shape boxes, the number and keyword
// boxes, the name and the "make pulse" button, all bound to the controls registry; the shaped-pulse
// files of the working directory; and a preview window showing the pulse just made and its
// excitation profile.
#pragma once

#include "ui/control_binder.h"

#include <QScrollArea>
#include <QString>
#include <string>

class QListWidget;

namespace velmora::workbench {
class Workbench;
}

namespace velmora::ui {

class PictureView;

class PulseGeneratorPage : public QScrollArea {
    Q_OBJECT

public:
    PulseGeneratorPage(workbench::Workbench& bench, ControlBinder& binder, QWidget* parent = nullptr);
    ~PulseGeneratorPage() override;

    // "make pulse": writes the pulse, lists it and shows its preview; a refusal is a message only.
    void makePulse();

    // The ".RF" files of the working directory, the one just made selected.
    QListWidget* pulseFiles() const { return pulseFiles_; }
    // The preview window and its picture (hidden until a pulse is made).
    QWidget* previewWindow() const { return previewWindow_; }
    PictureView* preview() const { return preview_; }

public slots:
    void refreshPulseFiles();

protected:
    // The list follows the working directory: it is listed again when the page is shown or its
    // window activated after the directory changed.
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

signals:
    // A pulse file was written (its bare name): the window's file lists follow.
    void pulseMade(const QString& fileName);

private:
    void followWorkingDirectory();

    workbench::Workbench& bench_;
    std::string listedDirectory_;  // the directory pulseFiles_ lists
    QListWidget* pulseFiles_ = nullptr;
    QWidget* previewWindow_ = nullptr;
    PictureView* preview_ = nullptr;
};

}  // namespace velmora::ui
