// Shaped pulses and shaped gradients as a run uses them: each distinct shaped element of the
// sequence takes one of ten slots and holds the rows of its file.
//   pulses:    column 0 phase in degrees, 1 amplitude (1023 = full), 2 relative duration
//   gradients: column 0 relative amplitude (32767 = full), column 1 stored but not used
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::pulses {

// Full scale of the amplitude column of a shaped pulse and of a gradient shape.
inline constexpr double kFullPulseAmplitude = 1023.0;
inline constexpr double kFullGradientAmplitude = 32767.0;

struct ShapeTable {
    std::string elementName;                    // "s1_x.rf"
    std::vector<std::array<double, 3>> points;  // points[p] for p = 1..pointCount(); points[0] unused

    int pointCount() const { return points.empty() ? 0 : static_cast<int>(points.size()) - 1; }
};

class ShapeSlots {
public:
    static constexpr int kSlots = 10;

    // The slot that holds the element, none when it holds no slot.
    std::optional<int> slotOf(std::string_view elementName) const;
    const ShapeTable& slot(int s) const { return tables_.at(static_cast<std::size_t>(s)); }
    int used() const { return static_cast<int>(tables_.size()); }
    bool full() const { return used() >= kSlots; }
    // Takes the next free slot; the caller checks full() first.
    int add(ShapeTable table);
    // Puts another table into a slot in use (the acquisition pulse may be replaced by a file).
    void replace(int s, ShapeTable table) { tables_.at(static_cast<std::size_t>(s)) = std::move(table); }
    // The largest point count among the loaded shapes (0 when none is loaded).
    int longest() const;

private:
    std::vector<ShapeTable> tables_;
};

}  // namespace velmora::pulses
