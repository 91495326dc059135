// The JCAMP-DX writer read back by the tests' own reader: labels, axes and every value to within
// half a ##FACTOR.
#include "processing/jcamp_writer.h"

#include "support/jcamp_reader.h"

#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::processing {
namespace {

using testing::readJcamp;

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 80u) << line;
        text += line + "\r\n";
    }
    return text;
}

void expectWithinHalfFactor(const std::vector<double>& read, const std::vector<double>& written, double factor)
{
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i)
        EXPECT_LE(std::abs(read[i] - written[i]), factor / 2 * (1 + 1e-9)) << "point " << i;
}

TEST(JcampWriter, SpectrumPagesReadBackWithTheirAxisAndObserveLabels)
{
    std::vector<double> real, imaginary;
    for (int i = 0; i < 64; ++i) {
        real.push_back(1234.5 * std::sin(0.37 * i) + (i == 20 ? -98765.4321 : 0.0));
        imaginary.push_back(1e-3 * std::cos(0.11 * i));
    }
    const JcampSeries series{.kind = JcampSeries::Kind::Spectrum,
                             .title = "test spectrum",
                             .observe = {"^13C", 42.75},
                             .firstX = 200.0,
                             .deltaX = -6.25,
                             .real = real,
                             .imaginary = imaginary};
    const testing::JcampFile file = readJcamp(joined(jcampSeriesLines(series)));

    EXPECT_EQ(file.labels.at("JCAMPDX"), "5.01");
    EXPECT_EQ(file.labels.at("DATATYPE"), "NMR SPECTRUM");
    EXPECT_EQ(file.labels.at("DATACLASS"), "NTUPLES");
    EXPECT_DOUBLE_EQ(std::stod(file.labels.at(".OBSERVEFREQUENCY")), 42.75);
    EXPECT_EQ(file.labels.at(".OBSERVENUCLEUS"), "^13C");
    EXPECT_EQ(file.field("UNITS", "X"), "HZ");
    EXPECT_EQ(file.field("VARDIM", "R"), "64");
    EXPECT_DOUBLE_EQ(file.number("LAST", "X"), 200.0 - 63 * 6.25);

    ASSERT_EQ(file.pages.size(), 2u);
    EXPECT_EQ(file.pages[0].page, "N=1");
    expectWithinHalfFactor(file.pages[0].y, real, file.number("FACTOR", "R"));
    expectWithinHalfFactor(file.pages[1].y, imaginary, file.number("FACTOR", "I"));
    EXPECT_LT(file.number("FACTOR", "I"), 1e-11);  // a small part keeps its own precision
    // Every data line states the abscissa of its first ordinate.
    const testing::JcampPage& page = file.pages[0];
    ASSERT_GT(page.lineX.size(), 1u);
    for (std::size_t line = 0; line < page.lineX.size(); ++line)
        EXPECT_DOUBLE_EQ(page.lineX[line], page.x[page.lineFirst[line]]);
}

TEST(JcampWriter, ZeroPartAndTimeAxis)
{
    const std::vector<double> real{0.5, -0.25, 0.125};
    const std::vector<double> zeros(3, 0.0);
    const JcampSeries fid{.kind = JcampSeries::Kind::Fid,
                          .title = "fid",
                          .observe = {"^1H", 400.0},
                          .firstX = 0.0,
                          .deltaX = 1e-3,
                          .real = real,
                          .imaginary = zeros};
    const testing::JcampFile file = readJcamp(joined(jcampSeriesLines(fid)));
    EXPECT_EQ(file.labels.at("DATATYPE"), "NMR FID");
    EXPECT_EQ(file.field("UNITS", "X"), "SECONDS");
    EXPECT_DOUBLE_EQ(file.number("FACTOR", "I"), 1.0);
    EXPECT_EQ(file.pages[1].y, zeros);
    EXPECT_DOUBLE_EQ(file.pages[0].x.back(), 2e-3);

    const std::vector<double> shorter{1.0};
    JcampSeries unequal = fid;
    unequal.imaginary = shorter;
    EXPECT_THROW((void)jcampSeriesLines(unequal), std::invalid_argument);
    const std::vector<double> notFinite{1.0, std::nan(""), 2.0};
    JcampSeries broken = fid;
    broken.real = notFinite;
    EXPECT_THROW((void)jcampSeriesLines(broken), std::invalid_argument);
}

TEST(JcampWriter, MapPagesCarryTheIndirectFrequency)
{
    const int rows = 4, columns = 8;
    std::vector<double> values;
    for (int q = 0; q < rows; ++q)
        for (int p = 0; p < columns; ++p)
            values.push_back((q - 1.5) * (p + 0.25) * 1e-2);
    const JcampMap map{.title = "map",
                       .observe = {"^1H", 170.0},
                       .rowCount = rows,
                       .columnCount = columns,
                       .firstF1Hz = -100.0,
                       .deltaF1Hz = 50.0,
                       .firstF2Hz = 100.0,
                       .deltaF2Hz = -25.0,
                       .values = values};
    const testing::JcampFile file = readJcamp(joined(jcampMapLines(map)));
    EXPECT_EQ(file.labels.at("JCAMPDX"), "6.00");
    EXPECT_EQ(file.labels.at("DATATYPE"), "nD NMR SPECTRUM");
    EXPECT_EQ(file.labels.at("NUMDIM"), "2");
    EXPECT_EQ(file.field("UNITS", "F1"), "HZ");
    EXPECT_EQ(file.field("UNITS", "F2"), "HZ");
    ASSERT_EQ(file.pages.size(), static_cast<std::size_t>(rows));
    const double factor = file.number("FACTOR", "Y");
    for (int q = 0; q < rows; ++q) {
        const testing::JcampPage& page = file.pages[static_cast<std::size_t>(q)];
        EXPECT_DOUBLE_EQ(std::stod(page.page.substr(page.page.find('=') + 1)), -100.0 + 50.0 * q);
        EXPECT_DOUBLE_EQ(page.x.back(), 100.0 - 25.0 * (columns - 1));
        expectWithinHalfFactor(page.y, {values.begin() + q * columns, values.begin() + (q + 1) * columns},
                               factor);
    }
}

}  // namespace
}  // namespace velmora::processing
