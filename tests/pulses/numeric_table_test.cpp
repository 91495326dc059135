// The numeric table reader: field splitting at blanks and tabs, comment and data lines, the row
// bounds of the caller and of the buffer, missing files, and input that is not a table at all.
#include "pulses/numeric_table.h"
#include "support/scratch_directory.h"
#include "util/messages.h"
#include "util/rounding.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmora::pulses {
namespace {

namespace fs = std::filesystem;
using util::RecordedMessages;
using util::toSingle;
using velmora::testing::ScratchDirectory;

using namespace std::string_literals;

// One read of `bytes` written to a scratch file, with everything the reader produced.
struct Reading {
    ScratchDirectory dir;
    NumericBuffer buffer;
    RecordedMessages messages;
    NumericReadResult result;
    fs::path file;

    explicit Reading(std::string_view bytes, int firstRow = 0, int maxRow = 2000000, int headerLines = 0)
    {
        file = dir.writeBytes("table.dat", bytes);
        result = readNumericTable({file, firstRow, maxRow, headerLines}, buffer, messages);
    }
};

// ----- NumericBuffer ---------------------------------------------------------------------------------

TEST(NumericTableBuffer, GrowsOnlyToTheRowsWritten)
{
    NumericBuffer buffer;
    EXPECT_EQ(buffer.rowsAllocated(), 0);
    EXPECT_EQ(buffer.at(0, 0), 0.0);

    buffer.set(5, 2, 1.25);

    EXPECT_EQ(buffer.rowsAllocated(), 6);
    EXPECT_EQ(buffer.at(5, 2), 1.25);
    EXPECT_EQ(buffer.at(5, 1), 0.0);
    EXPECT_EQ(buffer.at(3, 2), 0.0);
    EXPECT_EQ(buffer.at(6, 2), 0.0);
    EXPECT_EQ(buffer.at(-1, 2), 0.0);
    EXPECT_EQ(buffer.at(NumericBuffer::kLastRow + 1, 2), 0.0);

    buffer.set(NumericBuffer::kLastRow, 3, -2.0);
    EXPECT_EQ(buffer.at(NumericBuffer::kLastRow, 3), -2.0);
    EXPECT_EQ(buffer.rowsAllocated(), NumericBuffer::kLastRow + 1);

    buffer.clear();
    EXPECT_EQ(buffer.rowsAllocated(), 0);
    EXPECT_EQ(buffer.at(5, 2), 0.0);
}

TEST(NumericTableBuffer, RefusesCellsOutsideTheTable)
{
    NumericBuffer buffer;
    EXPECT_THROW(buffer.set(-1, 0, 1.0), std::out_of_range);
    EXPECT_THROW(buffer.set(NumericBuffer::kLastRow + 1, 0, 1.0), std::out_of_range);
    EXPECT_THROW(buffer.set(0, -1, 1.0), std::out_of_range);
    EXPECT_THROW(buffer.set(0, NumericBuffer::kColumns, 1.0), std::out_of_range);
    EXPECT_THROW(static_cast<void>(buffer.at(0, NumericBuffer::kColumns)), std::out_of_range);
    EXPECT_EQ(buffer.rowsAllocated(), 0);
}

// ----- Fields of a data line -------------------------------------------------------------------------

TEST(NumericTableFields, RunsOfBlanksAndATabSeparateFields)
{
    const Reading r("  10   20\t30\r\n");

    EXPECT_TRUE(r.result.fileFound);
    EXPECT_EQ(r.result.nextRow, 1);
    EXPECT_EQ(r.buffer.at(0, 0), 10.0);
    EXPECT_EQ(r.buffer.at(0, 1), 20.0);
    EXPECT_EQ(r.buffer.at(0, 2), toSingle(30.0));
    EXPECT_EQ(r.buffer.at(0, 3), 0.0);
    EXPECT_TRUE(r.messages.entries.empty());
}

TEST(NumericTableFields, OnlyTheLastFieldIsRoundedToSinglePrecision)
{
    ASSERT_NE(toSingle(0.1), 0.1);
    const Reading r("0.1 0.1\t0.1\r\n0.1\r\n");

    EXPECT_EQ(r.buffer.at(0, 0), 0.1);
    EXPECT_EQ(r.buffer.at(0, 1), 0.1);
    EXPECT_EQ(r.buffer.at(0, 2), toSingle(0.1));
    EXPECT_EQ(r.buffer.at(1, 0), toSingle(0.1));
}

TEST(NumericTableFields, OnlyFourFieldsAreStored)
{
    const Reading r("1 2 3 4.1 5 6\r\n7\r\n");

    EXPECT_EQ(r.result.nextRow, 2);
    EXPECT_EQ(r.buffer.at(0, 0), 1.0);
    EXPECT_EQ(r.buffer.at(0, 1), 2.0);
    EXPECT_EQ(r.buffer.at(0, 2), 3.0);
    // The fourth field is not the line's last, so it keeps double precision.
    EXPECT_EQ(r.buffer.at(0, 3), 4.1);
    EXPECT_EQ(r.buffer.at(1, 0), 7.0);
    EXPECT_TRUE(r.messages.entries.empty());
}

TEST(NumericTableFields, FieldsThatAreNotNumbersKeepTheColumnsOfLaterNumbers)
{
    ScratchDirectory dir;
    const fs::path file = dir.writeBytes("table.dat", "1 x 3\r\n2 5 abc\r\n");
    NumericBuffer buffer;
    buffer.set(0, 1, 7.0);
    buffer.set(1, 2, 8.0);
    RecordedMessages messages;

    const NumericReadResult result = readNumericTable({file, 0, 2000000, 0}, buffer, messages);

    EXPECT_EQ(result.nextRow, 2);
    EXPECT_EQ(buffer.at(0, 0), 1.0);
    EXPECT_EQ(buffer.at(0, 1), 7.0);  // not a number: the cell keeps what it held
    EXPECT_EQ(buffer.at(0, 2), toSingle(3.0));
    EXPECT_EQ(buffer.at(1, 0), 2.0);
    EXPECT_EQ(buffer.at(1, 1), 5.0);
    EXPECT_EQ(buffer.at(1, 2), 8.0);
    EXPECT_TRUE(messages.entries.empty());
}

TEST(NumericTableFields, ATabBeforeABlankStaysInsideTheField)
{
    // Cut at the blank first: "1\t2" is one field, and not a number.
    const Reading r("1\t2 3\r\n");

    EXPECT_EQ(r.buffer.at(0, 0), 0.0);
    EXPECT_EQ(r.buffer.at(0, 1), toSingle(3.0));
    EXPECT_EQ(r.buffer.at(0, 2), 0.0);
}

TEST(NumericTableFields, StrayCarriageReturnsAtTheLineEndDoNotSpoilTheLastNumber)
{
    // A CR CR LF line end, and a last line ended by a lone CR.
    const Reading r("1 2.5\r\r\n3 0.25\r"s);

    EXPECT_EQ(r.result.nextRow, 2);
    EXPECT_EQ(r.buffer.at(0, 1), 2.5);
    EXPECT_EQ(r.buffer.at(1, 0), 3.0);
    EXPECT_EQ(r.buffer.at(1, 1), 0.25);
}

// ----- Comment and data lines ------------------------------------------------------------------------

TEST(NumericTableLines, CommentsAreCollectedAndDataLinesFillRowsFromTheFirstRow)
{
    const Reading r("# mother 256 #\r\n# TYPE selective #\r\n1.5\t1023\t1\r\n#\r\n-90\t0\t1\r\n", 1);

    EXPECT_EQ(r.result.nextRow, 3);
    EXPECT_EQ(r.result.comments, "# mother 256 #\r# TYPE selective #\r#\r");
    EXPECT_EQ(r.buffer.at(0, 0), 0.0);
    EXPECT_EQ(r.buffer.at(1, 0), 1.5);
    EXPECT_EQ(r.buffer.at(1, 1), 1023.0);
    EXPECT_EQ(r.buffer.at(1, 2), 1.0);
    EXPECT_EQ(r.buffer.at(2, 0), -90.0);
    EXPECT_EQ(r.buffer.at(2, 1), 0.0);
    EXPECT_EQ(r.buffer.at(2, 2), 1.0);
    EXPECT_TRUE(r.messages.entries.empty());
}

TEST(NumericTableLines, AnEmptyLineIsACommentNotARow)
{
    const Reading r("1\r\n\r\n2\r\n");

    EXPECT_EQ(r.result.nextRow, 2);
    EXPECT_EQ(r.buffer.at(0, 0), 1.0);
    EXPECT_EQ(r.buffer.at(1, 0), 2.0);
    EXPECT_EQ(r.result.comments, "\r");
}

TEST(NumericTableLines, ADataLineWithoutNumbersStillTakesARow)
{
    const Reading r("abc\r\n5\r\n");

    EXPECT_EQ(r.result.nextRow, 2);
    for (int column = 0; column < NumericBuffer::kColumns; ++column)
        EXPECT_EQ(r.buffer.at(0, column), 0.0) << "column " << column;
    EXPECT_EQ(r.buffer.at(1, 0), 5.0);
}

TEST(NumericTableLines, HeaderLinesAreSkippedUnread)
{
    const Reading r("9 9\r\n# skipped\r\n1 2\r\n# kept\r\n", 0, 2000000, 2);

    EXPECT_EQ(r.result.nextRow, 1);
    EXPECT_EQ(r.buffer.at(0, 0), 1.0);
    EXPECT_EQ(r.buffer.at(0, 1), 2.0);
    EXPECT_EQ(r.result.comments, "# kept\r");

    const Reading allHeader("1\r\n2\r\n", 4, 2000000, 5);
    EXPECT_TRUE(allHeader.result.fileFound);
    EXPECT_EQ(allHeader.result.nextRow, 4);
    EXPECT_EQ(allHeader.buffer.rowsAllocated(), 0);
}

TEST(NumericTableLines, AUtf8SignatureLeavesTheFirstCommentACommentAndAddsNoRow)
{
    const Reading r("\xEF\xBB\xBF# mother 2 #\r\n0 1023 1\r\n90 511 1\r\n", 1);

    EXPECT_EQ(r.result.nextRow, 3);
    EXPECT_EQ(r.result.comments, "# mother 2 #\r");
    EXPECT_EQ(r.buffer.at(1, 1), 1023.0);
    EXPECT_EQ(r.buffer.at(2, 0), 90.0);
}

TEST(NumericTableLines, CrLfAndLfFilesReadAlike)
{
    const Reading crlf("# gradient\r\n1.0 0.5\r\n\r\n-1.0\t0.25\r\nx 3\r\n");
    const Reading lf("# gradient\n1.0 0.5\n\n-1.0\t0.25\nx 3\n");

    EXPECT_EQ(crlf.result.nextRow, 3);
    EXPECT_EQ(lf.result.nextRow, crlf.result.nextRow);
    EXPECT_EQ(lf.result.comments, crlf.result.comments);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < NumericBuffer::kColumns; ++column)
            EXPECT_EQ(lf.buffer.at(row, column), crlf.buffer.at(row, column)) << row << "," << column;
    }
    EXPECT_EQ(lf.buffer.at(1, 1), 0.25);
    EXPECT_EQ(lf.buffer.at(2, 1), 3.0);
}

TEST(NumericTableLines, ASecondTableContinuesAtTheRowTheFirstEnded)
{
    ScratchDirectory dir;
    const fs::path first = dir.writeBytes("a.RF", "0\t1023\t1\r\n90\t1023\t1\r\n");
    const fs::path second = dir.writeBytes("b.RF", "180\t511\t1\r\n");
    NumericBuffer buffer;
    RecordedMessages messages;

    const NumericReadResult a = readNumericTable({first, 1, 2000000, 0}, buffer, messages);
    const NumericReadResult b = readNumericTable({second, a.nextRow, 2000000, 0}, buffer, messages);

    EXPECT_EQ(a.nextRow, 3);
    EXPECT_EQ(b.nextRow, 4);
    EXPECT_EQ(buffer.at(2, 0), 90.0);
    EXPECT_EQ(buffer.at(3, 0), 180.0);
    EXPECT_EQ(buffer.at(3, 1), 511.0);
    EXPECT_TRUE(messages.entries.empty());
}

// ----- Files that cannot be read ---------------------------------------------------------------------

TEST(NumericTableMissingFile, ShowsTheAddressAndChangesNothing)
{
    ScratchDirectory dir;
    const fs::path missing = dir.path() / "nowhere.RF";
    NumericBuffer buffer;
    buffer.set(5, 0, 1.5);
    RecordedMessages messages;

    const NumericReadResult result = readNumericTable({missing, 5, 2000000, 0}, buffer, messages);

    EXPECT_FALSE(result.fileFound);
    EXPECT_EQ(result.nextRow, 5);
    EXPECT_TRUE(result.comments.empty());
    EXPECT_FALSE(result.tooBig);
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].text, "check the address " + missing.string());
    EXPECT_EQ(messages.entries[0].title, "Error!");
    EXPECT_EQ(buffer.rowsAllocated(), 6);
    EXPECT_EQ(buffer.at(5, 0), 1.5);
}

TEST(NumericTableMissingFile, ADirectoryIsNotATable)
{
    ScratchDirectory dir;
    NumericBuffer buffer;
    RecordedMessages messages;

    const NumericReadResult result = readNumericTable({dir.path(), 0, 2000000, 0}, buffer, messages);

    EXPECT_FALSE(result.fileFound);
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].text, "check the address " + dir.path().string());
    EXPECT_EQ(buffer.rowsAllocated(), 0);
}

TEST(NumericTableMissingFile, AnOversizedFileShowsTheAddressAndTheReason)
{
    ScratchDirectory dir;
    const fs::path file = dir.writeBytes("huge.dat", "1\r\n");
    fs::resize_file(file, kMaxNumericTableBytes + 1);  // sparse: no data is written
    NumericBuffer buffer;
    RecordedMessages messages;

    const NumericReadResult result = readNumericTable({file, 0, 2000000, 0}, buffer, messages);

    EXPECT_FALSE(result.fileFound);
    EXPECT_EQ(result.nextRow, 0);
    ASSERT_EQ(messages.entries.size(), 1u);
    const std::string address = "check the address " + file.string() + "\n";
    EXPECT_EQ(messages.entries[0].text.substr(0, address.size()), address);
    EXPECT_GT(messages.entries[0].text.size(), address.size());
    EXPECT_EQ(messages.entries[0].title, "Error!");
    EXPECT_EQ(buffer.rowsAllocated(), 0);
}

// ----- Row bounds ------------------------------------------------------------------------------------

TEST(NumericTableTooBig, StopsAfterTheMaximumRowKeepingTheRowsRead)
{
    const Reading r("1\r\n2\r\n3\r\n4\r\n# after\r\n5\r\n", 1, 3);

    EXPECT_TRUE(r.result.tooBig);
    EXPECT_EQ(r.result.nextRow, 4);
    EXPECT_EQ(r.buffer.at(1, 0), 1.0);
    EXPECT_EQ(r.buffer.at(3, 0), 3.0);
    EXPECT_EQ(r.buffer.at(4, 0), 0.0);
    EXPECT_EQ(r.buffer.rowsAllocated(), 4);
    EXPECT_TRUE(r.result.comments.empty());
    ASSERT_EQ(r.messages.entries.size(), 1u);
    EXPECT_EQ(r.messages.entries[0].text, "it is too big");
    EXPECT_EQ(r.messages.entries[0].title, "Error!");
}

TEST(NumericTableTooBig, ReachingTheMaximumRowIsNotTooBig)
{
    const Reading r("1\r\n2\r\n", 1, 3);

    EXPECT_FALSE(r.result.tooBig);
    EXPECT_EQ(r.result.nextRow, 3);
    EXPECT_TRUE(r.messages.entries.empty());
}

TEST(NumericTableTooBig, StopsAtTheLastRowOfTheBuffer)
{
    std::string bytes;
    const int lines = NumericBuffer::kLastRow + 2;
    for (int i = 0; i < lines; ++i)
        bytes += std::to_string(i) + "\r\n";
    const Reading r(bytes);

    EXPECT_TRUE(r.result.tooBig);
    EXPECT_EQ(r.result.nextRow, NumericBuffer::kLastRow + 1);
    EXPECT_EQ(r.buffer.at(1, 0), 1.0);
    EXPECT_EQ(r.buffer.at(NumericBuffer::kLastRow, 0), NumericBuffer::kLastRow);
    EXPECT_EQ(r.buffer.rowsAllocated(), NumericBuffer::kLastRow + 1);
    ASSERT_EQ(r.messages.entries.size(), 1u);
    EXPECT_EQ(r.messages.entries[0].text, "it is too big");
    EXPECT_EQ(r.messages.entries[0].title, "Error!");
}

TEST(NumericTableTooBig, AFirstRowOnTheLastRowOfTheBufferTakesOneLine)
{
    const Reading r("4\r\n5\r\n", NumericBuffer::kLastRow);

    EXPECT_TRUE(r.result.tooBig);
    EXPECT_EQ(r.result.nextRow, NumericBuffer::kLastRow + 1);
    EXPECT_EQ(r.buffer.at(NumericBuffer::kLastRow, 0), 4.0);
}

TEST(NumericTableTooBig, AFirstRowOutsideTheBufferIsRefused)
{
    for (const int firstRow : {-1, NumericBuffer::kLastRow + 1}) {
        SCOPED_TRACE(firstRow);
        const Reading r("1 2 3 4\r\n", firstRow);

        EXPECT_EQ(r.result.nextRow, firstRow);
        EXPECT_EQ(r.buffer.rowsAllocated(), 0);
        ASSERT_EQ(r.messages.entries.size(), 1u);
        EXPECT_NE(r.messages.entries[0].text.find(r.file.string()), std::string::npos);
        EXPECT_NE(r.messages.entries[0].text.find(std::to_string(firstRow)), std::string::npos);
        EXPECT_EQ(r.messages.entries[0].title, "Error!");
    }
}

// ----- Input that is not a table ---------------------------------------------------------------------

TEST(NumericTableHostileInput, NulBytesAreOrdinaryNonNumericText)
{
    const Reading r("1\0 2\r\n\0\r\n3 \0 4\r\n"s);

    EXPECT_EQ(r.result.nextRow, 3);
    EXPECT_EQ(r.buffer.at(0, 0), 0.0);
    EXPECT_EQ(r.buffer.at(0, 1), toSingle(2.0));
    EXPECT_EQ(r.buffer.at(1, 0), 0.0);
    EXPECT_EQ(r.buffer.at(2, 0), 3.0);
    EXPECT_EQ(r.buffer.at(2, 1), 0.0);
    EXPECT_EQ(r.buffer.at(2, 2), toSingle(4.0));
    EXPECT_TRUE(r.messages.entries.empty());
}

TEST(NumericTableHostileInput, MegabyteLinesOfSeparatorsAreOneRowEach)
{
    const std::string blanks(500000, ' ');
    const std::string tabs(500000, '\t');
    const Reading r(blanks + tabs + "7\r\n" + tabs + tabs + "\r\n" + tabs + " 8\r\n");

    EXPECT_EQ(r.result.nextRow, 3);
    EXPECT_EQ(r.buffer.at(0, 0), 7.0);
    EXPECT_EQ(r.buffer.at(0, 1), 0.0);
    for (int column = 0; column < NumericBuffer::kColumns; ++column)
        EXPECT_EQ(r.buffer.at(1, column), 0.0) << "column " << column;
    // The tabs before the blank make one field of blanks and tabs only: it takes column 0.
    EXPECT_EQ(r.buffer.at(2, 0), 0.0);
    EXPECT_EQ(r.buffer.at(2, 1), 8.0);
    EXPECT_TRUE(r.messages.entries.empty());
}

TEST(NumericTableHostileInput, TensOfThousandsOfFieldsStoreFour)
{
    std::string blankSeparated;
    std::string tabSeparated;
    for (int i = 1; i <= 50000; ++i) {
        blankSeparated += std::to_string(i) + " ";
        tabSeparated += std::to_string(i + 10) + "\t";
    }
    const Reading r(blankSeparated + "\r\n" + tabSeparated + "\r\n9\r\n");

    EXPECT_EQ(r.result.nextRow, 3);
    EXPECT_EQ(r.buffer.at(0, 0), 1.0);
    EXPECT_EQ(r.buffer.at(0, 3), 4.0);
    EXPECT_EQ(r.buffer.at(1, 0), 11.0);
    EXPECT_EQ(r.buffer.at(1, 3), 14.0);
    EXPECT_EQ(r.buffer.at(2, 0), 9.0);
    EXPECT_TRUE(r.messages.entries.empty());
}

TEST(NumericTableHostileInput, BinaryGarbageGivesOneRowPerDataLineAndNoNaN)
{
    std::mt19937 generator(20240611u);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));

    // Data lines counted independently: split at LF, drop trailing CRs, skip empty and "#" lines.
    int dataLines = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string_view line(bytes.data() + start, end - start);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && line.front() != '#')
            ++dataLines;
        start = end + 1;
    }
    ASSERT_GT(dataLines, 1000);

    const Reading r(bytes, 10);

    EXPECT_TRUE(r.result.fileFound);
    EXPECT_FALSE(r.result.tooBig);
    EXPECT_EQ(r.result.nextRow, 10 + dataLines);
    EXPECT_LE(r.buffer.rowsAllocated(), r.result.nextRow);
    for (int row = 0; row < r.buffer.rowsAllocated(); ++row) {
        for (int column = 0; column < NumericBuffer::kColumns; ++column)
            ASSERT_FALSE(std::isnan(r.buffer.at(row, column))) << row << "," << column;
    }
    EXPECT_TRUE(r.messages.entries.empty());
}

}  // namespace
}  // namespace velmora::pulses
