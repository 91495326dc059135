// The synthesized acquisition: analytic FIDs of the recorded operators, noise, window, transform.
#include "processing/synthesis.h"

#include "engine/slice_profile.h"
#include "engine/step_routine.h"
#include "processing/fast_synthesis.h"
#include "processing/fourier.h"
#include "util/number_format.h"
#include "util/rounding.h"
#include "util/text_compare.h"
#include "util/work_pool.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::processing {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
// Gyromagnetic ratio of 1H in 1e7 rad/(s T): turns a gradient value into Hz per sample position.
constexpr double kProtonGyromagneticRatio = 26.7519;
// Channel constants (1H, 13C, 15N), the gyromagnetic ratios relative to 1H scaled so that 1H = 1e7.
constexpr std::array<double, engine::kRfChannelCount> kChannelConstant = {
    engine::kNucleusConstantH1, engine::kNucleusConstantC13, engine::kNucleusConstantN15};

bool isSupportedLength(int n)
{
    return n >= 2 && n <= kMaxFourierSamples && (n & (n - 1)) == 0;
}

std::size_t at(int i)
{
    return static_cast<std::size_t>(i);
}

// exp(-k^2 a^2) for the Gaussian window, exp(-k a) otherwise; a is dimensionless (LB * dwell).
void fillWindow(std::vector<double>& w, bool gauss, double a)
{
    for (std::size_t k = 0; k < w.size(); ++k) {
        const double kd = static_cast<double>(k);
        w[k] = gauss ? std::exp(-(kd * kd) * (a * a)) : std::exp(-kd * a);
    }
}

// The window an arrayed T2 brings: "Gauss", "Lorenz" and "new" (the mixed form that starts flat:
// exp(-k a) (2 - exp(-k a)) has zero slope at k = 0); any other name keeps the exponential.
void fillArrayedT2Window(std::vector<double>& w, const std::string& name, double a)
{
    if (util::equalsIgnoreCase(name, "Gauss")) {
        fillWindow(w, true, a);
    } else if (util::equalsIgnoreCase(name, "New")) {
        for (std::size_t k = 0; k < w.size(); ++k) {
            const double e = std::exp(-static_cast<double>(k) * a);
            w[k] = e * (2.0 - e);
        }
    } else {
        fillWindow(w, false, a);
    }
}

// exp(-k rho) for k = 0..np-1; rho is the decay per dwell time.
void fillDecay(std::span<double> d, double rho)
{
    for (std::size_t k = 0; k < d.size(); ++k)
        d[k] = std::exp(-static_cast<double>(k) * rho);
}

void validate(const SynthesisInput& in)
{
    const auto fail = [](const std::string& what) {
        throw std::invalid_argument("spectrum synthesis: " + what);
    };
    if (!(in.spectralWidthHz > 0.0))
        fail("the spectral width must be above 0 Hz");
    // The dwell time, the line broadening and the decay per dwell time are single-precision
    // numbers. One beyond that range comes out infinite, and 0 x infinity at the first point of
    // the window or the decay would fill the FID with NaN: an overflow, as the conversion is.
    const auto overflow = [](const std::string& what) {
        throw std::overflow_error("spectrum synthesis: " + what + " is beyond the single-precision range");
    };
    const double dwellS = util::toSingle(1.0 / in.spectralWidthHz);
    if (!std::isfinite(dwellS))
        overflow("the dwell time 1 / sw of sw = " + util::formatGeneral(in.spectralWidthHz) + " Hz");
    const double lineBroadeningHz = util::toSingle(in.lineBroadeningHz);
    if (!std::isfinite(lineBroadeningHz))
        overflow("the line broadening of " + util::formatGeneral(in.lineBroadeningHz) + " Hz");
    // A negative line broadening (a stored file may hold one) makes the exponential windows grow
    // towards the last point, where they must stay finite too.
    const double growth = std::exp(-(in.pointCount - 1) * (lineBroadeningHz * dwellS));
    const bool newWindow =
        util::equalsIgnoreCase(in.arrayedName, "T2") && util::equalsIgnoreCase(in.window, "New");
    if (!util::equalsIgnoreCase(in.window, "Gauss") &&
        (!std::isfinite(growth) || (newWindow && !std::isfinite(growth * (2.0 - growth)))))
        throw std::overflow_error("spectrum synthesis: the window of the line broadening " +
                                  util::formatGeneral(in.lineBroadeningHz) +
                                  " Hz grows beyond the floating-point range over the FID");
    if (in.lastRun < 0 || in.arrayedValues.size() < at(in.lastRun) + 1)
        fail("every run 0.." + std::to_string(in.lastRun) + " needs an arrayed value");
    if (in.runsPerValue != 2 && (in.detectionChannel < 0 || in.detectionChannel >= engine::kRfChannelCount))
        fail("the detection channel must be 0, 1 or 2");
    if (in.spins.count < 1 || in.spins.count > engine::kSpinSlots)
        fail("the spin count is out of range");
    if (in.lastSlice < 0)
        fail("the last slice index must not be negative");
    for (const engine::RecordedOperator& o : in.recorded) {
        if (o.channel < 0 || o.channel >= engine::kRfChannelCount)
            fail("a recorded operator has a channel out of range");
        if (o.spin < 0 || o.spin >= in.spins.count)
            fail("a recorded operator observes a spin out of range");
    }
    if (in.transitions != nullptr) {
        if (in.transitions->size() < (at(in.lastRun) + 1) * at(engine::kRfChannelCount))
            fail("the transition lines lack runs");
        const int lineSlices = in.acquisitionStep.gradient != 0.0 ? in.lastSlice : 0;
        for (const std::vector<engine::TransitionLine>& lines : *in.transitions)
            for (const engine::TransitionLine& line : lines)
                if (line.slice < 0 || line.slice > lineSlices)
                    fail("a transition line names a slice outside the acquisition's slices");
    }
    const int sliceLimit = in.acquisitionStep.gradient != 0.0 ? in.lastSlice : 0;
    if (!in.recorded.empty() &&
        (in.detection.entries() < static_cast<int>(in.recorded.size()) ||
         in.detection.lastRun() < in.lastRun || in.detection.lastSlice() < sliceLimit))
        fail("the detection record lacks slices, entries or runs");
    if (in.t2Decay) {
        for (int s = 0; s < in.spins.count; ++s) {
            const double t2Ms = in.spins.t2Ms[at(s)];
            if (!(t2Ms > 0.0))
                fail("spin " + std::to_string(s) + " has a T2 that is not above 0 ms");
            if (!std::isfinite(util::toSingle((1000.0 / t2Ms) * dwellS)))
                overflow("the decay per dwell time of spin " + std::to_string(s) + " (T2 " +
                         util::formatGeneral(t2Ms) + " ms)");
        }
    }
    if (util::equalsIgnoreCase(in.arrayedName, "T2")) {
        for (int r = 0; r <= in.lastRun; ++r) {
            const double t2Ms = in.arrayedValues[at(r)];
            if (!(t2Ms > 0.0))
                fail("the arrayed T2 of run " + std::to_string(r) + " is not above 0 ms");
            if (!std::isfinite((1000.0 / t2Ms) * dwellS))
                overflow("the decay per dwell time of the arrayed T2 of run " + std::to_string(r));
        }
    }
}

// The working arrays of one synthesis, allocated once.
// How the lines are summed: the fast line sum, or one line at a time with a cos and sin per point
// (the plainly correct reference).
enum class LineSum { fast, straightforward };

// One synthesizer works one run at a time into the shared result; the runs of a 2D synthesis
// (each written to its own run of the records) go side by side, one synthesizer per thread.
class Synthesizer {
public:
    Synthesizer(const SynthesisInput& in, LineSum method, SynthesisResult& result);
    // False when a Stop cut the run short (its records are then incomplete).
    bool synthesizeRun(int run);

private:
    void prepareRun(double arrayedValue);
    // Adds every recorded operator of channel c over every slice to re_, im_; true when one was
    // above the threshold.
    bool accumulateChannel(int c, int run);
    void addOperator(const engine::RecordedOperator& o, double amplitude, double frequencyHz);
    // Adds the transition lines of channel c (strong coupling); true when one was above the threshold.
    bool accumulateTransitions(int c, int run);
    void addNoise();
    void store(int c, int run);

    const SynthesisInput& in_;
    const int np_;
    const bool twoD_;
    const bool arrayedT2_;
    // Dwell time in s, at single precision.
    const double dtS_;
    // Window exponent a = LB * dwell (LB in Hz at single precision).
    const double a_;

    std::vector<double> window_;
    std::vector<double> decay_;  // D(s, k) at s * np + k
    std::array<double, engine::kSpinSlots> decayPerDwell_{};  // rho(s) of D(s, k) = exp(-k rho(s))
    std::array<double, engine::kSpinSlots> offsetHz_{};
    int sliceLimit_ = 0;
    double gradient_ = 0.0;  // G, in the units of the gradient elements
    std::vector<double> sliceOffsetHz_;

    std::vector<double> re_, im_, outRe_, outIm_;
    std::vector<double> cos_, sin_, factor_;
    std::optional<FastLineSum> fast_;

    util::UniformRandom localRandom_{1};
    util::UniformRandom& random_;

    SynthesisResult& result_;
};

Synthesizer::Synthesizer(const SynthesisInput& in, LineSum method, SynthesisResult& result)
    : in_(in), np_(in.pointCount), twoD_(in.runsPerValue == 2),
      arrayedT2_(util::equalsIgnoreCase(in.arrayedName, "T2")),
      dtS_(util::toSingle(1.0 / in.spectralWidthHz)), a_(util::toSingle(in.lineBroadeningHz) * dtS_),
      window_(at(np_)), decay_(at(in.spins.count) * at(np_), 1.0), sliceOffsetHz_(at(in.lastSlice) + 1, 0.0),
      re_(at(np_)), im_(at(np_)), outRe_(at(np_)), outIm_(at(np_)), cos_(at(np_)), sin_(at(np_)),
      factor_(at(np_)), random_(in.random != nullptr ? *in.random : localRandom_), result_(result)
{
    fillWindow(window_, util::equalsIgnoreCase(in.window, "Gauss"), a_);
    if (in.t2Decay) {
        for (int s = 0; s < in.spins.count; ++s) {
            // Decay per dwell time dwell / T2, kept at single precision.
            const double rho = util::toSingle((1000.0 / in.spins.t2Ms[at(s)]) * dtS_);
            decayPerDwell_[at(s)] = rho;
            fillDecay(std::span<double>(decay_).subspan(at(s) * at(np_), at(np_)), rho);
        }
    }
    if (method == LineSum::fast)
        fast_.emplace(in.spins, in.recorded, np_, dtS_, in.lastSlice + 1);
}

void Synthesizer::prepareRun(double v)
{
    if (arrayedT2_) {
        // Every spin relaxes with the run's T2 in ms, whatever the T2 switch says.
        const double rho = (1000.0 / v) * dtS_;
        decayPerDwell_.fill(rho);
        for (int s = 0; s < in_.spins.count; ++s)
            fillDecay(std::span<double>(decay_).subspan(at(s) * at(np_), at(np_)), rho);
        fillArrayedT2Window(window_, in_.window, a_);
    }

    // Gradient during the acquisition: 0 means none (one slice, no offset); an element reference
    // gives the element's value (or the run's arrayed value when that element is arrayed); a
    // positive literal is used as it is.
    const model::SequenceStep& step = in_.acquisitionStep;
    sliceLimit_ = step.gradient != 0.0 ? in_.lastSlice : 0;
    gradient_ =
        step.gradient != 0.0 ? engine::referenceValue(step.gradient, in_.elements, in_.arrayedName, v) : 0.0;

    // Receiver offset in Hz of every spin: the offset reference of the spin's channel on the
    // acquisition step, resolved like every reference (0 names nothing and gives 0 Hz).
    for (int s = 0; s < in_.spins.count; ++s) {
        const auto channel = at(in_.spins.channel[at(s)]);
        offsetHz_[at(s)] =
            engine::referenceValue(step.channels.at(channel).offset, in_.elements, in_.arrayedName, v);
    }
}

void Synthesizer::addOperator(const engine::RecordedOperator& o, double amplitude, double frequencyHz)
{
    const double omega = frequencyHz * kTwoPi * dtS_;  // rad per dwell time
    for (int k = 0; k < np_; ++k) {
        cos_[at(k)] = std::cos(k * omega);
        sin_[at(k)] = std::sin(k * omega);
    }
    const double* d = decay_.data() + at(o.spin) * at(np_);
    double A = amplitude;
    // An operator along x gives A e^(i w t), one along y i A e^(i w t): the same sense as the
    // multiplet below, so a singlet and a multiplet of one pulse share their phase.
    if (!o.coupled) {
        for (std::size_t k = 0; k < at(np_); ++k) {
            const double x = A * cos_[k] * d[k];
            const double y = A * sin_[k] * d[k];
            if (o.kind == 1) {
                re_[k] += x;
                im_[k] += y;
            } else {
                re_[k] -= y;
                im_[k] += x;
            }
        }
        return;
    }
    if (o.componentCount == 0)
        return;
    // A multiplet of n components shares the amplitude; the sign of a component's code is the sign
    // of that component alone (the product-to-sum expansion gives each term its own sign: a sign
    // carried on to the following components would turn sin a sin b into cos a cos b and make a
    // doubly antiphase operator such as 4IxSzTz visible at t = 0). |code| = 1 is a cosine (in-phase)
    // coupling factor cos(pi J t), any other code a sine (antiphase) factor sin(pi J t).
    const double shared = A / static_cast<double>(o.componentCount);
    for (int c = 0; c < o.componentCount; ++c) {
        const engine::MultipletComponent m = in_.recorded.component(o, c);
        A = m.code < 0 ? -shared : shared;
        const bool cosine = std::abs(m.code) == 1;
        for (int k = 0; k < np_; ++k) {
            const double phi = k * dtS_ * kPi * m.frequencyHz;
            factor_[at(k)] = cosine ? std::cos(phi) : std::sin(phi);
        }
        for (std::size_t k = 0; k < at(np_); ++k) {
            const double x = A * cos_[k] * d[k];
            const double y = A * sin_[k] * d[k];
            const double q = factor_[k];
            if (o.kind == 1) {
                re_[k] += x * q;
                im_[k] += y * q;
            } else {
                re_[k] -= y * q;
                im_[k] += x * q;
            }
        }
    }
}

bool Synthesizer::accumulateChannel(int c, int run)
{
    if (in_.acquisitionStep.gradient != 0.0) {
        // Offset in Hz of slice j at position j/S - 0.5 of the sample under gradient G (a single
        // slice sits at the centre).
        const double hzPerUnit = kChannelConstant[at(c)] / 10000000.0 / kTwoPi * kProtonGyromagneticRatio;
        for (int j = 0; j <= sliceLimit_; ++j)
            sliceOffsetHz_[at(j)] = engine::slicePosition(j, sliceLimit_) * gradient_ * hzPerUnit;
    } else {
        sliceOffsetHz_[0] = 0.0;
    }
    std::fill(re_.begin(), re_.end(), 0.0);
    std::fill(im_.begin(), im_.end(), 0.0);
    if (in_.transitions != nullptr)
        return accumulateTransitions(c, run);
    if (fast_) {
        const FastLineSum::RunInputs lines{in_.detection,  run,       sliceLimit_,
                                           sliceOffsetHz_, offsetHz_, decay_};
        return fast_->accumulate(c, lines, re_, im_);
    }
    bool signalPresent = false;
    for (std::size_t e = 0; e < in_.recorded.size(); ++e) {
        const engine::RecordedOperator& o = in_.recorded[e];
        if (o.channel != c)
            continue;
        for (int j = 0; j <= sliceLimit_; ++j) {
            const double amplitude = in_.detection.at(j, static_cast<int>(e), run) / kDetectionScale;
            if (!(std::abs(amplitude) > kAmplitudeThreshold))
                continue;
            signalPresent = true;
            const double f = sliceOffsetHz_[at(j)] + in_.spins.shiftHz[at(o.spin)] + offsetHz_[at(o.spin)];
            addOperator(o, amplitude, f);
        }
    }
    return signalPresent;
}

bool Synthesizer::accumulateTransitions(int c, int run)
{
    bool signalPresent = false;
    // The lines were sorted out where they were made (the product operators not above the threshold
    // left out, as the recorded operators are on the weak path); every line given is summed.
    for (const engine::TransitionLine& line : (*in_.transitions)[at(run) * engine::kRfChannelCount + at(c)]) {
        const std::complex<double> amplitude = line.amplitude / kDetectionScale;
        if (amplitude == std::complex<double>{})
            continue;
        signalPresent = true;
        // The T2 of a line that flips several spins: their decay rates weighted by their shares.
        double rho = 0.0;
        for (int s = 0; s < in_.spins.count; ++s)
            rho += line.spinShare[at(s)] * decayPerDwell_[at(s)];
        // A slice under a gradient moves every line of the channel by its offset.
        const double omega = (line.frequencyHz + sliceOffsetHz_[at(line.slice)]) * kTwoPi * dtS_;
        const auto direct = [&](int k) {
            return amplitude * std::complex<double>(std::cos(k * omega), std::sin(k * omega)) *
                   std::exp(-k * rho);
        };
        if (!fast_) {
            // The straightforward sum: a cos, sin and exp per point.
            for (int k = 0; k < np_; ++k) {
                const std::complex<double> value = direct(k);
                re_[at(k)] += value.real();
                im_[at(k)] += value.imag();
            }
            continue;
        }
        // The fast sum: one complex product per point, taken afresh from the direct value every
        // kLineAnchor points so that rounding does not build up along the FID.
        constexpr int kLineAnchor = 64;
        const std::complex<double> step =
            std::complex<double>(std::cos(omega), std::sin(omega)) * std::exp(-rho);
        std::complex<double> value;
        for (int k = 0; k < np_; ++k) {
            value = k % kLineAnchor == 0 ? direct(k) : value * step;
            re_[at(k)] += value.real();
            im_[at(k)] += value.imag();
        }
    }
    return signalPresent;
}

void Synthesizer::addNoise()
{
    // M is the scans box, at least 1. Every FID gets the same noise: the generator restarts at seed 1.
    const int m = std::max(1, in_.noiseDraws);
    const double b = in_.noiseAmplitude;
    random_.reseed(1);
    for (std::size_t k = 0; k < at(np_); ++k) {
        double u = 0.0;
        double v = 0.0;
        for (int draw = 0; draw < m; ++draw) {
            u += random_.next();
            v += random_.next();
        }
        re_[k] += b * (u / m - 0.5);
        im_[k] += b * (v / m - 0.5);
    }
}

void Synthesizer::store(int c, int run)
{
    engine::SampleRecord& signal = result_.signal;
    engine::SampleRecord& timeDomain = result_.timeDomain;
    const int half = np_ / 2;
    // Zero frequency (transform index 0) moves to point np/2 + 1.
    const auto centred = [half](int k) { return at(k < half ? k + half : k - half); };
    if (twoD_) {
        for (int k = 0; k < np_; ++k) {
            timeDomain.at(c + 1, k + 1, run) += outRe_[centred(k)];
            signal.at(c + 1, k + 1, run) += im_[at(k)];
        }
        return;
    }
    for (int k = 0; k < np_; ++k) {
        const double specRe = outRe_[centred(k)];
        const double specIm = outIm_[centred(k)];
        signal.at(1, k + 1, run) += specRe;
        signal.at(2, k + 1, run) += specIm;
        signal.at(3, k + 1, run) += std::sqrt(specRe * specRe + specIm * specIm);
        const double fidRe = re_[at(k)];
        const double fidIm = im_[at(k)];
        timeDomain.at(1, k + 1, run) += fidRe;
        timeDomain.at(2, k + 1, run) += fidIm;
        timeDomain.at(3, k + 1, run) += std::sqrt(fidRe * fidRe + fidIm * fidIm);
    }
    // The last run also collects every earlier run, so it ends as the sum over the array.
    const int last = in_.lastRun;
    if (run < last) {
        for (int k = 1; k <= np_; ++k) {
            for (int comp = 1; comp <= 3; ++comp) {
                signal.at(comp, k, last) += signal.at(comp, k, run);
                timeDomain.at(comp, k, last) += timeDomain.at(comp, k, run);
            }
        }
    }
}

bool Synthesizer::synthesizeRun(int r)
{
    const auto stopped = [this] { return in_.keepGoing && !in_.keepGoing(); };
    if (stopped())
        return false;
    prepareRun(in_.arrayedValues[at(r)]);
    const int firstChannel = twoD_ ? 0 : in_.detectionChannel;
    const int lastChannel = twoD_ ? engine::kRfChannelCount - 1 : in_.detectionChannel;
    for (int c = firstChannel; c <= lastChannel; ++c) {
        if (c > firstChannel && stopped())
            return false;
        const bool signalPresent = accumulateChannel(c, r);
        // A channel without signal or noise (a decoupled or empty channel of a 2D run) has a zero
        // FID and spectrum, which the zero record already holds.
        if (!signalPresent && !in_.noise)
            continue;
        if (signalPresent && in_.noise)
            addNoise();
        for (std::size_t k = 0; k < at(np_); ++k) {
            re_[k] *= window_[k];
            im_[k] *= window_[k];
        }
        // The length was checked before the first run, so the transform cannot refuse it.
        if (!Fourier(np_, re_, im_, outRe_, outIm_, false, in_.messages))
            throw std::logic_error("spectrum synthesis: the transform refused a checked length");
        store(c, r);
    }
    return true;
}

// Every run in turn; the runs of a 2D synthesis side by side on the pool. A 1D run adds into the
// last run's record in run order, and noise draws from one generator, so those stay on one thread.
// None when a Stop ended it.
std::optional<SynthesisResult> synthesizeRuns(const SynthesisInput& in, LineSum method)
{
    SynthesisResult result{engine::SampleRecord(in.pointCount, in.lastRun),
                           engine::SampleRecord(in.pointCount, in.lastRun)};
    const bool sideBySide = in.runsPerValue == 2 && !in.noise && in.threads > 1 && in.lastRun > 0;
    if (!sideBySide) {
        // Written with += in run order (the last run also collects the others): mapped here, once.
        result.signal.clear();
        result.timeDomain.clear();
        Synthesizer synthesizer(in, method, result);
        for (int r = 0; r <= in.lastRun; ++r) {
            if (!synthesizer.synthesizeRun(r))
                return std::nullopt;
            if (in.runDone)
                in.runDone(r);
        }
        return result;
    }
    util::WorkPool pool(in.threads);
    // Each worker's synthesizer (its working arrays and line sum) is made on its first run.
    std::vector<std::optional<Synthesizer>> workers(at(pool.threads()));
    // A few runs per thread at a time, then their progress, in order, on the caller.
    const int batch = 4 * pool.threads();
    std::atomic<bool> stopped{false};
    for (int first = 0; first <= in.lastRun; first += batch) {
        const int count = std::min(batch, in.lastRun + 1 - first);
        pool.run(count, [&](int k, int worker) {
            std::optional<Synthesizer>& synthesizer = workers[at(worker)];
            if (!synthesizer)
                synthesizer.emplace(in, method, result);
            // Each run's pages are first written by the thread that fills them, side by side.
            result.signal.clearRun(first + k);
            result.timeDomain.clearRun(first + k);
            if (!stopped.load() && !synthesizer->synthesizeRun(first + k))
                stopped.store(true);
        });
        if (stopped.load())
            return std::nullopt;
        if (in.runDone)
            for (int r = first; r < first + count; ++r)
                in.runDone(r);
    }
    return result;
}

}  // namespace

namespace {

std::optional<SynthesisResult> synthesize(const SynthesisInput& input, LineSum method)
{
    if (input.pointCount == 0)
        return std::nullopt;
    if (!isSupportedLength(input.pointCount)) {
        // The transform shows why the length cannot be used; nothing else happens.
        const std::span<double> none;
        (void)Fourier(input.pointCount, none, none, none, none, false, input.messages);
        return std::nullopt;
    }
    validate(input);
    return synthesizeRuns(input, method);
}

}  // namespace

std::optional<SynthesisResult> synthesizeSpectra(const SynthesisInput& input)
{
    return synthesize(input, LineSum::fast);
}

std::optional<SynthesisResult> synthesizeSpectraReference(const SynthesisInput& input)
{
    return synthesize(input, LineSum::straightforward);
}

}  // namespace velmora::processing
