// The shaped-pulse generator: the Gaussian's edge values, the counts of elements, fillers and
// header, the Frank passes, the gap methods' placements, the sweep sign, the sums and harmonics
// against complex arithmetic, the phase routine, and the refusals.
#include "pulses/complex_phase.h"
#include "pulses/pulse_generator.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::pulses {
namespace {

constexpr double kPi = 3.14159265358979;
constexpr std::size_t kHeaderLines = 11;

GeneratedPulse make(const GeneratorSettings& settings, const GeneratorSources& sources = {})
{
    util::UniformRandom random;
    GenerationResult result = generatePulse(settings, sources, random);
    EXPECT_TRUE(result.pulse) << result.error;
    return result.pulse ? std::move(*result.pulse) : GeneratedPulse{};
}

GeneratorSettings gapped(GapMethod method, int pulses, int delays, int gaps = 4)
{
    GeneratorSettings s;
    s.method = method;
    s.pulsePerGap = pulses;
    s.delayPerGap = delays;
    s.gapCount = gaps;
    return s;
}

// "1" for an element carrying RF, "0" for a silent one, over the table's points.
std::string onOff(const GeneratedPulse& pulse)
{
    std::string pattern;
    for (std::size_t p = 1; p < pulse.table.points.size(); ++p)
        pattern += pulse.table.points[p][1] > 0.0 ? '1' : '0';
    return pattern;
}

TEST(PulseGenerator, GaussianOf256ElementsHasItsCentreAtFullAmplitudeAndItsEndsAtTheTruncation)
{
    GeneratorSettings s;
    s.shape = kShapeGauss;
    s.gapCount = 256;
    s.pulsePerGap = 1;
    s.truncation = 0.001;
    const GeneratedPulse pulse = make(s);
    ASSERT_EQ(pulse.lines.size(), kHeaderLines + 256);
    const auto element = [&](int i) { return pulse.lines[kHeaderLines + static_cast<std::size_t>(i) - 1]; };
    EXPECT_EQ(element(129), "0.000\t1023.000\t1");
    EXPECT_EQ(element(1), "0.000\t1.023\t1");
    EXPECT_EQ(element(2), element(256));
    for (int i = 1; i <= 256; ++i)
        EXPECT_TRUE(element(i).starts_with("0.000\t")) << i;
}

TEST(PulseGenerator, CountsOfElementsFillersAndTheMotherHeader)
{
    GeneratorSettings s = gapped(GapMethod::Zv, 32, 0, 256);
    s.zerosAtStart = 2;
    s.zerosAtEnd = 3;
    const GeneratedPulse pulse = make(s);
    EXPECT_EQ(pulse.bodyElements, 8192);
    // One acquired point per gap, the filler gaps included: 2 + 256 + 3 points of 32 elements.
    EXPECT_EQ(pulse.lines[0], "# mother 261 #");
    EXPECT_EQ(pulse.lines[1], "# HS 1 #");
    EXPECT_EQ(pulse.lines[3], "# trunc 0 #");
    EXPECT_EQ(pulse.lines[8], "# EXCITEWIDTH 8197.000 #");
    ASSERT_EQ(pulse.lines.size(), kHeaderLines + 32 * 2 + 8192 + 32 * 3);
    EXPECT_EQ(pulse.lines[kHeaderLines], "0\t0\t1");
    EXPECT_EQ(pulse.lines[kHeaderLines + 63], "0\t0\t1");
    EXPECT_NE(pulse.lines[kHeaderLines + 64], "0\t0\t1");
    EXPECT_EQ(pulse.lines.back(), "0\t0\t1");
    EXPECT_EQ(pulse.table.pointCount(), 32 * 2 + 8192 + 32 * 3);

    s.header = false;
    EXPECT_EQ(make(s).lines.front(), "0\t0\t1");
}

TEST(PulseGenerator, LaterFrankPassesLeaveOutTheirFirstGapAndEndWithAsMuchSilence)
{
    GeneratorSettings s = gapped(GapMethod::Zv, 2, 2, 4);  // N = 16
    s.frankRepeat = 3;
    s.zerosAtEnd = 1;
    s.header = false;
    const GeneratedPulse pulse = make(s);
    // Pass 1: 16 elements + 4 silent; passes 2 and 3: 12 elements + 4 + 4 silent.
    ASSERT_EQ(pulse.lines.size(), 3u * 20u);
    EXPECT_EQ(onOff(pulse), "11001100110011000000"
                            "110011001100"
                            "00000000"
                            "110011001100"
                            "00000000");
    // A pass after the first ramps the phase by 360/Fr degrees per element (over Nd + Np).
    const double first = pulse.table.points[21][0];   // pass 2, element 5
    const double second = pulse.table.points[22][0];  // pass 2, element 6
    const double p5 = pulse.table.points[5][0];
    const double p6 = pulse.table.points[6][0];
    EXPECT_NEAR((second - first) - (p6 - p5), -120.0 / 4.0, 0.002);
}

TEST(PulseGenerator, EachGapMethodPlacesNpPulseElementsWhereItSays)
{
    const std::pair<GapMethod, std::string> placements[] = {
        {GapMethod::Zv, "11110000"},  {GapMethod::Step, "11110000"},     {GapMethod::Brok, "11110000"},
        {GapMethod::Zvn, "00001111"}, {GapMethod::ZvCenter, "00111100"}, {GapMethod::Zvt, "01010101"},
        {GapMethod::Zvtt, "10101010"}};
    for (const auto& [method, gap] : placements) {
        const GeneratedPulse pulse = make(gapped(method, 4, 4));
        EXPECT_EQ(onOff(pulse), gap + gap + gap + gap)
            << gapMethodKeywords()[static_cast<std::size_t>(method)];
    }
    EXPECT_EQ(onOff(make(gapped(GapMethod::Zvnm, 4, 4))), "11110000000011111111000000001111");
    EXPECT_EQ(onOff(make(gapped(GapMethod::ZvCenter, 2, 5, 1))), "0011000");

    // Random places: four per gap, not the same places in every gap, the same pulse every time.
    const GeneratedPulse random = make(gapped(GapMethod::ZvRandom, 4, 4, 16));
    const std::string pattern = onOff(random);
    bool allAlike = true;
    for (int gap = 0; gap < 16; ++gap) {
        const std::string places = pattern.substr(static_cast<std::size_t>(gap) * 8, 8);
        EXPECT_EQ(std::count(places.begin(), places.end(), '1'), 4);
        allAlike = allAlike && places == pattern.substr(0, 8);
    }
    EXPECT_FALSE(allAlike);
    EXPECT_EQ(make(gapped(GapMethod::ZvRandom, 4, 4, 16)).lines, random.lines);
}

TEST(PulseGenerator, SweepAdvancesWithTimeExceptWhereTheMethodHoldsIt)
{
    const auto point = [](const GeneratedPulse& p, int i) {
        return p.table.points[static_cast<std::size_t>(i)];
    };
    // "step": every element of a gap repeats the gap's first element.
    const GeneratedPulse step = make(gapped(GapMethod::Step, 4, 4));
    EXPECT_EQ(point(step, 10), point(step, 9));
    EXPECT_NE(point(step, 17), point(step, 9));
    // "brok": the sweep stops in the silences, so the pulse elements are those of an ungapped sweep of
    // Ngap x Np points with the gap phases divided by Nd + Np.
    const GeneratedPulse broken = make(gapped(GapMethod::Brok, 4, 4));
    const GeneratedPulse plain = make(gapped(GapMethod::Zv, 4, 0));
    for (int gap = 0; gap < 4; ++gap) {
        for (int j = 1; j <= 4; ++j) {
            const auto b = point(broken, gap * 8 + j);
            const auto z = point(plain, gap * 4 + j);
            EXPECT_NEAR(b[1], z[1], 0.0005);
            EXPECT_NEAR(b[0], z[0] * 4.0 / 8.0, 0.001);
        }
        EXPECT_EQ(point(broken, gap * 8 + 5)[0], point(broken, gap * 8 + 4)[0]);
    }
}

TEST(PulseGenerator, NegativeSweepSignMirrorsEveryPhase)
{
    GeneratorSettings s = gapped(GapMethod::Zv, 1, 0, 64);
    s.phaseDeg = 10.0;
    const GeneratedPulse up = make(s);
    s.mirrored = true;
    const GeneratedPulse down = make(s);
    ASSERT_EQ(up.table.points.size(), down.table.points.size());
    for (std::size_t p = 1; p < up.table.points.size(); ++p) {
        EXPECT_NEAR(down.table.points[p][0], 360000.0 - up.table.points[p][0], 0.0011);
        EXPECT_EQ(down.table.points[p][1], up.table.points[p][1]);
    }
    // The HS1 phase is symmetric about the centre (a frequency sweep through 0) and starts at phi0.
    EXPECT_NEAR(up.table.points[32][0], 10.0, 0.001);
    EXPECT_NEAR(up.table.points[31][0], up.table.points[33][0], 0.001);
}

TEST(PulseGenerator, SumsAndHarmonicsFollowComplexArithmetic)
{
    const std::vector<PulseElement> a = {{0.0, 1023.0}, {30.0, 500.0}, {-120.0, 200.0}};
    const std::vector<PulseElement> b = {{90.0, 1023.0}, {200.0, 100.0}, {45.0, 0.0}};
    const auto polar = [](const PulseElement& e) {
        return std::polar(e.amplitude, e.phaseDeg * kPi / 180.0);
    };

    GeneratorSettings s = gapped(GapMethod::Zv, 1, 0, 3);
    s.shape = kShapeSumOfTwo;
    s.secondWeight = 0.5;
    s.header = false;
    const GeneratedPulse sum = make(s, {a, b});
    std::vector<std::complex<double>> expected;
    double largest = 0.0;
    for (std::size_t i = 0; i < 3; ++i) {
        expected.push_back(polar(a[i]) + 0.5 * polar(b[i]));
        largest = std::max(largest, std::abs(expected.back()));
    }
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(sum.table.points[i + 1][1], std::abs(expected[i]) * 1023.0 / largest, 0.0005);
        EXPECT_NEAR(sum.table.points[i + 1][0], std::arg(expected[i]) * 180.0 / kPi, 0.0005);
    }

    s.shape = kShapeHarmonics;
    const GeneratedPulse harmonic = make(s, {a, {}});
    expected.clear();
    largest = 0.0;
    for (const PulseElement& e : a) {
        const double phi = e.phaseDeg * kPi / 180.0;
        expected.push_back(e.amplitude * (std::polar(1.0, phi) + 0.1 * std::polar(1.0, -3.0 * phi)));
        largest = std::max(largest, std::abs(expected.back()));
    }
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(harmonic.table.points[i + 1][1], std::abs(expected[i]) * 1023.0 / largest, 0.0005);
        EXPECT_NEAR(harmonic.table.points[i + 1][0], std::arg(expected[i]) * 180.0 / kPi, 0.0005);
    }
}

TEST(PulseGenerator, RefusesWhatItCannotMake)
{
    util::UniformRandom random;
    const auto refusal = [&](const GeneratorSettings& s, const GeneratorSources& sources = {}) {
        const GenerationResult r = generatePulse(s, sources, random);
        EXPECT_FALSE(r.pulse);
        return r.error;
    };
    GeneratorSettings s;
    s.shape = "Wavelet";
    EXPECT_NE(refusal(s).find("wavelet"), std::string::npos);
    s = gapped(GapMethod::Zv, 0, 4);
    EXPECT_NE(refusal(s).find("N pulse in gap"), std::string::npos);
    s = gapped(GapMethod::Zv, 32, 0, 0);
    EXPECT_NE(refusal(s).find("no elements"), std::string::npos);
    s = gapped(GapMethod::Zv, 1000, 0, 1000);
    EXPECT_NE(refusal(s).find("200000"), std::string::npos);
    s = gapped(GapMethod::Zv, 4, 0, 4);
    s.shape = kShapeSumOfTwo;
    EXPECT_NE(refusal(s, {std::vector<PulseElement>(16), std::vector<PulseElement>(15)}).find("fewer"),
              std::string::npos);
    const std::vector<PulseElement> huge(16, PulseElement{0.0, 1.0e308});
    EXPECT_NE(refusal(s, {huge, huge}).find("too large"), std::string::npos);
}

TEST(ComplexPhase, QuadrantsAndUnwrapping)
{
    double previous = 0.0;
    EXPECT_DOUBLE_EQ(complexPhase(-1.0, 0.0, previous, false), kPi);
    EXPECT_DOUBLE_EQ(complexPhase(0.0, -1.0, previous, false), -kPi / 2.0);
    EXPECT_DOUBLE_EQ(previous, -kPi / 2.0);
    EXPECT_DOUBLE_EQ(complexPhase(0.0, 0.0, previous, false), 0.0);
    EXPECT_NEAR(complexPhase(-1.0, -1.0, previous, false), -3.0 * kPi / 4.0, 1e-14);

    // A raw -3.1 after 3.0 becomes -3.1 + 2 pi, within pi/2 of 3.0.
    previous = 3.0;
    const double raw = -3.1;
    const double unwrapped = complexPhase(std::cos(raw), std::sin(raw), previous, true);
    EXPECT_NEAR(unwrapped, raw + 2.0 * kPi, 1e-12);
    EXPECT_DOUBLE_EQ(previous, unwrapped);
    // Far from the previous phase, a whole number of half turns brings it within pi/2.
    previous = 1000.0;
    const double far = complexPhase(1.0, 1.0, previous, true);
    EXPECT_LE(std::abs(far - 1000.0), kPi / 2.0);
    EXPECT_NEAR(std::remainder(far - kPi / 4.0, kPi), 0.0, 1e-9);
}

}  // namespace
}  // namespace velmora::pulses
