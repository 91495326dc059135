// The picture box: user and twip scales (y downwards and upwards), where lines, points and discs
// land in pixels, the line width, clearing and persistence, colour values, text with a real font,
// and saving as bitmap and PNG.
#include "render/picture_box.h"
#include "support/scratch_directory.h"

#include <QColor>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QRawFont>
#include <QString>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::render {
namespace {

using velmora::testing::ScratchDirectory;

const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);

// Rows of column `column` whose pixel differs from `background`.
std::vector<int> markedRows(const QImage& image, int column, const QColor& background = kWhite)
{
    std::vector<int> rows;
    for (int row = 0; row < image.height(); ++row) {
        if (image.pixelColor(column, row) != background)
            rows.push_back(row);
    }
    return rows;
}

int countPixelsNot(const QImage& image, const QColor& background)
{
    int count = 0;
    for (int row = 0; row < image.height(); ++row) {
        for (int column = 0; column < image.width(); ++column) {
            if (image.pixelColor(column, row) != background)
                ++count;
        }
    }
    return count;
}

// ----- Scales ----------------------------------------------------------------------------------------

TEST(PictureBoxScale, HorizontalLineAcrossAUserScaleLandsOnItsRow)
{
    PictureBox box(200, 100);
    box.setScale(0.0, 0.0, 1000.0, 500.0);  // 5 units per pixel in both directions
    box.setForeColor(kRed);
    box.line(0.0, 250.0, 1000.0, 250.0);

    const QImage& image = box.image();
    for (int column = 0; column < image.width(); ++column)
        ASSERT_EQ(image.pixelColor(column, 50), kRed) << "column " << column;
    EXPECT_EQ(markedRows(image, 0), std::vector<int>{50});
    EXPECT_EQ(markedRows(image, 137), std::vector<int>{50});
    EXPECT_EQ(markedRows(image, 199), std::vector<int>{50});
}

TEST(PictureBoxScale, FractionalCoordinatesBelongToThePixelThatContainsThem)
{
    PictureBox box(200, 100);
    box.setScale(0.0, 0.0, 1000.0, 500.0);
    box.line(0.0, 303.5, 1000.0, 303.5);  // pixel row 60.7
    EXPECT_EQ(markedRows(box.image(), 100, kWhite), std::vector<int>{60});

    box.clear();
    box.point(18.5, 499.0);  // pixel (3.7, 99.8)
    EXPECT_EQ(markedRows(box.image(), 3), std::vector<int>{99});
    EXPECT_EQ(countPixelsNot(box.image(), kWhite), 1);
}

TEST(PictureBoxScale, InvertedVerticalScalePutsPositiveValuesAtTheTop)
{
    // y runs from +10 at the top edge to -10 at the bottom edge, as the spectrum strips do.
    PictureBox box(100, 100);
    box.setScale(0.0, 10.0, 100.0, -20.0);
    EXPECT_DOUBLE_EQ(box.toPixels(0.0, 0.0).y(), 50.0);
    EXPECT_DOUBLE_EQ(box.toPixels(0.0, 5.0).y(), 25.0);
    EXPECT_DOUBLE_EQ(box.toPixels(0.0, -5.0).y(), 75.0);

    box.setForeColor(kRed);
    box.line(0.0, 5.0, 100.0, 5.0);
    box.point(20.0, -5.0);
    EXPECT_EQ(markedRows(box.image(), 60), std::vector<int>{25});
    EXPECT_EQ(markedRows(box.image(), 20), (std::vector<int>{25, 75}));

    const QPointF back = box.toUser(box.toPixels(31.25, -7.5));
    EXPECT_DOUBLE_EQ(back.x(), 31.25);
    EXPECT_DOUBLE_EQ(back.y(), -7.5);
}

TEST(PictureBoxScale, DefaultScaleIsFifteenTwipsPerPixel)
{
    PictureBox box(120, 80);
    EXPECT_DOUBLE_EQ(box.scaleLeft(), 0.0);
    EXPECT_DOUBLE_EQ(box.scaleTop(), 0.0);
    EXPECT_DOUBLE_EQ(box.scaleWidth(), 120 * 15.0);
    EXPECT_DOUBLE_EQ(box.scaleHeight(), 80 * 15.0);

    box.point(30 * 15.0, 20 * 15.0);
    EXPECT_EQ(markedRows(box.image(), 30), std::vector<int>{20});

    box.setScale(-1.0, 1.0, 2.0, -2.0);
    box.setTwipScale();
    EXPECT_DOUBLE_EQ(box.scaleWidth(), 1800.0);
    EXPECT_DOUBLE_EQ(box.toPixels(150.0, 150.0).y(), 10.0);
}

TEST(PictureBoxScale, ZeroExtentIsIgnored)
{
    PictureBox box(10, 10);
    box.setScale(0.0, 0.0, 100.0, 100.0);
    box.setScale(5.0, 5.0, 0.0, 100.0);
    box.setScale(5.0, 5.0, 100.0, 0.0);
    EXPECT_DOUBLE_EQ(box.scaleLeft(), 0.0);
    EXPECT_DOUBLE_EQ(box.scaleWidth(), 100.0);
    EXPECT_DOUBLE_EQ(box.scaleHeight(), 100.0);
}

// ----- Drawing ---------------------------------------------------------------------------------------

TEST(PictureBoxDrawing, LineWidthIsInPixelsWhateverTheScale)
{
    PictureBox box(100, 100);
    box.setScale(0.0, 1.0, 1.0, -1.0);
    box.setLineWidth(3);
    box.line(0.0, 0.5, 1.0, 0.5);
    EXPECT_EQ(markedRows(box.image(), 50), (std::vector<int>{49, 50, 51}));

    box.setLineWidth(0);
    EXPECT_EQ(box.lineWidth(), 1);
}

TEST(PictureBoxDrawing, DrawingPersistsUntilClearResetsToTheBackColour)
{
    PictureBox box(40, 30);
    box.setScale(0.0, 0.0, 40.0, 30.0);
    box.line(0.0, 5.0, 40.0, 5.0);
    box.line(0.0, 20.0, 40.0, 20.0);
    EXPECT_EQ(markedRows(box.image(), 10), (std::vector<int>{5, 20}));

    const QColor paleYellow(255, 255, 128);
    box.setBackColor(rgb(255, 255, 128));
    box.clear();
    EXPECT_EQ(countPixelsNot(box.image(), paleYellow), 0);
}

TEST(PictureBoxDrawing, FilledCircleCoversItsCentreAndNotBeyondItsRadius)
{
    // 2 pixels per unit across, 0.5 pixel per unit down: the radius follows the horizontal axis,
    // so a radius of 5 units is 10 pixels in both directions.
    PictureBox box(200, 100);
    box.setScale(0.0, 0.0, 100.0, 200.0);
    box.setForeColor(kRed);
    box.filledCircle(50.0, 100.0, 5.0);

    const QImage& image = box.image();
    EXPECT_EQ(image.pixelColor(100, 50), kRed);
    EXPECT_EQ(image.pixelColor(107, 50), kRed);
    EXPECT_EQ(image.pixelColor(100, 57), kRed);
    EXPECT_EQ(image.pixelColor(94, 44), kRed);
    EXPECT_EQ(image.pixelColor(113, 50), kWhite);
    EXPECT_EQ(image.pixelColor(100, 63), kWhite);
    EXPECT_EQ(image.pixelColor(109, 59), kWhite);  // inside the bounding square, outside the disc
}

TEST(PictureBoxDrawing, WidePointIsADotOfTheLineWidth)
{
    PictureBox box(50, 50);
    box.setScale(0.0, 0.0, 50.0, 50.0);
    box.setLineWidth(5);
    box.point(25.0, 25.0);
    EXPECT_EQ(box.image().pixelColor(25, 25), QColor(Qt::black));
    const std::vector<int> rows = markedRows(box.image(), 25);
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(rows.size(), 4u);
    EXPECT_LE(rows.size(), 6u);
}

// ----- Colours ---------------------------------------------------------------------------------------

TEST(PictureBoxColour, RgbComposesClampedComponents)
{
    EXPECT_EQ(rgb(255, 0, 0), 0x0000FF);
    EXPECT_EQ(rgb(0, 255, 0), 0x00FF00);
    EXPECT_EQ(rgb(0, 0, 255), 0xFF0000);
    EXPECT_EQ(rgb(-20, 300, 128), 0x80FF00);
    EXPECT_EQ(rgb(1000, -1, 256), 0xFF00FF);

    EXPECT_EQ(colorFromRgbValue(0x80FFFF), QColor(255, 255, 128));
    EXPECT_EQ(colorFromRgbValue(rgb(12, 34, 56)), QColor(12, 34, 56));
}

TEST(PictureBoxColour, ForeColorFromAColourValueDraws)
{
    PictureBox box(10, 10);
    box.setScale(0.0, 0.0, 10.0, 10.0);
    box.setForeColor(rgb(0, 128, 255));
    box.point(4.5, 6.5);
    EXPECT_EQ(box.image().pixelColor(4, 6), QColor(0, 128, 255));
}

// ----- Text ------------------------------------------------------------------------------------------

TEST(PictureBoxText, FontHasRealGlyphs)
{
    const PictureBox box(10, 10);
    const QFont font = box.font();
    if (QFile::exists(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"))) {
        EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("DejaVu Sans"));
    }
    const QFontMetrics metrics(font);
    for (char32_t c : {U'A', U'H', U'z', U'0', U'-'})
        EXPECT_TRUE(metrics.inFontUcs4(c)) << static_cast<unsigned>(c);
    const QRawFont raw = QRawFont::fromFont(font);
    ASSERT_TRUE(raw.isValid());
    EXPECT_TRUE(raw.supportsCharacter(U'A'));
}

TEST(PictureBoxText, TextDrawsBelowAndRightOfItsTopLeftCorner)
{
    PictureBox box(200, 100);
    box.setScale(0.0, 100.0, 200.0, -100.0);  // y upwards: the corner (40, 70) is pixel (40, 30)
    box.setFontSize(12.0);
    box.setForeColor(kRed);
    box.text(40.0, 70.0, QStringLiteral("AHz"));

    const QImage& image = box.image();
    int ink = 0;
    int topRow = image.height();
    int leftColumn = image.width();
    for (int row = 0; row < image.height(); ++row) {
        for (int column = 0; column < image.width(); ++column) {
            if (image.pixelColor(column, row) == kWhite)
                continue;
            ++ink;
            topRow = std::min(topRow, row);
            leftColumn = std::min(leftColumn, column);
        }
    }
    // 12 points are 16 pixels at 96 dpi: capitals start a few pixels below the top of the line,
    // 'A' at the left edge of its cell.
    EXPECT_GE(topRow, 30);
    EXPECT_LE(topRow, 36);
    EXPECT_GE(leftColumn, 40);
    EXPECT_LE(leftColumn, 42);
    // Three glyphs leave far more ink than a stray pixel would.
    EXPECT_GT(ink, 60);
}

// ----- Saving ----------------------------------------------------------------------------------------

PictureBox samplePicture()
{
    PictureBox box(64, 48);
    box.setScale(0.0, 1.0, 1.0, -2.0);
    box.setForeColor(kRed);
    box.line(0.0, 0.0, 1.0, 0.5);
    box.setForeColor(rgb(0, 0, 255));
    box.filledCircle(0.5, 0.0, 0.1);
    return box;
}

void expectSamePixels(const QImage& expected, const QImage& actual)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (int row = 0; row < expected.height(); ++row) {
        for (int column = 0; column < expected.width(); ++column)
            ASSERT_EQ(actual.pixelColor(column, row), expected.pixelColor(column, row))
                << "pixel (" << column << ", " << row << ")";
    }
}

TEST(PictureBoxSave, BitmapAndPngReadBackPixelForPixel)
{
    const ScratchDirectory dir;
    const PictureBox box = samplePicture();
    for (const char* name : {"plot.BMP", "plot2.bmp", "plot.png", "plot2.PNG"}) {
        const std::filesystem::path file = dir.path() / name;
        const util::Outcome outcome = box.save(file);
        ASSERT_TRUE(outcome.ok()) << name << ": " << outcome.message();
        const QImage read(QFile::decodeName(file.c_str()));
        ASSERT_FALSE(read.isNull()) << name;
        expectSamePixels(box.image(), read);
    }
}

TEST(PictureBoxSave, BitmapNameWritesABitmapFile)
{
    const ScratchDirectory dir;
    const std::filesystem::path file = dir.path() / "map.BMP";
    ASSERT_TRUE(samplePicture().save(file).ok());
    QFile written(QFile::decodeName(file.c_str()));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.read(2), QByteArray("BM"));
}

TEST(PictureBoxSave, RefusesMissingFoldersAndUnknownFormats)
{
    const ScratchDirectory dir;
    const PictureBox box = samplePicture();

    const std::filesystem::path missing = dir.path() / "no such folder" / "plot.BMP";
    const util::Outcome intoMissing = box.save(missing);
    EXPECT_FALSE(intoMissing.ok());
    EXPECT_NE(intoMissing.message().find("no such folder"), std::string::npos) << intoMissing.message();
    EXPECT_FALSE(std::filesystem::exists(missing));

    const util::Outcome unknown = box.save(dir.path() / "plot.jpg");
    EXPECT_FALSE(unknown.ok());
    EXPECT_NE(unknown.message().find(".bmp"), std::string::npos) << unknown.message();
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "plot.jpg"));
}

}  // namespace
}  // namespace velmora::render
