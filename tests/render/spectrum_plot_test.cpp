// The 1D plot on a box of the window's size (7800 x 3900 twips, 520 x 260 pixels): strip limits,
// where the points of each mode land, the zooms and the baseline, holding inside the strips, the
// labels, the ticks and the cursor readout. Positions follow from the plot's formulas in twips
// (15 per pixel); a point belongs to the pixel that contains it.
#include "engine/run_records.h"
#include "processing/display_arrays.h"
#include "render/spectrum_plot.h"

#include <QColor>
#include <QFontMetricsF>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::render {
namespace {

using processing::DisplayArrays;

constexpr int kWidthPx = 520;
constexpr int kHeightPx = 260;
constexpr double kWidthTwips = 7800.0;
constexpr double kStripTwips = 1300.0;  // h = 3900 / 3

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kTickGrey(150, 150, 150);

// The pixel row or column that holds a position in twips.
int pixelOf(double twips)
{
    return static_cast<int>(std::floor(twips / 15.0));
}

int middleRow(int strip)
{
    return pixelOf(strip * kStripTwips + kStripTwips / 2.0);
}

// A display array of runs with the given real and imaginary parts (the magnitude follows).
DisplayArrays displayOf(const std::vector<std::vector<double>>& real,
                        const std::vector<std::vector<double>>& imaginary)
{
    const int runs = static_cast<int>(real.size());
    const int np = static_cast<int>(real.front().size());
    engine::SampleRecord signal(np, runs - 1);
    const engine::SampleRecord timeDomain(np, runs - 1);
    for (int r = 0; r < runs; ++r)
        for (int i = 0; i < np; ++i) {
            signal.at(1, i + 1, r) = real[static_cast<std::size_t>(r)][static_cast<std::size_t>(i)];
            signal.at(2, i + 1, r) = imaginary[static_cast<std::size_t>(r)][static_cast<std::size_t>(i)];
        }
    DisplayArrays display;
    const DisplayArrays::BuildRequest request{.signal = signal,
                                              .timeDomain = timeDomain,
                                              .viewMode = "signalspec",
                                              .pointCount = np,
                                              .lastRun = runs - 1};
    EXPECT_FALSE(display.build(request));
    return display;
}

DisplayArrays zeros(int np, int runs = 1)
{
    const std::vector<std::vector<double>> parts(static_cast<std::size_t>(runs),
                                                 std::vector<double>(static_cast<std::size_t>(np), 0.0));
    return displayOf(parts, parts);
}

// Rows of columns first..last that hold a black pixel.
std::vector<int> blackRows(const QImage& image, int first, int last)
{
    std::vector<int> rows;
    for (int row = 0; row < image.height(); ++row)
        for (int column = first; column <= last; ++column)
            if (image.pixelColor(column, row) == kBlack) {
                rows.push_back(row);
                break;
            }
    return rows;
}

int countColour(const QImage& image, int left, int top, int right, int bottom, const QColor& colour)
{
    int count = 0;
    for (int row = top; row <= bottom; ++row)
        for (int column = left; column <= right; ++column)
            count += image.pixelColor(column, row) == colour ? 1 : 0;
    return count;
}

bool rowIsBlack(const QImage& image, int row, int first, int last)
{
    return countColour(image, first, row, last, row, kBlack) == last - first + 1;
}

// Columns of the plot that hold neither the strip labels (left) nor the channel names (right).
constexpr int kFirstPlainColumn = 60;
constexpr int kLastPlainColumn = 480;

// ----- Limits and labels -----------------------------------------------------------------------------

TEST(SpectrumPlotLimits, AnAllZeroArrayDrawsMiddleLinesBetweenOneAndMinusOne)
{
    PictureBox box(kWidthPx, kHeightPx);
    const SpectrumPlotLayout layout = drawSpectrumPlot(box, zeros(64), {});
    ASSERT_TRUE(layout.drawn);
    for (const StripLimits& strip : layout.strips) {
        EXPECT_EQ(strip.top, 1.0);
        EXPECT_EQ(strip.bottom, -1.0);
    }
    const QImage& image = box.image();
    // Points 0..63 at x = i W / 64 / 1.01: the last at 7602.3 twips, pixel 506.
    const int lastColumn = pixelOf(63 * kWidthTwips / 64 / 1.01);
    ASSERT_EQ(lastColumn, 506);
    for (int c = 0; c < 3; ++c)
        EXPECT_TRUE(rowIsBlack(image, middleRow(c), 0, lastColumn - 1)) << "strip " << c;
    const std::vector<int> expected = {middleRow(0), middleRow(1), middleRow(2)};
    EXPECT_EQ(blackRows(image, kFirstPlainColumn, kLastPlainColumn), expected)
        << "nothing but the three lines";
    EXPECT_EQ(countColour(image, lastColumn + 1, middleRow(0), kWidthPx - 1, middleRow(0), kBlack), 0);
    for (double separator : {kStripTwips, 2 * kStripTwips})
        EXPECT_EQ(countColour(image, 0, pixelOf(separator), kWidthPx - 1, pixelOf(separator), kRed), kWidthPx)
            << "red separator at " << separator << " twips";
}

// The strips were once labelled 1H, 13C and 15N in cyan on white, whatever they showed.
TEST(SpectrumPlotLimits, TheLabelsPrintTheIntegerPartsAndTheStripsSayWhatTheyShow)
{
    for (const bool twoD : {false, true}) {
        PictureBox box(kWidthPx, kHeightPx);
        SpectrumPlotSettings settings;
        if (twoD)
            settings.stripNames = {"1H", "13C", "15N"};
        ASSERT_TRUE(drawSpectrumPlot(box, zeros(64), settings).drawn);
        const std::vector<DrawnText>& texts = box.texts();
        for (int c = 0; c < 3; ++c) {
            const QString name = QString::fromStdString(settings.stripNames[static_cast<std::size_t>(c)]);
            const auto at =
                std::find_if(texts.begin(), texts.end(), [&](const DrawnText& t) { return t.text == name; });
            ASSERT_NE(at, texts.end()) << name.toStdString();
            EXPECT_NEAR(at->pixels.top(), c * kStripTwips / 15.0, 1.0) << "at the top of its strip";
            EXPECT_LE(at->pixels.right(), kWidthPx) << "inside the picture";
            EXPECT_GT(at->pixels.left(), kWidthPx / 2) << "at the right";
            // Top and bottom limits at the upper left, one under the other, apart.
            const auto limit = [&](const QString& text, double top) {
                return std::find_if(texts.begin(), texts.end(), [&](const DrawnText& t) {
                    return t.text == text && std::abs(t.pixels.top() - top) < 1.0 && t.pixels.left() == 0.0;
                });
            };
            const auto top = limit("1", c * kStripTwips / 15.0);
            ASSERT_NE(top, texts.end()) << "strip " << c;
            const auto bottom = limit("-1", top->pixels.bottom());
            ASSERT_NE(bottom, texts.end()) << "strip " << c;
            EXPECT_FALSE(top->pixels.intersects(bottom->pixels));
        }
        // The names are dark on the white ground: no cyan or yellow anywhere.
        const QImage& image = box.image();
        EXPECT_EQ(countColour(image, 0, 0, kWidthPx - 1, kHeightPx - 1, QColor(0, 255, 255)), 0);
        EXPECT_EQ(countColour(image, 0, 0, kWidthPx - 1, kHeightPx - 1, QColor(255, 255, 0)), 0);
    }
}

TEST(SpectrumPlotLimits, TheRunsShownAreLimitedByTheArraySizeAndThePulseView)
{
    std::vector<std::vector<double>> real(2, std::vector<double>(16, 0.0));
    real[1][5] = -250.5;
    const DisplayArrays display = displayOf(real, real);
    const double magnitude = std::hypot(250.5, 250.5);
    PictureBox box(kWidthPx, kHeightPx);

    SpectrumPlotSettings settings;
    settings.run = 1;
    settings.arraySize = 0;
    SpectrumPlotLayout layout = drawSpectrumPlot(box, display, settings);
    EXPECT_EQ(layout.shownRun, 0) << "m = min(run, Ni)";
    EXPECT_EQ(layout.strips[0].top, 1.0);

    settings.arraySize = 1;
    layout = drawSpectrumPlot(box, display, settings);
    EXPECT_EQ(layout.shownRun, 1);
    for (const StripLimits& strip : layout.strips) {
        EXPECT_EQ(strip.top, magnitude) << "one limit for all strips: the largest magnitude of any part";
        EXPECT_EQ(strip.bottom, -magnitude);
    }

    settings.pulseView = true;
    EXPECT_EQ(drawSpectrumPlot(box, display, settings).shownRun, 0);
}

TEST(SpectrumPlotLimits, AnEmptyDisplayLeavesThePictureAsItWas)
{
    PictureBox box(kWidthPx, kHeightPx);
    box.setForeColor(kRed);
    box.line(0.0, 100.0, 7800.0, 100.0);
    const QImage before = box.image();
    EXPECT_FALSE(drawSpectrumPlot(box, DisplayArrays{}, {}).drawn);
    EXPECT_EQ(box.image(), before);
}

// ----- "ON": one run -------------------------------------------------------------------------------

TEST(SpectrumPlotSingleRun, HorizontalZoomTwoDrawsOnlyTheFirstHalfStretchedOverTheWidth)
{
    // A peak at point 16 in the first half; the whole second half at the bottom limit.
    std::vector<std::vector<double>> real(1, std::vector<double>(64, 0.0));
    real[0][16] = 1000.0;
    for (int i = 32; i < 64; ++i)
        real[0][static_cast<std::size_t>(i)] = -1000.0;
    const std::vector<std::vector<double>> imaginary(1, std::vector<double>(64, 0.0));
    PictureBox box(kWidthPx, kHeightPx);
    SpectrumPlotSettings settings;
    settings.horizontalZoom = 2.0;
    ASSERT_TRUE(drawSpectrumPlot(box, displayOf(real, imaginary), settings).drawn);
    const QImage& image = box.image();

    const double step = 2.0 * kWidthTwips / 64 / 1.01;
    const int peak = pixelOf(16 * step);
    ASSERT_EQ(peak, 257) << "point 16 of 64 lies in the middle";
    // Real part: the peak reaches the strip's top edge; the second half (at its bottom edge) is absent.
    EXPECT_EQ(image.pixelColor(peak, 0), kBlack);
    EXPECT_EQ(countColour(image, 0, pixelOf(kStripTwips), kWidthPx - 1, pixelOf(kStripTwips), kBlack), 0);
    EXPECT_EQ(countColour(image, 0, pixelOf(kStripTwips), kWidthPx - 1, pixelOf(kStripTwips), kRed),
              kWidthPx);
    // Magnitude: only the peak touches the top of strip 2.
    const int magnitudeTop = pixelOf(2 * kStripTwips);
    for (int column = kFirstPlainColumn; column <= kLastPlainColumn; ++column) {
        const bool nearPeak = std::abs(column - peak) <= pixelOf(step) + 1;
        if (!nearPeak) {
            EXPECT_EQ(image.pixelColor(column, magnitudeTop), kRed) << "column " << column;
        }
    }
    // The zero line runs on to point 31, near the right edge.
    const int lastColumn = pixelOf(31 * step);
    ASSERT_EQ(lastColumn, 498);
    EXPECT_TRUE(rowIsBlack(image, middleRow(0), kFirstPlainColumn, peak - pixelOf(step) - 1));
    EXPECT_TRUE(rowIsBlack(image, middleRow(0), peak + pixelOf(step) + 1, lastColumn - 1));
    EXPECT_EQ(countColour(image, lastColumn + 1, 0, kWidthPx - 1, kHeightPx - 1, kBlack), 0);
}

TEST(SpectrumPlotSingleRun, BaselineOneHundredPutsTheZeroLineOnTheStripBottomAndFiftyHalfWay)
{
    PictureBox box(kWidthPx, kHeightPx);
    SpectrumPlotSettings settings;
    settings.baselinePercent = 100.0;
    settings.verticalZoom = 1.0;
    ASSERT_TRUE(drawSpectrumPlot(box, zeros(64), settings).drawn);
    const QImage& image = box.image();
    // Strips 0 and 1: the zero line covers the separators below them; strip 2's lies on the box's
    // bottom edge, just outside the picture.
    EXPECT_TRUE(rowIsBlack(image, pixelOf(kStripTwips), 0, 505));
    EXPECT_TRUE(rowIsBlack(image, pixelOf(2 * kStripTwips), 0, 505));
    EXPECT_EQ(blackRows(image, kFirstPlainColumn, kLastPlainColumn),
              (std::vector<int>{pixelOf(kStripTwips), pixelOf(2 * kStripTwips)}));

    // Half way: the zero line three quarters down each strip, y = (1 + 0.5) h / 2.
    settings.baselinePercent = 50.0;
    ASSERT_TRUE(drawSpectrumPlot(box, zeros(64), settings).drawn);
    EXPECT_EQ(blackRows(box.image(), kFirstPlainColumn, kLastPlainColumn),
              (std::vector<int>{pixelOf(0.75 * kStripTwips), pixelOf(1.75 * kStripTwips),
                                pixelOf(2.75 * kStripTwips)}));
}

TEST(SpectrumPlotSingleRun, ValuesBeyondAStripAreHeldAtItsEdges)
{
    // Real part +-1000 in turn, zoomed four times: every point falls outside strip 0.
    std::vector<std::vector<double>> real(1, std::vector<double>(64, 0.0));
    for (int i = 0; i < 64; ++i)
        real[0][static_cast<std::size_t>(i)] = i % 2 == 0 ? 1000.0 : -1000.0;
    const std::vector<std::vector<double>> imaginary(1, std::vector<double>(64, 0.0));
    PictureBox box(kWidthPx, kHeightPx);
    SpectrumPlotSettings settings;
    settings.verticalZoom = 4.0;
    ASSERT_TRUE(drawSpectrumPlot(box, displayOf(real, imaginary), settings).drawn);
    const QImage& image = box.image();

    const int stripBottom = pixelOf(kStripTwips);
    std::vector<int> expected;
    for (int row = 0; row <= stripBottom; ++row)
        expected.push_back(row);
    expected.push_back(middleRow(1));              // imaginary part 0
    expected.push_back(pixelOf(2 * kStripTwips));  // magnitude 1000 x 4 held at the top of strip 2
    EXPECT_EQ(blackRows(image, kFirstPlainColumn, kLastPlainColumn), expected);
    EXPECT_TRUE(rowIsBlack(image, pixelOf(2 * kStripTwips), kFirstPlainColumn, kLastPlainColumn));
}

// ----- "OFF": runs side by side -------------------------------------------------------------------

TEST(SpectrumPlotSideBySide, EveryRunStartsItsLinesAtPointFourteen)
{
    PictureBox box(kWidthPx, kHeightPx);
    SpectrumPlotSettings settings;
    settings.overlay = false;
    settings.run = 1;
    settings.arraySize = 1;
    ASSERT_TRUE(drawSpectrumPlot(box, zeros(32, 2), settings).drawn);
    const QImage& image = box.image();

    // 64 points in all, step = W / 32 / 1.01 / 2; point n of the sequence at n step.
    const double step = kWidthTwips / 32 / 1.01 / 2;
    const auto column = [&](int n) { return n * step / 15.0; };
    for (int run = 0; run < 2; ++run) {
        const int first = static_cast<int>(std::ceil(column(32 * run)));
        const int line = static_cast<int>(std::floor(column(32 * run + 13)));
        const int last = static_cast<int>(std::floor(column(32 * run + 31)));
        // Before point 13 of the run, no line; from point 13 to 31, the zero lines.
        EXPECT_TRUE(blackRows(image, std::max(first, kFirstPlainColumn), line - 1).empty()) << "run " << run;
        for (int c = 0; c < 3; ++c)
            EXPECT_TRUE(rowIsBlack(image, middleRow(c), line, last - 1)) << "run " << run << " strip " << c;
    }
    // Nothing after point 31 of run 0 up to point 13 of run 1.
    EXPECT_TRUE(blackRows(image, static_cast<int>(std::floor(column(31))) + 1,
                          static_cast<int>(std::floor(column(45))) - 1)
                    .empty());
}

// ----- Ticks ---------------------------------------------------------------------------------------

TEST(SpectrumPlotTicks, HertzPpmAndMillisecondMarksLieAtTheirPointsInGrey)
{
    SpectrumPlotSettings settings;
    settings.axis.kind = SpectrumAxis::Frequency;
    settings.axis.spectralWidthHz = 400.0;
    PictureBox box(kWidthPx, kHeightPx);
    ASSERT_TRUE(drawSpectrumPlot(box, zeros(64), settings).drawn);

    // 64 points over 400 Hz: 0 Hz at point 32, 50 Hz at point 24; marks rise 4 pixels from the bottom.
    const double step = kWidthTwips / 64 / 1.01;
    const int zeroHz = pixelOf(32 * step);
    const int fiftyHz = pixelOf(24 * step);
    const int markRow = kHeightPx - 2;
    EXPECT_EQ(box.image().pixelColor(zeroHz, markRow), kTickGrey);
    EXPECT_EQ(box.image().pixelColor(fiftyHz, markRow), kTickGrey);
    EXPECT_EQ(box.image().pixelColor((zeroHz + fiftyHz) / 2, markRow), kWhite) << "no mark at 25 Hz";
    // No ppm without the spectrometer frequency.
    EXPECT_TRUE(std::none_of(box.texts().begin(), box.texts().end(),
                             [](const DrawnText& t) { return t.text == "ppm"; }));

    // FIDs: 640 ms over 64 points, ticks every 100 ms, 100 ms at point 10.
    settings.axis = {.kind = SpectrumAxis::Time, .acquisitionTimeMs = 640.0};
    ASSERT_TRUE(drawSpectrumPlot(box, zeros(64), settings).drawn);
    EXPECT_EQ(box.image().pixelColor(pixelOf(10 * step), markRow), kTickGrey);
}

TEST(SpectrumPlotTicks, PpmAndHertzLabelsLieInTheBottomStripAtTheirPointsWithoutOverlapping)
{
    // 64 points over 400 Hz at 400 MHz (1H): 0.1 ppm = 40 Hz = 6.4 points.
    SpectrumPlotSettings settings;
    settings.axis = {.kind = SpectrumAxis::Frequency, .spectralWidthHz = 400.0, .protonFrequencyMHz = 400.0};
    PictureBox box(kWidthPx, kHeightPx);
    ASSERT_TRUE(drawSpectrumPlot(box, zeros(64), settings).drawn);
    const double step = kWidthTwips / 64 / 1.01;
    const double stripTwoTop = 2 * kStripTwips / 15.0;

    std::vector<DrawnText> hz, ppm;
    const DrawnText* limitLabel = nullptr;  // the lower limit "-1" of the bottom strip
    for (const DrawnText& t : box.texts()) {
        if (t.text == "-1" && t.pixels.top() > stripTwoTop)
            limitLabel = &t;
        bool number = false;
        const double value = t.text.toDouble(&number);
        if (!number || t.pixels.left() == 0.0)
            continue;
        // Hz labels are whole numbers, ppm labels carry one decimal.
        (t.text.contains('.') ? ppm : hz).push_back(t);
        const double point = t.text.contains('.') ? 32 - value * 400.0 * 64 / 400.0 : 32 - value * 64 / 400.0;
        EXPECT_NEAR(t.pixels.center().x(), point * step / 15.0, 1.5) << t.text.toStdString();
    }
    ASSERT_GE(hz.size(), 4u);
    ASSERT_GE(ppm.size(), 4u);
    ASSERT_NE(limitLabel, nullptr);
    for (const char* unit : {"Hz", "ppm"}) {
        const auto at = std::find_if(box.texts().begin(), box.texts().end(),
                                     [&](const DrawnText& t) { return t.text == unit; });
        ASSERT_NE(at, box.texts().end()) << unit;
        (std::string(unit) == "Hz" ? hz : ppm).push_back(*at);
    }
    for (const DrawnText& p : ppm) {
        EXPECT_GE(p.pixels.top(), limitLabel->pixels.bottom())
            << p.text.toStdString() << " below the strip's limits";
        for (const DrawnText& h : hz)
            EXPECT_FALSE(p.pixels.intersects(h.pixels))
                << p.text.toStdString() << " over " << h.text.toStdString();
    }
    for (const DrawnText& h : hz)
        EXPECT_LE(h.pixels.bottom(), kHeightPx) << h.text.toStdString() << " inside the picture";
}

TEST(SpectrumPlotTicks, SwitchedOffTheyLeaveTheBottomRowsEmpty)
{
    PictureBox box(kWidthPx, kHeightPx);
    ASSERT_TRUE(drawSpectrumPlot(box, zeros(64), {}).drawn);
    EXPECT_EQ(countColour(box.image(), 0, kHeightPx - 6, kWidthPx - 1, kHeightPx - 1, kWhite), 6 * kWidthPx);
}

// ----- Cursor readout ------------------------------------------------------------------------------

TEST(SpectrumPlotReadout, AmplitudeOfTheStripAndAbscissaOfTheView)
{
    std::vector<std::vector<double>> real(1, std::vector<double>(64, 0.0));
    real[0][3] = 80.0;
    PictureBox box(kWidthPx, kHeightPx);
    const SpectrumPlotLayout layout = drawSpectrumPlot(box, displayOf(real, real), {});
    const double top = std::hypot(80.0, 80.0);  // 113.137...

    // Pixel row 0: the top of strip 0; row 130 (1950 twips): the middle of strip 1.
    EXPECT_EQ(spectrumReadout(layout, {0.0, 0.0}).amplitude, "113.13");
    EXPECT_EQ(spectrumReadout(layout, {0.0, 130.0}).amplitude, "0");
    // A quarter down strip 2 (2600 + 325 twips = pixel 195): top / 2, cut to two decimals.
    EXPECT_EQ(spectrumReadout(layout, {0.0, 195.0}).amplitude, "56.56")
        << "top / 2 = " << top / 2;

    EXPECT_EQ(spectrumReadout(SpectrumPlotLayout{}, {1.0, 1.0}).amplitude, "");
}

TEST(SpectrumPlotReadout, AbscissaAgreesWithTheTickUnderThePointerAtEveryZoom)
{
    // 64 points over 400 Hz: the 100 Hz tick lies at point 16; over 640 ms the 100 ms tick at point 10.
    for (const double zoom : {1.0, 2.0}) {
        SpectrumPlotSettings settings;
        settings.horizontalZoom = zoom;
        settings.axis = {.kind = SpectrumAxis::Frequency, .spectralWidthHz = 400.0};
        PictureBox box(kWidthPx, kHeightPx);
        const SpectrumPlotLayout layout = drawSpectrumPlot(box, zeros(64), settings);
        ASSERT_TRUE(layout.drawn);
        const double step = zoom * kWidthTwips / 64 / 1.01;
        const int hundredHz = pixelOf(16 * step);
        ASSERT_EQ(box.image().pixelColor(hundredHz, kHeightPx - 2), kTickGrey) << "zoom " << zoom;
        EXPECT_EQ(spectrumReadout(layout, {hundredHz + 0.5, 0.0}).abscissa,
                  "100Hz")
            << "zoom " << zoom;

        settings.axis = {.kind = SpectrumAxis::Time, .acquisitionTimeMs = 640.0};
        const SpectrumPlotLayout fid = drawSpectrumPlot(box, zeros(64), settings);
        const int hundredMs = pixelOf(10 * step);
        ASSERT_EQ(box.image().pixelColor(hundredMs, kHeightPx - 2), kTickGrey) << "zoom " << zoom;
        const std::string ms =
            spectrumReadout(fid, {hundredMs + 0.5, 0.0}).abscissa;
        EXPECT_NEAR(std::stod(ms), 100.0, 1.5) << ms << " at zoom " << zoom;
    }
}

}  // namespace
}  // namespace velmora::render
