// The simulated CPMG dispersion against an independent two-site Bloch-McConnell solution: the
// transverse magnetisation of both sites propagated with matrix exponentials through the same
// echo train (delay tcp, ideal pulse, delay tcp), and against the Carver-Richards expression.
#include "exchange/carver_richards.h"
#include "exchange/dispersion_experiment.h"
#include "exchange/echo_train.h"
#include "util/run_control.h"
#include "util/uniform_random.h"
#include "util/work_pool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
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
