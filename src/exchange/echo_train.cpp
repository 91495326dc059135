#include "exchange/echo_train.h"

#include "util/rounding.h"
#include "util/text_compare.h"

#include <algorithm>
#include <cmath>

namespace velmora::exchange {

namespace {

using model::ExchangeSettings;

constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
// With kex = 0 the first jump lies this far ahead, microseconds: never within a train.
constexpr double kNeverUs = 1e20;
// The running flag is read once per this many jumps within one delay or pulse element.
constexpr std::int64_t kJumpsBetweenStopChecks = 4096;
// Jumps one interval may take, beyond the 64-fold of its expected count plus a margin that a
// Poisson count never reaches; and an absolute ceiling for rates no grid point is allowed.
constexpr double kJumpMargin = 1000;
constexpr double kJumpExcess = 64;
constexpr double kMostJumpsPerInterval = 1e12;

}  // namespace

struct EchoTrain::Spin {
    Magnetisation m;
    int site = 0;                   // 0 = A, 1 = B
    double untilJumpUs = kNeverUs;  // time from now to the next jump
    const util::RunControl* control = nullptr;
    bool stopped = false;
};

double waitingTimeUs(double u, double ratePerS)
{
    if (ratePerS <= 0)
        return kNeverUs;
    return -std::log(1 - u) * 1e6 / ratePerS;
}

Magnetisation startMagnetisation(const Values& values, std::string_view startName)
{
    if (util::equalsIgnoreCase(startName, "Iy"))
        return {0, kFullMagnetisation, 0};
    if (util::equalsIgnoreCase(startName, "Iz"))
        return {0, 0, kFullMagnetisation};
    if (util::equalsIgnoreCase(startName, "Iz_Angle_Ix")) {
        const double angle = values[ExchangeSettings::Angle];
        return {kFullMagnetisation * std::sin(angle), 0, kFullMagnetisation * std::cos(angle)};
    }
    if (util::equalsIgnoreCase(startName, "Ixz_AdiabRot")) {
        // Along the effective field of site A, where an adiabatic pulse would have put it.
        const double delta =
            kTwoPi * (values[ExchangeSettings::RfOffset] - values[ExchangeSettings::HalfShift]);
        const double omega1 = kTwoPi * values[ExchangeSettings::W1];
        const double effective = std::hypot(delta, omega1);
        if (effective == 0)
            return {0, 0, kFullMagnetisation};
        return {kFullMagnetisation * omega1 / effective, 0, kFullMagnetisation * delta / effective};
    }
    return {kFullMagnetisation, 0, 0};
}

PulseProfile pulseProfileOf(std::span<const PulseElement> elements)
{
    PulseProfile profile;
    for (const PulseElement& element : elements) {
        profile.relativeTotal += element.relativeDuration;
        profile.relativeLongest = std::max(profile.relativeLongest, element.relativeDuration);
    }
    return profile;
}

EchoTrain::EchoTrain(const Values& values, std::span<const PulseElement> elements,
                     std::span<const int> phaseDigits, std::string_view startName, bool t1Relaxation,
                     bool t2Relaxation)
    : EchoTrain(values, elements, pulseProfileOf(elements), phaseDigits, startName, t1Relaxation,
                t2Relaxation)
{
}

EchoTrain::EchoTrain(const Values& values, std::span<const PulseElement> elements,
                     const PulseProfile& profile, std::span<const int> phaseDigits,
                     std::string_view startName, bool t1Relaxation, bool t2Relaxation)
    : elements_(elements), phaseDigits_(phaseDigits), start_(startMagnetisation(values, startName)),
      delayUs_(values[ExchangeSettings::Tcp]), pulseUs_(values[ExchangeSettings::Tp]),
      omega1RadPerS_(kTwoPi * values[ExchangeSettings::W1]), kexPerS_(values[ExchangeSettings::Kex]),
      pa_(values[ExchangeSettings::Pa]), echoCount_(util::roundToInt(values[ExchangeSettings::Necho])),
      t1_(t1Relaxation), t2_(t2Relaxation)
{
    const double half = values[ExchangeSettings::HalfShift];
    const double carrier = values[ExchangeSettings::RfOffset];
    sites_[0] = {half - carrier, kTwoPi * (carrier - half), values[ExchangeSettings::T1SiteA],
                 values[ExchangeSettings::T2SiteA]};
    sites_[1] = {-half - carrier, kTwoPi * (carrier + half), values[ExchangeSettings::T1SiteB],
                 values[ExchangeSettings::T2SiteB]};
    elementScale_ = elements_.empty() ? 0 : pulseUs_ / static_cast<double>(elements_.size());
    pulseLengthUs_ = elementScale_ * profile.relativeTotal;
    const double longestIntervalUs = std::max(delayUs_, elementScale_ * profile.relativeLongest);
    const double fastestRatePerS = kexPerS_ * std::max(pa_, 1 - pa_);
    jumpBound_ = static_cast<std::int64_t>(std::min(
        kMostJumpsPerInterval, kJumpMargin + kJumpExcess * fastestRatePerS * longestIntervalUs * 1e-6));
}

double EchoTrain::sequenceSeconds() const
{
    return echoCount_ * (2 * delayUs_ + pulseLengthUs_) * 1e-6;
}

double EchoTrain::cpmgFrequencyHz() const
{
    const double spacingUs = 2 * delayUs_ + pulseLengthUs_;
    return spacingUs > 0 ? 1e6 / (2 * spacingUs) : 0;
}

HistoryWork EchoTrain::work() const
{
    // A history starts in site A with probability Pa, so the populations stay at equilibrium and
    // the spin jumps 2 kex Pa (1 - Pa) times a second on average.
    const double echoes = echoCount_;
    const double jumpsPerUs = 2 * kexPerS_ * pa_ * (1 - pa_) * 1e-6;
    return {echoes * static_cast<double>(elements_.size()), 2 * echoes, jumpsPerUs * echoes * 2 * delayUs_,
            jumpsPerUs * echoes * pulseLengthUs_};
}

double EchoTrain::history(util::UniformRandom& random) const
{
    return *run(kexPerS_ > 0 ? &random : nullptr, nullptr);
}

std::optional<double> EchoTrain::history(util::UniformRandom& random, const util::RunControl& control) const
{
    return run(kexPerS_ > 0 ? &random : nullptr, &control);
}

double EchoTrain::withoutExchange() const
{
    return *run(nullptr, nullptr);
}

std::optional<double> EchoTrain::withoutExchange(const util::RunControl& control) const
{
    return run(nullptr, &control);
}

std::optional<double> EchoTrain::run(util::UniformRandom* random, const util::RunControl* control) const
{
    Spin spin;
    spin.m = start_;
    spin.control = control;
    if (random != nullptr) {
        // Site A with probability Pa, both compared at single precision.
        spin.site = util::toSingle(random->next()) < util::toSingle(pa_) ? 0 : 1;
        spin.untilJumpUs = waitingUs(spin.site, *random);
    }
    for (int echo = 0; echo < echoCount_; ++echo) {
        if (control != nullptr && !control->running())
            return std::nullopt;
        delay(spin, random);
        pulse(spin, echo, random);
        delay(spin, random);
        if (spin.stopped)
            return std::nullopt;
    }
    const double startSquared = start_.x * start_.x + start_.y * start_.y + start_.z * start_.z;
    return (spin.m.x * start_.x + spin.m.y * start_.y + spin.m.z * start_.z) / startSquared;
}

// Exponential waiting time in the current site: rate kex (1 - Pa) out of A, kex Pa out of B.
double EchoTrain::waitingUs(int site, util::UniformRandom& random) const
{
    return waitingTimeUs(random.next(), kexPerS_ * (site == 0 ? 1 - pa_ : pa_));
}

// Whether another jump may be taken in the current interval: within the interval's bound, and
// while the running flag stays set (read every few thousand jumps).
bool EchoTrain::jumpsGoOn(Spin& spin, std::int64_t jumpsSoFar) const
{
    if (jumpsSoFar >= jumpBound_)
        return false;
    if (spin.control != nullptr && jumpsSoFar % kJumpsBetweenStopChecks == kJumpsBetweenStopChecks - 1 &&
        !spin.control->running())
        spin.stopped = true;
    return !spin.stopped;
}

// A delay tcp: the jumps that fall inside it, then the rest at the current site's offset. A jump
// clock that the rounding of the remaining time would hold still cannot run past the jump bound.
void EchoTrain::delay(Spin& spin, util::UniformRandom* random) const
{
    double remainingUs = delayUs_;
    double phaseHzUs = 0;
    std::array<double, 2> siteUs{0, 0};
    for (std::int64_t jumps = 0;
         random != nullptr && spin.untilJumpUs < remainingUs && jumpsGoOn(spin, jumps); ++jumps) {
        const double t = spin.untilJumpUs;
        phaseHzUs += sites_[spin.site].offsetHz * t;
        siteUs[spin.site] += t;
        remainingUs -= t;
        spin.site ^= 1;
        spin.untilJumpUs = waitingUs(spin.site, *random);
    }
    if (spin.stopped)
        return;
    phaseHzUs += sites_[spin.site].offsetHz * remainingUs;
    siteUs[spin.site] += remainingUs;
    // Carried into the next interval; never below 0, also when the jump bound ended the loop.
    spin.untilJumpUs = std::max(spin.untilJumpUs - remainingUs, 0.0);

    // Precession about z in the same sense as a pulse element without RF.
    const double angle = kTwoPi * 1e-6 * phaseHzUs;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const Magnetisation m = spin.m;
    spin.m.x = c * m.x - s * m.y;
    spin.m.y = s * m.x + c * m.y;
    // exp(-(tA/T2A + tB/T2B)) as the product of the two sites' factors.
    relax(spin.m, sites_[0], siteUs[0] * 1e-6);
    relax(spin.m, sites_[1], siteUs[1] * 1e-6);
}

void EchoTrain::pulse(Spin& spin, int echo, util::UniformRandom* random) const
{
    const auto k = static_cast<std::size_t>(echo);
    const double echoPhase = (k < phaseDigits_.size() ? phaseDigits_[k] : 0) * kPi / 2;
    for (const PulseElement& element : elements_) {
        const double phase = element.phaseRad + echoPhase;
        const double omega1 = omega1RadPerS_ * element.amplitude;
        double remainingUs = elementScale_ * element.relativeDuration;
        // A jump inside the element splits it: the part before with the old site's field.
        for (std::int64_t jumps = 0;
             random != nullptr && spin.untilJumpUs < remainingUs && jumpsGoOn(spin, jumps); ++jumps) {
            const double t = spin.untilJumpUs;
            const Site& site = sites_[spin.site];
            rotateInPulse(spin.m, site, phase, omega1, t * 1e-6);
            relax(spin.m, site, t * 1e-6);
            remainingUs -= t;
            spin.site ^= 1;
            spin.untilJumpUs = waitingUs(spin.site, *random);
        }
        if (spin.stopped)
            return;
        const Site& site = sites_[spin.site];
        rotateInPulse(spin.m, site, phase, omega1, remainingUs * 1e-6);
        relax(spin.m, site, remainingUs * 1e-6);
        spin.untilJumpUs = std::max(spin.untilJumpUs - remainingUs, 0.0);
    }
}

// Rotation about the site's effective field (cos phi w1, sin phi w1, delta) / we by we t.
void EchoTrain::rotateInPulse(Magnetisation& m, const Site& site, double phaseRad, double omega1RadPerS,
                              double seconds) const
{
    const double delta = site.pulseDeltaRadPerS;
    const double effective = std::sqrt(delta * delta + omega1RadPerS * omega1RadPerS);
    if (effective == 0 || seconds <= 0)
        return;
    const double nx = std::cos(phaseRad) * omega1RadPerS / effective;
    const double ny = std::sin(phaseRad) * omega1RadPerS / effective;
    const double nz = delta / effective;
    const double beta = effective * seconds;
    const double c = std::cos(beta);
    const double s = std::sin(beta);
    const double u = 1 - c;
    const Magnetisation v = m;
    m.x = v.x * (nx * nx * u + c) + v.y * (nx * ny * u + nz * s) + v.z * (nx * nz * u - ny * s);
    m.y = v.x * (nx * ny * u - nz * s) + v.y * (ny * ny * u + c) + v.z * (ny * nz * u + nx * s);
    m.z = v.x * (nx * nz * u + ny * s) + v.y * (ny * nz * u - nx * s) + v.z * (nz * nz * u + c);
}

// Relaxation for `seconds` spent in `site`: transverse decay with its T2, recovery of Mz towards
// equilibrium with its T1, each when its switch is on.
void EchoTrain::relax(Magnetisation& m, const Site& site, double seconds) const
{
    const double ms = seconds * 1000;
    if (ms <= 0)
        return;
    if (t2_) {
        const double decay = std::exp(-ms / site.t2Ms);
        m.x *= decay;
        m.y *= decay;
    }
    if (t1_)
        m.z = (m.z - kFullMagnetisation) * std::exp(-ms / site.t1Ms) + kFullMagnetisation;
}

}  // namespace velmora::exchange
