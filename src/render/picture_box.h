// A picture box: a persistent image of a fixed pixel size with a user coordinate system, a fore
// colour, a line width and a text font, and the drawing operations the plots and panels use
// (clear, line, point, filled circle, text at a position). Everything draws into a QImage, so the
// drawings can be rendered without a display, tested pixel by pixel and saved as bitmap or PNG.
// Drawing stays in the image until the next clear.
//
// Text needs a QGuiApplication (any platform, "offscreen" included) to exist; the other operations
// do not.
#pragma once

#include "util/outcome.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <filesystem>
#include <vector>

namespace velmora::render {

// Twips per pixel at 96 dpi (1440 twips per inch): the default scale of a picture box.
inline constexpr double kTwipsPerPixel = 15.0;

// The classic colour value r + 256 g + 65536 b, each component clamped to 0..255 first.
int rgb(int red, int green, int blue);

// The colour of a classic colour value (the low three bytes: red, green, blue from the lowest).
QColor colorFromRgbValue(int value);

// A text as drawn: what it says and the pixels its line covers, so that a reader (a test, a
// cursor) finds labels where the drawing put them.
struct DrawnText {
    QString text;
    QRectF pixels;
};

class PictureBox {
public:
    // An image of widthPx x heightPx pixels (at least 1 x 1), cleared to white, with the default
    // twip scale, a black fore colour, line width 1 and 8-point text.
    PictureBox(int widthPx, int heightPx);

    int pixelWidth() const { return image_.width(); }
    int pixelHeight() const { return image_.height(); }

    // User scale: x = left is the left edge of the image, x = left + width its right edge; y = top
    // is the top edge, y = top + height the bottom edge. A negative height turns y upwards, as
    // plots use (top = M, height = -2M puts +M at the top and -M at the bottom). Width and height
    // must not be 0; a call with a zero extent is ignored.
    void setScale(double left, double top, double width, double height);
    // The default scale: origin at the top-left corner, one unit per twip (15 per pixel).
    void setTwipScale();
    double scaleLeft() const { return left_; }
    double scaleTop() const { return top_; }
    double scaleWidth() const { return width_; }
    double scaleHeight() const { return height_; }

    // Position in pixels of a point in user units, and back; fractions are kept. Pixel (i, j)
    // covers [i, i + 1) x [j, j + 1), so a point belongs to the pixel (floor(px), floor(py)).
    QPointF toPixels(double x, double y) const;
    QPointF toUser(QPointF pixels) const;

    void setForeColor(const QColor& color) { foreColor_ = color; }
    void setForeColor(int rgbValue) { foreColor_ = colorFromRgbValue(rgbValue); }
    QColor foreColor() const { return foreColor_; }
    // The colour of clear(); takes effect at the next clear.
    void setBackColor(const QColor& color) { backColor_ = color; }
    void setBackColor(int rgbValue) { backColor_ = colorFromRgbValue(rgbValue); }
    QColor backColor() const { return backColor_; }
    // Line width in pixels for lines and points; values below 1 count as 1.
    void setLineWidth(int widthPx) { lineWidthPx_ = widthPx < 1 ? 1 : widthPx; }
    int lineWidth() const { return lineWidthPx_; }
    // Text size in points (1/72 inch at the image's 96 dpi); values below 1 count as 1.
    void setFontSize(double points) { fontPoints_ = points < 1.0 ? 1.0 : points; }
    double fontSize() const { return fontPoints_; }
    // The font text() draws with: textFontFamily() at fontSize().
    QFont font() const;

    // Fills the whole image with the back colour and forgets the texts drawn.
    void clear();
    // A line from (x1, y1) to (x2, y2) in user units, in the fore colour and the line width.
    void line(double x1, double y1, double x2, double y2);
    // A point in the fore colour: the pixel that contains (x, y) for line width 1, otherwise a dot
    // of the line width's diameter centred on it.
    void point(double x, double y);
    // A disc centred on (x, y), radius in user units of the horizontal axis, filled and outlined
    // in the fore colour.
    void filledCircle(double x, double y, double radius);
    // Text in the fore colour with the top-left corner of its first line at (x, y).
    void text(double x, double y, const QString& text);
    // The texts drawn since the last clear, in drawing order.
    const std::vector<DrawnText>& texts() const { return texts_; }
    // Copies `picture` into the pixel rectangle `target`, scaled to fill it.
    void drawImage(const QRectF& target, const QImage& picture);

    // Writes the image: a Windows bitmap when the name ends in ".bmp", PNG when it ends in ".png"
    // (either in any case). Fails with a message for any other name or when the file cannot be
    // written.
    util::Outcome save(const std::filesystem::path& path) const;

    // The picture, for the widget that shows it.
    const QImage& image() const { return image_; }

private:
    QImage image_;
    double left_ = 0.0;
    double top_ = 0.0;
    double width_ = 1.0;
    double height_ = 1.0;
    QColor foreColor_{Qt::black};
    QColor backColor_{Qt::white};
    int lineWidthPx_ = 1;
    double fontPoints_ = 8.0;
    std::vector<DrawnText> texts_;
};

// The family used for text: DejaVu Sans when its font file is installed, otherwise the default
// family of the application. Loaded once; needs a QGuiApplication.
QString textFontFamily();

}  // namespace velmora::render
