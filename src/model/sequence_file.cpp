#include "model/sequence_file.h"

#include "model/comma_fields.h"
#include "model/count_limits.h"
#include "model/model_file_parser.h"
#include "util/file_listing.h"
#include "util/number_format.h"
#include "util/text_file.h"

#include <cmath>
#include <string>
#include <vector>

namespace velmora::model {

namespace {

// The sizes of the element sections and tables, as the header of every file states them.
struct SectionSizes {
    int pulses = 10;       // A: hard-pulse widths
    int delays = 10;       // B
    int gradients = 10;    // C
    int channelBound = 2;  // D: channels 0..D per step
    int phaseRows = 6;     // E: rows of the phase-cycle table
    int powers = 10;       // F
    int offsets = 10;      // G
    int shaped = 20;       // H: shaped pulses and shaped gradients

    int firstDelay() const { return pulses + 1; }
    int firstGradient() const { return pulses + delays + 1; }
    int firstOffset() const { return pulses + delays + gradients + 1; }
    int firstPower() const { return firstOffset() + offsets; }
    int firstShaped() const { return firstPower() + powers; }
    int lastShaped() const { return firstShaped() + shaped - 1; }
};

// Elements 132 ("dec") and 133 ("none") are markers, never part of a section.
constexpr int kLastSectionElement = element::kDecoupling - 1;
constexpr std::size_t kSequenceLines = 18;
constexpr int kExchangeCountMark = 12;  // the constant between the twelfth and the last exchange value

// Collects the texts of a file and remembers the first one the format cannot carry.
class TextFields {
public:
    void add(std::vector<std::string>& line, const std::string& text, const std::string& owner)
    {
        if (problem.empty() && text.find_first_of(",\r\n") != std::string::npos)
            problem = "The text of " + owner + " (\"" + text +
                      "\") holds a comma or a line break, which a "
                      "sequence file cannot store. Change it and save again.";
        line.push_back(text);
    }
    std::string problem;
};

std::string general(double value)
{
    return util::formatGeneral(value);
}

std::vector<std::string> elementValues(const ElementTable& elements, int first, int last)
{
    std::vector<std::string> line;
    for (int m = first; m <= last; ++m)
        line.push_back(general(elements.value(m)));
    return line;
}

template <class Field> std::vector<std::string> perStepAndChannel(const PulseSequence& sequence, Field field)
{
    std::vector<std::string> line;
    for (int s = 0; s <= sequence.stepCount() + 1; ++s)
        for (int k = 0; k < kChannelCount; ++k)
            line.push_back(field(sequence.step(s).channels[k]));
    return line;
}

template <class Field> std::vector<std::string> perStep(const PulseSequence& sequence, Field field)
{
    std::vector<std::string> line;
    for (int s = 0; s <= sequence.stepCount() + 1; ++s)
        line.push_back(field(sequence.step(s)));
    return line;
}

}  // namespace

util::Outcome composeSequence(const PulseSequence& sequence, const Controls& controls,
                              const ExchangeSettings& exchange, std::vector<std::string>& lines)
{
    const SectionSizes sizes;
    const ElementTable& elements = sequence.elements();
    TextFields texts;
    auto controlText = [&](std::vector<std::string>& line, ControlId id) {
        texts.add(line, controls.text(id), Controls::nameOf(id));
    };

    std::vector<std::string> header;
    header.push_back(std::to_string(sequence.arrayedIndex()));
    controlText(header, ctl::IndirectMethod);
    texts.add(header, sequence.arrayedName(), "the arrayed parameter");
    controlText(header, ctl::ArrayIncrement);
    controlText(header, ctl::DetectionChannel);
    controlText(header, ctl::ScanCount);
    header.push_back("1");
    header.push_back(std::to_string(sequence.stepCount()));
    for (int size : {sizes.pulses, sizes.delays, sizes.gradients, sizes.channelBound, sizes.phaseRows,
                     sizes.powers, sizes.offsets, sizes.shaped, kSequenceFormatVersion})
        header.push_back(std::to_string(size));
    header.push_back(std::to_string(sequence.cycleStart()));
    header.push_back(std::to_string(sequence.cycleEnd()));
    header.push_back(general(sequence.cycleCount()));
    for (int i = 2; i <= 25; ++i)
        controlText(header, {"Text14", i});
    for (int i = 0; i <= 7; ++i)
        header.push_back(controls.checked({"Check1", i}) ? "1" : "0");
    header.push_back(std::to_string(sequence.acquisitionStep()));
    controlText(header, ctl::DirectWindow);
    controlText(header, ctl::IndirectWindow);
    controlText(header, ctl::Window3D);
    texts.add(header, controls.caption(ctl::ArrayMethod), Controls::nameOf(ctl::ArrayMethod));

    std::vector<std::string> phaseRows;
    const std::vector<std::string>& rows = controls.at(ctl::PhaseCycle).items;
    for (int r = 0; r < sizes.phaseRows; ++r)
        texts.add(phaseRows, r < static_cast<int>(rows.size()) ? rows[r] : std::string(),
                  "phase-cycle row f" + std::to_string(r + 4));

    std::vector<std::string> shapedNames;
    for (int m = sizes.firstShaped(); m <= sizes.lastShaped(); ++m)
        texts.add(shapedNames, elements.name(m), "element " + std::to_string(m));

    std::vector<std::string> exchangeValues;
    for (int v = 0; v < ExchangeSettings::kValueCount; ++v) {
        if (v == ExchangeSettings::kValueCount - 1)
            exchangeValues.push_back(std::to_string(kExchangeCountMark));
        exchangeValues.push_back(general(exchange.values[v]));
    }
    std::vector<std::string> exchangeTexts = {std::to_string(exchange.lastRunIndex)};
    texts.add(exchangeTexts, exchange.phase, "the exchange phase list");
    exchangeTexts.push_back(general(exchange.seriesValue));
    texts.add(exchangeTexts, exchange.sweptName, "the first swept exchange parameter");
    texts.add(exchangeTexts, exchange.shapedPulse, "the exchange shaped pulse");
    texts.add(exchangeTexts, exchange.startMagnetisation, "the exchange starting magnetisation");
    texts.add(exchangeTexts, exchange.secondSweptName, "the second swept exchange parameter");
    exchangeTexts.push_back(general(exchange.secondSeriesValue));
    exchangeTexts.push_back(std::to_string(exchange.secondSeriesCount));

    std::vector<std::string> generator;
    for (int i = 0; i <= 15; ++i)
        controlText(generator, {"Text4", i});

    if (!texts.problem.empty())
        return util::Outcome::failure(texts.problem);

    lines = {
        joinFields(header),
        joinFields(elementValues(elements, 1, sizes.pulses)),
        joinFields(elementValues(elements, sizes.firstGradient(), sizes.firstOffset() - 1)),
        joinFields(elementValues(elements, sizes.firstDelay(), sizes.firstGradient() - 1)),
        joinFields(phaseRows),
        joinFields(shapedNames),
        joinFields(
            perStepAndChannel(sequence, [](const ChannelSetting& c) { return std::to_string(c.content); })),
        joinFields(
            perStepAndChannel(sequence, [](const ChannelSetting& c) { return std::to_string(c.phase); })),
        joinFields(perStepAndChannel(sequence, [](const ChannelSetting& c) { return general(c.power); })),
        joinFields(perStepAndChannel(sequence, [](const ChannelSetting& c) { return general(c.offset); })),
        joinFields(perStep(sequence, [](const SequenceStep& s) { return general(s.gradient); })),
        joinFields(perStep(sequence, [](const SequenceStep& s) { return general(s.delay); })),
        joinFields(elementValues(elements, sizes.firstPower(), sizes.firstShaped() - 1)),
        joinFields(elementValues(elements, sizes.firstOffset(), sizes.firstPower() - 1)),
        joinFields(elementValues(elements, sizes.firstShaped(), sizes.lastShaped())),
        joinFields(exchangeValues),
        joinFields(exchangeTexts),
        joinFields(generator),
    };
    return util::Outcome::success();
}

util::Outcome writeSequence(const std::filesystem::path& path, const PulseSequence& sequence,
                            const Controls& controls, const ExchangeSettings& exchange)
{
    std::vector<std::string> lines;
    if (util::Outcome composed = composeSequence(sequence, controls, exchange, lines); !composed)
        return composed;
    return util::writeTextFile(path, lines);
}

namespace {

// Reads one file into staged copies; the caller commits them only when the whole file was understood.
class SequenceReader {
public:
    SequenceReader(std::vector<std::string> lines, const std::filesystem::path& workingDirectory,
                   PulseSequence& sequence, Controls& controls, ExchangeSettings& exchange)
        : file_(std::move(lines)), workingDirectory_(workingDirectory), sequence_(sequence),
          controls_(controls), exchange_(exchange)
    {
    }

    void read();
    const ModelFileParser& file() const { return file_; }

private:
    void readHeader();
    void readSections();
    void readExchangeAndGenerator();
    void readElementValues(int line, const char* what, int first, int count);
    template <class Store> void readPerStepAndChannel(int line, const char* what, Store store);
    template <class Store> void readPerStep(int line, const char* what, Store store);

    int whole(std::string_view what) { return file_.wholeNumber(what).value_or(0); }
    double number(std::string_view what) { return file_.number(what).value_or(0.0); }
    std::string text(std::string_view what) { return std::string(file_.text(what).value_or("")); }
    void requireRange(int value, int low, int high, const std::string& what);
    bool validReference(double reference) const;

    ModelFileParser file_;
    const std::filesystem::path& workingDirectory_;
    PulseSequence& sequence_;
    Controls& controls_;
    ExchangeSettings& exchange_;
    SectionSizes sizes_;
    int version_ = 0;
    int stepCount_ = 0;
};

void SequenceReader::requireRange(int value, int low, int high, const std::string& what)
{
    if (!file_.failed() && (value < low || value > high))
        file_.failField(what + " " + std::to_string(value) + " is outside " + std::to_string(low) + " to " +
                        std::to_string(high));
}

bool SequenceReader::validReference(double reference) const
{
    return std::isfinite(reference) && reference > -(element::kCount - 0.5);
}

void SequenceReader::read()
{
    readHeader();
    readSections();
    if (version_ > 10)
        readExchangeAndGenerator();
    if (!file_.failed())
        sequence_.setPointStep(stepCount_);
}

void SequenceReader::readHeader()
{
    if (!file_.beginLine(1, "header"))
        return;
    const int arrayedIndex = whole("arrayed-parameter index");
    requireRange(arrayedIndex, 0, element::kCount - 1, "the arrayed-parameter index");
    controls_.setText(ctl::IndirectMethod, text("indirect detection method"));
    const std::string arrayedName = text("arrayed-parameter name");
    sequence_.setArrayed(arrayedIndex, arrayedName);
    controls_.setCaption(ctl::ArrayedParameter, arrayedName);
    controls_.setText(ctl::ArrayIncrement, text("array increment"));
    controls_.setText(ctl::DetectionChannel, text("detection channel"));
    controls_.setText(ctl::ScanCount, text("scans"));
    controls_.setText(ctl::ScanCount, text("scans, second copy"));

    stepCount_ = whole("step count");
    requireRange(stepCount_, 0, PulseSequence::kStepSlots - 2, "the step count");
    sizes_.pulses = whole("hard-pulse section size");
    sizes_.delays = whole("delay section size");
    sizes_.gradients = whole("gradient section size");
    sizes_.channelBound = whole("channel bound");
    requireRange(sizes_.channelBound, 0, kChannelCount - 1, "the channel bound");
    sizes_.phaseRows = whole("phase-cycle rows");
    requireRange(sizes_.phaseRows, 0, PulseSequence::kPhaseRows, "the number of phase-cycle rows");
    sizes_.powers = whole("power section size");
    sizes_.offsets = whole("offset section size");
    sizes_.shaped = whole("shaped-element section size");
    for (int size :
         {sizes_.pulses, sizes_.delays, sizes_.gradients, sizes_.powers, sizes_.offsets, sizes_.shaped})
        requireRange(size, 0, kLastSectionElement, "a section size");
    if (!file_.failed() && sizes_.lastShaped() > kLastSectionElement)
        file_.fail("line 1: the section sizes add up to " + std::to_string(sizes_.lastShaped()) +
                   " elements, more than the " + std::to_string(kLastSectionElement) +
                   " the element table holds");
    version_ = whole("format version");
    if (file_.failed())
        return;
    if (!sequence_.setStepCount(stepCount_))
        file_.fail("line 1: the step count is outside the sequence");

    if (version_ >= 4) {
        const int start = whole("cycle start");
        requireRange(start, 0, PulseSequence::kStepSlots - 1, "the cycle start");
        const int end = whole("cycle end");
        requireRange(end, 0, PulseSequence::kStepSlots - 1, "the cycle end");
        const double count = number("cycle count");
        if (const std::optional<std::string> problem = cycleCountProblem(count); problem && !file_.failed())
            file_.failField(*problem);
        sequence_.setCycleBounds(start, end);
        sequence_.elements().setValue(element::kCycleCount, count);
        controls_.setText(ctl::CycleCountBox, util::formatGeneral(count));
    } else {
        sequence_.elements().setValue(element::kCycleCount, 0.0);
        controls_.setText(ctl::CycleCountBox, "0");
    }
    if (version_ >= 5) {
        for (int i = 2; i <= 25; ++i)
            controls_.setText({"Text14", i}, text("box Text14(" + std::to_string(i) + ")"));
        for (int i = 0; i <= 7; ++i)
            controls_.setChecked({"Check1", i}, whole("switch Check1(" + std::to_string(i) + ")") != 0);
        const int acquisition = whole("acquisition step");
        requireRange(acquisition, 0, PulseSequence::kAcquisitionOff, "the acquisition step");
        sequence_.setAcquisitionStep(acquisition);
        controls_.setText(ctl::DirectWindow, text("direct window"));
        controls_.setText(ctl::IndirectWindow, text("indirect window"));
        controls_.setText(ctl::Window3D, text("third-dimension window"));
    }
    if (version_ >= 6)
        controls_.setCaption(ctl::ArrayMethod, text("array method"));
}

void SequenceReader::readElementValues(int line, const char* what, int first, int count)
{
    if (!file_.beginLine(line, what))
        return;
    for (int m = first; m < first + count && !file_.failed(); ++m) {
        const double value = number(std::string(what) + ", element " + std::to_string(m));
        sequence_.elements().setValue(m, value);
    }
}

template <class Store> void SequenceReader::readPerStepAndChannel(int line, const char* what, Store store)
{
    if (!file_.beginLine(line, what))
        return;
    for (int s = 0; s <= stepCount_ + 1 && !file_.failed(); ++s)
        for (int k = 0; k <= sizes_.channelBound && !file_.failed(); ++k)
            store(sequence_.step(s).channels[k],
                  "step " + std::to_string(s) + ", channel " + std::to_string(k));
}

template <class Store> void SequenceReader::readPerStep(int line, const char* what, Store store)
{
    if (!file_.beginLine(line, what))
        return;
    for (int s = 0; s <= stepCount_ + 1 && !file_.failed(); ++s)
        store(sequence_.step(s), "step " + std::to_string(s));
}

void SequenceReader::readSections()
{
    if (file_.failed())
        return;
    readElementValues(2, "pulse widths", 1, sizes_.pulses);
    readElementValues(3, "gradients", sizes_.firstGradient(), sizes_.gradients);
    readElementValues(4, "delays", sizes_.firstDelay(), sizes_.delays);

    if (file_.beginLine(5, "phase-cycle table")) {
        std::vector<std::string> rows = controls_.at(ctl::PhaseCycle).items;
        rows.resize(std::max<std::size_t>(rows.size(), PulseSequence::kPhaseRows));
        for (int r = 0; r < sizes_.phaseRows; ++r)
            rows[r] = text("phase-cycle row f" + std::to_string(r + 4));
        controls_.setItems(ctl::PhaseCycle, rows);
    }

    // A shaped element takes the stored name only when its file is here: a sequence copied without
    // its shapes keeps the shapes the slots held before.
    if (file_.beginLine(6, "shaped-element names") && version_ >= 3) {
        for (int m = sizes_.firstShaped(); m <= sizes_.lastShaped() && !file_.failed(); ++m) {
            const std::string name = text("name of element " + std::to_string(m));
            const std::string shapeFile = ElementTable::shapeFileName(name);
            if (workingDirectory_.empty() ||
                (util::isBareFileName(shapeFile) && util::fileExists(workingDirectory_ / shapeFile)))
                sequence_.elements().setName(m, name);
        }
    }

    readPerStepAndChannel(7, "contents", [&](ChannelSetting& c, const std::string& where) {
        c.content = whole("content of " + where);
        if (!file_.failed() && c.content <= -element::kCount)
            file_.failField("the content of " + where + " (" + std::to_string(c.content) +
                            ") names no element");
    });
    readPerStepAndChannel(8, "phases", [&](ChannelSetting& c, const std::string& where) {
        c.phase = whole("phase of " + where);
        requireRange(c.phase, 0, 9, "the phase code of " + where);
    });
    auto reference = [&](double& target, const std::string& what) {
        target = number(what);
        if (!file_.failed() && !validReference(target))
            file_.failField(what + " names no element");
    };
    readPerStepAndChannel(9, "powers", [&](ChannelSetting& c, const std::string& where) {
        reference(c.power, "the power of " + where);
    });
    readPerStepAndChannel(10, "offsets", [&](ChannelSetting& c, const std::string& where) {
        reference(c.offset, "the offset of " + where);
    });
    readPerStep(11, "gradients of the steps", [&](SequenceStep& s, const std::string& where) {
        reference(s.gradient, "the gradient of " + where);
    });
    readPerStep(12, "delays of the steps", [&](SequenceStep& s, const std::string& where) {
        reference(s.delay, "the delay of " + where);
    });

    readElementValues(13, "powers", sizes_.firstPower(), sizes_.powers);
    readElementValues(14, "offsets", sizes_.firstOffset(), sizes_.offsets);
    readElementValues(15, "shaped-element durations", sizes_.firstShaped(), sizes_.shaped);
}

void SequenceReader::readExchangeAndGenerator()
{
    if (file_.beginLine(16, "exchange values")) {
        for (int v = 0; v < ExchangeSettings::kValueCount; ++v) {
            if (v == ExchangeSettings::kValueCount - 1)
                (void)text("exchange value count");
            exchange_.values[v] = number("exchange value " + std::to_string(v + 1));
        }
    }
    if (file_.beginLine(17, "exchange settings")) {
        exchange_.lastRunIndex = whole("last run of the exchange series");
        exchange_.phase = text("exchange phase list");
        exchange_.seriesValue = number("exchange series value");
        exchange_.sweptName = text("first swept exchange parameter");
        exchange_.shapedPulse = text("exchange shaped pulse");
        exchange_.startMagnetisation = text("exchange starting magnetisation");
        if (version_ > 12) {
            exchange_.secondSweptName = text("second swept exchange parameter");
            exchange_.secondSeriesValue = number("second exchange series value");
            exchange_.secondSeriesCount = whole("second exchange series count");
        }
    }
    if (version_ > 13 && file_.beginLine(18, "shaped-pulse generator boxes")) {
        for (int i = 0; i <= 15 && !file_.failed(); ++i)
            controls_.setText({"Text4", i}, text("box Text4(" + std::to_string(i) + ")"));
    }
}

}  // namespace

FileReadResult readSequence(const std::filesystem::path& path, const std::filesystem::path& workingDirectory,
                            SequenceDocument document)
{
    if (!util::fileExists(path))
        return FileReadResult::missing();
    util::TextFileContent content = util::readTextLines(path, kLargestModelFile, kSequenceLines);
    if (!content.ok)
        return FileReadResult::refused(content.error);
    return readSequenceLines(std::move(content.lines), path.string(), workingDirectory, document);
}

FileReadResult readSequenceLines(std::vector<std::string> lines, const std::string& source,
                                 const std::filesystem::path& workingDirectory, SequenceDocument document)
{
    if (lines.size() > kSequenceLines)
        lines.resize(kSequenceLines);
    PulseSequence sequence = document.sequence;
    Controls controls = document.controls;
    controls.setChangeListener({});
    ExchangeSettings exchange = document.exchange;
    SequenceReader reader(std::move(lines), workingDirectory, sequence, controls, exchange);
    reader.read();
    if (reader.file().failed())
        return FileReadResult::refused("Cannot read the sequence file " + source + ": " +
                                       reader.file().problem() + ".");

    document.sequence = sequence;
    document.controls.replaceValues(controls);
    document.exchange = exchange;
    return FileReadResult::read();
}

}  // namespace velmora::model
