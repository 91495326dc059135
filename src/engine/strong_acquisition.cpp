// Lines of the exact acquisition, per run and channel.
#include "engine/strong_acquisition.h"

#include "engine/step_routine.h"

#include <array>
#include <cmath>
#include <stdexcept>

namespace velmora::engine {

namespace {
constexpr double kTwoPi = 6.28318530717958;
}

std::vector<std::vector<TransitionLine>> acquisitionLines(const AcquisitionLineInput& in)
{
    const model::PulseSequence& seq = in.sequence;
    const model::SequenceStep& acquire = seq.step(seq.stepCount() + 1);
    const auto length = static_cast<std::size_t>(operatorCount(in.spins.count));
    const auto slices = static_cast<std::size_t>(in.lastSlice) + 1;
    if (in.lastRun < 0 || in.lastSlice < 0 ||
        in.arrayedValues.size() < static_cast<std::size_t>(in.lastRun) + 1 ||
        in.states.size() < length * slices * (static_cast<std::size_t>(in.lastRun) + 1))
        throw std::invalid_argument("the exact acquisition needs a state and an arrayed value for every run");
    // Spins decoupled during the acquisition take no part in it.
    SpinTables spins = in.spins;
    for (int k = 0; k < spins.count; ++k)
        if (acquire.channels[static_cast<std::size_t>(spins.channel[k])].content == model::kDecouplingCode)
            spins.slotState[k] = 0;
    ExactEvolution cache;
    std::vector<double> state;
    const double leastLine = std::ldexp(in.minimumAmplitude, 1 - spins.count);
    std::vector<std::vector<TransitionLine>> lines(static_cast<std::size_t>(in.lastRun + 1) *
                                                   kRfChannelCount);
    for (int r = 0; r <= in.lastRun; ++r) {
        const double v = in.arrayedValues[static_cast<std::size_t>(r)];
        // In the synthesis frame a spin precesses at +(shift + receiver offset): 2 pi f rad/s.
        std::array<double, kSpinSlots> omega{};
        for (int k = 0; k < spins.count; ++k) {
            const auto channel = static_cast<std::size_t>(spins.channel[k]);
            const double offsetHz =
                referenceValue(acquire.channels.at(channel).offset, seq.elements(), in.arrayedName, v);
            omega[static_cast<std::size_t>(k)] = kTwoPi * (spins.shiftHz[k] + offsetHz);
        }
        const ZeemanHamiltonian h = zeemanHamiltonian(spins, omega, true);
        for (std::size_t slice = 0; slice < slices; ++slice) {
            const std::span<const double> whole =
                in.states.subspan((static_cast<std::size_t>(r) * slices + slice) * length, length);
            state.assign(whole.begin(), whole.end());
            for (double& c : state)
                if (!(std::abs(c) > in.minimumAmplitude))
                    c = 0.0;
            for (int c = 0; c < kRfChannelCount; ++c) {
                std::vector<TransitionLine>& into =
                    lines[static_cast<std::size_t>(r) * kRfChannelCount + static_cast<std::size_t>(c)];
                for (TransitionLine& line : transitionLines(state, spins, c, h, cache, leastLine)) {
                    line.slice = static_cast<int>(slice);
                    into.push_back(line);
                }
            }
        }
    }
    return lines;
}

}  // namespace velmora::engine
