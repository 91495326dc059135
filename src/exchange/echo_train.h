// One grid point of the relaxation-dispersion experiment as a spin lives through it: a CPMG train
// of Necho echoes, each a delay tcp, a refocusing pulse and a delay tcp, while the spin jumps at
// random between site A (offset +h) and site B (offset -h). A history follows one spin through
// the train and reports its final magnetisation along the start direction.
#pragma once

#include "exchange/swept_parameter.h"
#include "util/run_control.h"
#include "util/uniform_random.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace velmora::exchange {

// One element of the refocusing pulse.
struct PulseElement {
    double phaseRad = 0;   // element phase (the echo's phase is added)
    double amplitude = 1;  // fraction of the full RF field w1, 0..1
    double relativeDuration = 1;
};

struct Magnetisation {
    double x = 0, y = 0, z = 0;
};

// Full size of the start magnetisation and the equilibrium Mz.
inline constexpr double kFullMagnetisation = 1e7;

// A hard pulse is this many equal elements, each rotated and then relaxed, so that a magnetisation
// the pulse turns through the transverse plane relaxes with T2 while it is there.
inline constexpr int kHardPulseElements = 256;

// Exponential waiting time, microseconds, for a uniform u in [0, 1) and a rate out of the current
// site (1/s): -ln(1 - u) 10^6 / rate; u = 0 gives 0, and a rate of 0 never ends.
double waitingTimeUs(double u, double ratePerS);

// What one history costs: its pulse elements, its delays and the jumps it makes on average in
// each (a jump inside a pulse element splits its rotation).
struct HistoryWork {
    double pulseElements = 0;
    double delays = 0;
    double delayJumps = 0;
    double pulseJumps = 0;
};

// What every train of one pulse shape needs of all its elements, summed once for a grid.
struct PulseProfile {
    double relativeTotal = 0;    // the relative durations summed
    double relativeLongest = 0;  // the longest relative duration
    // Every element alike (a hard pulse): a pulse no jump falls into acts as one map, the power of
    // its element's.
    bool equalElements = false;
};
PulseProfile pulseProfileOf(std::span<const PulseElement> elements);

// Start vector for "Ix", "Iy", "Iz", "Iz_Angle_Ix" and "Ixz_AdiabRot" (any other text: "Ix").
Magnetisation startMagnetisation(const Values& values, std::string_view startName);

class EchoTrain {
public:
    // `elements`: the pulse shape (kHardPulseElements equal ones for a hard pulse); `phaseDigits`: the phase
    // digit of every echo (0 x, 1 y, 2 -x, 3 -y; missing digits are x). Both must outlive the train.
    EchoTrain(const Values& values, std::span<const PulseElement> elements, std::span<const int> phaseDigits,
              std::string_view startName, bool t1Relaxation, bool t2Relaxation);
    // The same with the elements' profile known (pulseProfileOf(elements)), so that the trains of
    // a grid do not go through a long shaped pulse once each.
    EchoTrain(const Values& values, std::span<const PulseElement> elements, const PulseProfile& profile,
              std::span<const int> phaseDigits, std::string_view startName, bool t1Relaxation,
              bool t2Relaxation);

    // One random jump history from the start magnetisation to the end of the train; the result is
    // the final magnetisation along the start direction over its start size (1 = no loss).
    double history(util::UniformRandom& random) const;
    // The same, ended early (none) when `control`'s running flag is cleared: it is read after
    // every echo and every few thousand jumps, so Stop acts within a history.
    std::optional<double> history(util::UniformRandom& random, const util::RunControl& control) const;
    // The same train for a spin that never leaves site A (no exchange).
    double withoutExchange() const;
    std::optional<double> withoutExchange(const util::RunControl& control) const;

    int echoCount() const { return echoCount_; }
    // Whole train, seconds: Necho x (2 tcp + the pulse's length).
    double sequenceSeconds() const;
    // The CPMG frequency 1 / (2 x pulse spacing), Hz, with the pulse spacing 2 tcp + the pulse's
    // length (Tp times the mean relative duration of its elements).
    double cpmgFrequencyHz() const;
    // The work of one history with exchange.
    HistoryWork work() const;

private:
    struct Site {
        double offsetHz = 0;  // free precession relative to the carrier
        double pulseDeltaRadPerS = 0;
        double t1Ms = 0, t2Ms = 0;
    };
    struct Spin;
    struct ElementMap;

    void delay(Spin& spin, util::UniformRandom* random) const;
    void pulse(Spin& spin, int echo, util::UniformRandom* random) const;
    void rotateInPulse(Magnetisation& m, const Site& site, double phaseRad, double omega1RadPerS,
                       double seconds) const;
    struct Relaxation {
        double transverse = 1;    // of Mx and My
        double longitudinal = 1;  // of Mz's distance from equilibrium
    };
    Relaxation relaxation(const Site& site, double seconds) const;
    void relax(Magnetisation& m, const Site& site, double seconds) const;
    // The whole pulse of equal elements in one site, each element rotated and then relaxed.
    ElementMap wholePulse(const Site& site, double phaseRad) const;
    double waitingUs(int site, util::UniformRandom& random) const;
    bool jumpsGoOn(Spin& spin, std::int64_t jumpsSoFar) const;
    std::optional<double> run(util::UniformRandom* random, const util::RunControl* control) const;

    std::array<Site, 2> sites_{};
    std::span<const PulseElement> elements_;
    std::span<const int> phaseDigits_;
    Magnetisation start_{};
    double delayUs_ = 0;
    double pulseUs_ = 0;        // Tp
    double pulseLengthUs_ = 0;  // the elements' durations summed
    double elementScale_ = 0;   // element duration per unit of relative duration, microseconds
    double omega1RadPerS_ = 0;
    double kexPerS_ = 0;
    double pa_ = 1;
    // The most jumps one delay or pulse element may take: far above what its rate could give, so
    // the loops over jumps end by construction whatever the clock's rounding.
    std::int64_t jumpBound_ = 0;
    int echoCount_ = 0;
    bool t1_ = false;
    bool t2_ = false;
    bool equalElements_ = false;
};

}  // namespace velmora::exchange
