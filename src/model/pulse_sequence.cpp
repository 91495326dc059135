#include "model/pulse_sequence.h"

#include "util/text_compare.h"

#include <cctype>
#include <cmath>
#include <string>

namespace velmora::model {

namespace {

constexpr std::string_view kNewShapePrefix = "n_";

bool isNewShapeChoice(std::string_view choice)
{
    return choice.size() > kNewShapePrefix.size() && util::startsWithIgnoreCase(choice, kNewShapePrefix);
}

std::string quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

}  // namespace

PulseSequence::PulseSequence()
{
    resetToDefaults("ttt.RF", "ttt.GRD");
}

void PulseSequence::resetToDefaults(const std::string& firstShapedPulseFile,
                                    const std::string& firstGradientFile)
{
    elements_.resetToDefaults(firstShapedPulseFile, firstGradientFile);
    steps_ = {};
    for (SequenceStep& s : steps_) {
        for (int k = 0; k < kChannelCount; ++k) {
            s.channels[k].power = -(element::kFirstPower + k);
            s.channels[k].offset = -(element::kFirstOffset + k);
        }
    }
    steps_[1].channels[0].content = -2;
    steps_[1].channels[0].phase = 4;
    steps_[1].channels[1].content = kDecouplingCode;
    steps_[1].channels[1].phase = 1;
    steps_[2].channels[0].content = -2;
    steps_[2].channels[1].content = kDecouplingCode;
    steps_[3].channels[1].content = kDecouplingCode;
    steps_[3].channels[0].phase = 1;
    steps_[0].delay = -(element::kFirstDelay + 1);
    steps_[1].delay = -element::kFirstDelay;

    stepCount_ = 2;
    cycleStart_ = 0;
    cycleEnd_ = 0;
    pointStep_ = 2;
    acquisitionStep_ = kNoAcquisition;
    arrayedIndex_ = element::kFirstDelay;
    arrayedName_ = "d1";
}

bool PulseSequence::setStepCount(int count)
{
    if (count < 0 || count > kStepSlots - 2)
        return false;
    stepCount_ = count;
    return true;
}

void PulseSequence::setCycleBounds(int start, int end)
{
    cycleStart_ = start;
    cycleEnd_ = end;
}

void PulseSequence::setArrayed(int index, std::string name)
{
    arrayedIndex_ = index;
    arrayedName_ = std::move(name);
}

int PulseSequence::referencedElement(double reference)
{
    if (!(reference < 0.0))
        return -1;
    const double m = std::round(-reference);
    return m < element::kCount ? static_cast<int>(m) : -1;
}

util::Outcome PulseSequence::checkStep(int step) const
{
    if (step < 0 || step > stepCount_ + 1)
        return util::Outcome::failure("step " + std::to_string(step) +
                                      " is not in the sequence (steps 0 to " +
                                      std::to_string(stepCount_ + 1) + ")");
    return util::Outcome::success();
}

util::Outcome PulseSequence::checkChannel(int step, int channel) const
{
    if (channel < 0 || channel >= kChannelCount)
        return util::Outcome::failure("channel " + std::to_string(channel) +
                                      " does not exist (0 = 1H, 1 = 13C, 2 = 15N)");
    return checkStep(step);
}

util::Outcome PulseSequence::findElement(std::string_view choice, int first, int last, const char* what,
                                         int& index) const
{
    const std::optional<int> found = elements_.find(choice, first, last);
    if (!found)
        return util::Outcome::failure(quoted(choice) + " is not " + what);
    index = *found;
    return util::Outcome::success();
}

util::Outcome PulseSequence::setContent(int step, int channel, std::string_view choice)
{
    if (util::Outcome ok = checkChannel(step, channel); !ok)
        return ok;
    ChannelSetting& cell = steps_[step].channels[channel];
    if (util::equalsIgnoreCase(choice, "dec")) {
        cell.content = kDecouplingCode;
        return util::Outcome::success();
    }
    if (util::equalsIgnoreCase(choice, "none")) {
        cell.content = 0;
        return util::Outcome::success();
    }
    if (isNewShapeChoice(choice))
        return assignShapedSlot(step, channel, choice.substr(kNewShapePrefix.size()));
    int index = 0;
    util::Outcome found = findElement(choice, element::kFirstPulse, element::kLastPulse, "a pulse", index);
    if (!found && !(found = findElement(choice, element::kFirstShapedPulse, element::kLastShapedPulse,
                                        "a pulse or a shaped pulse of the element table", index)))
        return found;
    cell.content = -index;
    return util::Outcome::success();
}

// "n_" + file: the channel's own shaped slot is renamed (every step using it changes with it);
// otherwise the first slot that no channel of steps 0..S references takes the file.
util::Outcome PulseSequence::assignShapedSlot(int step, int channel, std::string_view file)
{
    ChannelSetting& cell = steps_[step].channels[channel];
    if (element::isShapedPulse(-cell.content)) {
        elements_.setName(-cell.content, ElementTable::shapedElementName(-cell.content, file));
        return util::Outcome::success();
    }
    for (int m = element::kFirstShapedPulse; m <= element::kLastShapedPulse; ++m) {
        bool used = false;
        for (int s = 0; s <= stepCount_ && !used; ++s) {
            for (const ChannelSetting& c : steps_[s].channels)
                used = used || c.content == -m;
        }
        if (!used) {
            elements_.setName(m, ElementTable::shapedElementName(m, file));
            cell.content = -m;
            return util::Outcome::success();
        }
    }
    return util::Outcome::failure("All ten shaped-pulse slots are in use: choose one of the shaped pulses "
                                  "already in the sequence, or free a slot first.");
}

util::Outcome PulseSequence::setPhase(int step, int channel, int code)
{
    if (util::Outcome ok = checkChannel(step, channel); !ok)
        return ok;
    if (code < 0 || code > 9)
        return util::Outcome::failure("phase code " + std::to_string(code) +
                                      " is not one of x, y, -x, -y, f4 to f9");
    steps_[step].channels[channel].phase = code;
    return util::Outcome::success();
}

util::Outcome PulseSequence::setPower(int step, int channel, std::string_view choice)
{
    if (util::Outcome ok = checkChannel(step, channel); !ok)
        return ok;
    int index = 0;
    if (!util::equalsIgnoreCase(choice, "none")) {
        if (util::Outcome found =
                findElement(choice, element::kFirstPower, element::kLastPower, "a power (r1 to r10)", index);
            !found)
            return found;
    }
    steps_[step].channels[channel].power = -index;
    return util::Outcome::success();
}

util::Outcome PulseSequence::setOffset(int step, int channel, std::string_view choice)
{
    if (util::Outcome ok = checkChannel(step, channel); !ok)
        return ok;
    int index = 0;
    if (!util::equalsIgnoreCase(choice, "none")) {
        if (util::Outcome found = findElement(choice, element::kFirstOffset, element::kLastOffset,
                                              "an offset (o1 to o10)", index);
            !found)
            return found;
    }
    steps_[step].channels[channel].offset = -index;
    return util::Outcome::success();
}

util::Outcome PulseSequence::setDelay(int step, std::string_view choice)
{
    if (util::Outcome ok = checkStep(step); !ok)
        return ok;
    int index = 0;
    if (!util::equalsIgnoreCase(choice, "none")) {
        if (util::Outcome found =
                findElement(choice, element::kFirstDelay, element::kLastDelay, "a delay (d1 to d10)", index);
            !found)
            return found;
    }
    steps_[step].delay = -index;
    return util::Outcome::success();
}

util::Outcome PulseSequence::setGradient(int step, std::string_view choice)
{
    if (util::Outcome ok = checkStep(step); !ok)
        return ok;
    if (util::equalsIgnoreCase(choice, "none")) {
        steps_[step].gradient = 0.0;
        return util::Outcome::success();
    }
    if (isNewShapeChoice(choice))
        return assignShapedGradientSlot(step, choice.substr(kNewShapePrefix.size()));
    int index = 0;
    util::Outcome found =
        findElement(choice, element::kFirstGradient, element::kLastGradient, "a gradient", index);
    if (!found && !(found = findElement(choice, element::kFirstShapedGradient, element::kLastShapedGradient,
                                        "a gradient or a shaped gradient of the element table", index)))
        return found;
    steps_[step].gradient = -index;
    return util::Outcome::success();
}

// The shaped-slot rule on the gradient slots 61..70. A slot is free when no step's gradient refers
// to it; the acquisition step S+1 counts, since a gradient there acts during the acquisition.
util::Outcome PulseSequence::assignShapedGradientSlot(int step, std::string_view file)
{
    const int own = referencedElement(steps_[step].gradient);
    if (element::isShapedGradient(own)) {
        elements_.setName(own, ElementTable::shapedElementName(own, file));
        return util::Outcome::success();
    }
    for (int m = element::kFirstShapedGradient; m <= element::kLastShapedGradient; ++m) {
        bool used = false;
        for (int s = 0; s <= stepCount_ + 1 && !used; ++s)
            used = referencedElement(steps_[s].gradient) == m;
        if (!used) {
            elements_.setName(m, ElementTable::shapedElementName(m, file));
            steps_[step].gradient = -m;
            return util::Outcome::success();
        }
    }
    return util::Outcome::failure("All ten shaped-gradient slots are in use: choose one of the shaped "
                                  "gradients already in the sequence, or free a slot first.");
}

void PulseSequence::setArrayedParameter(std::string name)
{
    for (int k = kStepSlots - 1; k >= 0; --k) {
        if (util::equalsIgnoreCase(elements_.name(k), name)) {
            arrayedIndex_ = k;
            break;
        }
    }
    arrayedName_ = std::move(name);
}

// Markers that name a step follow it; the "no acquisition" values are left alone.
bool PulseSequence::insertStep(int s)
{
    if (stepCount_ >= kMaxStepCount || s < 0 || s > stepCount_)
        return false;
    for (int i = kStepSlots - 4; i >= s; --i)
        steps_[i + 1] = steps_[i];
    ++stepCount_;
    if (pointStep_ >= s && pointStep_ < kStepSlots)
        ++pointStep_;
    if (acquisitionStep_ >= s && acquisitionStep_ < kStepSlots)
        ++acquisitionStep_;
    return true;
}

bool PulseSequence::deleteStep(int s)
{
    if (stepCount_ < 1 || s < 0 || s > stepCount_)
        return false;
    for (int i = s; i < kStepSlots - 1; ++i)
        steps_[i] = steps_[i + 1];
    --stepCount_;
    if (pointStep_ >= s && pointStep_ > 0 && pointStep_ < kStepSlots)
        --pointStep_;
    if (acquisitionStep_ >= s && acquisitionStep_ > 0 && acquisitionStep_ < kStepSlots)
        --acquisitionStep_;
    return true;
}

void PulseSequence::setCycleStart(int step)
{
    cycleStart_ = step;
    if (cycleEnd_ < cycleStart_)
        cycleEnd_ = cycleStart_;
    finishCycleChange();
}

void PulseSequence::setCycleEnd(int step)
{
    cycleEnd_ = step;
    if (cycleEnd_ < cycleStart_)
        cycleStart_ = cycleEnd_;
    finishCycleChange();
}

// Keeps the block inside the sequence and makes a freshly marked block run at least once more.
void PulseSequence::finishCycleChange()
{
    if (cycleEnd_ > stepCount_)
        cycleEnd_ = cycleStart_;
    if (cycleStart_ > stepCount_)
        cycleStart_ = cycleEnd_;
    if (elements_.value(element::kCycleCount) == 0.0)
        elements_.setValue(element::kCycleCount, 1.0);
}

bool PulseSequence::carriesShapedPulse(int step) const
{
    if (step < 0 || step >= kStepSlots)
        return false;
    for (const ChannelSetting& c : steps_[step].channels) {
        const int m = referencedElement(c.content);
        if (m > 0) {
            const std::string& name = elements_.name(m);
            if (util::startsWithIgnoreCase(name, "s"))
                return true;
        }
    }
    return false;
}

bool PulseSequence::toggleAcquisition(int step)
{
    if (!carriesShapedPulse(step))
        return false;
    acquisitionStep_ = acquisitionStep_ == step ? kAcquisitionOff : step;
    return true;
}

void PulseSequence::enforceAcquisitionRule()
{
    if (acquisitionStep_ >= 0 && acquisitionStep_ <= stepCount_ && !carriesShapedPulse(acquisitionStep_))
        acquisitionStep_ = kNoAcquisition;
}

int phaseQuarterTurns(int phaseCode, const std::vector<std::string>& phaseRows, int counter)
{
    if (phaseCode < 4)
        return phaseCode;
    const std::size_t row = static_cast<std::size_t>(phaseCode - 4);
    if (row >= phaseRows.size() || phaseRows[row].empty() || counter < 1)
        return 0;
    // Repeating the row end to end and reading position `counter` is reading it cyclically.
    const std::string& digits = phaseRows[row];
    const char c = digits[static_cast<std::size_t>(counter - 1) % digits.size()];
    return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : 0;
}

}  // namespace velmora::model
