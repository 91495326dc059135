#include "exchange/echo_train.h"

#include "util/rounding.h"
#include "util/text_compare.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

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

// The echo phases whose whole-pulse maps a history keeps (phase digits 0 to 9).
constexpr int kPhaseDigits = 10;

using Matrix3 = std::array<std::array<double, 3>, 3>;

// Rotation by `beta` about the unit axis (nx, ny, nz), in the sense of the step routine's pulses.
Matrix3 rotationAbout(double nx, double ny, double nz, double beta)
{
    const double c = std::cos(beta);
    const double s = std::sin(beta);
    const double u = 1 - c;
    return {{{nx * nx * u + c, nx * ny * u + nz * s, nx * nz * u - ny * s},
             {nx * ny * u - nz * s, ny * ny * u + c, ny * nz * u + nx * s},
             {nx * nz * u + ny * s, ny * nz * u - nx * s, nz * nz * u + c}}};
}

}  // namespace

// What a pulse element, or a run of equal ones, does to (Mx, My, Mz): m := linear m + shift (the
// shift is the recovery of Mz towards equilibrium).
struct EchoTrain::ElementMap {
    Matrix3 linear{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::array<double, 3> shift{0, 0, 0};

    // This map after `first`.
    ElementMap after(const ElementMap& first) const
    {
        ElementMap both;
        for (int i = 0; i < 3; ++i) {
            both.shift[i] = shift[i];
            for (int j = 0; j < 3; ++j) {
                both.linear[i][j] = 0;
                for (int k = 0; k < 3; ++k)
                    both.linear[i][j] += linear[i][k] * first.linear[k][j];
                both.shift[i] += linear[i][j] * first.shift[j];
            }
        }
        return both;
    }

    void apply(Magnetisation& m) const
    {
        const Magnetisation v = m;
        m.x = linear[0][0] * v.x + linear[0][1] * v.y + linear[0][2] * v.z + shift[0];
        m.y = linear[1][0] * v.x + linear[1][1] * v.y + linear[1][2] * v.z + shift[1];
        m.z = linear[2][0] * v.x + linear[2][1] * v.y + linear[2][2] * v.z + shift[2];
    }
};

struct EchoTrain::Spin {
    Magnetisation m;
    int site = 0;                   // 0 = A, 1 = B
    double untilJumpUs = kNeverUs;  // time from now to the next jump
    const util::RunControl* control = nullptr;
    bool stopped = false;
    // The whole-pulse maps made so far, by site and echo phase digit.
    std::array<std::array<std::optional<ElementMap>, kPhaseDigits>, 2> wholePulses;
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
    profile.equalElements = !elements.empty();
    for (const PulseElement& element : elements) {
        profile.relativeTotal += element.relativeDuration;
        profile.relativeLongest = std::max(profile.relativeLongest, element.relativeDuration);
        const PulseElement& first = elements.front();
        profile.equalElements = profile.equalElements && element.phaseRad == first.phaseRad &&
                                element.amplitude == first.amplitude &&
                                element.relativeDuration == first.relativeDuration;
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
      t1_(t1Relaxation), t2_(t2Relaxation), equalElements_(profile.equalElements && !elements.empty())
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
    const auto elements = static_cast<double>(elements_.size());
    // A pulse of equal elements is one map unless a jump falls into it.
    const double elementsPerPulse =
        equalElements_ ? 1 + std::min(1.0, jumpsPerUs * pulseLengthUs_) * elements : elements;
    return {echoes * elementsPerPulse, 2 * echoes, jumpsPerUs * echoes * 2 * delayUs_,
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
    const int digit = k < phaseDigits_.size() ? phaseDigits_[k] : 0;
    const double echoPhase = digit * kPi / 2;
    if (equalElements_ && (random == nullptr || spin.untilJumpUs >= pulseLengthUs_)) {
        // No jump inside: the elements act as one map, made once per site and phase.
        const Site& site = sites_[spin.site];
        const double phase = elements_.front().phaseRad + echoPhase;
        if (digit >= 0 && digit < kPhaseDigits) {
            std::optional<ElementMap>& kept = spin.wholePulses[spin.site][digit];
            if (!kept)
                kept = wholePulse(site, phase);
            kept->apply(spin.m);
        } else {
            wholePulse(site, phase).apply(spin.m);
        }
        spin.untilJumpUs = std::max(spin.untilJumpUs - pulseLengthUs_, 0.0);
        return;
    }
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
    ElementMap rotation;
    rotation.linear =
        rotationAbout(std::cos(phaseRad) * omega1RadPerS / effective,
                      std::sin(phaseRad) * omega1RadPerS / effective, delta / effective, effective * seconds);
    rotation.apply(m);
}

EchoTrain::ElementMap EchoTrain::wholePulse(const Site& site, double phaseRad) const
{
    // One element as rotateInPulse and then relax treat it.
    const PulseElement& element = elements_.front();
    const double seconds = elementScale_ * element.relativeDuration * 1e-6;
    const double omega1 = omega1RadPerS_ * element.amplitude;
    const double delta = site.pulseDeltaRadPerS;
    const double effective = std::sqrt(delta * delta + omega1 * omega1);
    ElementMap map;
    if (effective != 0 && seconds > 0)
        map.linear =
            rotationAbout(std::cos(phaseRad) * omega1 / effective, std::sin(phaseRad) * omega1 / effective,
                          delta / effective, effective * seconds);
    const Relaxation factors = relaxation(site, seconds);
    for (int j = 0; j < 3; ++j) {
        map.linear[0][j] *= factors.transverse;
        map.linear[1][j] *= factors.transverse;
        map.linear[2][j] *= factors.longitudinal;
    }
    map.shift[2] = kFullMagnetisation * (1 - factors.longitudinal);
    // The n-th power by squaring: powers of one map commute.
    ElementMap whole;
    for (std::size_t n = elements_.size(); n > 0; n /= 2) {
        if (n % 2 == 1)
            whole = map.after(whole);
        map = map.after(map);
    }
    return whole;
}

// Relaxation for `seconds` spent in `site`: transverse decay with its T2, recovery of Mz towards
// equilibrium with its T1, each when its switch is on (a factor 1 otherwise).
EchoTrain::Relaxation EchoTrain::relaxation(const Site& site, double seconds) const
{
    const double ms = seconds * 1000;
    if (ms <= 0)
        return {};
    return {t2_ ? std::exp(-ms / site.t2Ms) : 1.0, t1_ ? std::exp(-ms / site.t1Ms) : 1.0};
}

void EchoTrain::relax(Magnetisation& m, const Site& site, double seconds) const
{
    if (seconds <= 0)
        return;
    const Relaxation factors = relaxation(site, seconds);
    if (t2_) {
        m.x *= factors.transverse;
        m.y *= factors.transverse;
    }
    if (t1_)
        m.z = (m.z - kFullMagnetisation) * factors.longitudinal + kFullMagnetisation;
}

}  // namespace velmora::exchange
