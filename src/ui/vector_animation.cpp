// The animated vector picture of the acquisition pulse.
#include "ui/vector_animation.h"

#include "workbench/workbench.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

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

void VectorAnimation::showFrame(const render::VectorPicture& picture, int pulsePoints)
{
    view_->setPixmap(QPixmap::fromImage(picture.box().image()));
    if (!isVisible())
        showBesideWindow();
    ++framesShown_;
    // The time spent drawing and writing the frame counts towards its share of the animation.
    const int frameMs = kAnimationMs / std::max(1, pulsePoints);
    const auto left =
        static_cast<int>(sinceLastFrame_.isValid() ? frameMs - sinceLastFrame_.elapsed() : frameMs);
    if (left > 0)
        pause(left);
    else
        QCoreApplication::processEvents();
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

// Serves the window's events for `milliseconds`, or until Stop.
void VectorAnimation::pause(int milliseconds)
{
    const util::RunControl& control = bench_.runControl();
    if (!control.running())
        return;
    QEventLoop loop;
    QTimer done;
    done.setSingleShot(true);
    connect(&done, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer watch;
    connect(&watch, &QTimer::timeout, &loop, [&loop, &control] {
        if (!control.running())
            loop.quit();
    });
    done.start(milliseconds);
    watch.start(kStopCheckMs);
    loop.exec();
}

}  // namespace velmora::ui
