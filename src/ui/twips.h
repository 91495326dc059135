// Positions and sizes of the main window are laid out in twips (1/1440 inch), as its areas are
// described; they become pixels through the screen's resolution.
#pragma once

#include <QRect>

namespace velmora::ui {

class Twips {
public:
    // dotsPerInch of the screen the window opens on (96 on a plain desktop and offscreen).
    explicit Twips(double dotsPerInch = 96.0) : pixelsPerTwip_(dotsPerInch / 1440.0) {}

    int px(int twips) const { return static_cast<int>(twips * pixelsPerTwip_ + 0.5); }
    int twips(int px) const { return static_cast<int>(px / pixelsPerTwip_ + 0.5); }
    QRect rect(int left, int top, int width, int height) const
    {
        return {px(left), px(top), px(width), px(height)};
    }

private:
    double pixelsPerTwip_;
};

// The main window's working area at its designed size, in twips: its smallest; it may grow from
// there. With the menu and the status bar it fits a 1280 x 720 screen.
inline constexpr int kWindowWidthTwips = 15600;
inline constexpr int kWindowHeightTwips = 10140;

}  // namespace velmora::ui
