// Operator traces read back from the operator table and drawn in their colours with a legend; the
// run under the cursor; the data-file viewer's reading (comments, the end of the data, fields,
// the range) and its drawing in the colours of the fields.
#include "render/trace_plot.h"
#include "support/scratch_directory.h"

#include <QColor>
#include <QImage>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::render {
namespace {

using velmora::testing::ScratchDirectory;

const QColor kBlack(0, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kGreen(0, 255, 0);
const QColor kWhite(255, 255, 255);

// The box of the operator traces: 7800 x 2650 twips.
constexpr int kTraceWidth = 520;
constexpr int kTraceHeight = 177;

struct Found {
    int count = 0;
    int firstRow = -1;
};

Found findColour(const QImage& image, int left, int right, const QColor& colour)
{
    Found found;
    for (int row = 0; row < image.height(); ++row)
        for (int column = left; column <= right; ++column)
            if (image.pixelColor(column, row) == colour) {
                if (found.count++ == 0)
                    found.firstRow = row;
            }
    return found;
}

// Whether `pixel` is `colour` laid over white with an opacity of one half or more: text is smoothed.
bool isShadeOf(const QColor& pixel, const QColor& colour)
{
    const int p[] = {pixel.red(), pixel.green(), pixel.blue()};
    const int c[] = {colour.red(), colour.green(), colour.blue()};
    double opacity = -1.0;
    for (int k = 0; k < 3; ++k) {
        if (c[k] == 255) {
            if (p[k] != 255)
                return false;
            continue;
        }
        const double a = (255.0 - p[k]) / (255.0 - c[k]);
        if (opacity >= 0.0 && std::fabs(a - opacity) > 0.1)
            return false;
        opacity = a;
    }
    return opacity >= 0.5 && opacity <= 1.0;
}

Found findShade(const QImage& image, int left, int right, const QColor& colour)
{
    Found found;
    for (int row = 0; row < image.height(); ++row)
        for (int column = left; column <= right; ++column)
            if (isShadeOf(image.pixelColor(column, row), colour) && found.count++ == 0)
                found.firstRow = row;
    return found;
}

// An operator table as the run writes it: tab separated, CR LF, values / 1000 in "#.000".
const char* const kOperatorTable =
    "d1\txH0\tyH0\tzH0\txH0zH1\tyH0zH1\tzH0zH1\tflip_z\tflip_xy\r\n"
    ".000\t10000.000\t-10000.000\t.500\t1.000\t2.000\t3.000\t90.000\t90.000\r\n"
    ".500\t5000.000\t-10000.000\t-.045\t1.000\t2.000\t3.000\t90.000\t90.000\r\n"
    "1.000\t.000\t-10000.000\t.500\t1.000\t2.000\t3.000\t90.000\t90.000\r\n"
    "1.500\t-5000.000\t-10000.000\t.500\t1.000\t2.000\t3.000\t90.000\t90.000\r\n"
    "2.000\t-10000.000\t-10000.000\t.500\t1.000\t2.000\t-3.500\t90.000\t90.000\r\n";

// ----- Operator table ----------------------------------------------------------------------------

TEST(OperatorTraceTable, EveryColumnOfTheTableIsRead)
{
    const ScratchDirectory dir;
    const OperatorTraceRead read = readOperatorTraces(dir.writeBytes("prodop.dat", kOperatorTable));
    ASSERT_TRUE(read.table) << read.error;
    const OperatorTraceTable& table = *read.table;
    EXPECT_EQ(table.header.size(), 9u);
    EXPECT_EQ(table.runCount(), 5);
    EXPECT_EQ(table.fieldOf("zH0zH1"), 6) << "beyond the four columns of the numeric reader";
    EXPECT_EQ(table.columns[6][4], -3.5);
    EXPECT_EQ(table.columns[3][1], -0.045);
    EXPECT_EQ(table.columns[0][3], 1.5);
    EXPECT_EQ(table.fieldOf("xC2"), -1);

    const OperatorTraceRead missing = readOperatorTraces(dir.path() / "absent.dat");
    EXPECT_FALSE(missing.table);
    EXPECT_NE(missing.error.find("absent.dat"), std::string::npos) << missing.error;
}

// ----- Traces ------------------------------------------------------------------------------------

TEST(OperatorTracePlot, TwoOperatorsInTwoColoursWithTheirLegend)
{
    const ScratchDirectory dir;
    const OperatorTraceRead read = readOperatorTraces(dir.writeBytes("prodop.dat", kOperatorTable));
    ASSERT_TRUE(read.table);
    PictureBox box(kTraceWidth, kTraceHeight);
    const TracePlotLayout layout = drawOperatorTraces(box, *read.table, {.operators = {"xH0", "yH0"}});
    ASSERT_TRUE(layout.drawn);
    const QImage& image = box.image();

    // The traces: xH0 falls from the top left to the bottom right, yH0 stays at the bottom.
    const int traceRight = static_cast<int>((2.0 - layout.left) / layout.width * kTraceWidth);
    EXPECT_GT(findColour(image, 0, traceRight, kBlack).count, 100) << "xH0 in the first colour";
    EXPECT_GT(findColour(image, 0, traceRight, kBlue).count, 100) << "yH0 in the second";
    EXPECT_EQ(findColour(image, 0, kTraceWidth - 1, kGreen).count, 0) << "zH0 was not chosen";

    // The legend, right of the traces: the names in the same colours (smoothed text: shades of
    // them on white), xH0 above yH0.
    const Found blackName = findShade(image, traceRight + 8, kTraceWidth - 1, kBlack);
    const Found blueName = findShade(image, traceRight + 8, kTraceWidth - 1, kBlue);
    ASSERT_GT(blackName.count, 10);
    ASSERT_GT(blueName.count, 10);
    EXPECT_LT(blackName.firstRow, blueName.firstRow);
    EXPECT_LT(blueName.firstRow, kTraceHeight / 4) << "at the top";
}

TEST(OperatorTracePlot, PointsLieAtTheirArrayedValueAndCoefficient)
{
    const ScratchDirectory dir;
    const OperatorTraceRead read = readOperatorTraces(dir.writeBytes("prodop.dat", kOperatorTable));
    ASSERT_TRUE(read.table);
    PictureBox box(kTraceWidth, kTraceHeight);
    const TracePlotLayout layout = drawOperatorTraces(box, *read.table, {.operators = {"xH0"}});
    ASSERT_TRUE(layout.drawn);
    // Run 2: d1 = 1, xH0 = 0, half way between the extremes +-10000, where the layout puts d1 = 1
    // and a coefficient of 0.
    const int column = static_cast<int>((1.0 - layout.left) / layout.width * kTraceWidth);
    const int row = static_cast<int>((0.0 - layout.top) / layout.height * kTraceHeight);
    EXPECT_EQ(box.image().pixelColor(column, row), kBlack);
    EXPECT_EQ(box.image().pixelColor(column, row - 4), kWhite);
    EXPECT_EQ(box.image().pixelColor(column, row + 4), kWhite);
}

TEST(OperatorTracePlot, NamesTheTableDoesNotHoldDrawNothing)
{
    const ScratchDirectory dir;
    const OperatorTraceRead read = readOperatorTraces(dir.writeBytes("prodop.dat", kOperatorTable));
    ASSERT_TRUE(read.table);
    PictureBox box(kTraceWidth, kTraceHeight);
    box.line(0.0, 0.0, 7800.0, 2650.0);
    EXPECT_FALSE(drawOperatorTraces(box, *read.table, {.operators = {"xC9", "d1"}}).drawn);
    EXPECT_EQ(findColour(box.image(), 0, kTraceWidth - 1, kWhite).count, kTraceWidth * kTraceHeight);
}

// ----- Cursor ------------------------------------------------------------------------------------

TEST(OperatorTraceCursor, TheNearestRunItsValueAndTheUnitOfTheArrayedParameter)
{
    const ScratchDirectory dir;
    const OperatorTraceRead read = readOperatorTraces(dir.writeBytes("prodop.dat", kOperatorTable));
    ASSERT_TRUE(read.table);
    PictureBox box(kTraceWidth, kTraceHeight);
    const TracePlotLayout layout = drawOperatorTraces(box, *read.table, {.operators = {"xH0"}});
    const auto pixelOf = [&](double arrayed) { return (arrayed - layout.left) / layout.width * kTraceWidth; };

    TraceAxis axis{.arrayedName = "d1", .arrayedIndex = 15, .arraySize = 4};
    std::optional<TraceCursor> cursor = traceCursor(*read.table, layout, pixelOf(1.1), axis);
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->run, 2);
    EXPECT_EQ(cursor->text, "1ms");
    EXPECT_EQ(traceCursor(*read.table, layout, pixelOf(1.4), axis)->text, "1.5ms");
    EXPECT_EQ(traceCursor(*read.table, layout, 0.0, axis)->run, 0);
    EXPECT_EQ(traceCursor(*read.table, layout, kTraceWidth - 1, axis)->run, 4)
        << "the legend side: the last run";

    axis.arraySize = 1;
    cursor = traceCursor(*read.table, layout, pixelOf(2.0), axis);
    EXPECT_EQ(cursor->run, 1) << "clamped to Ni";
    EXPECT_EQ(cursor->text, "0.5ms");

    axis.arraySize = 4;
    const auto unitAt = [&](const char* name, int index) {
        return traceCursor(*read.table, layout, pixelOf(0.5), {name, index, 4})->text;
    };
    // The arrayed parameter's own unit, as the axis title gives it: a pulse length in microseconds.
    EXPECT_EQ(unitAt("Ncycle", 0), "0.5cycles");
    EXPECT_EQ(unitAt("p2", 2), "0.5us");
    EXPECT_EQ(unitAt("s1_hs.RF", 51), "0.5us");
    EXPECT_EQ(unitAt("d10", 20), "0.5ms");
    EXPECT_EQ(unitAt("o1", 31), "0.5Hz");
    EXPECT_EQ(unitAt("T1", 0), "0.5ms");
    EXPECT_EQ(unitAt("g1", 21), "0.5 (0.1 uT across the sample)");
    EXPECT_EQ(arrayedAxisTitle("p2", 2), "p2 (us)");

    EXPECT_FALSE(traceCursor(*read.table, TracePlotLayout{}, 10.0, axis)) << "nothing drawn";
}

TEST(OperatorTraceCursor, TheValueIsCutToThreeDecimals)
{
    const ScratchDirectory dir;
    const OperatorTraceRead read =
        readOperatorTraces(dir.writeBytes("prodop.dat", "d1\tzH0\tflip_z\tflip_xy\r\n"
                                                        "-0.0005\t1\t0\t0\r\n"
                                                        "0.12345\t2\t0\t0\r\n"
                                                        "-1.23456\t3\t0\t0\r\n"));
    ASSERT_TRUE(read.table);
    PictureBox box(kTraceWidth, kTraceHeight);
    const TracePlotLayout layout = drawOperatorTraces(box, *read.table, {.operators = {"zH0"}});
    const auto textAt = [&](double arrayed) {
        const double pixel = (arrayed - layout.left) / layout.width * kTraceWidth;
        return traceCursor(*read.table, layout, pixel, {"d1", 15, 2})->text;
    };
    EXPECT_EQ(textAt(0.12345), "0.123ms");
    EXPECT_EQ(textAt(-1.23456), "-1.234ms");
    EXPECT_EQ(textAt(-0.0005), "0ms");
}

// ----- Data-file viewer --------------------------------------------------------------------------

TEST(DataFilePlot, CommentsAreNoDataAndAnEmptyLineEndsTheReading)
{
    const ScratchDirectory dir;
    const auto file = dir.writeBytes("a_X.dat", "# x of the FID\r\n"
                                                "1\t10\t20\r\n"
                                                "2\t30\tabc\r\n"
                                                "3\t50\t60\r\n"
                                                "\r\n"
                                                "4\t70\t80\r\n");
    const DataFileViewRead read = readDataFileView(file, "*.dat");
    ASSERT_TRUE(read.view) << read.error;
    const DataFileView& view = *read.view;
    EXPECT_EQ(view.lines,
              (std::vector<std::string>{"# x of the FID", "1\t10\t20", "2\t30\tabc", "3\t50\t60"}));
    EXPECT_EQ(view.firstField, 2) << "field 1 of a *.dat file is an index";
    ASSERT_EQ(view.columns.size(), 2u);
    EXPECT_EQ(view.columns[0], (std::vector<double>{10, 30, 50}));
    EXPECT_EQ(view.columns[1], (std::vector<double>{20, 60})) << "a field that is no number takes no place";
    EXPECT_EQ(view.minimum, 10.0);
    EXPECT_EQ(view.maximum, 60.0);

    const DataFileViewRead all = readDataFileView(file, "*.dat;*.rf;*.RF");
    ASSERT_TRUE(all.view);
    EXPECT_EQ(all.view->firstField, 1);
    EXPECT_EQ(all.view->columns.size(), 3u);
    EXPECT_EQ(all.view->minimum, 1.0);

    EXPECT_FALSE(readDataFileView(dir.path() / "absent.dat", "*.dat").view);
}

TEST(DataFilePlot, AtMostFourteenFieldsAndTheRangeStartsAt110111)
{
    const ScratchDirectory dir;
    std::string line;
    for (int field = 1; field <= 16; ++field)
        line += (field > 1 ? "\t" : "") + std::to_string(200000 + field);
    const DataFileViewRead read = readDataFileView(dir.writeBytes("wide.dat", line + "\r\n"), "*.dat");
    ASSERT_TRUE(read.view);
    // Fields 2..14; the 14th holds "200014\t200015\t200016", which is no number.
    ASSERT_EQ(read.view->columns.size(), 13u);
    EXPECT_EQ(read.view->columns[11], std::vector<double>{200013});
    EXPECT_TRUE(read.view->columns[12].empty());
    EXPECT_EQ(read.view->maximum, 200013.0);
    EXPECT_EQ(read.view->minimum, 110111.0) << "values above the starting minimum never lower it";

    const DataFileViewRead low = readDataFileView(dir.writeBytes("low.dat", "1\t-200000\r\n"), "*.dat");
    ASSERT_TRUE(low.view);
    EXPECT_EQ(low.view->maximum, -110111.0);
}

TEST(DataFilePlot, ReadingEndsWithTheDataLineThatMakesMoreThan8500)
{
    const ScratchDirectory dir;
    std::string text = "# header\r\n";
    for (int row = 1; row <= 9000; ++row)
        text += std::to_string(row) + "\t" + std::to_string(row % 7) + "\r\n";
    const DataFileViewRead read = readDataFileView(dir.writeBytes("long.dat", text), "*.dat");
    ASSERT_TRUE(read.view);
    EXPECT_EQ(read.view->columns[0].size(), 8501u);
    EXPECT_EQ(read.view->lines.size(), 8502u);
}

TEST(DataFilePlot, EachFieldInItsColourAsMarkedPointsJoinedByLines)
{
    // Three rows; fields 2, 3, 4 constant at 10, 50 and 90.
    const ScratchDirectory dir;
    const auto file = dir.writeBytes("three.dat", "1\t10\t50\t90\r\n2\t10\t50\t90\r\n3\t10\t50\t90\r\n");
    const int width = 300;
    const int height = 100;
    const auto pixelAt = [&](double row, double value) {
        // Rows 0..2 centred in thirds of the width; 90 at the top edge, 10 at the bottom edge.
        return QPoint(static_cast<int>((row + 0.5) / 3.0 * width),
                      static_cast<int>((90.0 - value) / 80.0 * height));
    };

    const DataFileViewRead dat = readDataFileView(file, "*.dat");
    ASSERT_TRUE(dat.view);
    PictureBox box(width, height);
    drawDataFileView(box, *dat.view);
    for (double row : {0.0, 1.0, 1.5, 2.0})
        EXPECT_EQ(box.image().pixelColor(pixelAt(row, 50.0)), kBlue) << "field 3, row " << row;
    // Field 2 lies on the bottom edge: the upper halves of its marks show.
    for (double row : {0.0, 1.0, 2.0})
        EXPECT_EQ(box.image().pixelColor(pixelAt(row, 10.0) - QPoint(0, 1)), kBlack)
            << "field 2, row " << row;
    EXPECT_EQ(box.image().pixelColor(pixelAt(1.0, 90.0)), kGreen) << "field 4";
    // A mark is a dot of some 4 pixels across (radius 10 twips, line width 3); the lines are thin.
    const QPoint mark = pixelAt(1.0, 50.0);
    EXPECT_EQ(box.image().pixelColor(mark + QPoint(0, 1)), kBlue);
    EXPECT_EQ(box.image().pixelColor(pixelAt(1.5, 50.0) + QPoint(0, 2)), kWhite);

    // Any other pattern plots from field 1: field 1 black, field 2 (127, 0, 127), field 3 blue.
    const DataFileViewRead all = readDataFileView(file, "*.*");
    ASSERT_TRUE(all.view);
    drawDataFileView(box, *all.view);
    const auto at = [&](double row, double value) {
        // Now the values run from 1 (bottom) to 90 (top).
        return QPoint(static_cast<int>((row + 0.5) / 3.0 * width),
                      static_cast<int>((90.0 - value) / 89.0 * height));
    };
    EXPECT_EQ(box.image().pixelColor(at(1.0, 10.0)), QColor(127, 0, 127));
    EXPECT_EQ(box.image().pixelColor(at(1.0, 50.0)), kBlue);
    EXPECT_EQ(box.image().pixelColor(at(1.0, 90.0)), kGreen);
    EXPECT_EQ(box.image().pixelColor(at(1.0, 2.0)), kBlack) << "field 1: 1, 2, 3";
}

TEST(DataFilePlot, FieldColoursFollowTheFieldNumber)
{
    EXPECT_EQ(viewerFieldColor(2, 2), kBlack);
    EXPECT_EQ(viewerFieldColor(1, 1), kBlack);
    EXPECT_EQ(viewerFieldColor(2, 1), QColor(127, 0, 127)) << "field 2 has no colour of its own";
    EXPECT_EQ(viewerFieldColor(13, 2), QColor(0, 127, 127));
    EXPECT_EQ(viewerFieldColor(14, 2), QColor(127, 0, 127));
}

// The traces once took the viewer's bright green, yellow and cyan, which do not read on white.
TEST(OperatorTracePlot, TraceColoursReadOnWhiteAndDiffer)
{
    EXPECT_EQ(traceColor(0), kBlack);
    for (int k = 0; k < 12; ++k) {
        EXPECT_LE(traceColor(k).lightness(), 128) << "trace " << k;
        for (int j = 0; j < k; ++j)
            EXPECT_NE(traceColor(k), traceColor(j)) << k << " and " << j;
    }
}

}  // namespace
}  // namespace velmora::render
