#include "engine/sequence_preparation.h"

#include "engine/operator_basis.h"
#include "engine/relaxation.h"
#include "engine/run_size.h"
#include "engine/state_matrix.h"
#include "engine/strong_coupling_step.h"
#include "model/count_limits.h"
#include "pulses/numeric_table.h"
#include "util/file_listing.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/rounding.h"
#include "util/text_compare.h"
#include "util/text_file.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

namespace velmora::engine {

namespace {

namespace element = model::element;

constexpr std::string_view kErrorTitle = "Error!";
constexpr double kMultCap = 1e12;      // a multiplied series stops growing beyond this
constexpr double kPowerCapDb = 100.0;  // arrayed RF powers stop here
constexpr int kMaxInitialOperators = 11;
constexpr int kLargestPointCount = 65536;
constexpr int kLastStepIndex = 60;

bool isPowerOfTwo(int n)
{
    return n >= 2 && n <= kLargestPointCount && (n & (n - 1)) == 0;
}

std::string quotedText(const std::string& text)
{
    return text.empty() ? std::string("nothing") : "\"" + text + "\"";
}

class Preparer {
public:
    Preparer(const RunRequest& request, util::Messages& messages)
        : request_(request), sequence_(request.sequence), messages_(messages)
    {
    }

    PreparationOutcome prepare();

private:
    bool refuse(const std::string& text, std::string_view title = kErrorTitle)
    {
        messages_.show(text, title);
        return false;
    }
    bool readNumber(const NumberBox& box, std::string_view label, double& value);
    bool readWhole(const NumberBox& box, std::string_view label, int& value);
    void warn(std::string caption) { writeBack().warning = WarningLine{std::move(caption), true}; }

    bool readRunSettings();
    bool settleRunCounts();
    bool settleAcquisitionStep();
    bool checkStrongCoupling();
    void setAcquisitionLength(double atMs, bool clip);
    bool settleSampledAcquisitionLength();
    bool computeArrayedValues();
    bool readArrayFile(double startValue);
    bool checkRelaxationTimes();
    bool checkCrossRelaxationRates();
    bool checkSequenceElements();
    bool checkDurations();
    bool loadShapes();
    bool loadShape(const std::string& name, int columns, bool pulse, int step, int channel);
    bool settlePointCount();
    bool checkRates();
    bool checkSizes();
    bool checkRunFits(std::int64_t runs, int pointCount, int oversampling);
    bool prepareAcquisitionPulse();
    void fillWindowFields();
    bool settleInitialState();

    // The value the element takes in the runs: the arrayed extreme for the arrayed parameter.
    double elementLength(int code, double arrayedExtreme) const;
    // The 1e-11 of the limit only guards against a zero rate: an element exactly at 1/200 of the
    // fastest time scale is not too long.
    bool beyondElementLimit(double lengthUs) const { return lengthUs > run().elementLimitUs * (1.0 + 1e-9); }
    bool namesArrayed(int elementIndex) const;
    bool isArrayedDelay() const { return util::startsWithIgnoreCase(run().settings.arrayedName, "d"); }
    PreparedRun& run() { return result_.run; }
    const PreparedRun& run() const { return result_.run; }
    PreparationWriteBack& writeBack() { return result_.writeBack; }

    const RunRequest& request_;
    model::PulseSequence sequence_;
    util::Messages& messages_;
    Preparation result_;
    std::optional<WarningLine> refusalWarning_;

    const model::SpinSystem& spins() const { return request_.spins; }
    const SystemCapacity& capacity();
    std::optional<SystemCapacity> capacity_;
    int lastSlice_ = 0;
    int motherPoints_ = 0;  // from a "# mother" header of the acquisition shape, 0 when none
    double increment_ = 0.0;
    bool incrementRead_ = false;
    bool shapeSetPointCount_ = false;
    bool sampledShapeLengthPending_ = false;
};

bool Preparer::readNumber(const NumberBox& box, std::string_view label, double& value)
{
    if (!box.number)
        return refuse("The box \"" + std::string(label) + "\" (" + box.name + ") holds " +
                      quotedText(box.text) + ", which is not a number. The run needs it.");
    value = *box.number;
    return true;
}

bool Preparer::readWhole(const NumberBox& box, std::string_view label, int& value)
{
    double number = 0.0;
    if (!readNumber(box, label, number))
        return false;
    const std::optional<std::int32_t> whole = util::toInt32(number);
    if (!whole)
        return refuse("The box \"" + std::string(label) + "\" (" + box.name + ") holds " +
                      quotedText(box.text) + ", which is too large.");
    value = *whole;
    return true;
}

bool Preparer::readRunSettings()
{
    RunSettings& s = run().settings;
    s.arrayedName = sequence_.arrayedName();
    const RunRequest& r = request_;
    s.t1Relaxation = r.t1Relaxation;
    s.t2Relaxation = r.t2Relaxation;
    s.crossRelaxation = r.crossRelaxation;
    s.t2FromT1 = r.t2FromT1;
    s.destroyMxy = r.destroyMxy;
    s.receiverGapping = r.receiverGapping;
    s.plotVectorEvolution = r.plotVectorEvolution;
    s.phaseRows = r.phaseRows;
    s.objectProfile = r.objectProfile;
    s.nonEquilibrium = r.nonEquilibrium;
    s.strongCoupling = r.strongCoupling;

    if (s.crossRelaxation && !readNumber(r.crossRelaxationTime, "Tcr", s.crossRelaxationMs))
        return false;
    const bool arrayedRelaxation =
        util::equalsIgnoreCase(s.arrayedName, "T1") || util::equalsIgnoreCase(s.arrayedName, "T2");
    if (s.t2FromT1 && arrayedRelaxation) {
        if (!readNumber(r.t2FromT1Factor, "T2=T1/", s.t2FromT1Factor))
            return false;
        if (s.t2FromT1Factor == 0.0)
            return refuse("The factor of \"T2=T1/\" (Text14(23)) is 0; it divides the arrayed T1.");
    }
    s.receiverDelayPoints = 0;
    if (s.receiverGapping && !readWhole(r.receiverDelay, "receiver delay", s.receiverDelayPoints))
        return false;
    if (!readWhole(r.scanCount, "Ncycles X ND", s.scans))
        return false;
    if (s.scans < 1 || s.scans > model::kMostScans)
        return refuse("The scans box (Text14(1)) holds " + std::to_string(s.scans) +
                      ": scans must be at least 1 and at most " + std::to_string(model::kMostScans) + ".");
    double sw = 0.0;
    return readNumber(r.spectralWidth, "sw, Hz", sw) &&
           (sw > 0.0 || refuse("The spectral width \"sw, Hz\" (Text14(6)) must be positive."));
}

// With strong coupling on, the sequence must lie within what the exact path applies.
bool Preparer::checkStrongCoupling()
{
    if (!run().settings.strongCoupling)
        return true;
    const std::optional<std::string> why = strongCouplingRefusal(sequence_, spins().spinCount());
    return !why || refuse(*why);
}

// Step 1: run counts, the arrayed index, slices and points.
bool Preparer::settleRunCounts()
{
    const std::string& name = sequence_.arrayedName();
    run().arraySize = 0;
    if (!util::equalsIgnoreCase(name, "none")) {
        if (!readWhole(request_.arraySize, "Ni", run().arraySize))
            return false;
        if (run().arraySize < 0)
            return refuse("Ni (Text14(11)) must be at least 0.");
    }
    // The shaped gradients (s1_x.GRD ..) lie above the step elements and may be arrayed as well: left
    // out of the search, their series started from the value of whatever element was arrayed before.
    for (int k = element::kLastShapedGradient; k >= 0; --k) {
        if (util::equalsIgnoreCase(sequence_.elements().name(k), name)) {
            sequence_.setArrayed(k, name);
            break;
        }
    }
    if (!readWhole(request_.lastSlice, "N of slices for magnetic gradient simulations", lastSlice_) ||
        !readWhole(request_.pointCount, "np", run().pointCount))
        return false;
    if (lastSlice_ < 0 || lastSlice_ >= kMaxStateRows)
        return refuse("The slice box (Text14(5)) holds " + std::to_string(lastSlice_) +
                      ": it is the slice count - 1 and must lie between 1 and " +
                      std::to_string(kMaxStateRows - 1) + ".");
    run().settings.lastSlice = lastSlice_;
    run().runsPerValue = request_.runsPerValue;
    // Sized in 64 bits before any record exists, so that an absurd Ni is refused, not overflowed.
    // An array file sets its own count from its rows, whatever the box holds.
    const std::int64_t runs = (std::int64_t{run().arraySize} + 1) * run().runsPerValue;
    const std::string& mode = request_.arrayMethod;
    if (util::equalsIgnoreCase(mode, "Add") || util::equalsIgnoreCase(mode, "Mult")) {
        if (!checkRunFits(runs, run().pointCount, 1))
            return false;
        if (run().arraySize > model::kMostArraySize)
            return refuse("Ni (Text14(11)) holds " + std::to_string(run().arraySize) +
                          "; a run takes at most " + std::to_string(model::kMostArraySize) +
                          " arrayed values.");
    }
    run().lastRun = static_cast<int>(std::min<std::int64_t>(runs, INT32_MAX) - 1);
    return true;
}

// Step 2: the acquisition step takes d10 = "at" as its delay; longer pulses on it are clipped.
bool Preparer::settleAcquisitionStep()
{
    const int step = sequence_.acquisitionStep();
    if (step >= kLastStepIndex)
        return true;
    double atMs = 0.0;
    if (!readNumber(request_.acquisitionTime, "at, ms", atMs))
        return false;
    // A shaped pulse sampled inside the sequence fixes np itself; its step's length and clip wait
    // for the settled np (settleSampledAcquisitionLength).
    bool shaped = false;
    for (const model::ChannelSetting& c : sequence_.step(step).channels)
        shaped = shaped || element::isShapedPulse(model::PulseSequence::referencedElement(c.content));
    sampledShapeLengthPending_ = shaped && step <= sequence_.stepCount();
    setAcquisitionLength(atMs, !sampledShapeLengthPending_);
    return true;
}

void Preparer::setAcquisitionLength(double atMs, bool clip)
{
    const int step = sequence_.acquisitionStep();
    sequence_.step(step).delay = -element::kAcquisitionDelay;
    sequence_.elements().setValue(element::kAcquisitionDelay, atMs);
    if (!clip)
        return;
    for (const model::ChannelSetting& c : sequence_.step(step).channels) {
        const int m = model::PulseSequence::referencedElement(c.content);
        const bool pulse =
            (m >= element::kFirstPulse && m <= element::kLastPulse) || element::isShapedPulse(m);
        if (pulse && sequence_.elements().value(m) > atMs * 1000.0) {
            sequence_.elements().setValue(m, atMs * 1000.0);
            messages_.show("pulselength is longer than at");
        }
    }
}

// After step 6: the step routine samples a shaped acquisition pulse once per element, each sample
// one P-th of the step after the last, so the step must last the F x np samples at 1 / sw that
// the spectra's axis assumes, and a pulse longer than that is clipped to it. The "at" box follows
// np / sw as it stood before the shape fixed np (a shape of 256 elements under an np box of 1024
// at 1000 Hz gave a 1024 ms step, samples 4 ms apart and every line at four times its frequency):
// the step takes the settled length instead.
bool Preparer::settleSampledAcquisitionLength()
{
    if (!sampledShapeLengthPending_)
        return true;
    const double sw = request_.spectralWidth.number.value_or(0.0);
    if (!(sw > 0.0))
        return refuse("The spectral width sw (Text14(6)) must be above 0.");
    setAcquisitionLength(run().oversampling * run().pointCount / util::toSingle(sw) * 1000.0, true);
    return true;
}

bool Preparer::namesArrayed(int elementIndex) const
{
    return elementIndex >= 0 &&
           util::equalsIgnoreCase(sequence_.elements().name(elementIndex), run().settings.arrayedName);
}

// Step 3: the value of the arrayed parameter in every run.
bool Preparer::computeArrayedValues()
{
    const std::string& name = run().settings.arrayedName;
    double start = 0.0;
    if (util::equalsIgnoreCase(name, "T2")) {
        if (!readNumber(request_.relaxationT2, "T2 =", start))
            return false;
    } else if (util::equalsIgnoreCase(name, "T1")) {
        if (!readNumber(request_.relaxationT1, "T1 =", start))
            return false;
    } else if (util::equalsIgnoreCase(name, "Tcr")) {
        if (!readNumber(request_.crossRelaxationTime, "Tcr =", start))
            return false;
    } else if (util::equalsIgnoreCase(name, "Kex")) {
        if (!readNumber(request_.exchangeRate, "Kex", start))
            return false;
    } else {
        start = sequence_.elements().value(sequence_.arrayedIndex());
    }

    const std::string& mode = request_.arrayMethod;
    const bool add = util::equalsIgnoreCase(mode, "Add");
    if (!add && !util::equalsIgnoreCase(mode, "Mult"))
        return readArrayFile(start);

    std::vector<double>& values = run().arrayedValues;
    values.assign(static_cast<std::size_t>(run().lastRun) + 1, 0.0);
    values[0] = start;
    if (run().lastRun == 0)
        return true;
    if (!readNumber(request_.arrayIncrement, "array increment", increment_))
        return false;
    incrementRead_ = true;
    const bool tppi = util::equalsIgnoreCase(request_.indirectMethod, "TPPI");
    int counter = 1;
    for (std::size_t i = 1; i < values.size(); ++i) {
        const double previous = values[i - 1];
        if (isArrayedDelay() && tppi) {
            // Every run of a TPPI series advances by half the increment, taken at single precision.
            values[i] = previous + util::toSingle(increment_) / 2.0;
        } else if (isArrayedDelay()) {
            // The two runs of a 2D increment share one delay.
            values[i] = counter == run().runsPerValue ? (add ? previous + increment_ : previous * increment_)
                                                      : previous;
            counter = counter == run().runsPerValue ? 1 : counter + 1;
        } else {
            const double product = increment_ * previous;
            values[i] = add ? previous + increment_ : (product > kMultCap ? previous : product);
            if (util::startsWithIgnoreCase(name, "r") && values[i] > kPowerCapDb)
                values[i] = kPowerCapDb;
        }
    }
    return true;
}

// An array file of the working directory: its second column adds to the start value, run by run.
bool Preparer::readArrayFile(double startValue)
{
    const std::string& file = request_.arrayMethod;
    if (!util::isBareFileName(file))
        return refuse("The array method \"" + file +
                      "\" must be Add, Mult or a file of the working directory.");
    const std::string digits3 = file.size() >= 5 ? file.substr(2, 3) : std::string();
    const std::string digits2 = file.size() >= 4 ? file.substr(2, 2) : std::string();
    int group = 0;
    if (util::isNumeric(digits3))
        group = util::roundToInt(*util::parseNumber(digits3));
    else if (util::isNumeric(digits2))
        group = util::roundToInt(*util::parseNumber(digits2));
    if (group <= 0)
        return refuse(
            "The array file \"" + file +
            "\" carries no group number: its third and fourth characters must be a number above 0.");

    pulses::NumericBuffer buffer;
    pulses::NumericReadRequest request;
    request.path = request_.workingDirectory / file;
    request.firstRow = 1;
    request.maxRow = model::kMostArrayFileRows;  // a longer file is "too big"
    const pulses::NumericReadResult read = pulses::readNumericTable(request, buffer, messages_);
    if (!read.fileFound || read.tooBig)
        return false;
    // L rows are L arrayed values: L runs, or L increments of two runs each in 2D; Ni = L - 1.
    const int rows = read.nextRow - 1;
    if (rows < 1)
        return refuse("The array file \"" + file + "\" holds no rows of values.");
    run().arraySize = rows - 1;
    writeBack().arraySize = rows - 1;
    run().lastRun = rows * run().runsPerValue - 1;
    run().arrayGroupSize = util::roundToInt(static_cast<double>(rows) / group);
    run().arrayedValues.assign(static_cast<std::size_t>(run().lastRun) + 1, 0.0);
    for (int i = 0; i <= run().lastRun; ++i)
        run().arrayedValues[static_cast<std::size_t>(i)] =
            startValue + buffer.at(i / run().runsPerValue + 1, 1);
    return true;
}

bool Preparer::checkRelaxationTimes()
{
    const RunSettings& s = run().settings;
    for (const char* time : {"T1", "T2", "Tcr"}) {
        if (!util::equalsIgnoreCase(s.arrayedName, time))
            continue;
        for (std::size_t r = 0; r < run().arrayedValues.size(); ++r) {
            if (!(run().arrayedValues[r] > 0.0))
                return refuse(std::string("The arrayed ") + time + " reaches " +
                              util::formatGeneral(run().arrayedValues[r]) + " ms in run " +
                              std::to_string(r) + "; relaxation times must be positive.");
        }
    }
    if (s.crossRelaxation && !(s.crossRelaxationMs > 0.0))
        return refuse("Cross-relaxation needs a positive Tcr (Text14(17)); it holds " +
                      util::formatGeneral(s.crossRelaxationMs) + " ms.");
    for (int k = 0; k < spins().spinCount(); ++k) {
        if (spins().slotState(k) == 0)
            continue;
        if ((s.t1Relaxation || s.crossRelaxation) && !(spins().t1Ms(k) > 0.0))
            return refuse("Spin " + spins().label(k) + " has T1 = " + util::formatGeneral(spins().t1Ms(k)) +
                          " ms; T1 relaxation needs a positive T1.");
        if ((s.t2Relaxation || s.crossRelaxation) && !(spins().t2Ms(k) > 0.0))
            return refuse("Spin " + spins().label(k) + " has T2 = " + util::formatGeneral(spins().t2Ms(k)) +
                          " ms; T2 relaxation needs a positive T2.");
    }
    return !s.crossRelaxation || checkCrossRelaxationRates();
}

// The Solomon equations return every z magnetisation to equilibrium only while each spin's own
// relaxation outpaces what cross-relaxation passes between the spins: with Tcr shorter than the
// T1s a combination of deviations would grow without bound instead.
bool Preparer::checkCrossRelaxationRates()
{
    const SpinTables tables = makeSpinTables(spins());
    for (std::size_t r = 0; r < run().arrayedValues.size(); ++r) {
        const Relaxation relaxation = relaxationForRun(tables, run().settings, run().arrayedValues[r], 1);
        const LongitudinalModes& modes = relaxation.longitudinal;
        for (int q = 0; q < modes.count; ++q) {
            if (modes.rates[static_cast<std::size_t>(q)] > 0.0)
                continue;
            return refuse("Cross-relaxation with Tcr = " + util::formatGeneral(relaxation.crossMs) +
                          " ms is faster than the spins' T1 relaxation allows (run " + std::to_string(r) +
                          "): the z magnetisation would grow without bound. Make Tcr longer than the "
                          "spins' T1.");
        }
    }
    return true;
}

// Elements a step carries must be usable: a pulse needs a power, gradients need slices.
bool Preparer::checkSequenceElements()
{
    static const char* const kChannelNames[] = {"1H", "13C", "15N"};
    bool gradientUsed = false;
    for (int s = 0; s <= sequence_.stepCount() + 1; ++s) {
        const model::SequenceStep& step = sequence_.step(s);
        gradientUsed = gradientUsed || step.gradient != 0.0;
        if (s > sequence_.stepCount())
            continue;
        for (int k = 0; k < model::kChannelCount; ++k) {
            const model::ChannelSetting& c = step.channels[k];
            if (c.content != 0 && c.content != model::kDecouplingCode && c.power == 0.0)
                return refuse("Step " + std::to_string(s) + " carries a pulse on the " + kChannelNames[k] +
                              " channel but no power: choose a power (r1 to r10) for it.");
        }
    }
    if (gradientUsed && lastSlice_ < 1)
        return refuse("The sequence uses a gradient, so the sample must be cut into slices: the slice box "
                      "(Text14(5)) holds " +
                      std::to_string(lastSlice_) +
                      ", and slices must be at least 2 (a value of at least 1).");
    return true;
}

// The unit of a pulse or delay element for messages; empty for elements that may be negative
// (gradients, offsets, powers) or hold no duration.
std::string_view durationUnit(int m)
{
    if ((m >= element::kFirstPulse && m <= element::kLastPulse) || element::isShapedPulse(m))
        return "us";
    if (m >= element::kFirstDelay && m <= element::kLastDelay)
        return "ms";
    return {};
}

// A pulse length or delay a step uses, and every value an arrayed one takes, must not be negative:
// a negative time has no meaning, and taking it as zero would run another experiment than the one asked.
bool Preparer::checkDurations()
{
    const model::ElementTable& elements = sequence_.elements();
    const auto refuseNegative = [&](int m, double value, std::string_view what) {
        return refuse("The " + std::string(what) + " " + elements.name(m) + " holds " +
                      util::formatGeneral(value) + " " + std::string(durationUnit(m)) +
                      "; pulse lengths and delays cannot be negative.");
    };
    for (int s = 0; s <= sequence_.stepCount() + 1; ++s) {
        const model::SequenceStep& step = sequence_.step(s);
        std::vector<int> used{model::PulseSequence::referencedElement(step.delay)};
        for (const model::ChannelSetting& c : step.channels)
            used.push_back(c.content < 0 && c.content != model::kDecouplingCode ? -c.content : 0);
        for (const int m : used) {
            if (m > 0 && !durationUnit(m).empty() && elements.value(m) < 0.0)
                return refuseNegative(m, elements.value(m),
                                      m <= element::kLastPulse || element::isShapedPulse(m) ? "pulse length"
                                                                                            : "delay");
        }
    }
    const std::optional<int> arrayed =
        elements.find(run().settings.arrayedName, 1, element::kLastShapedPulse);
    if (arrayed && !durationUnit(*arrayed).empty() && !run().arrayedValues.empty()) {
        const double least = *std::min_element(run().arrayedValues.begin(), run().arrayedValues.end());
        if (least < 0.0)
            return refuseNegative(*arrayed, least, "arrayed element");
    }
    return true;
}

// Steps 4 and 5: every distinct shaped gradient and shaped pulse takes a slot and loads its file.
bool Preparer::loadShapes()
{
    for (int s = 0; s <= sequence_.stepCount(); ++s) {
        const int m = model::PulseSequence::referencedElement(sequence_.step(s).gradient);
        if (m > 0 && util::startsWithIgnoreCase(sequence_.elements().name(m), "s") &&
            !loadShape(sequence_.elements().name(m), 2, false, s, -1))
            return false;
    }
    for (int s = 0; s <= sequence_.stepCount(); ++s) {
        for (int c = 0; c < model::kChannelCount; ++c) {
            const int m = model::PulseSequence::referencedElement(sequence_.step(s).channels[c].content);
            if (m > 0 && util::startsWithIgnoreCase(sequence_.elements().name(m), "s") &&
                !loadShape(sequence_.elements().name(m), 3, true, s, c))
                return false;
        }
    }
    return true;
}

bool Preparer::loadShape(const std::string& name, int columns, bool pulse, int step, int channel)
{
    pulses::ShapeSlots& slots = pulse ? run().pulseShapes : run().gradientShapes;
    const std::string file = model::ElementTable::shapeFileName(name);
    if (!util::isBareFileName(file))
        return refuse("The shaped element \"" + name +
                      "\" must name a file of the working directory, without a "
                      "folder.");
    const std::filesystem::path path = request_.workingDirectory / file;
    if (!slots.slotOf(name)) {
        if (slots.full())
            return refuse(pulse ? "Too many shaped pulses" : "Too many shaped Gradients");
        if (!util::fileExists(path)) {
            if (pulse)
                messages_.show("check the address " + path.string() + "Error!");
            else
                messages_.show("check the address " + path.string(), kErrorTitle);
            return false;
        }
        pulses::NumericBuffer buffer;
        pulses::NumericReadRequest request;
        request.path = path;
        request.firstRow = 1;
        const pulses::NumericReadResult read = pulses::readNumericTable(request, buffer, messages_);
        if (!read.fileFound || read.tooBig)
            return false;
        pulses::ShapeTable table;
        table.elementName = name;
        table.points.assign(static_cast<std::size_t>(read.nextRow), {});
        for (int p = 1; p < read.nextRow; ++p) {
            for (int c = 0; c < columns; ++c) {
                // A number beyond the single range reads as infinite: a phase, an amplitude or a
                // duration of infinity turns the whole row into NaN, and the run would end without
                // a line as if it had succeeded.
                const double value = buffer.at(p, c);
                if (!std::isfinite(value))
                    return refuse("The shaped element \"" + name + "\": element " + std::to_string(p) +
                                  " of " + path.string() + " holds a number too large.");
                table.points[static_cast<std::size_t>(p)][static_cast<std::size_t>(c)] = value;
            }
        }
        if (!pulse && table.pointCount() == 0)
            return refuse("The gradient shape " + path.string() + " has no readable rows.");
        slots.add(std::move(table));
    }

    // The acquisition shape may declare, in a first line "# mother M", that M points are acquired.
    const bool acquisitionShape =
        pulse && step == sequence_.acquisitionStep() && step <= sequence_.stepCount();
    if (acquisitionShape && motherPoints_ == 0 && channel >= 0) {
        const util::TextFileContent first = util::readTextLines(path, pulses::kMaxNumericTableBytes, 1);
        // As the numeric reader does, a UTF-8 signature before the first line is not part of it.
        const std::string line(first.ok && !first.lines.empty() ? util::withoutUtf8Signature(first.lines.front())
                                                                  : std::string_view());
        if (line.rfind("# mother", 0) == 0) {
            // The number stands after the keyword and its blanks, up to the next blank; tabs are
            // blanks too, as in the rows of the table (a tab after the number used to refuse it).
            constexpr std::string_view kBlanks = " \t";
            const std::size_t from = std::min(line.find_first_not_of(kBlanks, 8), line.size());
            const std::string value = line.substr(from, line.find_first_of(kBlanks, from) - from);
            const std::optional<std::int32_t> mother = util::parseWholeNumber(value);
            const int points = slots.slot(*slots.slotOf(name)).pointCount();
            if (!mother || *mother < 1 || *mother > points)
                return refuse("The first line of " + path.string() + " declares \"" + line +
                              "\": the number after \"# mother\" must lie between 1 and the pulse's " +
                              std::to_string(points) + " points.");
            motherPoints_ = *mother;
        }
    }
    return true;
}

// Step 6: a loaded shape fixes the point count; "# mother" sets the oversampling.
bool Preparer::settlePointCount()
{
    const int longest = std::max(run().pulseShapes.longest(), run().gradientShapes.longest());
    run().oversampling = 1;
    if (longest > 0) {
        run().pointCount = longest;
        shapeSetPointCount_ = true;
        if (!isPowerOfTwo(longest))
            return refuse("np=" + std::to_string(longest) + "  must be multiply of 2");
        writeBack().pointCount = longest;
        if (motherPoints_ > 1) {
            run().pointCount = motherPoints_;
            run().oversampling = util::roundToInt(static_cast<double>(longest) / motherPoints_);
        }
    }
    if (!isPowerOfTwo(run().pointCount))
        return refuse(shapeSetPointCount_
                          ? "np=" + std::to_string(run().pointCount) + "  must be multiply of 2"
                          : "The point count np (Text14(12)) is " + std::to_string(run().pointCount) +
                                "; it must be a power of two from 2 to 65536.");
    // The map transforms np indirect points: an increment beyond them would be computed and lost.
    if (run().runsPerValue == 2 && run().arraySize + 1 > run().pointCount)
        return refuse("A 2D run of Ni = " + std::to_string(run().arraySize) + " has " +
                      std::to_string(run().arraySize + 1) + " increments, more than the " +
                      std::to_string(run().pointCount) +
                      " the map holds with np = " + std::to_string(run().pointCount) + ".");
    if (run().runsPerValue == 2 && isArrayedDelay() && run().lastRun > 0 && incrementRead_ &&
        increment_ == 0.0)
        return refuse(
            "The array increment (Text14(0)) is 0: the delay of a 2D run must grow from one increment "
            "to the next.");
    return true;
}

double Preparer::elementLength(int code, double arrayedExtreme) const
{
    if (code >= 0)
        return code;
    const int m = model::PulseSequence::referencedElement(code);
    return namesArrayed(m) ? arrayedExtreme : sequence_.elements().value(m);
}

// Step 7: the fastest rate of the enabled relaxation and couplings limits the element length.
bool Preparer::checkRates()
{
    const RunSettings& s = run().settings;
    double fastest = 0.0;
    if (s.crossRelaxation)
        fastest = std::max(fastest, 1000.0 / s.crossRelaxationMs);
    const int n = spins().spinCount();
    for (int k = 0; k < n; ++k) {
        if (s.t1Relaxation)
            fastest = std::max(fastest, 1000.0 / spins().t1Ms(k));
        if (s.t2Relaxation)
            fastest = std::max(fastest, 1000.0 / spins().t2Ms(k));
        if (spins().slotState(k) != 0 && n > 1)
            for (int j = k + 1; j < n; ++j)
                fastest = std::max(fastest, std::abs(spins().couplingHz(k, j)));
    }
    run().fastestRate = fastest;
    run().elementLimitUs = 5000.0 / (fastest + 1e-11);

    // The longest an arrayed element gets in any run: a series that shrinks (a negative increment,
    // a factor below 1) is longest in run 0, which the last and second values alone missed.
    const std::vector<double>& values = run().arrayedValues;
    const double extreme = *std::max_element(values.begin(), values.end());

    run().acquisitionShapeSlot = kNoAcquisitionShape;
    for (int step = 0; step <= sequence_.stepCount(); ++step) {
        for (const model::ChannelSetting& c : sequence_.step(step).channels) {
            const double length = elementLength(c.content, extreme);
            const int m = model::PulseSequence::referencedElement(c.content);
            const std::string name = m >= 0 ? sequence_.elements().name(m) : std::string();
            if (!util::startsWithIgnoreCase(name, "s")) {
                if (beyondElementLimit(length))
                    warn("relaxation too fast - use the shaped pulse");
                continue;
            }
            const int slot = *run().pulseShapes.slotOf(name);
            if (step == sequence_.acquisitionStep())
                run().acquisitionShapeSlot = slot;
            const int points = run().pulseShapes.slot(slot).pointCount();
            if (points == 0) {
                // The one refusal that reports on the warning line: it is shown on its own.
                refusalWarning_ = WarningLine{"use the normal shaped pulse, not binary", true};
                return false;
            }
            if (beyondElementLimit(length / points))
                warn("relaxation too fast - use more elements in shaped pulse");
        }
    }
    return true;
}

// The cycle count must lie within its limit, and every record the run will hold, and its result
// files, must fit.
bool Preparer::checkSizes()
{
    if (const std::optional<std::string> problem = model::cycleCountProblem(sequence_.cycleCount()))
        return refuse("The sequence cannot run: " + *problem + " (the red cycle box, Text1(12)).");
    if (util::equalsIgnoreCase(run().settings.arrayedName, "Ncycle")) {
        const double most = *std::max_element(run().arrayedValues.begin(), run().arrayedValues.end());
        if (const std::optional<std::string> problem = model::cycleCountProblem(most))
            return refuse("The arrayed Ncycle cannot run: " + *problem + ".");
    }
    return checkRunFits(std::int64_t{run().lastRun} + 1, run().pointCount, run().oversampling);
}

const SystemCapacity& Preparer::capacity()
{
    if (!capacity_)
        capacity_ = request_.capacity ? *request_.capacity : readSystemCapacity(request_.workingDirectory);
    return *capacity_;
}

bool Preparer::checkRunFits(std::int64_t runs, int pointCount, int oversampling)
{
    bool gradients = false;
    for (int s = 0; s <= sequence_.stepCount() + 1; ++s)
        gradients = gradients || sequence_.step(s).gradient != 0.0;
    RunShape shape;
    shape.spinCount = spins().spinCount();
    shape.runs = runs;
    shape.pointCount = std::max(pointCount, 1);
    shape.oversampling = std::max(oversampling, 1);
    shape.stateRows = gradients ? lastSlice_ + 1 : 1;
    shape.detectionRows = shape.stateRows;
    shape.twoD = run().runsPerValue == 2;
    shape.strongCoupling = run().settings.strongCoupling;
    shape.operatorTable = request_.tables.operators;
    shape.magnetisationFiles = request_.tables.magnetisation;
    shape.spectraTable = request_.tables.spectra;
    shape.mapTable = request_.tables.map;
    shape.pictures = request_.tables.pictures;
    for (int i = 0; i < shape.spinCount; ++i) {
        int partners = 0;
        for (int j = 0; j < shape.spinCount; ++j)
            partners += j != i && spins().couplingHz(i, j) != 0.0 ? 1 : 0;
        addRecordedOperatorBound(partners, shape);
    }
    const std::optional<std::string> problem = runSizeProblem(estimateRunSize(shape), capacity());
    return !problem || refuse(*problem);
}

// Step 8.
bool Preparer::prepareAcquisitionPulse()
{
    if (run().acquisitionShapeSlot == kNoAcquisitionShape)
        return true;
    pulses::AcquisitionPulseRequest request;
    request.pointCount = run().pointCount;
    request.oversampling = run().oversampling;
    request.replace = request_.correlateWith;
    request.replacementName = request_.correlationPulse;
    request.workingDirectory = request_.workingDirectory;
    request.outputDirectory = request_.outputDirectory;
    pulses::ShapeTable shape = run().pulseShapes.slot(run().acquisitionShapeSlot);
    result_.acquisitionPulse = pulses::prepareAcquisitionPulse(shape, request, messages_);
    if (!result_.acquisitionPulse)
        return false;
    run().pulseShapes.replace(run().acquisitionShapeSlot, std::move(shape));
    return true;
}

// Step 10: the acquisition time, the run selector and the indirect spectral width.
void Preparer::fillWindowFields()
{
    const double sw = request_.spectralWidth.number.value_or(0.0);  // checked positive
    writeBack().acquisitionTimeMs = run().oversampling * run().pointCount / util::toSingle(sw) * 1000.0;
    const std::optional<std::int32_t> ni =
        writeBack().arraySize ? writeBack().arraySize : util::parseWholeNumber(request_.arraySize.text);
    writeBack().runSelectorMaximum = std::min(ni.value_or(0), 32000);

    if (!isArrayedDelay() || !incrementRead_ || increment_ == 0.0)
        return;
    int uses = 0;
    for (int s = 0; s <= sequence_.stepCount(); ++s)
        uses += namesArrayed(model::PulseSequence::referencedElement(sequence_.step(s).delay)) ? 1 : 0;
    if (uses > 0)
        writeBack().indirectSpectralWidthHz = 1000.0 / increment_ / uses;
}

// Step 11: the operators chosen in the list form a non-equilibrium start.
bool Preparer::settleInitialState()
{
    const std::vector<std::string>& listed = request_.initialOperators;
    const std::vector<bool>& selected = request_.initialOperatorsChosen;
    std::vector<std::string> chosen;
    for (std::size_t i = 0; i < listed.size() && i < selected.size(); ++i)
        if (selected[i])
            chosen.push_back(listed[i]);
    if (chosen.empty()) {
        writeBack().equilibriumStart = true;
        run().settings.nonEquilibrium = false;
    }
    if (!run().settings.nonEquilibrium)
        return true;
    if (static_cast<int>(chosen.size()) > kMaxInitialOperators)
        return refuse(std::to_string(chosen.size()) +
                      " starting operators are selected; a non-equilibrium start "
                      "takes at most " +
                      std::to_string(kMaxInitialOperators) + ".");

    run().initialOperators.clear();
    for (const std::string& item : chosen) {
        int index = 0;
        for (std::size_t g = 0; g + 3 <= item.size(); g += 3) {
            const char digit = item[g + 1];
            const int k = digit - '0';
            if (k < 0 || k > 9 || k >= spins().spinCount())
                return refuse("The starting operator \"" + item + "\" names spin " + std::string(1, digit) +
                              ", which is not in the spin system.");
            const char component = item[g + 2];
            index += (component == 'z' ? 3 : component == 'y' ? 2 : 1) * kStride[k];
        }
        run().initialOperators.push_back(index);
    }
    writeBack().initialOperators = std::move(chosen);
    return true;
}

PreparationOutcome Preparer::prepare()
{
    const bool prepared = readRunSettings() && settleRunCounts() && settleAcquisitionStep() &&
                          checkStrongCoupling() && computeArrayedValues() && checkRelaxationTimes() &&
                          checkSequenceElements() && checkDurations() && loadShapes() && settlePointCount() &&
                          settleSampledAcquisitionLength() && checkRates() && checkSizes() &&
                          prepareAcquisitionPulse();
    if (!prepared)
        return {std::nullopt, refusalWarning_};
    const int samples = run().oversampling * run().pointCount;
    result_.signal = SampleRecord(samples, run().lastRun);
    result_.timeDomain = SampleRecord(samples, run().lastRun);
    fillWindowFields();
    if (!settleInitialState())
        return {};
    writeBack().sequence = std::move(sequence_);
    return {std::move(result_), std::nullopt};
}

}  // namespace

PreparationOutcome prepareSequence(const RunRequest& request, util::Messages& messages)
{
    Preparer preparer(request, messages);
    return preparer.prepare();
}

}  // namespace velmora::engine
