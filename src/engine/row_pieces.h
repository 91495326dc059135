// A pass over a large state row cut into pieces that the threads of a work pool share. Each piece
// covers whole runs of coefficients, and every coefficient sees the same operations in the same
// order whichever thread does its piece, so the result does not depend on the thread count.
#pragma once

#include "util/work_pool.h"

#include <cstdint>

namespace velmora::engine {

// Rows of at least this many spins (4^8 coefficients, 512 KiB) are lent the pool when a run
// advances them one at a time on the caller.
inline constexpr int kSharedRowFromSpins = 8;
// Passes over rows of at least this many spins are shared: waking the other threads takes some
// 40 to 80 us per pass on the project machine, as long as the pulse elements take at eight spins
// (about 120 us on one thread).
inline constexpr int kSharedPassFromSpins = 9;
// Pieces a shared pass is cut into: enough for the threads to even out, few enough that each
// piece is long.
inline constexpr int kRowPieces = 16;

// Calls piece(p) for p = 0..count-1: on the pool's threads when one is given, it has more than one
// thread and the row has kSharedPassFromSpins spins or more; otherwise in order on the caller. The
// pool's one callback holds a single pointer, so handing out the pieces does not allocate.
template <class Piece> void forEachRowPiece(util::WorkPool* pool, int nSpins, int count, const Piece& piece)
{
    if (pool == nullptr || pool->threads() < 2 || nSpins < kSharedPassFromSpins) {
        for (int p = 0; p < count; ++p)
            piece(p);
        return;
    }
    const Piece* const work = &piece;
    pool->run(count, [work](int p, int /*worker*/) { (*work)(p); });
}

// The coefficients [begin, end) of piece p of a row of `count` coefficients cut into kRowPieces
// pieces of whole multiples of `grain` (count and grain powers of four, grain <= count).
struct RowPiece {
    std::int32_t begin = 0;
    std::int32_t end = 0;
};
inline RowPiece rowPiece(std::int32_t count, std::int32_t grain, int p, int pieces = kRowPieces)
{
    const std::int32_t grains = count / grain;
    const auto cut = [&](int q) {
        return static_cast<std::int32_t>(static_cast<std::int64_t>(grains) * q / pieces) * grain;
    };
    return {cut(p), cut(p + 1)};
}

}  // namespace velmora::engine
