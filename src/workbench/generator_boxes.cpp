#include "workbench/generator_boxes.h"

#include "util/file_listing.h"
#include "util/numeric_text.h"
#include "util/text_compare.h"

#include <cmath>

namespace velmora::workbench {

namespace {

constexpr std::string_view kDefaultTruncation = "0.001";

// Caption of a box, for messages.
std::string_view captionOf(model::ControlId id)
{
    static const std::pair<int, std::string_view> captions[] = {{0, "freq shift"},
                                                                {1, "phase"},
                                                                {2, "Ngap"},
                                                                {3, "N pulse in gap"},
                                                                {4, "N delay in gap"},
                                                                {5, "n factor"},
                                                                {6, "R value"},
                                                                {7, "truncation"},
                                                                {8, "add zero at end"},
                                                                {9, "method"},
                                                                {10, "sweep sign"},
                                                                {11, "shape"},
                                                                {12, "add zero at start"},
                                                                {13, "comment"},
                                                                {14, "ttt2=1     ttt1="},
                                                                {15, "FrankRepeat"}};
    for (const auto& [index, caption] : captions) {
        if (id.array == "Text4" && id.index == index)
            return caption;
    }
    return "Name";
}

// Reads the boxes one by one; the first refusal is kept and the rest is skipped.
class Reader {
public:
    explicit Reader(const model::Controls& controls) : controls_(controls) {}

    double number(model::ControlId id)
    {
        if (!error.empty())
            return 0.0;
        const std::optional<double> value = util::parseNumber(controls_.text(id));
        if (!value)
            refuse(id, "a number");
        return value.value_or(0.0);
    }

    // A count: a whole number of 0 or more (the numbers are rounded ties to even on the way).
    int count(model::ControlId id)
    {
        const double value = number(id);
        if (!error.empty())
            return 0;
        if (value < 0.0 || value != std::floor(value) || value > 1.0e9) {
            refuse(id, "a whole number of 0 or more");
            return 0;
        }
        return util::parseWholeNumber(controls_.text(id)).value_or(0);
    }

    void refuse(model::ControlId id, std::string_view expected)
    {
        if (error.empty())
            error = "the box \"" + std::string(captionOf(id)) + "\" must hold " + std::string(expected) +
                    ", not \"" + controls_.text(id) + "\"";
    }

    std::string error;

private:
    const model::Controls& controls_;
};

}  // namespace

void onShapeBoxClicked(model::Controls& controls, int index)
{
    if (index < 0 || index >= box::kExclusiveShapeBoxes || !controls.checked({"Check2", index}))
        return;
    for (int other = 0; other < box::kExclusiveShapeBoxes; ++other) {
        if (other != index)
            controls.setChecked({"Check2", other}, false);
    }
}

std::string chooseShape(model::Controls& controls)
{
    std::string shape;
    for (int i = 0; i < box::kShapeBoxes; ++i) {
        if (controls.checked({"Check2", i}))
            shape = std::string(pulses::generatorShapes()[static_cast<std::size_t>(i)]);
    }
    if (shape.empty()) {
        controls.setChecked({"Check2", 3}, true);
        shape = std::string(pulses::kShapeHsn);
    }
    return shape;
}

BoxReading readGeneratorBoxes(model::Controls& controls)
{
    BoxReading reading;
    const auto bare = [](const std::string& name) {
        return util::isBareFileName(name) && name.find('\\') == std::string::npos;
    };
    const std::string name = controls.text(box::OutputName);
    if (!bare(name)) {
        reading.error = "the box \"Name\" must hold a file name without a folder, not \"" + name + "\"";
        return reading;
    }
    if (const std::optional<double> t = util::parseNumber(controls.text(box::Truncation)); t && *t == 0.0)
        controls.setText(box::Truncation, std::string(kDefaultTruncation));

    Reader read(controls);
    pulses::GeneratorSettings s;
    s.freqShift = read.number(box::FreqShift);
    s.phaseDeg = read.number(box::Phase);
    s.gapCount = read.count(box::GapCount);
    s.pulsePerGap = read.count(box::PulsePerGap);
    s.delayPerGap = read.count(box::DelayPerGap);
    s.hsOrder = read.count(box::HsOrder);
    s.rValue = read.number(box::RValue);
    s.truncation = read.number(box::Truncation);
    s.zerosAtStart = read.count(box::ZerosAtStart);
    s.zerosAtEnd = read.count(box::ZerosAtEnd);
    s.frankRepeat = read.count(box::FrankRepeat);
    s.secondWeight = read.number(box::SecondWeight);
    if (!read.error.empty()) {
        reading.error = read.error;
        return reading;
    }
    const std::optional<pulses::GapMethod> method = pulses::gapMethodNamed(controls.text(box::Method));
    if (!method) {
        read.refuse(box::Method, "one of zv, step, brok, zv_rnd, zv_center, zvn, zvnm, zvt, zvtt");
        reading.error = read.error;
        return reading;
    }
    s.method = *method;
    s.mirrored = controls.text(box::SweepSign) == "-";
    s.header = util::equalsIgnoreCase(controls.text(box::Comment), "y");
    s.shape = chooseShape(controls);
    reading.settings = s;
    reading.outputName = name + ".RF";
    reading.harmonicsFile = controls.text(box::HarmonicsSource) + ".RF";
    return reading;
}

}  // namespace velmora::workbench
