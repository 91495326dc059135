// The one reader of numeric text tables: array files, shaped pulses (.RF), gradient shapes (.GRD)
// and experimental data all go through it into a row-by-column buffer of doubles.
#pragma once

#include "util/messages.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::pulses {

// The reader's buffer: rows 0..kLastRow, kColumns columns, zero where nothing was stored.
// Rows are allocated as they are written, so a short table costs only its own rows.
class NumericBuffer {
public:
    static constexpr int kLastRow = 200000;
    static constexpr int kColumns = 4;

    // 0 for rows never written and for rows outside 0..kLastRow.
    // Throws std::out_of_range for a column outside 0..kColumns-1.
    double at(int row, int column) const;

    // Throws std::out_of_range for a row outside 0..kLastRow or a column outside 0..kColumns-1.
    void set(int row, int column, double value);

    // Every cell back to zero; no row stays allocated.
    void clear();

    // Rows 0..rowsAllocated()-1 are held in memory; the rest read as zero.
    int rowsAllocated() const;

private:
    std::vector<std::array<double, kColumns>> rows_;
};

struct NumericReadRequest {
    std::filesystem::path path;
    int firstRow = 0;      // first row to fill, 0..NumericBuffer::kLastRow
    int maxRow = 2000000;  // reading stops once the next row would lie beyond it
    int headerLines = 0;   // lines skipped unread at the start
};

struct NumericReadResult {
    // False when the file is missing or cannot be read: "check the address " was shown and nothing
    // was read.
    bool fileFound = false;
    // One past the last row filled; firstRow when nothing was read.
    int nextRow = 0;
    // Every comment line (first character "#", or empty) followed by "\r" (character 13).
    std::string comments;
    // Reading stopped with "it is too big" at maxRow or at the end of the buffer.
    bool tooBig = false;
};

// Largest file the reader accepts, in bytes.
inline constexpr std::uintmax_t kMaxNumericTableBytes = 64u << 20;

// Reads the table at request.path into `buffer`, one data line per row from request.firstRow on.
//
// Lines: a UTF-8 signature (EF BB BF) at the start of the file is not part of the first line. The
// first request.headerLines lines are skipped unread. Trailing CRs are removed from each line. A
// line that is empty or starts with "#" is a comment: it goes to `comments` and takes no row. Every
// other line takes exactly one row, even when it stores nothing.
//
// Fields: the line is cut at the first blank of the remaining text, or at the first tab only once no
// blank remains, so a tab that precedes a blank stays inside a field. Empty fields (runs of
// separators) are skipped. Every field but the last is stored as a double; the last field of the
// line is stored rounded to single precision. At most kColumns fields are stored; later ones are
// ignored.
//
// A field that is not a number stores nothing but still takes its column, so the numbers after it
// keep their positions ("1 x 3" stores 1 in column 0 and 3 in column 2). Cells not stored keep
// whatever the buffer held before; callers that reuse a buffer clear it first.
//
// Messages, all titled "Error!": "check the address " + path when the file is missing (followed by
// a line break and the reason when it exists but cannot be read or exceeds kMaxNumericTableBytes);
// "it is too big" when the row after a data line exceeds request.maxRow or the buffer's last row,
// which ends reading with the rows read so far kept. A firstRow outside 0..NumericBuffer::kLastRow
// is refused with a message naming the file and the row; nothing is read.
NumericReadResult readNumericTable(const NumericReadRequest& request, NumericBuffer& buffer,
                                   util::Messages& messages);

}  // namespace velmora::pulses
