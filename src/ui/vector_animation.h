// The window's side of "plot vector evolution": a small tool window that shows the vector picture
// frame by frame while the acquisition pulse runs, pausing about 3 s / P after each of the P
// points so that the animation takes about as long whatever the pulse's length. The run's worker
// thread waits out the pause, which ends as soon as Stop clears the running flag.
#pragma once

#include "render/vector_evolution_frames.h"

#include <QElapsedTimer>
#include <QWidget>

class QLabel;

namespace velmora::workbench {
class Workbench;
}

namespace velmora::ui {

class VectorAnimation : public QWidget {
    Q_OBJECT

public:
    // Installs itself as the workbench's vector-evolution view; removes itself when destroyed.
    VectorAnimation(workbench::Workbench& bench, QWidget* parent);
    ~VectorAnimation() override;

    // Frames shown since the window was created (for tests).
    int framesShown() const { return framesShown_; }
    const render::VectorPicture& picture() const { return frames_.picture(); }

private:
    void showFrame(const render::VectorPicture& picture, int pulsePoints);
    void showBesideWindow();
    void pause(int milliseconds) const;

    workbench::Workbench& bench_;
    render::VectorEvolutionFrames frames_;
    QLabel* view_ = nullptr;
    int framesShown_ = 0;
    QElapsedTimer sinceLastFrame_;
};

}  // namespace velmora::ui
