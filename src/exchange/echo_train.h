// One grid point of the relaxation-dispersion experiment as a spin lives through it: a CPMG train
// of Necho echoes, each a delay tcp, a refocusing pulse and a delay tcp, while the spin jumps at
// random between site A (offset +h) and site B (offset -h). A history follows one spin through
// the train and reports its final magnetisation along the start direction.
#pragma once

#include "exchange/swept_parameter.h"
#include "util/uniform_random.h"

#include <array>
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

// Exponential waiting time, microseconds, for a uniform u in [0, 1) and a rate out of the current
// site (1/s): -ln(1 - u) 10^6 / rate; u = 0 gives 0, and a rate of 0 never ends.
double waitingTimeUs(double u, double ratePerS);

// Start vector for "Ix", "Iy", "Iz", "Iz_Angle_Ix" and "Ixz_AdiabRot" (any other text: "Ix").
Magnetisation startMagnetisation(const Values& values, std::string_view startName);

class EchoTrain {
public:
    // `elements`: the pulse shape (one element for a hard pulse); `phaseDigits`: the phase digit
    // of every echo (0 x, 1 y, 2 -x, 3 -y; missing digits are x). Both must outlive the train.
    EchoTrain(const Values& values, std::span<const PulseElement> elements, std::span<const int> phaseDigits,
              std::string_view startName, bool t1Relaxation, bool t2Relaxation);

    // One random jump history from the start magnetisation to the end of the train; the result is
    // the final magnetisation along the start direction over its start size (1 = no loss).
    double history(util::UniformRandom& random) const;
    // The same train for a spin that never leaves site A (no exchange).
    double withoutExchange() const;

    int echoCount() const { return echoCount_; }
    // Whole train, seconds: Necho x (2 tcp + Tp).
    double sequenceSeconds() const;
    // The CPMG frequency 1 / (2 x pulse spacing), Hz, with the pulse spacing 2 tcp + Tp.
    double cpmgFrequencyHz() const;

private:
    struct Site {
        double offsetHz = 0;  // free precession relative to the carrier
        double pulseDeltaRadPerS = 0;
        double t1Ms = 0, t2Ms = 0;
    };
    struct Spin;

    void delay(Spin& spin, util::UniformRandom* random) const;
    void pulse(Spin& spin, int echo, util::UniformRandom* random) const;
    void rotateInPulse(Magnetisation& m, const Site& site, double phaseRad, double omega1RadPerS,
                       double seconds) const;
    void relax(Magnetisation& m, const Site& site, double seconds) const;
    double waitingUs(int site, util::UniformRandom& random) const;
    double run(util::UniformRandom* random) const;

    std::array<Site, 2> sites_{};
    std::span<const PulseElement> elements_;
    std::span<const int> phaseDigits_;
    Magnetisation start_{};
    double delayUs_ = 0;
    double pulseUs_ = 0;
    double elementScale_ = 0;  // element duration per unit of relative duration, microseconds
    double omega1RadPerS_ = 0;
    double kexPerS_ = 0;
    double pa_ = 1;
    int echoCount_ = 0;
    bool t1_ = false;
    bool t2_ = false;
};

}  // namespace velmora::exchange
