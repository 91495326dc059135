// Picture box drawing with QPainter on the persistent QImage. Lines and shapes are drawn without
// antialiasing, so a drawing has exact pixels that tests can check and that saved bitmaps keep;
// coordinates stay fractional up to the painter so long polylines keep their true slopes.
#include "render/picture_box.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QPen>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <system_error>

namespace velmora::render {

namespace {

constexpr const char* kDejaVuSansPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
// 96 dots per inch in dots per metre, the resolution at which point sizes become pixels.
constexpr int kDotsPerMetre = 3780;

int clampComponent(int value)
{
    return std::clamp(value, 0, 255);
}

QString loadTextFontFamily()
{
    if (QFile::exists(QString::fromLatin1(kDejaVuSansPath))) {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kDejaVuSansPath));
        if (id >= 0) {
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (!families.isEmpty())
                return families.front();
        }
    }
    return QGuiApplication::font().family();
}

std::string lowerCaseExtension(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

}  // namespace

int rgb(int red, int green, int blue)
{
    return clampComponent(red) + 256 * clampComponent(green) + 65536 * clampComponent(blue);
}

QColor colorFromRgbValue(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

QString textFontFamily()
{
    static const QString family = loadTextFontFamily();
    return family;
}

PictureBox::PictureBox(int widthPx, int heightPx)
    : image_(std::max(widthPx, 1), std::max(heightPx, 1), QImage::Format_RGB32)
{
    image_.setDotsPerMeterX(kDotsPerMetre);
    image_.setDotsPerMeterY(kDotsPerMetre);
    setTwipScale();
    clear();
}

void PictureBox::setScale(double left, double top, double width, double height)
{
    if (width == 0.0 || height == 0.0)
        return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
}

void PictureBox::setTwipScale()
{
    setScale(0.0, 0.0, pixelWidth() * kTwipsPerPixel, pixelHeight() * kTwipsPerPixel);
}

QPointF PictureBox::toPixels(double x, double y) const
{
    return {(x - left_) * pixelWidth() / width_, (y - top_) * pixelHeight() / height_};
}

QPointF PictureBox::toUser(QPointF pixels) const
{
    return {left_ + pixels.x() * width_ / pixelWidth(), top_ + pixels.y() * height_ / pixelHeight()};
}

QFont PictureBox::font() const
{
    QFont font(textFontFamily());
    font.setPointSizeF(fontPoints_);
    return font;
}

void PictureBox::clear()
{
    image_.fill(backColor_);
    texts_.clear();
}

void PictureBox::line(double x1, double y1, double x2, double y2)
{
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(foreColor_, lineWidthPx_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(toPixels(x1, y1), toPixels(x2, y2));
}

void PictureBox::point(double x, double y)
{
    const QPointF at = toPixels(x, y);
    if (lineWidthPx_ == 1) {
        // The painter rounds a single point to the nearest pixel corner; a point belongs to the
        // pixel that contains it, as the ends of lines do.
        const double column = std::floor(at.x());
        const double row = std::floor(at.y());
        if (column >= 0.0 && column < pixelWidth() && row >= 0.0 && row < pixelHeight())
            image_.setPixelColor(static_cast<int>(column), static_cast<int>(row), foreColor_);
        return;
    }
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(foreColor_);
    const double radiusPx = lineWidthPx_ / 2.0;
    painter.drawEllipse(at, radiusPx, radiusPx);
}

void PictureBox::filledCircle(double x, double y, double radius)
{
    const double radiusPx = std::fabs(radius * pixelWidth() / width_);
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(foreColor_, 1));
    painter.setBrush(foreColor_);
    painter.drawEllipse(toPixels(x, y), radiusPx, radiusPx);
}

void PictureBox::text(double x, double y, const QString& text)
{
    const QFont textFont = font();
    QPainter painter(&image_);
    painter.setFont(textFont);
    painter.setPen(foreColor_);
    // drawText places the baseline; the top of the line lies one ascent above it.
    const QPointF topLeft = toPixels(x, y);
    const double ascentPx = QFontMetricsF(textFont, &image_).ascent();
    painter.drawText(QPointF(topLeft.x(), topLeft.y() + ascentPx), text);
    const QFontMetricsF metrics(textFont, &image_);
    texts_.push_back({text, QRectF(topLeft, QSizeF(metrics.horizontalAdvance(text), metrics.height()))});
}

void PictureBox::drawImage(const QRectF& target, const QImage& picture)
{
    QPainter painter(&image_);
    painter.drawImage(target, picture);
}

util::Outcome PictureBox::save(const std::filesystem::path& path) const
{
    const std::string extension = lowerCaseExtension(path);
    const char* format = extension == ".bmp" ? "BMP" : extension == ".png" ? "PNG" : nullptr;
    if (format == nullptr)
        return util::Outcome::failure("Cannot save the picture as " + path.string() +
                                      ": the name must end in .bmp or .png.");
    const std::filesystem::path folder = path.parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error))
        return util::Outcome::failure("Cannot save the picture as " + path.string() + ": the folder " +
                                      folder.string() + " does not exist.");
    QImageWriter writer(QFile::decodeName(path.c_str()), format);
    if (!writer.write(image_))
        return util::Outcome::failure("Cannot write the picture file " + path.string() + ": " +
                                      writer.errorString().toStdString() + ".");
    return util::Outcome::success();
}

}  // namespace velmora::render
