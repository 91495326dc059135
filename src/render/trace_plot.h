// Traces against the run: the product operators chosen in the operator list, read back from the
// operator table "prodop.dat" and drawn against the arrayed value with a legend of their names;
// and the data-file viewer, which draws every column of a result file against its row number.
// Both mark each point with a small circle and join the points with thin lines, each column in a
// colour of its own; the cursor over the trace box reads the run and its arrayed value.
#pragma once

#include "render/picture_box.h"

#include <QColor>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::render {

// ----- Colours -----------------------------------------------------------------------------------

// The viewer's colour of field `field` (1-based) of a file whose plotted fields start at
// `firstField`: the first plotted field black; fields 3..13 (0,0,255), (0,255,0), (255,0,0),
// (255,255,0), (0,255,255), (255,0,255), (0,0,127), (0,127,0), (127,0,0), (127,127,0), (0,127,127);
// any other field (127,0,127).
QColor viewerFieldColor(int field, int firstField);

// The colour of the k-th trace (0-based): black, (0,0,255), (0,140,0), (210,0,0), (150,110,0),
// (0,130,140), (180,0,180), (0,0,127), (0,90,0), (127,0,0), (100,100,0), (0,100,110), then again;
// all dark enough to read on the white ground.
QColor traceColor(int k);

// ----- Operator traces ---------------------------------------------------------------------------

// The operator table as the trace plot reads it.
struct OperatorTraceTable {
    // The header's fields: the arrayed parameter, the operator names, "flip_z", "flip_xy".
    std::vector<std::string> header;
    // columns[field][run]; NaN where a field is not a number or is missing.
    std::vector<std::vector<double>> columns;

    int runCount() const { return columns.empty() ? 0 : static_cast<int>(columns.front().size()); }
    // The field of a header name; -1 when the table has none.
    int fieldOf(std::string_view name) const;
};

struct OperatorTraceRead {
    std::optional<OperatorTraceTable> table;
    std::string error;  // why the file could not be read (table empty)
};

// Reads "prodop.dat": the first line as the header, every later non-empty line as one run, fields
// split at tabs. All fields are kept: the table may hold up to 400 operators.
OperatorTraceRead readOperatorTraces(const std::filesystem::path& file);

// The title of the operator traces, on the screen and in plotOper.
inline constexpr const char* kOperatorTracesTitle = "product operators at the point step, against the arrayed value";

struct TracePlotSettings {
    // The operators chosen in the operator list, drawn in this order in traceColor(0), (1), ...;
    // names the table does not hold are passed over.
    std::vector<std::string> operators;
    // Twips per pixel of the box: marks and legend are laid out in twips.
    double twipsPerPixel = kTwipsPerPixel;
    // What the picture shows, at its top centre; none drawn when empty.
    std::string title{};
    // The title of the arrayed value's axis, "d1 (ms)"; none drawn when empty.
    std::string horizontalTitle{};
};

// The arrayed parameter's unit: the element's unit (us for pulses, ms for delays, ...), ms for T1,
// T2 and Tcr, 1/s for Kex; empty when it has none.
std::string arrayedUnit(std::string_view arrayedName, int arrayedIndex);

// "NAME (UNIT)" for the arrayed parameter's axis; the name alone when it has no unit.
std::string arrayedAxisTitle(std::string_view arrayedName, int arrayedIndex);

// Where the trace plot put the arrayed values, for the cursor readout.
struct TracePlotLayout {
    bool drawn = false;
    double left = 0.0;   // the arrayed value at the left edge of the box
    double width = 1.0;  // the arrayed values across the whole box width
    int boxWidthPx = 0;
    double top = 1.0;      // the coefficient at the top edge of the box
    double height = -1.0;  // the coefficients down the whole box height (negative: they fall)
};

// Clears the box (white) and draws each chosen operator's coefficients against the arrayed value
// (field 0), the points marked as in the data-file viewer, with a grey zero line, grey marks and
// values of both axes along the bottom and the left edge, their titles, and, in columns
// at the right edge that the traces leave free, a legend of the names in their colours. Not drawn
// (the box left cleared) when no chosen operator is in the table or the table has no runs. Text
// needs a QGuiApplication.
TracePlotLayout drawOperatorTraces(PictureBox& box, const OperatorTraceTable& table,
                                   const TracePlotSettings& settings);

// The arrayed parameter of the run, for the cursor readout.
struct TraceAxis {
    std::string arrayedName;  // "d1", "Ncycle", ...
    int arrayedIndex = 0;     // element index of the arrayed parameter
    int arraySize = 0;        // Ni
};

struct TraceCursor {
    int run = 0;
    double value = 0.0;  // the run's arrayed value cut to three decimals
    std::string text;    // value and unit: "2.5ms", "12us", "3cycles"
};

// The run whose point lies nearest to the cursor at pixel column `pixelX` of the box that
// drawOperatorTraces laid out, clamped to 0..Ni, with its arrayed value followed by the arrayed
// parameter's unit (arrayedUnit, the unit of the axis title; a unit of several words in brackets
// after a space). None when the plot was not drawn or the table has no runs.
std::optional<TraceCursor> traceCursor(const OperatorTraceTable& table, const TracePlotLayout& layout,
                                       double pixelX, const TraceAxis& axis);

// ----- Data-file viewer --------------------------------------------------------------------------

inline constexpr int kViewerMostFields = 14;
inline constexpr int kViewerMostDataLines = 8500;
// The range the viewer starts from before it sees a value: minimum 110111, maximum -110111.
inline constexpr double kViewerRangeStart = 110111.0;

struct DataFileView {
    // The lines taken, comments included, in order (for the results list).
    std::vector<std::string> lines;
    // The first plotted field (1-based): 2 for the pattern "*.dat" (field 1 is an index), else 1.
    int firstField = 2;
    // columns[k]: the numbers of field firstField + k in line order. A field that is not a number
    // holds no place: the same field of the next line takes it.
    std::vector<std::vector<double>> columns;
    double minimum = kViewerRangeStart;   // of every number plotted, starting from 110111
    double maximum = -kViewerRangeStart;  // starting from -110111
};

struct DataFileViewRead {
    std::optional<DataFileView> view;
    std::string error;  // why the file could not be read (view empty)
};

// Reads a result file for the viewer: lines starting with "#" are no data, an empty line ends the
// reading, so does the data line that makes more than 8500; each data line is split at tabs into
// at most 14 fields (the last keeps the rest of the line).
DataFileViewRead readDataFileView(const std::filesystem::path& file, std::string_view pattern);

// Clears the box (white) and draws every column point by point, row number across, value from the
// minimum (bottom edge) to the maximum (top edge): a circle of radius 10 twips with line width 3 at
// each point and, from the second point on, a line of width 1 from the previous one, in
// viewerFieldColor of its field. Nothing but the clearing when no number was read.
void drawDataFileView(PictureBox& box, const DataFileView& view, double twipsPerPixel = kTwipsPerPixel);

}  // namespace velmora::render
