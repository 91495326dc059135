#include "ui/picture_view.h"

#include <QMouseEvent>
#include <QPainter>

namespace velmora::ui {

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    // Taking the focus on a click makes a box being edited commit its value before the click acts.
    setFocusPolicy(Qt::ClickFocus);
}

render::PictureBox& PictureView::box()
{
    const int w = std::max(width(), 1);
    const int h = std::max(height(), 1);
    if (!box_ || box_->pixelWidth() != w || box_->pixelHeight() != h)
        box_ = std::make_unique<render::PictureBox>(w, h);
    return *box_;
}

void PictureView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (box_)
        painter.drawImage(0, 0, box_->image());
    else
        painter.fillRect(rect(), Qt::white);
    painter.setPen(Qt::gray);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PictureView::mousePressEvent(QMouseEvent* event)
{
    if (click_) {
        const QPointF at = box().toUser(event->position());
        click_(at.x(), at.y());
    }
    QWidget::mousePressEvent(event);
}

void PictureView::mouseMoveEvent(QMouseEvent* event)
{
    if (move_) {
        const QPointF at = box().toUser(event->position());
        move_(at.x(), at.y());
    }
    QWidget::mouseMoveEvent(event);
}

void PictureView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (resized_)
        resized_();
}

}  // namespace velmora::ui
