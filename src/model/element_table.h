// The named elements that sequence steps refer to: pulse widths, delays, gradients, offsets,
// powers, shaped pulses and shaped gradients. Every use of "p1" or "d2" shares one value.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::model {

// Index ranges of the element table. A step refers to element m with the reference -m.
namespace element {
inline constexpr int kCount = 134;
inline constexpr int kCycleCount = 0;                          // "Ncycle"
inline constexpr int kFirstPulse = 1, kLastPulse = 10;         // "p1".."p10", microseconds
inline constexpr int kFirstDelay = 11, kLastDelay = 20;        // "d1".."d10", milliseconds
inline constexpr int kFirstGradient = 21, kLastGradient = 30;  // "g1".."g10"
inline constexpr int kFirstOffset = 31, kLastOffset = 40;      // "o1".."o10", Hz
inline constexpr int kFirstPower = 41, kLastPower = 50;        // "r1".."r10", dB
inline constexpr int kFirstShapedPulse = 51,
                     kLastShapedPulse = 60;  // "s<n>_<file>", duration in microseconds
inline constexpr int kFirstShapedGradient = 61, kLastShapedGradient = 70;
inline constexpr int kAcquisitionDelay = 20;  // "d10", the delay of the acquisition step
inline constexpr int kDecoupling = 132;       // "dec"
inline constexpr int kNone = 133;             // "none"
inline constexpr int kShapedSlots = 10;

inline bool isShapedPulse(int index)
{
    return index >= kFirstShapedPulse && index <= kLastShapedPulse;
}
inline bool isShapedGradient(int index)
{
    return index >= kFirstShapedGradient && index <= kLastShapedGradient;
}
}  // namespace element

class ElementTable {
public:
    struct Entry {
        std::string name;
        double value = 0.0;
    };

    ElementTable();

    // Start-up names and values. The shaped entries are named after the first "*.rf" and the
    // first "*.GRD" file of the working directory (callers pass "ttt.RF" / "ttt.GRD" when none).
    void resetToDefaults(const std::string& firstShapedPulseFile, const std::string& firstGradientFile);

    const std::string& name(int index) const { return entries_.at(index).name; }
    double value(int index) const { return entries_.at(index).value; }
    void setName(int index, std::string name) { entries_.at(index).name = std::move(name); }
    void setValue(int index, double value) { entries_.at(index).value = value; }

    // The first index in [first, last] whose name equals `name` without regard to case.
    std::optional<int> find(std::string_view name, int first = 0, int last = element::kCount - 1) const;

    // The file a shaped element loads: its name without "s<n>", and without the "_" that follows
    // ("s1_x.rf" and "s10_x.rf" both give "x.rf").
    static std::string shapeFileName(std::string_view elementName);
    // "s" + slot number + "_" + file, the name of shaped slot `index` (51..60 or 61..70).
    static std::string shapedElementName(int index, std::string_view file);

private:
    std::array<Entry, element::kCount> entries_{};
};

}  // namespace velmora::model
