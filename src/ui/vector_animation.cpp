// The animated vector picture of the acquisition pulse.
#include "ui/vector_animation.h"

#include "workbench/workbench.h"

#include <QEventLoop>
#include <QLabel>
#include <QPixmap>
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
      frames_(bench.messages(), bench.runControl(),
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
    if (!isVisible()) {
        if (parentWidget() != nullptr)
            move(parentWidget()->geometry().topRight() - QPoint(width() + 40, -80));
        show();
    }
    ++framesShown_;
    pause(std::max(1, kAnimationMs / std::max(1, pulsePoints)));
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
