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

// A generator of its own for one piece of a parallel computation: its sequence depends only on
// the seed and the two indices of the piece (a grid and a point of it, say), never on the worker
// that runs it. Different indices give unrelated sequences.
UniformRandom derivedStream(std::int64_t seed, std::uint64_t first, std::uint64_t second);

// The stream of a piece known by one index (a pixel): derivedStream(seed, piece, 0).
UniformRandom pieceStream(std::int64_t seed, std::uint64_t piece);

}  // namespace velmora::util
