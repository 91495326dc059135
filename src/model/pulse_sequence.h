// The pulse sequence: steps 0..S+1 with, per RF channel (0 = 1H, 1 = 13C, 2 = 15N), a content,
// phase, power and offset, and per step a delay and a gradient, all as references into the
// element table; plus the markers (cycled block, point, acquisition) and the arrayed parameter.
// Step S+1 is the acquisition that follows the last editable step.
#pragma once

#include "model/element_table.h"
#include "util/outcome.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::model {

// References: -m names element m, 0 names nothing; a non-negative content or delay is a literal.
struct ChannelSetting {
    int content = 0;      // -132 "dec", -1..-10 hard pulse, -51..-60 shaped pulse, >= 0 literal (us)
    int phase = 0;        // 0 x, 1 y, 2 -x, 3 -y, 4..9 variable phases f4..f9
    double power = 0.0;   // -41..-50 or 0; a positive value is a literal power in dB
    double offset = 0.0;  // -31..-40 or 0
};

struct SequenceStep {
    std::array<ChannelSetting, 3> channels{};
    double delay = 0.0;     // -11..-20 or a literal
    double gradient = 0.0;  // -21..-30, -61..-70 or 0
};

inline constexpr int kChannelCount = 3;
inline constexpr int kDecouplingCode = -element::kDecoupling;

class PulseSequence {
public:
    static constexpr int kStepSlots = 61;       // steps 0..60
    static constexpr int kMaxStepCount = 58;    // insertion is refused once S reaches this
    static constexpr int kNoAcquisition = 254;  // acquisition marker: no step acquires
    static constexpr int kAcquisitionOff = 255;
    static constexpr int kPhaseRows = 6;  // f4..f9

    PulseSequence();

    // Start-up sequence: S = 2, a 90-degree 1H pulse p2 with phase f4 in step 1 and again in step 2,
    // 13C decoupled throughout, d2 before and the arrayed d1 between the pulses: a States COSY.
    void resetToDefaults(const std::string& firstShapedPulseFile, const std::string& firstGradientFile);

    ElementTable& elements() { return elements_; }
    const ElementTable& elements() const { return elements_; }

    int stepCount() const { return stepCount_; }
    // For readers that replace the whole sequence; 0..kStepSlots-2 so that step S+1 exists.
    [[nodiscard]] bool setStepCount(int count);
    SequenceStep& step(int s) { return steps_.at(s); }
    const SequenceStep& step(int s) const { return steps_.at(s); }

    int cycleStart() const { return cycleStart_; }
    int cycleEnd() const { return cycleEnd_; }
    double cycleCount() const { return elements_.value(element::kCycleCount); }
    int pointStep() const { return pointStep_; }
    int acquisitionStep() const { return acquisitionStep_; }
    int arrayedIndex() const { return arrayedIndex_; }
    const std::string& arrayedName() const { return arrayedName_; }

    // Marker setters for readers; they store the values as given.
    void setCycleBounds(int start, int end);
    void setPointStep(int step) { pointStep_ = step; }
    void setAcquisitionStep(int step) { acquisitionStep_ = step; }
    void setArrayed(int index, std::string name);

    // The choices of the sequence panel. Each returns a failure with a message when the choice
    // does not name something the cell can hold, and then changes nothing.
    // content: "dec", "none", a pulse name (p1..p10 or a shaped slot), or "n_" + shaped-pulse file.
    util::Outcome setContent(int step, int channel, std::string_view choice);
    util::Outcome setPhase(int step, int channel, int code);
    util::Outcome setPower(int step, int channel, std::string_view choice);
    util::Outcome setOffset(int step, int channel, std::string_view choice);
    util::Outcome setDelay(int step, std::string_view choice);
    // gradient: "none", g1..g10, a shaped-gradient slot, or "n_" + gradient-shape file.
    util::Outcome setGradient(int step, std::string_view choice);
    // The arrayed parameter: an element name, "Ncycle", "T1", "T2", "Tcr", "Kex" or "none".
    // Its index becomes the last element among 0..60 of that name, and stays when none has it.
    void setArrayedParameter(std::string name);

    // Step s becomes a copy of the old step s, the rest moves up. Refused at S = 58 or s > S.
    bool insertStep(int s);
    // Steps behind s move down. Refused when S < 1 or s > S.
    bool deleteStep(int s);
    void setCycleStart(int step);
    void setCycleEnd(int step);
    // Only on a step that carries a shaped RF pulse: sets the marker there, or clears it when set.
    bool toggleAcquisition(int step);
    // The check every redraw makes: a marker on a step without a shaped pulse is removed.
    void enforceAcquisitionRule();

    // True when a channel of the step carries an element whose name begins with "s".
    bool carriesShapedPulse(int step) const;
    // The element a reference names, or -1 for 0 or a literal.
    static int referencedElement(double reference);

private:
    util::Outcome assignShapedSlot(int step, int channel, std::string_view file);
    util::Outcome assignShapedGradientSlot(int step, std::string_view file);
    util::Outcome checkStep(int step) const;
    util::Outcome checkChannel(int step, int channel) const;
    util::Outcome findElement(std::string_view choice, int first, int last, const char* what,
                              int& index) const;
    void finishCycleChange();

    ElementTable elements_;
    std::array<SequenceStep, kStepSlots> steps_{};
    int stepCount_ = 2;
    int cycleStart_ = 0;
    int cycleEnd_ = 0;
    int pointStep_ = 2;
    int acquisitionStep_ = kNoAcquisition;
    int arrayedIndex_ = element::kFirstDelay;
    std::string arrayedName_ = "d1";
};

// The phase of a step on a channel in quarter turns (0 = x, 1 = y, 2 = -x, 3 = -y): a fixed code
// gives itself; a variable code 4..9 reads row code-4 of the phase-cycle table, repeated end to end,
// at position `counter` (1-based scan number). A row that is empty or holds a non-digit there gives 0.
int phaseQuarterTurns(int phaseCode, const std::vector<std::string>& phaseRows, int counter);

}  // namespace velmora::model
