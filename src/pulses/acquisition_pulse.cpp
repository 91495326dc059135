#include "pulses/acquisition_pulse.h"

#include "processing/fourier.h"
#include "pulses/numeric_table.h"
#include "util/file_listing.h"
#include "util/number_format.h"
#include "util/rounding.h"
#include "util/text_compare.h"
#include "util/text_file.h"

#include <cmath>

namespace velmora::pulses {

namespace {

constexpr double kPi = 3.14159265358979;

std::string sixDecimals(double x)
{
    return util::formatPattern(x, "#0.000000");
}

// The file of "correlate with:": the name with ".RF" appended. A name that already ends in the
// extension (the box's designer text "ahs1p256_32_32.RF" does) names the file itself when no file
// with the extension doubled exists, so the box works whether or not it is typed with ".RF".
std::string replacementFile(const AcquisitionPulseRequest& request)
{
    const std::string& name = request.replacementName;
    const std::string appended = name + ".RF";
    constexpr std::string_view kExtension = ".rf";
    const bool carriesExtension =
        name.size() > kExtension.size() &&
        util::equalsIgnoreCase(std::string_view(name).substr(name.size() - kExtension.size()), kExtension);
    if (carriesExtension && util::isBareFileName(name) &&
        !util::fileExists(request.workingDirectory / appended) &&
        util::fileExists(request.workingDirectory / name))
        return name;
    return appended;
}

// Takes the replacement pulse: the file's L element lines, read into rows 0..L-1, become shape
// points 1..L (point 0 of a shape holds no element). Counting the rows as one more than read and
// copying from row 1 would drop the first element, take the acquisition's pulse one element late
// and warn about a file whose length is right.
bool replaceShape(ShapeTable& shape, const AcquisitionPulseRequest& request, int samples,
                  util::Messages& messages)
{
    const std::string file = replacementFile(request);
    if (!util::isBareFileName(file)) {
        messages.show(
            "The pulse of \"correlate with:\" must be a file of the working directory, without a folder: \"" +
                file + "\".",
            "Error!");
        return false;
    }
    NumericBuffer buffer;
    NumericReadRequest read;
    read.path = request.workingDirectory / file;
    const NumericReadResult result = readNumericTable(read, buffer, messages);
    if (!result.fileFound || result.tooBig)
        return false;
    // A number beyond the single range in a line's last field reads as infinite; the pulse would
    // fill the spectrum and the run's rotations with NaN, so the file is refused.
    for (int row = 0; row < result.nextRow; ++row) {
        for (int c = 0; c < 3; ++c) {
            if (!std::isfinite(buffer.at(row, c))) {
                messages.show("The pulse of \"correlate with:\" " + read.path.string() +
                                  " holds a number too large in element " + std::to_string(row + 1) + ".",
                              "Error!");
                return false;
            }
        }
    }
    if (result.nextRow != samples)
        messages.show("number of lines not match with np " + request.workingDirectory.string() +
                      request.replacementName + ": the file has " + std::to_string(result.nextRow) +
                      " elements, the acquisition samples " + std::to_string(samples) + "Error!");
    shape.points.assign(static_cast<std::size_t>(samples) + 1, {});
    for (int i = 1; i <= samples; ++i)
        for (int c = 0; c < 3; ++c)
            shape.points[static_cast<std::size_t>(i)][static_cast<std::size_t>(c)] =
                i <= result.nextRow ? buffer.at(i - 1, c) : 0.0;
    return true;
}

}  // namespace

std::optional<AcquisitionPulseTables>
prepareAcquisitionPulse(ShapeTable& shape, const AcquisitionPulseRequest& request, util::Messages& messages)
{
    const int np = request.pointCount;
    const int f = request.oversampling;
    const int samples = f * np;
    if (request.replace && !replaceShape(shape, request, samples, messages))
        return std::nullopt;

    AcquisitionPulseTables tables;
    tables.waveform.assign(static_cast<std::size_t>(samples) + 1, {});
    tables.spectrum.assign(static_cast<std::size_t>(samples) + 1, {});
    tables.sweep.assign(static_cast<std::size_t>(samples) + 1, {});
    auto point = [&](int i, int column) {
        return i <= shape.pointCount()
                   ? shape.points[static_cast<std::size_t>(i)][static_cast<std::size_t>(column)]
                   : 0.0;
    };
    for (int i = 1; i <= samples; ++i) {
        const double phaseRad = point(i, 0) * kPi / 180.0 + kPi / 2.0;
        const double amplitude = point(i, 1) / kFullPulseAmplitude;
        auto& row = tables.waveform[static_cast<std::size_t>(i)];
        row = {amplitude * std::cos(phaseRad), amplitude * std::sin(phaseRad), amplitude,
               i == 1 ? 0.0 : point(i, 0) - point(i - 1, 0)};
        tables.sweep[static_cast<std::size_t>(i)] = {row[2], row[3]};
    }

    // The spectrum, centred, with the 1/N of the transform undone.
    std::vector<double> re(static_cast<std::size_t>(samples)), im(re.size()), outRe(re.size()),
        outIm(re.size());
    for (int n = 0; n < samples; ++n) {
        re[static_cast<std::size_t>(n)] = tables.waveform[static_cast<std::size_t>(n) + 1][0];
        im[static_cast<std::size_t>(n)] = tables.waveform[static_cast<std::size_t>(n) + 1][1];
    }
    if (!processing::Fourier(samples, re, im, outRe, outIm, false, messages))
        return std::nullopt;
    const int h = util::roundToInt(samples / 2.0);
    for (int j = 0; j < samples; ++j) {
        const auto source = static_cast<std::size_t>(j < h ? j + h : j - h);
        auto& row = tables.spectrum[static_cast<std::size_t>(j) + 1];
        row[0] = 2.0 * h * outRe[source];
        row[1] = 2.0 * h * outIm[source];
        row[2] = std::sqrt(row[0] * row[0] + row[1] * row[1]);
    }

    // The files show the np acquired points: every F-th computed sample, and the centre np
    // frequencies of the spectrum. Line j of the time and sweep files describes the one sample
    // F(j - 1) + 1: its real and imaginary parts, their modulus and its phase step. The modulus and
    // phase step of row j, as the in-place decimation leaves them, would pair a sample with the
    // amplitude of another (0 wherever row j falls in a silence of a gapped pulse) and show only the
    // first 1/F of the sweep. The table keeps the decimated amplitude and the undecimated phase steps.
    std::vector<std::string> time, sweep, frequency;
    for (int j = 1; j <= np; ++j) {
        const auto sample = static_cast<std::size_t>(f * (j - 1) + 1);
        auto& row = tables.waveform[static_cast<std::size_t>(j)];
        const std::array<double, 4> source = tables.waveform[sample];
        row[0] = source[0];
        row[1] = source[1];
        row[2] = source[2];
        time.push_back(std::to_string(j) + "\t" + sixDecimals(row[0]) + "\t" + sixDecimals(row[1]) + "\t" +
                       sixDecimals(row[2]));
        sweep.push_back(std::to_string(j) + "\t" + sixDecimals(tables.sweep[sample][1]));
    }
    const int c = util::roundToInt((f - 1) * np / 2.0);
    for (int k = 1; k <= np; ++k) {
        auto& row = tables.spectrum[static_cast<std::size_t>(k)];
        if (c != 0) {
            const auto source = tables.spectrum[static_cast<std::size_t>(c + k)];
            row[0] = source[0];
            row[1] = source[1];
            row[2] = source[2];
        }
        frequency.push_back(std::to_string(k) + "\t" + sixDecimals(row[0]) + "\t" + sixDecimals(row[1]) +
                            "\t" + sixDecimals(row[2]));
    }
    const std::filesystem::path& output =
        request.outputDirectory.empty() ? request.workingDirectory : request.outputDirectory;
    for (const auto& [name, lines] :
         {std::pair{"apulseTime.dat", &time}, std::pair{"apulseSweepFreq.dat", &sweep},
          std::pair{"apulseFreq.dat", &frequency}}) {
        if (util::Outcome written = util::writeTextFile(output / name, *lines); !written) {
            messages.show(written.message(), "Error!");
            return std::nullopt;
        }
    }
    return tables;
}

}  // namespace velmora::pulses
