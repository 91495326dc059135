// xoshiro256** (Blackman and Vigna), its state filled by splitmix64 from the 64-bit seed, which
// never leaves the state all zero. Only unsigned 64-bit arithmetic, so results are portable.
#include "util/uniform_random.h"

namespace velmora::util {

namespace {

std::uint64_t splitMix64(std::uint64_t& x)
{
    x += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t rotateLeft(std::uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

}  // namespace

UniformRandom::UniformRandom(std::int64_t seed)
{
    reseed(seed);
}

void UniformRandom::reseed(std::int64_t seed)
{
    auto x = static_cast<std::uint64_t>(seed);
    for (std::uint64_t& word : state_)
        word = splitMix64(x);
}

std::uint64_t UniformRandom::nextBits()
{
    const std::uint64_t result = rotateLeft(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotateLeft(state_[3], 45);
    return result;
}

double UniformRandom::next()
{
    // The top 53 bits, scaled by 2^-53: exactly representable, at most 1 - 2^-53.
    return static_cast<double>(nextBits() >> 11) * 0x1.0p-53;
}

UniformRandom derivedStream(std::int64_t seed, std::uint64_t first, std::uint64_t second)
{
    // Each index goes through a splitmix64 step of its own before it is mixed in, so that
    // neighbouring pieces (seed, 0, 1) and (seed, 1, 0) start far apart.
    auto x = static_cast<std::uint64_t>(seed);
    std::uint64_t mixed = splitMix64(x);
    std::uint64_t a = first ^ mixed;
    mixed ^= splitMix64(a);
    std::uint64_t b = second ^ mixed;
    mixed ^= splitMix64(b);
    return UniformRandom(static_cast<std::int64_t>(mixed));
}

UniformRandom pieceStream(std::int64_t seed, std::uint64_t piece)
{
    return derivedStream(seed, piece, 0);
}

}  // namespace velmora::util
