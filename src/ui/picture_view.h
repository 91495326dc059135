// A picture box of the window: shows the image of a render::PictureBox of its own pixel size and
// reports clicks and pointer moves in the box's user coordinates (twips unless a drawing set
// another scale).
#pragma once

#include "render/picture_box.h"

#include <QWidget>
#include <functional>
#include <memory>

namespace velmora::ui {

class PictureView : public QWidget {
    Q_OBJECT

public:
    using PointerHandler = std::function<void(double x, double y)>;

    explicit PictureView(QWidget* parent = nullptr);

    // The box to draw on, sized to the widget (re-created when the widget's size changes).
    render::PictureBox& box();
    void setClickHandler(PointerHandler handler) { click_ = std::move(handler); }
    void setMoveHandler(PointerHandler handler) { move_ = std::move(handler); }
    // Called after the widget changed its size (the box then starts blank at the new size).
    void setResizeHandler(std::function<void()> handler) { resized_ = std::move(handler); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::unique_ptr<render::PictureBox> box_;
    PointerHandler click_;
    PointerHandler move_;
    std::function<void()> resized_;
};

}  // namespace velmora::ui
