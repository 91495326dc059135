// Damaged and hostile model files: every truncation and a few thousand seeded mutations of a valid
// molecule file and a valid sequence file. Each read either succeeds and leaves a model the engine
// can use, or is refused with a message naming the file and leaves every object it was given as
// it was. The sanitizer build turns any out-of-bounds access or undefined arithmetic into a failure.
#include "model/controls.h"
#include "model/exchange_settings.h"
#include "model/molecule_file.h"
#include "model/pulse_sequence.h"
#include "model/sequence_file.h"
#include "model/spin_system.h"
#include "support/scratch_directory.h"
#include "util/uniform_random.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace velmora::model {
namespace {

namespace fs = std::filesystem;
using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;
using Status = FileReadResult::Status;

constexpr int kMutationsPerReader = 2000;
constexpr std::int64_t kMutationSeed = 0x5eed'f11e;

// ---------------------------------------------------------------------------------------------
// Showing values and bytes in failure messages

std::string printable(std::string_view bytes, std::size_t limit = 300)
{
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c < 32 || c >= 127) {
            static constexpr char kHex[] = "0123456789abcdef";
            text += "\\x";
            text += kHex[c >> 4];
            text += kHex[c & 15];
        } else
            text += static_cast<char>(c);
    }
    if (bytes.size() > limit)
        text += "... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

std::string shown(double value)
{
    std::ostringstream out;
    out.precision(17);
    out << value;
    return out.str();
}
std::string shown(int value)
{
    return std::to_string(value);
}
std::string shown(const std::string& value)
{
    return "\"" + printable(value, 60) + "\"";
}

// Keeps the first difference between two models; names are built only when something differs,
// since a comparison covers about a thousand fields and runs for every damaged file.
class Differences {
public:
    template <class T, class Name> void compare(const T& a, const T& b, Name name)
    {
        if (first_.empty() && !(a == b))
            first_ = name() + ": " + shown(a) + " became " + shown(b);
    }
    void note(const std::string& what)
    {
        if (first_.empty())
            first_ = what;
    }
    const std::string& first() const { return first_; }

private:
    std::string first_;
};

// ---------------------------------------------------------------------------------------------
// Comparing and checking spin systems

// "" when the two spin systems agree in every slot 0..10, every coupling and the derived tables.
std::string spinDifference(const SpinSystem& expected, const SpinSystem& actual)
{
    Differences d;
    d.compare(expected.spinCount(), actual.spinCount(), [] { return std::string("spin count"); });
    d.compare(expected.fieldTesla(), actual.fieldTesla(), [] { return std::string("field"); });
    d.compare(expected.protonFrequencyMHz(), actual.protonFrequencyMHz(),
              [] { return std::string("proton frequency"); });
    for (int k = 0; k < SpinSystem::kSlots; ++k) {
        const auto slot = [k](const char* what) {
            return [k, what] { return std::string(what) + " of slot " + std::to_string(k); };
        };
        d.compare(expected.label(k), actual.label(k), slot("label"));
        d.compare(expected.shiftPpm(k), actual.shiftPpm(k), slot("shift"));
        d.compare(expected.t1Ms(k), actual.t1Ms(k), slot("T1"));
        d.compare(expected.t2Ms(k), actual.t2Ms(k), slot("T2"));
        d.compare(expected.slotState(k), actual.slotState(k), slot("slot state"));
        d.compare(expected.nucleusConstant(k), actual.nucleusConstant(k), slot("nucleus constant"));
        d.compare(expected.channel(k), actual.channel(k), slot("channel"));
        d.compare(expected.shiftHz(k), actual.shiftHz(k), slot("shift in Hz"));
        for (int j = 0; j < SpinSystem::kSlots; ++j)
            d.compare(expected.couplingHz(k, j), actual.couplingHz(k, j),
                      [k, j] { return "J(" + std::to_string(k) + ", " + std::to_string(j) + ")"; });
    }
    return d.first();
}

// "" when the spin system is what a rebuild leaves: spins in slots 0..N-1 only, each labelled
// after its slot with derived values that match its nucleus, slot 10 empty, finite values,
// symmetric couplings and no coupling to an empty slot.
std::string spinSystemProblem(const SpinSystem& s)
{
    const int n = s.spinCount();
    if (n < 1 || n > SpinSystem::kMaxSpins)
        return "spin count " + std::to_string(n) + " is outside 1 to 10";
    for (int k = 0; k < SpinSystem::kSlots; ++k) {
        const std::string where = "slot " + std::to_string(k);
        const std::string& label = s.label(k);
        if (k < n && label.empty())
            return where + " is empty although the spin count is " + std::to_string(n);
        if (k >= n && !label.empty())
            return where + " holds \"" + printable(label) + "\" although the spin count is " +
                   std::to_string(n);
        if (!std::isfinite(s.shiftPpm(k)) || !std::isfinite(s.t1Ms(k)) || !std::isfinite(s.t2Ms(k)))
            return where + " holds a value that is not finite";
        for (int j = 0; j < SpinSystem::kSlots; ++j) {
            if (!std::isfinite(s.couplingHz(k, j)) || s.couplingHz(k, j) != s.couplingHz(j, k))
                return "J(" + std::to_string(k) + ", " + std::to_string(j) +
                       ") is not finite or not symmetric";
            if (label.empty() && s.couplingHz(k, j) != 0.0)
                return "the empty " + where + " keeps a coupling to slot " + std::to_string(j);
        }
        if (label.empty()) {
            if (s.slotState(k) != 0)
                return "the empty " + where + " has slot state " + std::to_string(s.slotState(k));
            continue;
        }
        const std::optional<Nucleus> nucleus = s.nucleus(k);
        if (!nucleus || label != std::string(1, nucleusLetter(*nucleus)) + std::to_string(k))
            return where + " is labelled \"" + printable(label) + "\"";
        if (s.slotState(k) != SpinSystem::kOccupied || s.nucleusConstant(k) != nucleusConstant(*nucleus) ||
            s.channel(k) != nucleusChannel(*nucleus))
            return "the derived tables of " + where + " do not match its nucleus";
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Comparing and checking sequences, controls and exchange settings

std::string sequenceDifference(const PulseSequence& expected, const PulseSequence& actual)
{
    Differences d;
    const auto named = [](const char* what) { return [what] { return std::string(what); }; };
    d.compare(expected.stepCount(), actual.stepCount(), named("step count"));
    d.compare(expected.cycleStart(), actual.cycleStart(), named("cycle start"));
    d.compare(expected.cycleEnd(), actual.cycleEnd(), named("cycle end"));
    d.compare(expected.pointStep(), actual.pointStep(), named("point step"));
    d.compare(expected.acquisitionStep(), actual.acquisitionStep(), named("acquisition step"));
    d.compare(expected.arrayedIndex(), actual.arrayedIndex(), named("arrayed index"));
    d.compare(expected.arrayedName(), actual.arrayedName(), named("arrayed name"));
    for (int s = 0; s < PulseSequence::kStepSlots; ++s) {
        const SequenceStep& a = expected.step(s);
        const SequenceStep& b = actual.step(s);
        const auto ofStep = [s](const char* what) {
            return [s, what] { return std::string(what) + " of step " + std::to_string(s); };
        };
        d.compare(a.delay, b.delay, ofStep("delay"));
        d.compare(a.gradient, b.gradient, ofStep("gradient"));
        for (int k = 0; k < kChannelCount; ++k) {
            const auto ofChannel = [s, k](const char* what) {
                return [s, k, what] {
                    return std::string(what) + " of step " + std::to_string(s) + ", channel " +
                           std::to_string(k);
                };
            };
            d.compare(a.channels[k].content, b.channels[k].content, ofChannel("content"));
            d.compare(a.channels[k].phase, b.channels[k].phase, ofChannel("phase"));
            d.compare(a.channels[k].power, b.channels[k].power, ofChannel("power"));
            d.compare(a.channels[k].offset, b.channels[k].offset, ofChannel("offset"));
        }
    }
    for (int m = 0; m < element::kCount; ++m) {
        const auto ofElement = [m](const char* what) {
            return [m, what] { return std::string(what) + " of element " + std::to_string(m); };
        };
        d.compare(expected.elements().name(m), actual.elements().name(m), ofElement("name"));
        d.compare(expected.elements().value(m), actual.elements().value(m), ofElement("value"));
    }
    return d.first();
}

// The controls a sequence file touches, and their neighbours.
const std::vector<std::pair<std::string_view, int>> kComparedControls = {
    {"Text14", 26}, {"Check1", 28}, {"Combo2", 5}, {"Label3", 17},
    {"List5", 0},   {"Text4", 16},  {"Text1", 13}};

std::string controlsDifference(const Controls& expected, const Controls& actual)
{
    for (const auto& [array, last] : kComparedControls) {
        for (int i = 0; i <= last; ++i) {
            const ControlId id{array, i};
            const std::string name = Controls::nameOf(id);
            if (expected.contains(id) != actual.contains(id))
                return name + " is registered in one copy only";
            if (!expected.contains(id))
                continue;
            const ControlState& a = expected.at(id);
            const ControlState& b = actual.at(id);
            if (a == b)
                continue;
            Differences d;
            d.compare(a.text, b.text, [&] { return "text of " + name; });
            d.compare(a.caption, b.caption, [&] { return "caption of " + name; });
            d.compare(a.value, b.value, [&] { return "value of " + name; });
            d.compare(static_cast<int>(a.items.size()), static_cast<int>(b.items.size()),
                      [&] { return "item count of " + name; });
            for (std::size_t r = 0; r < a.items.size() && r < b.items.size(); ++r)
                d.compare(a.items[r], b.items[r],
                          [&] { return "item " + std::to_string(r) + " of " + name; });
            d.note(name + " changed (selection, range, visibility or enabled state)");
            return d.first();
        }
    }
    return {};
}

std::string exchangeDifference(const ExchangeSettings& expected, const ExchangeSettings& actual)
{
    Differences d;
    for (int v = 0; v < ExchangeSettings::kValueCount; ++v)
        d.compare(expected.values[v], actual.values[v],
                  [v] { return "exchange value " + std::to_string(v); });
    const auto named = [](const char* what) { return [what] { return std::string(what); }; };
    d.compare(expected.lastRunIndex, actual.lastRunIndex, named("last exchange run"));
    d.compare(expected.phase, actual.phase, named("exchange phase list"));
    d.compare(expected.seriesValue, actual.seriesValue, named("exchange series value"));
    d.compare(expected.sweptName, actual.sweptName, named("first swept exchange parameter"));
    d.compare(expected.shapedPulse, actual.shapedPulse, named("exchange shaped pulse"));
    d.compare(expected.startMagnetisation, actual.startMagnetisation,
              named("exchange starting magnetisation"));
    d.compare(expected.secondSweptName, actual.secondSweptName, named("second swept exchange parameter"));
    d.compare(expected.secondSeriesValue, actual.secondSeriesValue, named("second exchange series value"));
    d.compare(expected.secondSeriesCount, actual.secondSeriesCount, named("second exchange series count"));
    if (d.first().empty() && !(expected == actual))
        d.note("exchange settings changed");
    return d.first();
}

// A reference stored in a step: a literal (>= 0) or -m for an element m of 0..133.
bool namesAnElementOrLiteral(double reference)
{
    return std::isfinite(reference) && (reference >= 0.0 || std::round(-reference) < element::kCount);
}

// "" when the sequence is one the engine can walk: step count and markers in range, and every
// reference of steps 0..S+1 on channels 0..2 naming an element 0..133 with a phase code 0..9.
std::string sequenceProblem(const PulseSequence& q)
{
    const int count = q.stepCount();
    if (count < 0 || count > PulseSequence::kStepSlots - 2)
        return "step count " + std::to_string(count) + " is outside 0 to 59";
    if (q.pointStep() != count)
        return "point step " + std::to_string(q.pointStep()) + " is not the step count";
    if (q.cycleStart() < 0 || q.cycleStart() >= PulseSequence::kStepSlots || q.cycleEnd() < 0 ||
        q.cycleEnd() >= PulseSequence::kStepSlots)
        return "cycle block " + std::to_string(q.cycleStart()) + ".." + std::to_string(q.cycleEnd()) +
               " lies outside the steps";
    if (q.acquisitionStep() < 0 || q.acquisitionStep() > PulseSequence::kAcquisitionOff)
        return "acquisition marker " + std::to_string(q.acquisitionStep()) + " is outside 0 to 255";
    if (q.arrayedIndex() < 0 || q.arrayedIndex() >= element::kCount)
        return "arrayed index " + std::to_string(q.arrayedIndex()) + " names no element";
    for (int s = 0; s <= count + 1; ++s) {
        const SequenceStep& step = q.step(s);
        const std::string where = "step " + std::to_string(s);
        if (!namesAnElementOrLiteral(step.delay))
            return "the delay of " + where + " (" + shown(step.delay) + ") names no element";
        if (!namesAnElementOrLiteral(step.gradient))
            return "the gradient of " + where + " (" + shown(step.gradient) + ") names no element";
        for (int k = 0; k < kChannelCount; ++k) {
            const ChannelSetting& c = step.channels[k];
            const std::string cell = where + ", channel " + std::to_string(k);
            // Widened before negation: the content may be the smallest int.
            if (c.content < 0 && -static_cast<long long>(c.content) >= element::kCount)
                return "the content of " + cell + " (" + std::to_string(c.content) + ") names no element";
            if (c.phase < 0 || c.phase > 9)
                return "the phase code of " + cell + " is " + std::to_string(c.phase);
            if (!namesAnElementOrLiteral(c.power))
                return "the power of " + cell + " (" + shown(c.power) + ") names no element";
            if (!namesAnElementOrLiteral(c.offset))
                return "the offset of " + cell + " (" + shown(c.offset) + ") names no element";
        }
    }
    for (int m = 0; m < element::kCount; ++m) {
        if (!std::isfinite(q.elements().value(m)))
            return "element " + std::to_string(m) + " holds a value that is not finite";
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// The models written and the distinct models read into

SpinSystem moleculeToWrite()
{
    SpinSystem s;
    for (int k = 0; k < SpinSystem::kSlots; ++k)
        EXPECT_TRUE(s.setLabel(k, ""));
    const char* labels[] = {"H0", "H1", "C2", "N3"};
    const double shifts[] = {4.75, -1.25, 128.5, 117.25};
    const double t1[] = {800, 1200, 2500, 3000};
    const double t2[] = {64, 80, 300, 150};
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(s.setLabel(k, labels[k]));
        s.setShiftPpm(k, shifts[k]);
        s.setT1Ms(k, t1[k]);
        s.setT2Ms(k, t2[k]);
    }
    s.setCouplingHz(0, 1, 7.5);
    s.setCouplingHz(0, 2, 145.0);
    s.setCouplingHz(0, 3, -92.5);
    s.setCouplingHz(1, 2, 3.25);
    s.setCouplingHz(1, 3, 0.75);
    s.setCouplingHz(2, 3, -11.5);
    s.rebuild();
    return s;
}

// Six spins, every value different from the written molecule, also in the slots beyond them.
SpinSystem moleculeBefore()
{
    SpinSystem s;
    const char* labels[] = {"H0", "C1", "C2", "H3", "N4", "H5"};
    for (int k = 0; k < SpinSystem::kSlots; ++k) {
        EXPECT_TRUE(s.setLabel(k, k < 6 ? labels[k] : ""));
        s.setShiftPpm(k, 1.5 + 0.25 * k);
        s.setT1Ms(k, 900.0 + k);
        s.setT2Ms(k, 90.0 + k);
    }
    for (int i = 0; i < 6; ++i)
        for (int j = i + 1; j < 6; ++j)
            s.setCouplingHz(i, j, 10.0 * i + j + 0.5);
    s.setFieldPair(11.7, 500.0);
    s.rebuild();
    return s;
}

struct SequenceModel {
    PulseSequence sequence;
    Controls controls;
    ExchangeSettings exchange;
};

void expectOk(const util::Outcome& outcome)
{
    EXPECT_TRUE(outcome.ok()) << outcome.message();
}

// Seven editable steps with hard and shaped pulses on all three channels, literal and element
// references, a cycled block, an acquisition on a shaped pulse, and boxes away from their defaults.
SequenceModel sequenceToWrite()
{
    SequenceModel m;
    PulseSequence& q = m.sequence;
    for (int s : {1, 1, 3, 0, 5})
        EXPECT_TRUE(q.insertStep(s));
    expectOk(q.setContent(1, 0, "p3"));
    expectOk(q.setContent(2, 0, "n_sinc.RF"));
    expectOk(q.setContent(3, 1, "n_hs1.RF"));
    expectOk(q.setContent(4, 2, "p4"));
    expectOk(q.setContent(5, 2, "dec"));
    q.step(6).channels[0].content = 250;  // a literal width in microseconds
    expectOk(q.setPhase(1, 0, 2));
    expectOk(q.setPhase(2, 0, 5));
    expectOk(q.setPhase(3, 1, 3));
    expectOk(q.setPhase(4, 2, 9));
    expectOk(q.setPower(2, 0, "r4"));
    expectOk(q.setPower(3, 2, "none"));
    expectOk(q.setOffset(3, 1, "o6"));
    expectOk(q.setDelay(2, "d5"));
    expectOk(q.setDelay(4, "d3"));
    q.step(5).delay = 3.5;  // a literal delay in milliseconds
    expectOk(q.setGradient(3, "g2"));
    expectOk(q.setGradient(4, "n_grad.GRD"));
    q.setCycleStart(2);
    q.setCycleEnd(4);
    EXPECT_TRUE(q.toggleAcquisition(2));
    q.setArrayedParameter("d5");
    ElementTable& e = q.elements();
    e.setValue(element::kCycleCount, 3.0);
    e.setValue(1, 7.5);
    e.setValue(15, 12.25);
    e.setValue(24, -0.75);
    e.setValue(33, -150.5);
    e.setValue(45, 42.0);
    e.setValue(53, 1234.5);
    e.setValue(62, 0.125);

    Controls& c = m.controls;
    c.setText(ctl::ArrayIncrement, "0.25");
    c.setText(ctl::ScanCount, "4");
    c.setText(ctl::FieldTesla, "9.4");
    c.setText(ctl::ProtonFrequency, "400");
    c.setText(ctl::SpectralWidth, "5000");
    c.setText(ctl::PointCount, "1024");
    c.setText(ctl::LineBroadening1D, "2.5");
    c.setText(ctl::IndirectMethod, "TPPI");
    c.setText(ctl::DetectionChannel, "C13");
    c.setText(ctl::DirectWindow, "Lorenz");
    c.setChecked(ctl::JCoupling, false);
    c.setChecked(ctl::T1Relaxation, true);
    c.setChecked(ctl::T2Relaxation, true);
    c.setCaption(ctl::ArrayMethod, "Mult");
    c.setItems(ctl::PhaseCycle, {"0213", "1111", "0022", "", "13", "2"});
    c.setText({"Text4", 9}, "zvt");
    c.setText({"Text4", 11}, "shape7");

    ExchangeSettings& x = m.exchange;
    x.values = {500, 1500, 250, 10, 40, 3, 2000, 0.75, 900, 800, 80, 70, 90};
    x.lastRunIndex = 5;
    x.phase = "0123";
    x.seriesValue = 1.5;
    x.sweptName = "Tcp";
    x.shapedPulse = "sinc.RF";
    x.startMagnetisation = "Iz";
    x.secondSweptName = "Kex";
    x.secondSeriesValue = 2.5;
    x.secondSeriesCount = 7;
    return m;
}

// Another step count, other element names and values, other markers and boxes.
SequenceModel sequenceBefore()
{
    SequenceModel m;
    PulseSequence& q = m.sequence;
    q.resetToDefaults("before.RF", "before.GRD");
    for (int s = 0; s < 6; ++s)
        EXPECT_TRUE(q.insertStep(0));
    for (int k = 1; k < element::kDecoupling; ++k)
        q.elements().setValue(k, 1000.0 + k);
    q.setCycleBounds(1, 3);
    q.setAcquisitionStep(PulseSequence::kAcquisitionOff);
    q.setArrayed(element::kFirstDelay + 1, "d2");
    q.setPointStep(7);

    Controls& c = m.controls;
    for (int i = 0; i <= 26; ++i)
        c.setText({"Text14", i}, "before " + std::to_string(i));
    for (int i = 0; i <= 28; ++i)
        c.setChecked({"Check1", i}, !c.checked({"Check1", i}));
    for (int i = 0; i <= 5; ++i)
        c.setText({"Combo2", i}, "before");
    for (int i = 0; i <= 17; ++i)
        c.setCaption({"Label3", i}, "before " + std::to_string(i));
    for (int i = 0; i <= 16; ++i)
        c.setText({"Text4", i}, "before " + std::to_string(i));
    for (int i = 0; i <= 13; ++i)
        c.setText({"Text1", i}, "before " + std::to_string(i));
    c.setItems(ctl::PhaseCycle, {"9", "8", "7", "6", "5", "4", "3"});

    ExchangeSettings& x = m.exchange;
    for (int v = 0; v < ExchangeSettings::kValueCount; ++v)
        x.values[v] = 7.0 + v;
    x.lastRunIndex = 2;
    x.phase = "3210";
    x.seriesValue = 9.0;
    x.sweptName = x.shapedPulse = x.startMagnetisation = x.secondSweptName = "before";
    x.secondSeriesValue = 9.5;
    x.secondSeriesCount = 3;
    return m;
}

std::string sequenceModelDifference(const SequenceModel& expected, const SequenceModel& actual)
{
    std::string d = sequenceDifference(expected.sequence, actual.sequence);
    if (d.empty())
        d = controlsDifference(expected.controls, actual.controls);
    if (d.empty())
        d = exchangeDifference(expected.exchange, actual.exchange);
    return d;
}

// ---------------------------------------------------------------------------------------------
// Judging one read

struct CaseResult {
    Status status = Status::Read;
    std::string problem;  // "" when the read behaved
};

// A read is judged by its status: a refusal must carry a message naming the file and leave the
// model unchanged; a successful read must leave a valid model.
CaseResult judge(const FileReadResult& result, const fs::path& path,
                 const std::function<std::string()>& change, const std::function<std::string()>& invalidity)
{
    switch (result.status) {
    case Status::Missing:
        return {Status::Missing, "reported as missing although the file exists"};
    case Status::Refused: {
        if (result.message.empty())
            return {Status::Refused, "refused without a message"};
        if (result.message.find(path.filename().string()) == std::string::npos)
            return {Status::Refused, "the message does not name the file: " + result.message};
        const std::string changed = change();
        return {Status::Refused, changed.empty() ? "" : "refused, but the model changed: " + changed};
    }
    case Status::Read: {
        const std::string invalid = invalidity();
        return {Status::Read, invalid.empty() ? "" : "read, but the model is not valid: " + invalid};
    }
    }
    return {result.status, "unknown status"};
}

// Writes the bytes as a new file. Removing the previous one first keeps the file system from
// flushing a truncated and rewritten file to disk on every case.
fs::path freshFile(const ScratchDirectory& dir, const std::string& name, std::string_view bytes)
{
    std::error_code ignored;
    fs::remove(dir.path() / name, ignored);
    return dir.writeBytes(name, bytes);
}

class MoleculeReads {
public:
    MoleculeReads(const ScratchDirectory& dir, SpinSystem before) : dir_(dir), before_(std::move(before)) {}

    // Reads `bytes` into a fresh copy of the before model, left in `target`.
    CaseResult run(std::string_view bytes, SpinSystem& target) const
    {
        const fs::path path = freshFile(dir_, "damaged.mol", bytes);
        target = before_;
        const FileReadResult result = readMolecule(path, target);
        return judge(
            result, path, [&] { return spinDifference(before_, target); },
            [&] { return spinSystemProblem(target); });
    }
    const SpinSystem& before() const { return before_; }

private:
    const ScratchDirectory& dir_;
    SpinSystem before_;
};

class SequenceReads {
public:
    SequenceReads(const ScratchDirectory& dir, SequenceModel before) : dir_(dir), before_(std::move(before))
    {
    }

    CaseResult run(std::string_view bytes, SequenceModel& target) const
    {
        const fs::path path = freshFile(dir_, "damaged.psq", bytes);
        target = before_;
        const FileReadResult result =
            readSequence(path, dir_.path(), {target.sequence, target.controls, target.exchange});
        return judge(
            result, path, [&] { return sequenceModelDifference(before_, target); },
            [&] { return sequenceProblem(target.sequence); });
    }
    const SequenceModel& before() const { return before_; }

private:
    const ScratchDirectory& dir_;
    SequenceModel before_;
};

// Counts outcomes over many files and reports the first few misbehaving ones with their bytes.
class Tally {
public:
    explicit Tally(std::string name) : name_(std::move(name)) {}

    void add(const CaseResult& result, const std::string& what, std::string_view bytes)
    {
        ++cases_;
        if (result.status == Status::Read)
            ++read_;
        else if (result.status == Status::Refused)
            ++refused_;
        if (result.problem.empty())
            return;
        ++failures_;
        constexpr int kShown = 5;
        if (failures_ <= kShown)
            ADD_FAILURE() << name_ << ", " << what << ": " << result.problem
                          << "\n  file: " << printable(bytes);
    }

    // Records the counts in the test report and fails when any case misbehaved.
    void finish() const
    {
        ::testing::Test::RecordProperty("cases", cases_);
        ::testing::Test::RecordProperty("read", read_);
        ::testing::Test::RecordProperty("refused", refused_);
        EXPECT_EQ(failures_, 0) << failures_ << " of " << cases_ << " " << name_ << " misbehaved";
    }
    int cases() const { return cases_; }
    int read() const { return read_; }
    int refused() const { return refused_; }

private:
    std::string name_;
    int cases_ = 0;
    int read_ = 0;
    int refused_ = 0;
    int failures_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Truncations and mutations

// Cut points: right before and right after every comma, before the CR, between CR and LF and after
// the LF of every line end, and the empty file.
std::vector<std::size_t> truncationPoints(const std::string& bytes)
{
    std::set<std::size_t> cuts{0};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == ',') {
            cuts.insert(i);
            cuts.insert(i + 1);
        }
        if (bytes[i] == '\n') {
            cuts.insert(i);
            cuts.insert(i + 1);
            if (i > 0 && bytes[i - 1] == '\r')
                cuts.insert(i - 1);
        }
    }
    return {cuts.begin(), cuts.end()};
}

// Position of the last comma on line `line` (1-based) of a file with LF line ends.
std::size_t lastCommaOfLine(const std::string& bytes, int line)
{
    std::size_t end = 0;
    for (int l = 0; l < line; ++l)
        end = bytes.find('\n', l == 0 ? 0 : end + 1);
    return bytes.rfind(',', end);
}

class Mutator {
public:
    explicit Mutator(std::int64_t seed) : random_(seed) {}

    // 1 to 3 damages of the file; returns what was done, for failure messages.
    std::string damage(std::string& bytes)
    {
        std::string done;
        const int count = 1 + below(3);
        for (int i = 0; i < count; ++i)
            done += (i > 0 ? "; " : "") + damageOnce(bytes);
        return done;
    }

private:
    int below(int n) { return static_cast<int>(random_.next() * n); }
    std::size_t below(std::size_t n)
    {
        return static_cast<std::size_t>(random_.next() * static_cast<double>(n));
    }
    template <std::size_t N> const char* pick(const char* const (&choices)[N])
    {
        return choices[below(static_cast<int>(N))];
    }

    struct Field {
        std::size_t begin = 0;  // first byte of the field
        std::size_t comma = 0;  // the comma that ends it
    };

    // A random field: the text before a random comma, back to the previous comma or line start.
    std::optional<Field> randomField(const std::string& bytes)
    {
        std::vector<std::size_t> commas;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == ',')
                commas.push_back(i);
        }
        if (commas.empty())
            return std::nullopt;
        Field f;
        f.comma = commas[below(commas.size())];
        f.begin = f.comma;
        while (f.begin > 0 && bytes[f.begin - 1] != ',' && bytes[f.begin - 1] != '\n')
            --f.begin;
        return f;
    }

    // Lines with their line ends.
    static std::vector<std::string> splitLines(const std::string& bytes)
    {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < bytes.size()) {
            std::size_t end = bytes.find('\n', start);
            end = end == std::string::npos ? bytes.size() : end + 1;
            lines.push_back(bytes.substr(start, end - start));
            start = end;
        }
        return lines;
    }
    static std::string joinLines(const std::vector<std::string>& lines)
    {
        std::string bytes;
        for (const std::string& l : lines)
            bytes += l;
        return bytes;
    }

    std::string replaceField(std::string& bytes, const std::string& text, const char* kind)
    {
        const std::optional<Field> f = randomField(bytes);
        if (!f)
            return std::string("no field for ") + kind;
        bytes.replace(f->begin, f->comma - f->begin, text);
        return std::string(kind) + " \"" + printable(text, 20) + "\" in the field at byte " +
               std::to_string(f->begin);
    }

    std::string longText()
    {
        constexpr std::size_t kLong = 100'000;
        switch (below(4)) {
        case 0:
            return std::string(kLong, '9');
        case 1:
            return std::string(kLong, 'x');
        case 2:
            return "0." + std::string(kLong, '0') + "1";
        default:
            return "1" + std::string(kLong, '0') + "e-99990";
        }
    }

    std::string damageOnce(std::string& bytes)
    {
        static constexpr const char* kHuge[] = {"1e308",       "-1e308",      "99999999999", "-99999999999",
                                                "1e39",        "-3.5e38",     "2147483647",  "2147483648",
                                                "-2147483648", "-2147483649", "1e-320",      "4294967296"};
        static constexpr const char* kNegative[] = {"-1", "-2", "-5", "-10", "-59", "-131", "-134", "-255"};
        static constexpr const char* kText[] = {"abc", "",    " ", "0x10", "inf", "nan", "1e",      ".",
                                                "+-1", "1 2", "H", "s1_",  "--",  "1d5", "\xff\xfe"};
        static constexpr const char* kBoundary[] = {
            "0",   "1",   "2",   "3",    "4",    "6",      "7",      "9",   "10",  "11",  "14",
            "20",  "57",  "58",  "59",   "60",   "61",     "130",    "131", "132", "133", "134",
            "254", "255", "256", "-132", "-133", "-133.4", "-133.5", "-70", "-51"};
        if (bytes.empty()) {
            bytes = pick(kHuge) + std::string(",");
            return "an empty file became one field";
        }
        const std::size_t at = below(bytes.size());
        switch (below(16)) {
        case 0: {
            const int bit = below(8);
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
            return "bit " + std::to_string(bit) + " of byte " + std::to_string(at) + " flipped";
        }
        case 1:
            bytes[at] = static_cast<char>(below(256));
            return "byte " + std::to_string(at) + " replaced";
        case 2: {
            const std::optional<Field> f = randomField(bytes);
            if (!f)
                return "no field to delete";
            bytes.erase(f->begin, f->comma + 1 - f->begin);
            return "field at byte " + std::to_string(f->begin) + " deleted";
        }
        case 3: {
            const std::optional<Field> f = randomField(bytes);
            if (!f)
                return "no field to duplicate";
            bytes.insert(f->begin, bytes.substr(f->begin, f->comma + 1 - f->begin));
            return "field at byte " + std::to_string(f->begin) + " duplicated";
        }
        case 4:
            return replaceField(bytes, pick(kHuge), "huge number");
        case 5:
            return replaceField(bytes, pick(kNegative), "negative count");
        case 6:
            return replaceField(bytes, pick(kText), "text");
        case 7:
            if (below(2) == 0)
                return replaceField(bytes, std::string(1 + below(3), '\0'), "NUL bytes");
            bytes.insert(at, 1, '\0');
            return "NUL inserted at byte " + std::to_string(at);
        case 8:
            return replaceField(bytes, longText(), "100 kB field");
        case 9: {
            std::vector<std::string> lines = splitLines(bytes);
            const std::size_t a = below(lines.size());
            const std::size_t b = below(lines.size());
            std::swap(lines[a], lines[b]);
            bytes = joinLines(lines);
            return "lines " + std::to_string(a + 1) + " and " + std::to_string(b + 1) + " swapped";
        }
        case 10: {
            std::vector<std::string> lines = splitLines(bytes);
            const std::size_t a = below(lines.size());
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(a));
            bytes = joinLines(lines);
            return "line " + std::to_string(a + 1) + " deleted";
        }
        case 11: {
            std::vector<std::string> lines = splitLines(bytes);
            const std::size_t a = below(lines.size());
            const std::string copy = lines[a];
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(a), copy);
            bytes = joinLines(lines);
            return "line " + std::to_string(a + 1) + " duplicated";
        }
        case 12: {
            const bool lfOnly = below(3) == 0;
            std::string changed;
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                    changed += lfOnly ? '\n' : '\r';
                    ++i;
                } else
                    changed += bytes[i];
            }
            bytes = changed;
            return lfOnly ? "LF line ends" : "CR-only line ends";
        }
        case 13:
            return replaceField(bytes, pick(kBoundary), "boundary number");
        case 14:
            return replaceField(bytes, "", "emptied field");
        default:
            bytes.resize(at);
            return "cut at byte " + std::to_string(at);
        }
    }

    util::UniformRandom random_;
};

// The bytes `write` produces in a fresh file of the directory.
template <class Write>
std::string writtenBytes(const ScratchDirectory& dir, const std::string& name, Write write)
{
    const fs::path path = dir.path() / name;
    const util::Outcome written = write(path);
    EXPECT_TRUE(written.ok()) << written.message();
    return readBytes(path);
}

// Shape files for every shaped element, so that the reader takes the stored names.
void provideShapeFiles(const ScratchDirectory& dir, const PulseSequence& q)
{
    for (int m = element::kFirstShapedPulse; m <= element::kLastShapedGradient; ++m)
        dir.writeBytes(ElementTable::shapeFileName(q.elements().name(m)), "0,\r\n");
}

// ---------------------------------------------------------------------------------------------
// Molecule files

TEST(MoleculeFileRobustness, EveryTruncationIsReadWholeOrRefusedUnchanged)
{
    const ScratchDirectory dir;
    const std::string valid =
        writtenBytes(dir, "valid.mol", [](const fs::path& p) { return writeMolecule(p, moleculeToWrite()); });
    const MoleculeReads reads(dir, moleculeBefore());

    SpinSystem whole;
    const CaseResult wholeResult = reads.run(valid, whole);
    ASSERT_EQ(wholeResult.status, Status::Read) << wholeResult.problem;
    ASSERT_EQ(wholeResult.problem, "");
    ASSERT_EQ(whole.spinCount(), 4);
    ASSERT_EQ(whole.label(3), "N3");
    ASSERT_EQ(whole.couplingHz(3, 0), -92.5);
    ASSERT_NE(spinDifference(reads.before(), whole), "") << "the before model must differ from the file";

    // Lines 8 to 10 are not read: a file is complete once line 7 has its last comma.
    const std::size_t lastNeeded = lastCommaOfLine(valid, 7);
    Tally tally("truncated molecule files");
    for (const std::size_t cut : truncationPoints(valid)) {
        const std::string bytes = valid.substr(0, cut);
        SpinSystem target;
        CaseResult result = reads.run(bytes, target);
        const Status expected = cut > lastNeeded ? Status::Read : Status::Refused;
        if (result.problem.empty() && result.status != expected)
            result.problem = expected == Status::Read ? "refused a complete file" : "read an incomplete file";
        if (result.problem.empty() && result.status == Status::Read)
            if (const std::string d = spinDifference(whole, target); !d.empty())
                result.problem = "read differently from the whole file: " + d;
        tally.add(result, "cut at byte " + std::to_string(cut), bytes);
    }
    tally.finish();
    EXPECT_GT(tally.cases(), 80);
    EXPECT_GT(tally.read(), 0);
    EXPECT_GT(tally.refused(), 0);
}

TEST(MoleculeFileRobustness, SeededMutationsAreReadValidOrRefusedUnchanged)
{
    const ScratchDirectory dir;
    const std::string valid =
        writtenBytes(dir, "valid.mol", [](const fs::path& p) { return writeMolecule(p, moleculeToWrite()); });
    const MoleculeReads reads(dir, moleculeBefore());

    Mutator mutator(kMutationSeed);
    Tally tally("mutated molecule files");
    for (int c = 0; c < kMutationsPerReader; ++c) {
        std::string bytes = valid;
        const std::string damage = mutator.damage(bytes);
        SpinSystem target;
        tally.add(reads.run(bytes, target), "case " + std::to_string(c) + " (" + damage + ")", bytes);
    }
    tally.finish();
    EXPECT_GT(tally.read(), kMutationsPerReader / 20) << "too few mutations left a readable file";
    EXPECT_GT(tally.refused(), kMutationsPerReader / 4) << "too few mutations were refused";
}

// Two empty labels side by side: one closing pass moves the spins behind them down one place only.
TEST(MoleculeFileRobustness, NeighbouringEmptyLabelsStillLeaveSpinsInTheFirstSlots)
{
    const ScratchDirectory dir;
    const MoleculeReads reads(dir, moleculeBefore());
    SpinSystem target;
    const std::string file = "4,14,4,\r\nH0,,,N3,\r\nH0,,,N3,\r\n1,2,3,4,\r\n"
                             "0,5,0,7,5,0,0,0,0,0,0,0,7,0,0,0,\r\n800,800,800,800,\r\n90,90,90,90,\r\n";
    const CaseResult result = reads.run(file, target);
    EXPECT_EQ(result.problem, "");
    if (result.status == Status::Read) {
        EXPECT_EQ(target.spinCount(), 2);
        EXPECT_EQ(target.label(1), "N1");
        EXPECT_EQ(target.couplingHz(0, 1), 7.0);
    }
}

// Only empty labels: the spin count says one spin, but no slot holds one.
TEST(MoleculeFileRobustness, FileWithoutAnyLabelIsNotReadAsAnEmptySpinSystem)
{
    const ScratchDirectory dir;
    const MoleculeReads reads(dir, moleculeBefore());
    SpinSystem target;
    const CaseResult result =
        reads.run("2,14,2,\r\n,,\r\n,,\r\n1,2,\r\n0,0,0,0,\r\n800,800,\r\n90,90,\r\n", target);
    EXPECT_EQ(result.problem, "");
}

// ---------------------------------------------------------------------------------------------
// Sequence files

std::string validSequenceBytes(const ScratchDirectory& dir)
{
    const SequenceModel written = sequenceToWrite();
    provideShapeFiles(dir, written.sequence);
    return writtenBytes(dir, "valid.psq", [&](const fs::path& p) {
        return writeSequence(p, written.sequence, written.controls, written.exchange);
    });
}

TEST(SequenceFileRobustness, EveryTruncationIsReadWholeOrRefusedUnchanged)
{
    const ScratchDirectory dir;
    const std::string valid = validSequenceBytes(dir);
    const SequenceReads reads(dir, sequenceBefore());

    SequenceModel whole;
    const CaseResult wholeResult = reads.run(valid, whole);
    ASSERT_EQ(wholeResult.status, Status::Read) << wholeResult.problem;
    ASSERT_EQ(wholeResult.problem, "");
    const SequenceModel written = sequenceToWrite();
    ASSERT_EQ(whole.sequence.stepCount(), written.sequence.stepCount());
    ASSERT_EQ(whole.sequence.step(2).channels[0].content, written.sequence.step(2).channels[0].content);
    ASSERT_EQ(whole.sequence.elements().name(52), written.sequence.elements().name(52));
    ASSERT_EQ(whole.exchange, written.exchange);
    ASSERT_NE(sequenceDifference(reads.before().sequence, whole.sequence), "");
    ASSERT_NE(controlsDifference(reads.before().controls, whole.controls), "");
    ASSERT_NE(exchangeDifference(reads.before().exchange, whole.exchange), "");

    // Every field of the file is read, the last line's included.
    const std::size_t lastNeeded = valid.rfind(',');
    Tally tally("truncated sequence files");
    for (const std::size_t cut : truncationPoints(valid)) {
        const std::string bytes = valid.substr(0, cut);
        SequenceModel target;
        CaseResult result = reads.run(bytes, target);
        const Status expected = cut > lastNeeded ? Status::Read : Status::Refused;
        if (result.problem.empty() && result.status != expected)
            result.problem = expected == Status::Read ? "refused a complete file" : "read an incomplete file";
        if (result.problem.empty() && result.status == Status::Read)
            if (const std::string d = sequenceModelDifference(whole, target); !d.empty())
                result.problem = "read differently from the whole file: " + d;
        tally.add(result, "cut at byte " + std::to_string(cut), bytes);
    }
    tally.finish();
    EXPECT_GT(tally.cases(), 500);
    EXPECT_GT(tally.read(), 0);
    EXPECT_GT(tally.refused(), 0);
}

TEST(SequenceFileRobustness, SeededMutationsAreReadValidOrRefusedUnchanged)
{
    const ScratchDirectory dir;
    const std::string valid = validSequenceBytes(dir);
    const SequenceReads reads(dir, sequenceBefore());

    Mutator mutator(kMutationSeed);
    Tally tally("mutated sequence files");
    for (int c = 0; c < kMutationsPerReader; ++c) {
        std::string bytes = valid;
        const std::string damage = mutator.damage(bytes);
        SequenceModel target;
        tally.add(reads.run(bytes, target), "case " + std::to_string(c) + " (" + damage + ")", bytes);
    }
    tally.finish();
    EXPECT_GT(tally.read(), kMutationsPerReader / 20) << "too few mutations left a readable file";
    EXPECT_GT(tally.refused(), kMutationsPerReader / 4) << "too few mutations were refused";
}

// The range check of a content negates it; -2147483648 has no negative in a 32-bit int.
TEST(SequenceFileRobustness, ContentNamingTheSmallestWholeNumberIsRefused)
{
    const ScratchDirectory dir;
    std::string bytes = validSequenceBytes(dir);
    // Line 7 holds the contents; its first field is step 0, channel 0.
    std::size_t line7 = 0;
    for (int l = 0; l < 6; ++l)
        line7 = bytes.find('\n', line7) + 1;
    bytes.replace(line7, bytes.find(',', line7) - line7, "-2147483648");
    const SequenceReads reads(dir, sequenceBefore());
    SequenceModel target;
    const CaseResult result = reads.run(bytes, target);
    EXPECT_EQ(result.status, Status::Refused);
    EXPECT_EQ(result.problem, "");
}

}  // namespace
}  // namespace velmora::model
