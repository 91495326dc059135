// The vector picture of the acquisition pulse: where a vector's line ends and its colour, and the
// frames its observer writes (into the frame folder only, never after Stop, and one message when
// they cannot be written).
#include "render/vector_evolution_frames.h"
#include "render/vector_picture.h"
#include "support/scratch_directory.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::render {
namespace {

constexpr double kProton = 1e7;  // the proton's full polarisation

// The classic colour value r + 256 g + 65536 b as a colour.
QColor classicColour(long value)
{
    return QColor(static_cast<int>(value % 256), static_cast<int>(value / 256 % 256),
                  static_cast<int>(value / 65536 % 256));
}

QColor pixelAt(const VectorPicture& picture, double xTwips, double yTwips)
{
    const QPointF at = picture.box().toPixels(xTwips, yTwips);
    return picture.box().image().pixelColor(static_cast<int>(std::floor(at.x())),
                                            static_cast<int>(std::floor(at.y())));
}

TEST(VectorPicture, ALongitudinalVectorPointsUpAndATransverseOneGetsBrighter)
{
    VectorPicture picture;
    const double h = kVectorPictureTwips / 2.0;  // 1950 twips
    ASSERT_EQ(picture.halfWidthTwips(), h);
    EXPECT_EQ(picture.box().image().pixelColor(3, 3), QColor(Qt::black));

    // z = 1e7 is a quarter of the picture's width long: x' = y' = 0, z' = H / 2.
    picture.drawVector(0.0, 0.0, kProton);
    EXPECT_EQ(pixelAt(picture, h, h / 2.0), QColor(Qt::white)) << "the dot at the tip";
    EXPECT_EQ(pixelAt(picture, h, 0.75 * h), classicColour(111111)) << "(x'^2 + y'^2) 0.000125 = 0";

    // y = 1e7: y' = H / 2 to the right; the colour value grows by (975^2) 0.000125 = 118.8.
    VectorPicture transverse;
    transverse.drawVector(0.0, kProton, 0.0);
    EXPECT_EQ(pixelAt(transverse, 1.5 * h, h), QColor(Qt::white));
    EXPECT_EQ(pixelAt(transverse, 1.25 * h, h), classicColour(111111 + 119));

    // x runs to the right and down by the same amount: x = 1e7 ends at (3H / 2, 3H / 2).
    const VectorStroke stroke = vectorStroke(kProton, 0.0, 0.0, h);
    EXPECT_DOUBLE_EQ(stroke.tip.x(), 1.5 * h);
    EXPECT_DOUBLE_EQ(stroke.tip.y(), 1.5 * h);
}

class FramesTest : public ::testing::Test {
protected:
    FramesTest() { (void)control.tryStart(); }

    // Rows of one spin: E, x, y, z.
    static std::array<double, 4> row(double x, double y, double z) { return {kProton, x, y, z}; }

    std::vector<std::string> frameNames(const std::filesystem::path& folder) const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    velmora::testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    util::RunControl control;
};

TEST_F(FramesTest, EachSampledPointWritesItsFrameIntoTheFrameFolderUntilStop)
{
    int shown = 0;
    VectorEvolutionFrames frames(messages, control, [&](const VectorPicture&, int pulsePoints) {
        EXPECT_EQ(pulsePoints, 3);
        ++shown;
    });
    frames.begin(dir.path() / "ttt", 3);
    const double turn = 0.5;  // rad per point: the vector nutates from z towards y
    for (int n = 1; n <= 3; ++n) {
        const auto r = row(0.0, kProton * std::sin(n * turn), kProton * std::cos(n * turn));
        frames.sampled(0, n, r);
    }
    EXPECT_EQ(shown, 3);
    EXPECT_EQ(frameNames(dir.path() / "ttt"),
              (std::vector<std::string>{"plotVector1.png", "plotVector2.png", "plotVector3.png"}));
    EXPECT_EQ(frameNames(dir.path()), std::vector<std::string>{"ttt"}) << "no frame in the working directory";
    const QImage last(QString::fromStdString((dir.path() / "ttt" / "plotVector3.png").string()));
    EXPECT_EQ(last.convertToFormat(frames.picture().box().image().format()), frames.picture().box().image());
    const VectorStroke third = vectorStroke(0.0, kProton * std::sin(1.5), kProton * std::cos(1.5),
                                            frames.picture().halfWidthTwips());
    EXPECT_EQ(pixelAt(frames.picture(), third.tip.x(), third.tip.y()), QColor(Qt::white));

    control.stop();
    frames.sampled(0, 4, row(0.0, kProton, 0.0));
    EXPECT_EQ(shown, 3) << "after Stop the rest of the pulse runs through without frames";
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "ttt" / "plotVector4.png"));

    (void)control.tryStart();
    frames.begin(dir.path() / "ttt", 3);
    EXPECT_EQ(frames.picture().box().image().pixelColor(130, 65), QColor(Qt::black))
        << "a Start begins blank";
    EXPECT_TRUE(messages.entries.empty());
}

TEST_F(FramesTest, AFrameFolderThatCannotBeMadeIsReportedOnceAndTheRunGoesOn)
{
    std::ofstream(dir.path() / "ttt") << "a file where the folder should be";
    int shown = 0;
    VectorEvolutionFrames frames(messages, control, [&](const VectorPicture&, int) { ++shown; });
    frames.begin(dir.path() / "ttt", 2);
    frames.sampled(0, 1, row(0.0, 0.0, kProton));
    frames.sampled(0, 2, row(0.0, kProton, 0.0));
    EXPECT_EQ(shown, 2) << "the animation goes on";
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].title, "Error!");
    EXPECT_NE(messages.entries[0].text.find("goes on"), std::string::npos) << messages.entries[0].text;
}

}  // namespace
}  // namespace velmora::render
