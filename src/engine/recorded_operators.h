// The observable operators the synthesized acquisition evolves analytically: for every active spin,
// its transverse single-spin operators, or, for a coupled spin, every product of its transverse
// component with E or z factors of its coupling partners. Each entry carries the multiplet that its
// couplings produce: the product-to-sum expansion of the cosine (partner E) and sine (partner z)
// factors, as component codes and frequencies.
//
// At ten fully coupled spins the list holds about ten thousand entries of 256 components each, so a
// component is stored in two bytes: its code and the index of its frequency in one table of the
// list. Every entry of a spin combines the same couplings, J1 +- J2 +- ... over its partners, so
// the table holds each spin's combinations once and the entries differ only in their codes.
#pragma once

#include "engine/spin_tables.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora::engine {

struct MultipletComponent {
    int code = 1;  // +-1 cosine factor, +-2 sine factor; the sign multiplies the amplitude
    double frequencyHz = 0.0;
};

// A component as the list stores it: bit 0 set for a sine factor, bit 1 for a negative code, the
// index into the list's frequency table above them.
class PackedComponent {
public:
    static constexpr int kMostFrequencies = 1 << 14;

    constexpr PackedComponent() = default;
    constexpr PackedComponent(bool sine, bool negative, int frequency)
        : bits_(static_cast<std::uint16_t>((frequency << 2) | (negative ? 2 : 0) | (sine ? 1 : 0)))
    {
    }
    constexpr bool sine() const { return (bits_ & 1u) != 0; }
    constexpr bool negative() const { return (bits_ & 2u) != 0; }
    constexpr int frequency() const { return bits_ >> 2; }
    // +-1 or +-2, the code this component was built from (any code other than +-1 reads as a sine).
    constexpr int code() const { return (sine() ? 2 : 1) * (negative() ? -1 : 1); }

private:
    std::uint16_t bits_ = 0;
};

struct RecordedOperator {
    int operatorIndex = 0;
    int spin = 0;          // the observed spin
    int channel = 0;       // its RF channel
    bool coupled = false;  // false: a single line; true: the multiplet of its components
    int kind = 1;          // +1 observed along x, -1 along y
    std::int32_t firstComponent = 0;  // into the list's packed components (set by the list)
    std::int32_t componentCount = 0;
};

// The entries in list order (entry e is column e of the detection record) and their components.
class RecordedOperators {
public:
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const RecordedOperator& operator[](std::size_t e) const { return entries_[e]; }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    std::span<const PackedComponent> packedComponents(const RecordedOperator& o) const
    {
        return std::span<const PackedComponent>(components_)
            .subspan(static_cast<std::size_t>(o.firstComponent), static_cast<std::size_t>(o.componentCount));
    }
    std::span<const double> frequenciesHz() const { return frequenciesHz_; }
    MultipletComponent component(const RecordedOperator& o, int m) const;
    // The components of an entry unpacked, for reading outside the synthesis' loops.
    std::vector<MultipletComponent> components(const RecordedOperator& o) const;

    // Appends an entry with the given components (codes kept by sign and by |code| = 1 or not; each
    // frequency shared with an equal one already in the table). Throws std::length_error when the
    // table would outgrow PackedComponent::kMostFrequencies.
    void add(RecordedOperator entry, std::span<const MultipletComponent> components = {});

    // The building blocks of the list builder: a frequency appended to the table as it is, and an
    // entry whose components index that table.
    int addFrequency(double frequencyHz);
    void addPacked(RecordedOperator entry, std::span<const PackedComponent> components);
    void reserve(std::size_t entries, std::size_t components);

private:
    std::vector<RecordedOperator> entries_;
    std::vector<PackedComponent> components_;
    std::vector<double> frequenciesHz_;
};

// The list for the given slot states (the spins decoupled during the acquisition already cleared).
RecordedOperators buildRecordedOperators(const SpinTables& spins);

}  // namespace velmora::engine
