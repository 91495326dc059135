// The seedable uniform generator: reproducible streams, distinct streams for distinct seeds,
// the half-open range and the first two moments of the distribution.
#include "util/uniform_random.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace velmora::util {
namespace {

std::vector<double> draw(UniformRandom& random, int count)
{
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        values.push_back(random.next());
    return values;
}

TEST(UniformRandom, SameSeedGivesTheSameSequence)
{
    UniformRandom first(42);
    UniformRandom second(42);
    EXPECT_EQ(draw(first, 1000), draw(second, 1000));
}

TEST(UniformRandom, ReseedRestartsTheSequence)
{
    UniformRandom random(7);
    const std::vector<double> start = draw(random, 100);
    draw(random, 500);

    random.reseed(7);
    EXPECT_EQ(draw(random, 100), start);

    random.reseed(-3);
    const std::vector<double> other = draw(random, 100);
    random.reseed(-3);
    EXPECT_EQ(draw(random, 100), other);
}

TEST(UniformRandom, DefaultSeedIsOne)
{
    UniformRandom byDefault;
    UniformRandom seededOne(1);
    EXPECT_EQ(draw(byDefault, 100), draw(seededOne, 100));
}

TEST(UniformRandom, DifferentSeedsGiveDifferentSequences)
{
    const std::vector<std::int64_t> seeds = {0,
                                             1,
                                             2,
                                             -1,
                                             -2,
                                             1000,
                                             std::numeric_limits<std::int64_t>::min(),
                                             std::numeric_limits<std::int64_t>::max()};
    std::vector<std::vector<double>> sequences;
    for (const std::int64_t seed : seeds) {
        UniformRandom random(seed);
        sequences.push_back(draw(random, 8));
    }
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        for (std::size_t j = i + 1; j < seeds.size(); ++j)
            EXPECT_NE(sequences[i], sequences[j]) << "seeds " << seeds[i] << " and " << seeds[j];
    }
}

TEST(UniformRandom, StreamOfSeedOneIsPinned)
{
    // Seeded noise in stored results depends on this stream; a change of the generator must be deliberate.
    UniformRandom random(1);
    const std::vector<double> values = draw(random, 3);
    const std::vector<double> expected = {0x1.67e55eda1f8e2p-1, 0x1.0a76ab2c8e6c9p-1, 0x1.25f12eac10548p-1};
    EXPECT_EQ(values, expected);
}

TEST(UniformRandom, ValuesStayInTheHalfOpenUnitInterval)
{
    for (const std::int64_t seed : {1, -1, 12345}) {
        UniformRandom random(seed);
        for (int i = 0; i < 200000; ++i) {
            const double x = random.next();
            ASSERT_GE(x, 0.0) << "seed " << seed << ", draw " << i;
            ASSERT_LT(x, 1.0) << "seed " << seed << ", draw " << i;
        }
    }
}

TEST(UniformRandom, MeanAndVarianceMatchTheUniformDistribution)
{
    // For 100000 draws the standard error of the mean is about 0.0009 and that of the variance
    // about 0.0002; the bounds below are more than ten of them wide.
    constexpr int kDraws = 100000;
    for (const std::int64_t seed : {1, 2, -5, 987654321}) {
        UniformRandom random(seed);
        double sum = 0.0;
        double sumSquares = 0.0;
        double below = 0.0;
        for (int i = 0; i < kDraws; ++i) {
            const double x = random.next();
            sum += x;
            sumSquares += x * x;
            if (x < 0.25)
                below += 1.0;
        }
        const double mean = sum / kDraws;
        const double variance = sumSquares / kDraws - mean * mean;
        EXPECT_NEAR(mean, 0.5, 0.01) << "seed " << seed;
        EXPECT_NEAR(variance, 1.0 / 12.0, 0.003) << "seed " << seed;
        EXPECT_NEAR(below / kDraws, 0.25, 0.01) << "seed " << seed;
    }
}

TEST(UniformRandom, PieceStreamsDependOnSeedAndPieceOnly)
{
    UniformRandom first = pieceStream(9, 1234);
    UniformRandom again = pieceStream(9, 1234);
    const std::vector<double> reference = draw(first, 50);
    EXPECT_EQ(draw(again, 50), reference);
    UniformRandom neighbour = pieceStream(9, 1235);
    UniformRandom otherSeed = pieceStream(10, 1234);
    UniformRandom plain(9);
    EXPECT_NE(draw(neighbour, 50), reference);
    EXPECT_NE(draw(otherSeed, 50), reference);
    EXPECT_NE(draw(plain, 50), reference);
}

}  // namespace
}  // namespace velmora::util
