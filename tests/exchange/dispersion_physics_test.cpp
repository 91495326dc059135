// The simulated CPMG dispersion against an independent two-site Bloch-McConnell solution: the
// transverse magnetisation of both sites propagated with matrix exponentials through the same
// echo train (delay tcp, ideal pulse, delay tcp), and against the Carver-Richards expression.
#include "exchange/carver_richards.h"
#include "exchange/dispersion_experiment.h"
#include "exchange/dispersion_table.h"
#include "exchange/echo_train.h"
#include "util/run_control.h"
#include "util/uniform_random.h"
#include "util/work_pool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::exchange {
namespace {

using model::ExchangeSettings;
using Matrix = std::array<std::array<double, 4>, 4>;

constexpr double kTwoPi = 6.28318530717958;

Matrix product(const Matrix& a, const Matrix& b)
{
    Matrix c{};
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            for (int j = 0; j < 4; ++j)
                c[i][j] += a[i][k] * b[k][j];
    return c;
}

// exp(A) by scaling, a Taylor series and squaring.
Matrix exponential(Matrix a)
{
    double norm = 0;
    for (const auto& row : a)
        for (const double v : row)
            norm = std::max(norm, std::abs(v));
    int squarings = 0;
    while (norm > 0.1) {
        norm /= 2;
        ++squarings;
    }
    for (auto& row : a)
        for (double& v : row)
            v = std::ldexp(v, -squarings);
    Matrix result{};
    Matrix term{};
    for (int i = 0; i < 4; ++i)
        result[i][i] = term[i][i] = 1;
    for (int n = 1; n <= 20; ++n) {
        term = product(term, a);
        for (auto& row : term)
            for (double& v : row)
                v /= n;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                result[i][j] += term[i][j];
    }
    for (int s = 0; s < squarings; ++s)
        result = product(result, result);
    return result;
}

struct TwoSites {
    double kex = 0;  // 1/s
    double pa = 0.9;
    double shiftHz = 200;  // between the sites
    double r2PerS = 20;    // both sites
};

// R2,eff of the echo train [tau - 180x - tau] x echoes from Bloch-McConnell: state (MxA, MyA,
// MxB, MyB), site A at +shift/2 and B at -shift/2, kAB = kex (1 - pa), kBA = kex pa.
double blochMcConnellRate(const TwoSites& s, double tauS, int echoes)
{
    const double kab = s.kex * (1 - s.pa);
    const double kba = s.kex * s.pa;
    const double wa = kTwoPi * s.shiftHz / 2;
    const double wb = -wa;
    Matrix generator{{{-s.r2PerS - kab, -wa, kba, 0},
                      {wa, -s.r2PerS - kab, 0, kba},
                      {kab, 0, -s.r2PerS - kba, -wb},
                      {0, kab, wb, -s.r2PerS - kba}}};
    for (auto& row : generator)
        for (double& v : row)
            v *= tauS;
    const Matrix delay = exponential(generator);
    Matrix pulse{};
    for (int i = 0; i < 4; ++i)
        pulse[i][i] = i % 2 == 0 ? 1 : -1;
    const Matrix echo = product(delay, product(pulse, delay));
    std::array<double, 4> m{s.pa, 0, 1 - s.pa, 0};
    for (int e = 0; e < echoes; ++e) {
        std::array<double, 4> next{};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                next[i] += echo[i][j] * m[j];
        m = next;
    }
    return -std::log(m[0] + m[2]) / (2 * tauS * echoes);
}

// Exchange values of a train with ideal pulses: 2 us long at 250 kHz (180 degrees).
Values trainValues(const TwoSites& s, double tcpUs, int echoes)
{
    Values v = model::ExchangeSettings{}.values;
    v[ExchangeSettings::Tp] = 2;
    v[ExchangeSettings::W1] = 250000;
    v[ExchangeSettings::Tcp] = tcpUs;
    v[ExchangeSettings::Kex] = s.kex;
    v[ExchangeSettings::Pa] = s.pa;
    v[ExchangeSettings::HalfShift] = s.shiftHz / 2;
    v[ExchangeSettings::RfOffset] = 0;
    v[ExchangeSettings::Necho] = echoes;
    v[ExchangeSettings::T2SiteA] = v[ExchangeSettings::T2SiteB] = 1000 / s.r2PerS;
    return v;
}

struct Estimate {
    double rate = 0;
    double standardError = 0;
};

// The ensemble rate of `histories` histories and its bootstrap standard error.
Estimate simulatedRate(const Values& values, int histories, std::int64_t seed)
{
    const std::vector<PulseElement> hard{PulseElement{}};
    const std::vector<int> phases{0};
    const EchoTrain train(values, hard, phases, "Ix", false, true);
    util::UniformRandom random(seed);
    std::vector<double> x;
    double sum = 0;
    for (int h = 0; h < histories; ++h) {
        x.push_back(train.history(random));
        sum += x.back();
    }
    const double seconds = train.sequenceSeconds();
    Estimate estimate{-std::log(sum / histories) / seconds, 0};
    util::UniformRandom resample(seed + 1);
    double s1 = 0, s2 = 0;
    const int rounds = 200;
    for (int b = 0; b < rounds; ++b) {
        double total = 0;
        for (int h = 0; h < histories; ++h)
            total += x[static_cast<std::size_t>(resample.next() * histories)];
        const double rate = -std::log(total / histories) / seconds;
        s1 += rate;
        s2 += rate * rate;
    }
    estimate.standardError = std::sqrt(std::max(s2 / rounds - (s1 / rounds) * (s1 / rounds), 0.0));
    return estimate;
}

TEST(DispersionPhysics, EnsembleRateAgreesWithBlochMcConnellInSlowIntermediateAndFastExchange)
{
    const double tcpUs = 499;  // pulse centres 1 ms apart
    const int echoes = 40;
    for (const double kex : {50.0, 1000.0, 20000.0}) {
        const TwoSites sites{kex};
        const Estimate simulated = simulatedRate(trainValues(sites, tcpUs, echoes), 10000, 7);
        const double reference = blochMcConnellRate(sites, (tcpUs + 1) * 1e-6, echoes);
        EXPECT_GT(reference, sites.r2PerS + 0.5) << "kex " << kex << ": the exchange must show";
        EXPECT_NEAR(simulated.rate, reference, 3 * simulated.standardError) << "kex " << kex;
    }
}

TEST(DispersionPhysics, CarverRichardsMatchesBlochMcConnellAndItsFitRecoversKex)
{
    const TwoSites sites{1000};
    const TwoSiteExchange exchange{sites.r2PerS, sites.kex, sites.pa, kTwoPi * sites.shiftHz};
    std::vector<DispersionSample> samples;
    for (const double tauUs : {250.0, 500.0, 1000.0, 2000.0, 4000.0}) {
        const double reference = blochMcConnellRate(sites, tauUs * 1e-6, 20);
        EXPECT_NEAR(carverRichardsRate(exchange, 2 * tauUs * 1e-6), reference, 1e-2 * reference) << tauUs;
        samples.push_back({2 * tauUs * 1e-6, reference});
    }
    const std::optional<ExchangeFit> fit = fitExchangeRate(samples, sites.pa, kTwoPi * sites.shiftHz);
    ASSERT_TRUE(fit);
    EXPECT_NEAR(fit->kexPerS, 1000, 20);
    EXPECT_NEAR(fit->r20PerS, sites.r2PerS, 0.2);
    EXPECT_FALSE(fitExchangeRate(std::span(samples).first(2), sites.pa, kTwoPi * sites.shiftHz));
}

// With equal populations the two branches of the expression meet at kex = shift difference, where
// its terms grow without bound and their difference is all that is left.
TEST(DispersionPhysics, CarverRichardsHoldsWhereExchangeRateAndShiftDifferenceMeet)
{
    TwoSites sites{kTwoPi * 200};
    sites.pa = 0.5;
    const TwoSiteExchange exchange{sites.r2PerS, sites.kex, sites.pa, kTwoPi * sites.shiftHz};
    for (const double tauUs : {250.0, 1000.0, 4000.0}) {
        const double reference = blochMcConnellRate(sites, tauUs * 1e-6, 400);
        EXPECT_NEAR(carverRichardsRate(exchange, 2 * tauUs * 1e-6), reference, 1e-3 * reference) << tauUs;
    }
}

TEST(DispersionPhysics, NoKexIsFittedWhereTheCurveCannotDependOnIt)
{
    // Rates that fall with the spacing as exchange would make them fall, fitted with a model that
    // has no exchange contribution: equal shifts, or one site empty.
    const TwoSites sites{1000};
    std::vector<DispersionSample> samples;
    for (const double tauUs : {250.0, 500.0, 1000.0, 2000.0})
        samples.push_back({2 * tauUs * 1e-6, blochMcConnellRate(sites, tauUs * 1e-6, 20), 0.1});
    ASSERT_TRUE(fitExchangeRate(samples, sites.pa, kTwoPi * sites.shiftHz));
    EXPECT_FALSE(fitExchangeRate(samples, sites.pa, 0));
    EXPECT_FALSE(fitExchangeRate(samples, 1.0, kTwoPi * sites.shiftHz));
    EXPECT_FALSE(fitExchangeRate(samples, 0.0, kTwoPi * sites.shiftHz));
}

TEST(DispersionPhysics, TheFitWeighsRatesByTheirErrorsAndItsKexErrorMatchesTheScatter)
{
    const TwoSites sites{1000};
    const double deltaOmega = kTwoPi * sites.shiftHz;
    const std::vector<double> tausUs{250, 500, 1000, 2000, 4000};
    std::vector<DispersionSample> exact;
    for (const double tauUs : tausUs)
        exact.push_back({2 * tauUs * 1e-6, blochMcConnellRate(sites, tauUs * 1e-6, 20), 1.0});
    // A rate 30 /s off the curve whose error of 300 /s says it tells almost nothing.
    std::vector<DispersionSample> withOutlier = exact;
    withOutlier.push_back({1500e-6, blochMcConnellRate(sites, 750e-6, 20) + 30, 300});
    const std::optional<ExchangeFit> weighted = fitExchangeRate(withOutlier, sites.pa, deltaOmega);
    ASSERT_TRUE(weighted);
    EXPECT_NEAR(weighted->kexPerS, 1000, 20);
    std::vector<DispersionSample> unweighted = withOutlier;
    for (DispersionSample& sample : unweighted)
        sample.errorPerS = 0;
    EXPECT_GT(std::abs(fitExchangeRate(unweighted, sites.pa, deltaOmega)->kexPerS - 1000), 100)
        << "the outlier must matter to a fit that weighs all rates alike";

    // Gaussian noise of 1 /s on every rate (Box-Muller): the fitted kex scatters as its error says.
    const std::optional<ExchangeFit> reference = fitExchangeRate(exact, sites.pa, deltaOmega);
    ASSERT_TRUE(reference && reference->kexErrorPerS);
    util::UniformRandom random(11);
    double sum = 0, sumSquares = 0;
    const int trials = 400;
    for (int t = 0; t < trials; ++t) {
        std::vector<DispersionSample> noisy = exact;
        for (DispersionSample& sample : noisy)
            sample.r2effPerS +=
                std::sqrt(-2 * std::log(1 - random.next())) * std::cos(kTwoPi * random.next());
        const double kex = fitExchangeRate(noisy, sites.pa, deltaOmega)->kexPerS;
        sum += kex;
        sumSquares += kex * kex;
    }
    const double spread = std::sqrt((sumSquares - sum * sum / trials) / (trials - 1));
    EXPECT_NEAR(*reference->kexErrorPerS / spread, 1, 0.2) << *reference->kexErrorPerS << " vs " << spread;
}

// A grid over tcp at intermediate exchange, 1000 grids of 10 repetitions: 10^4 histories a point.
PreparedDispersion tcpSweep(double kex)
{
    DispersionRequest request;
    request.t2Relaxation = true;
    request.exchange.values = trainValues(TwoSites{kex}, 124, 10);
    request.exchange.sweptName = "tcp";
    request.exchange.lastRunIndex = 4;
    request.exchange.seriesValue = 2;  // tcp 124, 248, 496, 992, 1984 us
    request.firstMethod = "Mult";
    request.exchange.secondSeriesCount = 0;
    util::RecordedMessages messages;
    std::optional<PreparedDispersion> prepared = prepareDispersion(request, ".", messages);
    EXPECT_TRUE(prepared) << (messages.entries.empty() ? "" : messages.entries.front().text);
    return *prepared;
}

TEST(DispersionExperiment, RateFallsAsTheEchoSpacingShortensAndKexCalRecoversKex)
{
    const PreparedDispersion prepared = tcpSweep(1000);
    DispersionExperiment experiment(prepared, 2026);
    util::WorkPool pool(2);
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    ASSERT_TRUE(experiment.run(1000, pool, control, {}, {}));
    const std::vector<PointResult>& points = experiment.results().points;
    ASSERT_EQ(points.size(), 5u);
    for (std::size_t k = 0; k < points.size(); ++k) {
        const PointResult& p = points[k];
        EXPECT_EQ(p.histories, 10000);
        const double tauS = (prepared.valuesAt(static_cast<int>(k))[ExchangeSettings::Tcp] + 1) * 1e-6;
        const double reference = blochMcConnellRate(TwoSites{1000}, tauS, 10);
        EXPECT_NEAR(p.r2effPerS, reference, 3 * p.r2effErrorPerS) << "tcp point " << k;
        if (k > 0) {
            EXPECT_GT(p.r2effPerS, points[k - 1].r2effPerS - 3 * p.r2effErrorPerS) << k;
        }
        ASSERT_TRUE(p.kexCalPerS);
        EXPECT_NEAR(*p.kexCalPerS, 1000, 200);
        EXPECT_DOUBLE_EQ(p.rabPerS, 100);
        EXPECT_DOUBLE_EQ(p.rbaPerS, 900);
    }
    EXPECT_GT(points.back().r2effPerS - points.front().r2effPerS, 10) << "no dispersion";
    EXPECT_FALSE(control.running());
}

// The standard error of R2eff against the spread of R2eff over 20 seeds, at one point of
// intermediate exchange (100 grids: 1000 histories a seed).
TEST(DispersionExperiment, TheStandardErrorOfR2effMatchesItsSpreadOverSeeds)
{
    DispersionRequest request;
    request.t2Relaxation = true;
    request.exchange.values = trainValues(TwoSites{1000}, 499, 10);
    request.exchange.lastRunIndex = 0;
    util::RecordedMessages messages;
    const std::optional<PreparedDispersion> prepared = prepareDispersion(request, ".", messages);
    ASSERT_TRUE(prepared);
    util::WorkPool pool(1);
    double sum = 0, sumSquares = 0, sumErrors = 0;
    const int seeds = 20;
    for (int seed = 1; seed <= seeds; ++seed) {
        DispersionExperiment experiment(*prepared, seed);
        util::RunControl control;
        ASSERT_TRUE(control.tryStart());
        ASSERT_TRUE(experiment.run(100, pool, control, {}, {}));
        const PointResult& p = experiment.results().points.at(0);
        sum += p.r2effPerS;
        sumSquares += p.r2effPerS * p.r2effPerS;
        sumErrors += p.r2effErrorPerS;
    }
    const double spread = std::sqrt((sumSquares - sum * sum / seeds) / (seeds - 1));
    // The spread of 20 values is itself known to about 16 %.
    EXPECT_NEAR(sumErrors / seeds / spread, 1, 0.4) << sumErrors / seeds << " vs " << spread;
}

// Long echo spacings at slow exchange: the spins that visit site B dephase, and the ensemble
// magnetisation falls below what 1000 histories can tell from 0 at the longest spacing.
TEST(DispersionExperiment, APointWhoseSignalIsLostHasNoRateAndStaysOutOfTheFit)
{
    DispersionRequest request;
    request.t2Relaxation = true;
    request.exchange.values = trainValues(TwoSites{1000}, 249, 10);
    request.exchange.sweptName = "tcp";
    request.exchange.lastRunIndex = 4;
    request.exchange.seriesValue = 2;  // tcp 249, 498, 996, 1992, 3984 us
    request.firstMethod = "Mult";
    util::RecordedMessages messages;
    const std::optional<PreparedDispersion> prepared = prepareDispersion(request, ".", messages);
    ASSERT_TRUE(prepared);
    DispersionExperiment experiment(*prepared, 4);
    util::WorkPool pool(2);
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    ASSERT_TRUE(experiment.run(100, pool, control, {}, {}));
    const std::vector<PointResult>& points = experiment.results().points;
    const double longestTauS = (3984 + 1) * 1e-6;
    const double trueX =
        std::exp(-blochMcConnellRate(TwoSites{1000}, longestTauS, 10) * 2 * longestTauS * 10);
    ASSERT_LT(trueX, 0.01) << "the reference signal must lie below the noise of 1000 histories";
    EXPECT_TRUE(points.back().signalLost) << "X " << points.back().x;
    EXPECT_TRUE(std::isnan(points.back().r2effPerS));
    std::vector<std::string> fields;
    std::istringstream item(resultListItems(experiment.results()).back());
    for (std::string field; std::getline(item, field, '\t');)
        fields.push_back(field);
    ASSERT_EQ(fields.size(), 14u);
    EXPECT_EQ(fields[2] + " " + fields[10] + " " + fields[12], "lost lost lost") << "Rex, R2eff, R2eff_se";
    for (std::size_t k = 0; k + 1 < points.size(); ++k)
        EXPECT_FALSE(points[k].signalLost) << k;
    ASSERT_TRUE(points.front().kexCalPerS && points.front().kexCalErrorPerS);
    EXPECT_NEAR(*points.front().kexCalPerS, 1000, 3 * *points.front().kexCalErrorPerS);
}

// A hard 180 degree pulse on z magnetisation with T2 only: during the pulse the magnetisation passes
// through the transverse plane and decays there. The Bloch equations on resonance make Mz a damped
// oscillator, Mz'' + Mz' / T2 + w1^2 Mz = 0 with Mz(0) = 1 and Mz'(0) = 0.
TEST(DispersionExperiment, AHardPulseRelaxesWhileItTurnsTheMagnetisation)
{
    DispersionRequest request;
    request.t2Relaxation = true;
    auto& v = request.exchange.values;
    v = trainValues(TwoSites{0, 0.5, 0, 100}, 1, 1);  // on resonance, T2 = 10 ms
    v[ExchangeSettings::Tp] = 1000;
    v[ExchangeSettings::W1] = 500;  // 180 degrees in 1 ms
    request.exchange.startMagnetisation = "Iz";
    request.exchange.lastRunIndex = 0;
    util::RecordedMessages messages;
    const std::optional<PreparedDispersion> prepared = prepareDispersion(request, ".", messages);
    ASSERT_TRUE(prepared);
    const double t2 = 0.01, t = 1e-3, w1 = kTwoPi * 500;
    const double omega = std::sqrt(w1 * w1 - 1 / (4 * t2 * t2));
    const double mz =
        std::exp(-t / (2 * t2)) * (std::cos(omega * t) + std::sin(omega * t) / (2 * t2 * omega));
    ASSERT_LT(mz, -0.94);
    EXPECT_NEAR(prepared->trainFor(prepared->valuesAt(0)).withoutExchange(), mz, 1e-3);
}

// A pulse of equal elements takes the power of one element's map where no jump falls into it; the
// same elements taken one by one must give the same histories.
TEST(DispersionExperiment, APulseOfEqualElementsAsOneMapAgreesWithItsElementsOneByOne)
{
    Values v = trainValues(TwoSites{3000, 0.7, 300, 30}, 200, 6);
    v[ExchangeSettings::Tp] = 400;
    v[ExchangeSettings::W1] = 1100;
    v[ExchangeSettings::RfOffset] = 40;
    v[ExchangeSettings::T1SiteA] = 30;
    v[ExchangeSettings::T1SiteB] = 5;
    v[ExchangeSettings::T2SiteB] = 8;
    const std::vector<PulseElement> hard(kHardPulseElements, PulseElement{});
    const std::vector<int> phases{0, 1, 3};
    PulseProfile oneByOne = pulseProfileOf(hard);
    ASSERT_TRUE(oneByOne.equalElements);
    oneByOne.equalElements = false;
    for (const char* start : {"Ix", "Iy", "Iz"}) {
        const EchoTrain mapped(v, hard, phases, start, true, true);
        const EchoTrain stepped(v, hard, oneByOne, phases, start, true, true);
        EXPECT_NEAR(mapped.withoutExchange(), stepped.withoutExchange(), 1e-12) << start;
        util::UniformRandom a(3), b(3);
        for (int h = 0; h < 50; ++h)
            EXPECT_NEAR(mapped.history(a), stepped.history(b), 1e-9) << start << " history " << h;
    }
}

TEST(DispersionExperiment, WithoutExchangeTheRateIsOneOverT2OfSiteA)
{
    DispersionRequest request;
    request.t2Relaxation = true;
    request.exchange.values = trainValues(TwoSites{0}, 500, 20);
    request.exchange.values[ExchangeSettings::T2SiteA] = 40;
    request.exchange.values[ExchangeSettings::T2SiteB] = 10;
    request.exchange.lastRunIndex = 0;
    util::RecordedMessages messages;
    const std::optional<PreparedDispersion> prepared = prepareDispersion(request, ".", messages);
    ASSERT_TRUE(prepared);
    DispersionExperiment experiment(*prepared, 1);
    util::WorkPool pool(1);
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    ASSERT_TRUE(experiment.run(3, pool, control, {}, {}));
    const PointResult& p = experiment.results().points.at(0);
    EXPECT_NEAR(p.r2effPerS, 25, 25e-4);
    EXPECT_NEAR(p.rexPerS, 0, 1e-9);
    EXPECT_DOUBLE_EQ(p.x, p.x0);
    EXPECT_FALSE(p.kexCalPerS);
}

}  // namespace
}  // namespace velmora::exchange
