#include "pulses/pulse_generator.h"

#include "pulses/complex_phase.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/text_compare.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace velmora::pulses {

const std::vector<std::string_view>& generatorShapes()
{
    static const std::vector<std::string_view> shapes = {kShapeGauss, kShapeSumOfTwo, kShapeHarmonics,
                                                         kShapeHsn,   kShapeStripe,   kShapeFmSin};
    return shapes;
}

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kRadiansPerDegree = 0.017453292519943278;
constexpr double kFmSinCycles = 113.09733552923244;  // 36 pi: 18 periods of the modulation per pulse
constexpr double kHarmonicShare = 10.0 / 100.0;      // the added third harmonic, relative

// A body element before scaling: phase in degrees, amplitude relative to the pulse's largest (M).
using Body = std::vector<PulseElement>;

long long saturatingProduct(long long a, long long b)
{
    constexpr long long kLimit = 1LL << 40;
    if (a != 0 && std::llabs(b) > kLimit / std::max(1LL, std::llabs(a)))
        return kLimit;
    return a * b;
}

int gapSize(const GeneratorSettings& s)
{
    return s.pulsePerGap + s.delayPerGap;
}

// --- Shapes without gaps --------------------------------------------------------------------------

// Gaussian: the first element is t times the centre one; the phase ramps by fs over the pulse.
Body gaussBody(const GeneratorSettings& s, int n)
{
    const double width = 2.0 * std::sqrt(-std::log(s.truncation));
    Body body(static_cast<std::size_t>(n));
    double phase = s.phaseDeg;
    for (int i = 1; i <= n; ++i) {
        const double x = std::abs(static_cast<double>(i - 1) / n - 0.5) * width;
        phase += s.freqShift / n;
        body[static_cast<std::size_t>(i - 1)] = {phase, std::exp(-x * x)};
    }
    return body;
}

// Constant amplitude; the frequency swings sinusoidally (18 periods) about a slow linear sweep.
Body fmSinBody(const GeneratorSettings& s, int n)
{
    Body body(static_cast<std::size_t>(n));
    double phase = s.phaseDeg;
    for (int i = 1; i <= n; ++i) {
        const double c = std::cos(i * kFmSinCycles / n);
        phase += s.freqShift / n + (5760.0 / n) * c + ((static_cast<double>(i) / n - 0.5) * 360.0) / 4.0;
        body[static_cast<std::size_t>(i - 1)] = {phase, 1.0};
    }
    return body;
}

// A complex element back to (phase in degrees, modulus), the phase without unwrapping.
PulseElement fromComplex(double x, double y)
{
    double previous = 0.0;
    return {complexPhase(x, y, previous, false) / kRadiansPerDegree, std::sqrt(x * x + y * y)};
}

// "ttt2.RF" + w1 x "ttt1.RF", element by element as complex amplitudes.
Body sumBody(const GeneratorSettings& s, const GeneratorSources& sources, int n)
{
    Body body(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < body.size(); ++i) {
        const PulseElement& a = sources.first[i];
        const PulseElement& b = sources.second[i];
        const double x = a.amplitude * std::cos(a.phaseDeg * kPi / 180.0) +
                         s.secondWeight * b.amplitude * std::cos(b.phaseDeg * kPi / 180.0);
        const double y = a.amplitude * std::sin(a.phaseDeg * kPi / 180.0) +
                         s.secondWeight * b.amplitude * std::sin(b.phaseDeg * kPi / 180.0);
        body[i] = fromComplex(x, y);
    }
    return body;
}

// The source pulse with a third harmonic of 10 % turning the other way added.
Body harmonicsBody(const GeneratorSources& sources, int n)
{
    Body body(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < body.size(); ++i) {
        const double phi = sources.first[i].phaseDeg * kPi / 180.0;
        const double a = sources.first[i].amplitude;
        const double x = a * (std::cos(phi) + kHarmonicShare * std::cos(-3.0 * phi));
        const double y = a * (std::sin(phi) + kHarmonicShare * std::sin(-3.0 * phi));
        body[i] = fromComplex(x, y);
    }
    return body;
}

// --- HSn sweep ------------------------------------------------------------------------------------

// Amplitude A and integrated phase W of the HSn sweep at points 0..P+1, built from the centre out:
// A = sech(beta tau^n) with tau running from 0 at the centre to 1 at the ends, and W the running
// integral of the running integral of A^2 (the frequency sweep follows the integral of A^2, so the
// adiabaticity is the same at every offset).
struct HsnSweep {
    std::vector<double> amplitude;
    std::vector<double> phase;
    double finalIntegral = 0.0;  // I at the last point: the frequency at the ends, in W's units
};

HsnSweep hsnSweep(int points, double beta, int order)
{
    HsnSweep sweep;
    sweep.amplitude.assign(static_cast<std::size_t>(points) + 2, 0.0);
    sweep.phase.assign(static_cast<std::size_t>(points) + 2, 0.0);
    const int centre = points / 2;
    sweep.amplitude[static_cast<std::size_t>(centre)] = 1.0;
    double integral = -0.5;  // half a step, so that the two centre points sit symmetric about 0 Hz
    double previous = 1.0;
    // An odd count has one point more right of the centre than left of it.
    for (int k = 1; k <= points - centre; ++k) {
        double s = previous;
        for (int j = 0; j <= 1; ++j) {
            const double tau = 2.0 * (j + (k - 1)) / points;
            const double e = std::exp(beta * std::pow(tau, order));
            s = 2.0 / (e + 1.0 / e);
            const double trapezoid = (previous + s) / 2.0;
            integral += trapezoid * trapezoid / 2.0;
            previous = s;
        }
        const auto right = static_cast<std::size_t>(centre + k);
        sweep.amplitude[right] = s;
        sweep.phase[right] = integral + sweep.phase[right - 1];
        if (centre - k >= 0) {
            sweep.amplitude[static_cast<std::size_t>(centre - k)] = s;
            sweep.phase[static_cast<std::size_t>(centre - k)] = sweep.phase[right];
        }
    }
    sweep.finalIntegral = integral;
    return sweep;
}

// The HSn body of Frank pass `repeat` (1-based), its elements placed into the gaps by the method.
Body hsnBody(const GeneratorSettings& s, int n, int repeat, util::UniformRandom& random)
{
    const int g = gapSize(s);
    const int points = s.method == GapMethod::Brok ? s.gapCount * s.pulsePerGap : n;
    const double beta = std::log(1.0 / s.truncation + std::sqrt(1.0 / (s.truncation * s.truncation) - 1.0));
    const HsnSweep sweep = hsnSweep(points, beta, s.hsOrder);

    const auto phaseAt = [&](int q) {
        double phase = (sweep.phase[static_cast<std::size_t>(q)] * 180.0 / sweep.finalIntegral / s.rValue -
                        (360.0 / s.frankRepeat + s.freqShift) * (repeat - 1) * (q - 1)) /
                           g +
                       s.phaseDeg;
        return s.mirrored ? 360000.0 - phase : phase;
    };

    Body body(static_cast<std::size_t>(n));
    std::vector<bool> slots;
    int swept = 0;  // sweep points used so far ("brok")
    for (int gap = 0; gap < s.gapCount; ++gap) {
        placeInGap(s.method, gap, s.pulsePerGap, s.delayPerGap, random, slots);
        for (int j = 0; j < g; ++j) {
            const int i = gap * g + j + 1;
            const bool on = slots[static_cast<std::size_t>(j)];
            int q = i;
            if (s.method == GapMethod::Step)
                q = gap * g + 1;
            else if (s.method == GapMethod::Brok)
                q = std::max(on ? ++swept : swept, 1);
            body[static_cast<std::size_t>(i - 1)] = {phaseAt(q),
                                                     on ? sweep.amplitude[static_cast<std::size_t>(q)] : 0.0};
        }
    }
    return body;
}

// Three copies of the HSn body, one unshifted and two shifted by plus and minus twice the sweep's
// width: an excitation profile of three stripes of the sweep's width, one width apart.
Body stripeBody(const GeneratorSettings& s, int n, int repeat, util::UniformRandom& random)
{
    Body body = hsnBody(s, n, repeat, random);
    // The sweep spans 1 / (R (Nd + Np)) cycles per element; the copies sit two spans away.
    const double shiftCyclesPerElement = 2.0 / (s.rValue * gapSize(s));
    for (std::size_t i = 0; i < body.size(); ++i) {
        const double phi = body[i].phaseDeg * kPi / 180.0;
        double x = 0.0;
        double y = 0.0;
        for (int copy = -1; copy <= 1; ++copy) {
            const double turn = phi + 2.0 * kPi * copy * shiftCyclesPerElement * static_cast<double>(i);
            x += body[i].amplitude * std::cos(turn);
            y += body[i].amplitude * std::sin(turn);
        }
        body[i] = fromComplex(x, y);
    }
    return body;
}

// --- The file -------------------------------------------------------------------------------------

std::string elementLine(double phaseDeg, double scaledAmplitude)
{
    return util::formatPattern(phaseDeg, "#0.000") + "\t" + util::formatPattern(scaledAmplitude, "#0.000") +
           "\t1";
}

constexpr std::string_view kFillerLine = "0\t0\t1";

std::vector<std::string> headerLines(const GeneratorSettings& s, int n, double integral)
{
    // "# mother" tells the sequence preparation how many points an acquisition during the pulse
    // records: one per gap, filler gaps included, so that the elements per point (F) is the gap
    // size Np + Nd. The element count would make F = 1 for a gapped pulse.
    const long long points =
        s.zerosAtStart + static_cast<long long>(s.frankRepeat) * (s.gapCount + s.zerosAtEnd);
    const std::string width = util::formatPattern((s.zerosAtEnd + n + s.zerosAtStart) / s.rValue, "#.000");
    return {"# mother " + std::to_string(points) + " #",
            "# HS " + std::to_string(s.hsOrder) + " #",
            "# R " + util::formatGeneral(s.rValue) + " #",
            "# trunc 0 #",
            "# AcqBeforePulse " + std::to_string(s.zerosAtStart) + " #",
            "# AcqAfterPulse " + std::to_string(s.zerosAtEnd) + " #",
            "# TYPE selective #",
            "# MODULATION phase #",
            "# EXCITEWIDTH " + width + " #",
            "# INVERTWIDTH " + width + " #",
            "# INTEGRAL " + util::formatPattern(integral, "#0.0000") + " #"};
}

std::string refusal(const GeneratorSettings& s, const GeneratorSources& sources)
{
    const auto known = [&](std::string_view shape) { return util::equalsIgnoreCase(s.shape, shape); };
    if (known(kShapeWavelet))
        return "the wavelet pulse is not built; choose one of the six shapes of the generator";
    if (std::none_of(generatorShapes().begin(), generatorShapes().end(), known))
        return "the generator has no shape \"" + s.shape + "\"";
    const long long n = bodyElementCount(s);
    if (s.gapCount < 1 || s.pulsePerGap < 0 || s.delayPerGap < 0 || n < 1)
        return "\"Ngap\" x (\"N pulse in gap\" + \"N delay in gap\") gives no elements";
    const bool swept = known(kShapeHsn) || known(kShapeStripe);
    if (swept && s.pulsePerGap < 1)
        return "\"N pulse in gap\" is 0: the gaps would hold no pulse elements";
    if (swept && s.hsOrder < 1)
        return "\"n factor\" must be 1 or more: it is the exponent of the HSn sweep";
    if (s.frankRepeat < 1 || s.zerosAtStart < 0 || s.zerosAtEnd < 0)
        return "\"FrankRepeat\" must be 1 or more, \"add zero at start\" and \"add zero at end\" 0 or more";
    if (!(s.truncation > 0.0 && s.truncation <= 1.0))
        return "\"truncation\" must lie above 0 and at most 1";
    if (s.rValue == 0.0 || !std::isfinite(s.rValue))
        return "\"R value\" must be a number other than 0";
    if (fileElementCount(s) > kMaxPulseElements)
        return "the pulse would have " + std::to_string(fileElementCount(s)) +
               " elements; a shaped-pulse file holds at most " + std::to_string(kMaxPulseElements);
    const auto tooShort = [&](const std::vector<PulseElement>& source) {
        return static_cast<long long>(source.size()) < n;
    };
    if ((known(kShapeSumOfTwo) && (tooShort(sources.first) || tooShort(sources.second))) ||
        (known(kShapeHarmonics) && tooShort(sources.first)))
        return "a source pulse holds fewer than the " + std::to_string(n) + " elements of the pulse";
    return {};
}

}  // namespace

long long bodyElementCount(const GeneratorSettings& s)
{
    return saturatingProduct(static_cast<long long>(s.pulsePerGap) + s.delayPerGap, s.gapCount);
}

long long fileElementCount(const GeneratorSettings& s)
{
    const long long g = static_cast<long long>(s.pulsePerGap) + s.delayPerGap;
    return saturatingProduct(g, s.zerosAtStart) +
           saturatingProduct(s.frankRepeat, saturatingProduct(g, s.zerosAtEnd) + bodyElementCount(s));
}

GenerationResult generatePulse(const GeneratorSettings& s, const GeneratorSources& sources,
                               util::UniformRandom& random)
{
    if (std::string why = refusal(s, sources); !why.empty())
        return {std::nullopt, std::move(why)};
    random.reseed(kPlacementSeed);
    const auto is = [&](std::string_view shape) { return util::equalsIgnoreCase(s.shape, shape); };
    const int n = static_cast<int>(bodyElementCount(s));
    const int g = gapSize(s);

    // The body of every Frank pass; only the swept shapes change from pass to pass.
    std::vector<Body> passes;
    for (int repeat = 1; repeat <= s.frankRepeat; ++repeat) {
        if (is(kShapeHsn))
            passes.push_back(hsnBody(s, n, repeat, random));
        else if (is(kShapeStripe))
            passes.push_back(stripeBody(s, n, repeat, random));
        else if (repeat > 1)
            passes.push_back(passes.front());
        else if (is(kShapeGauss))
            passes.push_back(gaussBody(s, n));
        else if (is(kShapeFmSin))
            passes.push_back(fmSinBody(s, n));
        else if (is(kShapeSumOfTwo))
            passes.push_back(sumBody(s, sources, n));
        else
            passes.push_back(harmonicsBody(sources, n));
    }
    // Sources or boxes of extreme size can overflow; such a pulse is refused, never written as "NaN".
    for (const Body& body : passes) {
        for (const PulseElement& e : body) {
            if (!std::isfinite(e.phaseDeg) || !std::isfinite(e.amplitude))
                return {std::nullopt, "the pulse's phases or amplitudes are too large to compute"};
        }
    }
    // M: the largest modulus of the sums (1 for the shapes whose amplitudes peak at 1).
    double largest = 1.0;
    if (is(kShapeSumOfTwo) || is(kShapeHarmonics) || is(kShapeStripe)) {
        largest = 0.0;
        for (const Body& body : passes)
            for (const PulseElement& e : body)
                largest = std::max(largest, e.amplitude);
        if (!(largest > 0.0))
            largest = 1.0;
    }

    GeneratedPulse pulse;
    pulse.bodyElements = n;
    std::vector<std::string> elements;
    pulse.table.points.push_back({0.0, 0.0, 0.0});
    const auto add = [&](double phaseDeg, double amplitude, std::string line) {
        pulse.table.points.push_back({phaseDeg, amplitude, 1.0});
        elements.push_back(std::move(line));
    };
    const auto addFillers = [&](long long count) {
        for (long long k = 0; k < count; ++k)
            add(0.0, 0.0, std::string(kFillerLine));
    };
    addFillers(static_cast<long long>(g) * s.zerosAtStart);
    for (std::size_t pass = 0; pass < passes.size(); ++pass) {
        int skipped = 0;
        for (int i = 1; i <= n; ++i) {
            // Later passes leave out their first gap and make it up with silence at the end.
            if (pass > 0 && i <= g) {
                ++skipped;
                continue;
            }
            const PulseElement& e = passes[pass][static_cast<std::size_t>(i - 1)];
            std::string line =
                elementLine(e.phaseDeg, std::max(0.0, e.amplitude * kFullPulseAmplitude / largest));
            // The table holds what the file says, to the file's three decimals.
            const std::size_t tab = line.find('\t');
            const std::string_view text(line);
            const double writtenPhase = util::parseNumber(text.substr(0, tab)).value_or(0.0);
            const double writtenAmplitude =
                util::parseNumber(text.substr(tab + 1, text.rfind('\t') - tab - 1)).value_or(0.0);
            add(writtenPhase, writtenAmplitude, std::move(line));
        }
        addFillers(static_cast<long long>(g) * s.zerosAtEnd + skipped);
    }

    double x = 0.0;
    double y = 0.0;
    for (std::size_t p = 1; p < pulse.table.points.size(); ++p) {
        const auto& [phaseDeg, amplitude, duration] = pulse.table.points[p];
        x += amplitude / kFullPulseAmplitude * std::cos(phaseDeg * kPi / 180.0) * duration;
        y += amplitude / kFullPulseAmplitude * std::sin(phaseDeg * kPi / 180.0) * duration;
    }
    pulse.integral = std::hypot(x, y) / static_cast<double>(elements.size());

    if (s.header)
        pulse.lines = headerLines(s, n, pulse.integral);
    pulse.lines.insert(pulse.lines.end(), std::make_move_iterator(elements.begin()),
                       std::make_move_iterator(elements.end()));
    return {std::move(pulse), {}};
}

}  // namespace velmora::pulses
