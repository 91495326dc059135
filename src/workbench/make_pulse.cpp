#include "workbench/make_pulse.h"

#include "pulses/numeric_table.h"
#include "util/file_listing.h"
#include "util/text_compare.h"
#include "util/text_file.h"
#include "workbench/generator_boxes.h"
#include "workbench/workbench.h"

namespace velmora::workbench {

namespace {

constexpr std::string_view kErrorTitle = "Error!";

// The elements of a source pulse: data rows from 1 on, phase and amplitude columns. None (with a
// message naming `boxCaption`) when the file is missing or does not read as a table. A file longer
// than the reader's buffer keeps the rows read, as the reader does: the sum takes only its first N
// elements, and a pulse of the generator's largest size fills the buffer exactly.
std::optional<std::vector<pulses::PulseElement>> readSource(Workbench& bench, const std::string& fileName,
                                                            std::string_view boxCaption)
{
    const std::filesystem::path path = bench.pathOf(fileName);
    if (!util::isBareFileName(fileName) || fileName.find('\\') != std::string::npos ||
        !util::fileExists(path)) {
        bench.messages().show("the pulse file " + path.string() + " of the box \"" + std::string(boxCaption) +
                                  "\" does not exist; nothing was written",
                              kErrorTitle);
        return std::nullopt;
    }
    pulses::NumericBuffer buffer;
    util::RecordedMessages readerMessages;
    const pulses::NumericReadResult read =
        pulses::readNumericTable({.path = path, .firstRow = 1}, buffer, readerMessages);
    if (!read.fileFound) {
        bench.messages().show("the pulse file " + path.string() + " of the box \"" + std::string(boxCaption) +
                                  "\" cannot be read; nothing was written",
                              kErrorTitle);
        return std::nullopt;
    }
    std::vector<pulses::PulseElement> elements;
    for (int row = 1; row < read.nextRow; ++row)
        elements.push_back({buffer.at(row, 0), buffer.at(row, 1)});
    return elements;
}

}  // namespace

std::optional<MadePulse> makePulse(Workbench& bench)
{
    const BoxReading reading = readGeneratorBoxes(bench.controls());
    if (!reading.settings) {
        bench.messages().show(reading.error + "; nothing was written", kErrorTitle);
        return std::nullopt;
    }
    const pulses::GeneratorSettings& settings = *reading.settings;

    pulses::GeneratorSources sources;
    if (util::equalsIgnoreCase(settings.shape, pulses::kShapeSumOfTwo)) {
        auto first = readSource(bench, std::string(kSumFirstFile), "ttt2=1     ttt1=");
        if (!first)
            return std::nullopt;
        auto second = readSource(bench, std::string(kSumSecondFile), "ttt2=1     ttt1=");
        if (!second)
            return std::nullopt;
        sources.first = std::move(*first);
        sources.second = std::move(*second);
    } else if (util::equalsIgnoreCase(settings.shape, pulses::kShapeHarmonics)) {
        auto source = readSource(bench, reading.harmonicsFile, "shape");
        if (!source)
            return std::nullopt;
        sources.first = std::move(*source);
    }

    pulses::GenerationResult generated = pulses::generatePulse(settings, sources, bench.random());
    if (!generated.pulse) {
        bench.messages().show(generated.error + "; nothing was written", kErrorTitle);
        return std::nullopt;
    }
    if (const util::Outcome written =
            util::writeTextFile(bench.pathOf(reading.outputName), generated.pulse->lines);
        !written) {
        bench.messages().show(written.message(), kErrorTitle);
        return std::nullopt;
    }
    return MadePulse{reading.outputName, settings, std::move(*generated.pulse)};
}

}  // namespace velmora::workbench
