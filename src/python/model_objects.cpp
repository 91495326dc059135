#include "model_objects.h"

#include "model/molecule_file.h"
#include "model/sequence_file.h"
#include "python_session.h"
#include "util/number_format.h"
#include "util/rounding.h"
#include "util/text_file.h"

#include <cmath>

namespace velmora::python {

namespace {

std::string spinName(int k)
{
    return "spin " + std::to_string(k);
}

char nucleusLetter(const std::string& nucleus)
{
    if (nucleus == "1H" || nucleus == "H")
        return 'H';
    if (nucleus == "13C" || nucleus == "C")
        return 'C';
    if (nucleus == "15N" || nucleus == "N")
        return 'N';
    throw SessionError("\"" + nucleus + "\" is not a spin label (H, C or N followed by the spin number): "
                       "name the nucleus 1H, 13C or 15N");
}

void require(const model::FileReadResult& result, const std::string& what)
{
    if (result.status == model::FileReadResult::Status::Missing)
        throw SessionError("there is no file " + what);
    if (result.wasRefused())
        throw SessionError(result.message);
}

}  // namespace

CodeSpinSystem::CodeSpinSystem()
{
    for (int k = 0; k < model::SpinSystem::kSlots; ++k) {
        (void)system_.setLabel(k, "");
        system_.setShiftPpm(k, 0.0);
        system_.setT1Ms(k, 1000.0);
        system_.setT2Ms(k, 1000.0);
        for (int j = 0; j < model::SpinSystem::kSlots; ++j)
            system_.setCouplingHz(k, j, 0.0);
    }
    system_.rebuild();
}

// Kept as given, so that a file written from it shows the numbers typed; refused where the reader,
// which stores single precision, refuses.
double CodeSpinSystem::stored(double value, const std::string& what, model::SpinValue kind) const
{
    if (std::isnan(value))
        throw SessionError(what + ": the value is not a number");
    if (!std::isfinite(util::toSingle(value)))
        throw SessionError(what + " (" + util::formatGeneral(value) + "): " + std::string(model::kValueTooLarge));
    if (const std::optional<std::string> problem = model::spinValueProblem(kind, value))
        throw SessionError(what + " " + *problem);
    return value;
}

void CodeSpinSystem::requireSpin(int spin) const
{
    if (spin < 0 || spin >= count_)
        throw SessionError("there is no spin " + std::to_string(spin) + ": the spin system holds " +
                           std::to_string(count_) + " spin(s), 0 to " + std::to_string(count_ - 1));
}

int CodeSpinSystem::addSpin(const std::string& nucleus, double shiftPpm, double t1Ms, double t2Ms)
{
    const char letter = nucleusLetter(nucleus);
    if (const auto problem = model::spinCountProblem(count_ + 1))
        throw SessionError(*problem);
    const int k = count_;
    const double shift = stored(shiftPpm, "shift of " + spinName(k), model::SpinValue::ShiftPpm);
    const double t1 = stored(t1Ms, "T1 of " + spinName(k), model::SpinValue::T1Ms);
    const double t2 = stored(t2Ms, "T2 of " + spinName(k), model::SpinValue::T2Ms);
    if (!system_.setLabel(k, std::string(1, letter) + std::to_string(k)))
        throw SessionError("the spin system holds no more spins");
    system_.setShiftPpm(k, shift);
    system_.setT1Ms(k, t1);
    system_.setT2Ms(k, t2);
    ++count_;
    system_.rebuild();
    return k;
}

void CodeSpinSystem::couple(int i, int j, double hz)
{
    requireSpin(i);
    requireSpin(j);
    if (i == j)
        throw SessionError("a spin is not coupled to itself: J(" + std::to_string(i) + ", " + std::to_string(j) +
                           ")");
    const std::string name = "J(" + std::to_string(i) + ", " + std::to_string(j) + ")";
    system_.setCouplingHz(i, j, stored(hz, name, model::SpinValue::CouplingHz));
}

void CodeSpinSystem::setShift(int spin, double ppm)
{
    requireSpin(spin);
    system_.setShiftPpm(spin, stored(ppm, "shift of " + spinName(spin), model::SpinValue::ShiftPpm));
}

void CodeSpinSystem::setT1(int spin, double ms)
{
    requireSpin(spin);
    system_.setT1Ms(spin, stored(ms, "T1 of " + spinName(spin), model::SpinValue::T1Ms));
}

void CodeSpinSystem::setT2(int spin, double ms)
{
    requireSpin(spin);
    system_.setT2Ms(spin, stored(ms, "T2 of " + spinName(spin), model::SpinValue::T2Ms));
}

std::vector<std::string> CodeSpinSystem::lines() const
{
    if (const auto problem = model::spinCountProblem(count_))
        throw SessionError(*problem + ": add a spin first");
    return model::moleculeLines(system_);
}

CodeSpinSystem CodeSpinSystem::fromLines(std::vector<std::string> lines, const std::string& source)
{
    CodeSpinSystem made;
    require(model::readMoleculeLines(std::move(lines), source, made.system_), source);
    made.count_ = made.system_.spinCount();
    return made;
}

CodeSpinSystem CodeSpinSystem::read(const std::filesystem::path& path)
{
    CodeSpinSystem made;
    require(model::readMolecule(path, made.system_), path.string());
    made.count_ = made.system_.spinCount();
    return made;
}

CodeSpinSystem CodeSpinSystem::of(const model::SpinSystem& system)
{
    CodeSpinSystem made;
    int n = 0;
    while (n < model::SpinSystem::kMaxSpins && !system.isEmpty(n))
        ++n;
    for (int k = 0; k < n; ++k) {
        (void)made.system_.setLabel(k, system.label(k));
        made.system_.setShiftPpm(k, system.shiftPpm(k));
        made.system_.setT1Ms(k, system.t1Ms(k));
        made.system_.setT2Ms(k, system.t2Ms(k));
        for (int j = 0; j < n; ++j)
            made.system_.setCouplingHz(k, j, system.couplingHz(k, j));
    }
    made.count_ = n;
    made.system_.rebuild();
    return made;
}

CodeSequence::CodeSequence(int steps)
{
    if (steps < 0 || steps > model::PulseSequence::kMaxStepCount)
        throw SessionError("a sequence holds 0 to " + std::to_string(model::PulseSequence::kMaxStepCount) +
                           " steps, not " + std::to_string(steps));
    for (int s = 0; s < model::PulseSequence::kStepSlots; ++s) {
        for (int k = 0; k < model::kChannelCount; ++k)
            sequence.step(s).channels[k] = {0, 0, -(41.0 + k), -(31.0 + k)};
        sequence.step(s).delay = 0.0;
        sequence.step(s).gradient = 0.0;
    }
    while (sequence.stepCount() < steps)
        (void)sequence.insertStep(0);
    while (sequence.stepCount() > steps)
        (void)sequence.deleteStep(0);
    sequence.setPointStep(steps);
    sequence.setArrayedParameter("none");
}

std::vector<std::string> CodeSequence::lines() const
{
    std::vector<std::string> made;
    if (const util::Outcome composed = model::composeSequence(sequence, controls, exchange, made); !composed)
        throw SessionError(composed.message());
    return made;
}

CodeSequence CodeSequence::fromLines(std::vector<std::string> lines, const std::string& source,
                                     const std::filesystem::path& workingDirectory)
{
    CodeSequence made;
    require(model::readSequenceLines(std::move(lines), source, workingDirectory,
                                     {made.sequence, made.controls, made.exchange}),
            source);
    return made;
}

CodeSequence CodeSequence::read(const std::filesystem::path& path)
{
    CodeSequence made;
    require(model::readSequence(path, std::filesystem::absolute(path).parent_path(), {made.sequence, made.controls, made.exchange}),
            path.string());
    return made;
}

std::vector<std::string> textLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::string fileText(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

}  // namespace velmora::python
