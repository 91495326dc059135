// Numeric table reading: the whole file is taken as lines, then each data line is cut into fields
// with string views over the line, so no field is copied and the work per line grows with its
// length only, however many separators it holds.
#include "pulses/numeric_table.h"

#include "util/numeric_text.h"
#include "util/text_file.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace velmora::pulses {

namespace {

constexpr std::string_view kErrorTitle = "Error!";

void checkColumn(int column)
{
    if (column < 0 || column >= NumericBuffer::kColumns)
        throw std::out_of_range("numeric buffer column " + std::to_string(column) + " outside 0.." +
                                std::to_string(NumericBuffer::kColumns - 1));
}

std::string_view withoutTrailingCr(std::string_view line)
{
    while (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// Stores the fields of one data line into `row`, as described in the header.
void storeDataLine(std::string_view rest, int row, NumericBuffer& buffer)
{
    int column = 0;
    // Once the remaining text holds no blank it never will again; remembering that keeps a line of
    // many tabs from being searched for blanks over and over.
    bool blankLeft = true;
    while (column < NumericBuffer::kColumns) {
        std::size_t cut = std::string_view::npos;
        if (blankLeft) {
            cut = rest.find(' ');
            blankLeft = cut != std::string_view::npos;
        }
        if (!blankLeft)
            cut = rest.find('\t');
        if (cut == std::string_view::npos) {
            if (const std::optional<double> value = util::parseSingle(rest))
                buffer.set(row, column, *value);
            return;
        }
        const std::string_view field = rest.substr(0, cut);
        rest.remove_prefix(cut + 1);
        if (field.empty())
            continue;
        if (const std::optional<double> value = util::parseNumber(field))
            buffer.set(row, column, *value);
        ++column;
    }
}

}  // namespace

double NumericBuffer::at(int row, int column) const
{
    checkColumn(column);
    if (row < 0 || row >= rowsAllocated())
        return 0.0;
    return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void NumericBuffer::set(int row, int column, double value)
{
    checkColumn(column);
    if (row < 0 || row > kLastRow)
        throw std::out_of_range("numeric buffer row " + std::to_string(row) + " outside 0.." +
                                std::to_string(kLastRow));
    const auto index = static_cast<std::size_t>(row);
    if (index >= rows_.size())
        rows_.resize(index + 1, std::array<double, kColumns>{});
    rows_[index][static_cast<std::size_t>(column)] = value;
}

void NumericBuffer::clear()
{
    rows_.clear();
}

int NumericBuffer::rowsAllocated() const
{
    return static_cast<int>(rows_.size());
}

NumericReadResult readNumericTable(const NumericReadRequest& request, NumericBuffer& buffer,
                                   util::Messages& messages)
{
    NumericReadResult result;
    result.nextRow = request.firstRow;

    const std::string address = "check the address " + request.path.string();
    if (!util::fileExists(request.path)) {
        messages.show(address, kErrorTitle);
        return result;
    }
    result.fileFound = true;

    if (request.firstRow < 0 || request.firstRow > NumericBuffer::kLastRow) {
        messages.show("cannot read " + request.path.string() + " into row " +
                          std::to_string(request.firstRow) + ": the table rows run from 0 to " +
                          std::to_string(NumericBuffer::kLastRow),
                      kErrorTitle);
        return result;
    }

    int row = request.firstRow;
    int headerLinesLeft = std::max(request.headerLines, 0);
    bool firstLine = true;
    const util::Outcome read =
        util::visitTextLines(request.path, kMaxNumericTableBytes, [&](std::string_view raw) {
            // A signature left in would turn a first comment line ("# mother 256 #") into a data row
            // of nothing, one element too many that shifts every element after it.
            if (std::exchange(firstLine, false))
                raw = util::withoutUtf8Signature(raw);
            if (headerLinesLeft > 0) {
                --headerLinesLeft;
                return true;
            }
            const std::string_view line = withoutTrailingCr(raw);
            if (line.empty() || line.front() == '#') {
                result.comments += line;
                result.comments += '\r';
                return true;
            }
            storeDataLine(line, row, buffer);
            ++row;
            if (row > request.maxRow || row > NumericBuffer::kLastRow) {
                messages.show("it is too big", kErrorTitle);
                result.tooBig = true;
                return false;
            }
            return true;
        });
    if (!read) {
        result.fileFound = false;
        messages.show(address + "\n" + read.message(), kErrorTitle);
        return result;
    }
    result.nextRow = row;
    return result;
}

}  // namespace velmora::pulses
