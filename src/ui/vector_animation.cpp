// The animated vector picture of the acquisition pulse.
#include "ui/vector_animation.h"

#include "ui/background_run.h"
#include "workbench/workbench.h"

#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <thread>

namespace velmora::ui {

namespace {

// The whole animation of one pulse lasts about this long.
constexpr int kAnimationMs = 3000;
// How often the pause looks at the running flag.
constexpr int kStopCheckMs = 10;

}  // namespace

VectorAnimation::VectorAnimation(workbench::Workbench& bench, QWidget* parent)
    : QWidget(parent, Qt::Tool), bench_(bench),
      frames_(
          bench.messages(), bench.runControl(),
          [this](const render::VectorPicture& picture, int pulsePoints) { showFrame(picture, pulsePoints); })
{
    setObjectName("vectorAnimation");
    setWindowTitle("plot vector evolution");
    view_ = new QLabel(this);
    view_->setPixmap(QPixmap::fromImage(frames_.picture().box().image()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    bench_.setVectorEvolutionView(&frames_);
}

VectorAnimation::~VectorAnimation()
{
    if (bench_.vectorEvolutionView() == &frames_)
        bench_.setVectorEvolutionView(nullptr);
}

// Called by the run on its worker thread: the frame goes to the window as a copy, and the worker
// waits out the frame's share of the animation itself, so the window serves its events meanwhile.
void VectorAnimation::showFrame(const render::VectorPicture& picture, int pulsePoints)
{
    BackgroundRun::post(this, [this, frame = picture.box().image().copy()] {
        view_->setPixmap(QPixmap::fromImage(frame));
        if (!isVisible())
            showBesideWindow();
        ++framesShown_;
    });
    // The time spent drawing the frame counts towards its share of the animation.
    const int frameMs = kAnimationMs / std::max(1, pulsePoints);
    const auto left =
        static_cast<int>(sinceLastFrame_.isValid() ? frameMs - sinceLastFrame_.elapsed() : frameMs);
    if (left > 0 && !BackgroundRun::onWindowThread())
        pause(left);
    sinceLastFrame_.start();
}

// To the right of the main window when the screen has room there, else over its lower right
// corner (the map's box, which the run clears), so that the spectra stay in view.
void VectorAnimation::showBesideWindow()
{
    adjustSize();
    if (const QWidget* window = parentWidget(); window != nullptr) {
        const QRect frame = window->frameGeometry();
        const QScreen* screen = window->screen();
        const bool roomRight =
            screen != nullptr && frame.right() + 20 + width() <= screen->availableGeometry().right();
        if (roomRight)
            move(frame.right() + 20, frame.top() + 60);
        else
            move(frame.right() - width() - 20, frame.bottom() - height() - 180);
    }
    show();
}

// Waits `milliseconds` on the run's thread, or until Stop.
void VectorAnimation::pause(int milliseconds) const
{
    const util::RunControl& control = bench_.runControl();
    QElapsedTimer waited;
    waited.start();
    while (control.running() && waited.elapsed() < milliseconds)
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<qint64>(kStopCheckMs, milliseconds - waited.elapsed())));
}

}  // namespace velmora::ui
