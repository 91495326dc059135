// The seedable uniform random generator behind the simulator's noise and random placements.
// The sequence depends only on the seed, identically on every platform and compiler.
#pragma once

#include <array>
#include <cstdint>

namespace velmora::util {

// xoshiro256** seeded through splitmix64. Different seeds, negative ones included, give
// different sequences.
class UniformRandom {
public:
    explicit UniformRandom(std::int64_t seed = 1);

    // Restarts the sequence that `seed` defines.
    void reseed(std::int64_t seed);

    // Next value, uniform in [0, 1) on a grid of 2^-53: 0 is possible, 1 is not.
    double next();

private:
    std::uint64_t nextBits();

    std::array<std::uint64_t, 4> state_{};
};

// The stream of one independent piece of work (a pixel, a grid point) of a seeded computation:
// it depends only on (seed, piece), so a piece draws the same numbers whichever worker runs it.
UniformRandom pieceStream(std::int64_t seed, std::uint64_t piece);

}  // namespace velmora::util
