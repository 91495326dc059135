#include "processing/jcamp_writer.h"

#include "util/number_format.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace velmora::processing {

namespace {

// Data lines stay within the 80 characters that JCAMP-DX readers may rely on.
constexpr std::size_t kLineWidth = 80;
// The scaled ordinates reach about 1e9: nine significant digits, well inside a 32-bit integer.
constexpr double kOrdinateRange = 1e9;

std::string number(double x) { return util::formatGeneral(x); }

long long scaled(double value, double factor) { return std::llround(value / factor); }

// One data table in AFFN form: each line starts with the abscissa of its first ordinate (in units
// of an x factor of 1), followed by as many scaled ordinates as fit the line width.
void appendDataLines(std::vector<std::string>& lines, double firstX, double deltaX,
                     std::span<const double> values, double factor)
{
    std::size_t i = 0;
    while (i < values.size()) {
        std::string line = number(firstX + static_cast<double>(i) * deltaX);
        do {
            const std::string y = std::to_string(scaled(values[i], factor));
            if (line.size() + 1 + y.size() > kLineWidth)
                break;
            line += ' ' + y;
            ++i;
        } while (i < values.size());
        lines.push_back(std::move(line));
    }
}

void appendHeader(std::vector<std::string>& lines, const std::string& title, const char* version,
                  const char* dataType, const JcampObserve& observe)
{
    lines.push_back("##TITLE= " + title);
    lines.push_back(std::string("##JCAMP-DX= ") + version);
    lines.push_back(std::string("##DATA TYPE= ") + dataType);
    lines.push_back("##DATA CLASS= NTUPLES");
    lines.push_back("##ORIGIN= Velmora");
    lines.push_back("##OWNER= public domain");
    lines.push_back("##.OBSERVE FREQUENCY= " + number(observe.frequencyMHz));
    lines.push_back("##.OBSERVE NUCLEUS= " + observe.nucleus);
}

std::pair<double, double> extremes(std::span<const double> values)
{
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return {*low, *high};
}

// A value that is not finite has no place in an AFFN table: refuse rather than write a wrong number.
void requireFinite(std::span<const double> values)
{
    if (!std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); }))
        throw std::invalid_argument("the data hold values that are not finite numbers");
}

}  // namespace

double jcampOrdinateFactor(std::span<const double> values)
{
    double largest = 0.0;
    for (const double v : values)
        largest = std::max(largest, std::abs(v));
    return largest > 0.0 ? largest / kOrdinateRange : 1.0;
}

std::vector<std::string> jcampSeriesLines(const JcampSeries& series)
{
    if (series.real.empty() || series.real.size() != series.imaginary.size())
        throw std::invalid_argument("a JCAMP-DX data set needs equal, non-empty real and imaginary parts");
    requireFinite(series.real);
    requireFinite(series.imaginary);
    const bool spectrum = series.kind == JcampSeries::Kind::Spectrum;
    const char* type = spectrum ? "NMR SPECTRUM" : "NMR FID";
    const std::string xName = spectrum ? "FREQUENCY" : "TIME";
    const std::string yName = spectrum ? "SPECTRUM" : "FID";
    const std::string count = std::to_string(series.real.size());
    const double lastX = series.firstX + static_cast<double>(series.real.size() - 1) * series.deltaX;
    const double realFactor = jcampOrdinateFactor(series.real);
    const double imaginaryFactor = jcampOrdinateFactor(series.imaginary);
    const auto [realMin, realMax] = extremes(series.real);
    const auto [imaginaryMin, imaginaryMax] = extremes(series.imaginary);

    std::vector<std::string> lines;
    appendHeader(lines, series.title, "5.01", type, series.observe);
    lines.push_back(std::string("##NTUPLES= ") + type);
    lines.push_back("##VAR_NAME= " + xName + ", " + yName + "/REAL, " + yName + "/IMAG, PAGE NUMBER");
    lines.push_back("##SYMBOL= X, R, I, N");
    lines.push_back("##VAR_TYPE= INDEPENDENT, DEPENDENT, DEPENDENT, PAGE");
    lines.push_back("##VAR_FORM= AFFN, AFFN, AFFN, AFFN");
    lines.push_back("##VAR_DIM= " + count + ", " + count + ", " + count + ", 2");
    lines.push_back(std::string("##UNITS= ") + (spectrum ? "HZ" : "SECONDS") +
                    ", ARBITRARY UNITS, ARBITRARY UNITS, ");
    lines.push_back("##FIRST= " + number(series.firstX) + ", " + number(series.real.front()) + ", " +
                    number(series.imaginary.front()) + ", 1");
    lines.push_back("##LAST= " + number(lastX) + ", " + number(series.real.back()) + ", " +
                    number(series.imaginary.back()) + ", 2");
    lines.push_back("##MIN= " + number(std::min(series.firstX, lastX)) + ", " + number(realMin) + ", " +
                    number(imaginaryMin) + ", 1");
    lines.push_back("##MAX= " + number(std::max(series.firstX, lastX)) + ", " + number(realMax) + ", " +
                    number(imaginaryMax) + ", 2");
    lines.push_back("##FACTOR= 1, " + number(realFactor) + ", " + number(imaginaryFactor) + ", 1");
    const struct {
        const char* page;
        const char* symbol;
        std::span<const double> values;
        double factor;
    } pages[] = {{"1", "R", series.real, realFactor}, {"2", "I", series.imaginary, imaginaryFactor}};
    for (const auto& page : pages) {
        lines.push_back(std::string("##PAGE= N=") + page.page);
        lines.push_back("##NPOINTS= " + count);
        lines.push_back(std::string("##DATA TABLE= (X++(") + page.symbol + ".." + page.symbol + ")), XYDATA");
        appendDataLines(lines, series.firstX, series.deltaX, page.values, page.factor);
    }
    lines.push_back(std::string("##END NTUPLES= ") + type);
    lines.push_back("##END=");
    return lines;
}

std::vector<std::string> jcampMapLines(const JcampMap& map)
{
    const std::size_t rows = static_cast<std::size_t>(std::max(map.rowCount, 0));
    const std::size_t columns = static_cast<std::size_t>(std::max(map.columnCount, 0));
    if (rows == 0 || columns == 0 || map.values.size() != rows * columns)
        throw std::invalid_argument("a JCAMP-DX map needs rows x columns values");
    requireFinite(map.values);
    const double factor = jcampOrdinateFactor(map.values);
    const auto [low, high] = extremes(map.values);
    const double lastF1 = map.firstF1Hz + static_cast<double>(rows - 1) * map.deltaF1Hz;
    const double lastF2 = map.firstF2Hz + static_cast<double>(columns - 1) * map.deltaF2Hz;

    std::vector<std::string> lines;
    appendHeader(lines, map.title, "6.00", "nD NMR SPECTRUM", map.observe);
    lines.push_back("##NUM DIM= 2");
    lines.push_back("##NTUPLES= nD NMR SPECTRUM");
    lines.push_back("##VAR_NAME= FREQUENCY1, FREQUENCY2, SPECTRUM");
    lines.push_back("##SYMBOL= F1, F2, Y");
    lines.push_back("##.NUCLEUS= " + map.observe.nucleus + ", " + map.observe.nucleus);
    lines.push_back("##VAR_TYPE= INDEPENDENT, INDEPENDENT, DEPENDENT");
    lines.push_back("##VAR_FORM= AFFN, AFFN, AFFN");
    lines.push_back("##VAR_DIM= " + std::to_string(rows) + ", " + std::to_string(columns) + ", " +
                    std::to_string(columns));
    lines.push_back("##UNITS= HZ, HZ, ARBITRARY UNITS");
    lines.push_back("##FACTOR= 1, 1, " + number(factor));
    lines.push_back("##FIRST= " + number(map.firstF1Hz) + ", " + number(map.firstF2Hz) + ", " +
                    number(map.values.front()));
    lines.push_back("##LAST= " + number(lastF1) + ", " + number(lastF2) + ", " + number(map.values.back()));
    lines.push_back("##MIN= " + number(std::min(map.firstF1Hz, lastF1)) + ", " +
                    number(std::min(map.firstF2Hz, lastF2)) + ", " + number(low));
    lines.push_back("##MAX= " + number(std::max(map.firstF1Hz, lastF1)) + ", " +
                    number(std::max(map.firstF2Hz, lastF2)) + ", " + number(high));
    for (std::size_t row = 0; row < rows; ++row) {
        lines.push_back("##PAGE= F1=" + number(map.firstF1Hz + static_cast<double>(row) * map.deltaF1Hz));
        lines.push_back("##NPOINTS= " + std::to_string(columns));
        lines.push_back("##DATA TABLE= (F2++(Y..Y)), PROFILE");
        appendDataLines(lines, map.firstF2Hz, map.deltaF2Hz, map.values.subspan(row * columns, columns), factor);
    }
    lines.push_back("##END NTUPLES= nD NMR SPECTRUM");
    lines.push_back("##END=");
    return lines;
}

}  // namespace velmora::processing
