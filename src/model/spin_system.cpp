#include "model/spin_system.h"

#include <cctype>
#include <cmath>
#include <string>

namespace velmora::model {

namespace {

constexpr double kTwoPi = 6.28318530717958;
constexpr double kProtonGammaRadPerSPerT = 267.519;  // 1e6 rad s^-1 T^-1, so tesla x this / 2 pi is MHz

// floor(x + 0.5): the rounding of the field boxes (halves go up, unlike the whole-number conversion).
double roundHalfUp(double x)
{
    return std::floor(x + 0.5);
}

}  // namespace

SpinSystem::SpinSystem()
{
    resetToDefaults();
}

void SpinSystem::resetToDefaults()
{
    slots_ = {};
    coupling_ = {};
    for (int k = 0; k < kSlots; ++k) {
        slots_[k].t1Ms = 1000.0;
        slots_[k].t2Ms = k == 0 ? 1000.0 : 100.0;
    }
    slots_[0].label = "H0";
    slots_[0].shiftPpm = -0.5;
    slots_[1].label = "H1";
    slots_[1].shiftPpm = 0.4;
    slots_[2].label = "C2";
    coupling_[0][1] = coupling_[1][0] = 30.0;
    coupling_[1][2] = coupling_[2][1] = 140.0;
    count_ = 1;
    fieldTesla_ = 4.0;
    protonMHz_ = 170.0;
}

bool SpinSystem::setLabel(int slot, const std::string& label)
{
    if (slot < 0 || slot >= kSlots)
        return false;
    if (!label.empty()) {
        if (slot >= kMaxSpins || !nucleusFromLetter(label.front()) ||
            !std::isupper(static_cast<unsigned char>(label.front())))
            return false;
        if (label.substr(1) != std::to_string(slot))
            return false;
    }
    slots_[slot].label = label;
    return true;
}

void SpinSystem::setShiftPpm(int slot, double ppm)
{
    slots_.at(slot).shiftPpm = ppm;
}

void SpinSystem::setT1Ms(int slot, double ms)
{
    slots_.at(slot).t1Ms = ms;
}

void SpinSystem::setT2Ms(int slot, double ms)
{
    slots_.at(slot).t2Ms = ms;
}

void SpinSystem::setCouplingHz(int i, int j, double hz)
{
    coupling_.at(i).at(j) = hz;
    coupling_.at(j).at(i) = hz;
}

void SpinSystem::setFieldTesla(double tesla)
{
    fieldTesla_ = roundHalfUp(tesla * 10.0) / 10.0;
    protonMHz_ = roundHalfUp(fieldTesla_ * kProtonGammaRadPerSPerT / kTwoPi);
}

void SpinSystem::setProtonFrequencyMHz(double mhz)
{
    protonMHz_ = roundHalfUp(mhz);
    fieldTesla_ = roundHalfUp(protonMHz_ * 10.0 / kProtonGammaRadPerSPerT * kTwoPi) / 10.0;
}

void SpinSystem::setFieldPair(double tesla, double protonMHz)
{
    fieldTesla_ = tesla;
    protonMHz_ = protonMHz;
}

std::optional<Nucleus> SpinSystem::nucleus(int slot) const
{
    const std::string& text = slots_.at(slot).label;
    if (text.empty())
        return std::nullopt;
    return nucleusFromLetter(text.front());
}

void SpinSystem::rebuild()
{
    int last = -1;
    int labelled = 0;
    for (int k = 0; k < kSlots; ++k) {
        slots_[k].state = kOccupied;
        if (slots_[k].label.empty()) {
            slots_[k].state = 0;
            clearCouplingsOf(k);
        } else {
            last = k;
            ++labelled;
        }
    }
    count_ = labelled == 0 ? 1 : labelled;

    // One pass: each empty slot takes its successor, so every spin behind a gap moves down by one.
    for (int i = 0; i <= last && i + 1 < kSlots; ++i) {
        if (slots_[i].state == 0)
            moveSlotDown(i + 1, last);
    }

    for (int k = 0; k <= count_ && k < kSlots; ++k)
        updateDerived(k);
}

void SpinSystem::clearCouplingsOf(int slot)
{
    for (int p = 0; p < kSlots; ++p) {
        coupling_[slot][p] = 0.0;
        coupling_[p][slot] = 0.0;
    }
}

// Moves slot `from` into slot from - 1 and leaves `from` empty with default values.
void SpinSystem::moveSlotDown(int from, int last)
{
    const int to = from - 1;
    Slot& target = slots_[to];
    Slot& source = slots_[from];
    target.state = source.state;
    target.shiftPpm = source.shiftPpm;
    target.t1Ms = source.t1Ms;
    target.t2Ms = source.t2Ms;
    for (int p = 0; p <= last; ++p) {
        coupling_[to][p] = coupling_[from][p];
        coupling_[p][to] = coupling_[p][from];
    }
    if (source.state != 0)
        target.label = std::string(1, source.label.front()) + std::to_string(to);

    source.shiftPpm = 0.0;
    source.t1Ms = 1000.0;
    source.t2Ms = 1000.0;
    clearCouplingsOf(from);
    source.state = 0;
    source.label.clear();
}

void SpinSystem::updateDerived(int slot)
{
    Slot& s = slots_[slot];
    if (s.label.empty())
        return;
    const std::optional<Nucleus> n = nucleusFromLetter(s.label.front());
    if (!n)
        return;
    s.nucleusConstant = model::nucleusConstant(*n);
    s.channel = model::nucleusChannel(*n);
    // Heteronuclei scale the proton frequency by the magnitude of their ratio: the sign of the
    // 15N gamma is not applied to the shift.
    s.shiftHz = *n == Nucleus::H1 ? s.shiftPpm * protonMHz_
                                  : s.shiftPpm * protonMHz_ / kProtonConstant * std::abs(s.nucleusConstant);
}

}  // namespace velmora::model
