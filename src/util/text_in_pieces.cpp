#include "util/text_in_pieces.h"

#include "util/work_pool.h"

#include <algorithm>
#include <vector>

namespace velmora::util {

std::vector<std::string> buildLines(WorkPool& pool, std::string head, int lineCount, std::size_t bytesPerLine,
                                    const std::function<void(int line, std::string& out)>& appendLine)
{
    // A few pieces per thread even out lines of unequal length.
    const int pieceCount = std::clamp(4 * pool.threads(), 1, std::max(lineCount, 1));
    if (pool.threads() == 1 || lineCount < 2 * pieceCount) {
        head.reserve(head.size() + static_cast<std::size_t>(std::max(lineCount, 0)) * bytesPerLine);
        for (int line = 0; line < lineCount; ++line)
            appendLine(line, head);
        std::vector<std::string> whole;
        whole.push_back(std::move(head));
        return whole;
    }
    const auto firstLine = [&](int piece) {
        return static_cast<int>(static_cast<long long>(lineCount) * piece / pieceCount);
    };
    // Piece 0 is the head; the lines' pieces follow it.
    std::vector<std::string> pieces(static_cast<std::size_t>(pieceCount) + 1);
    pieces.front() = std::move(head);
    pool.run(pieceCount, [&](int piece, int /*worker*/) {
        std::string& text = pieces[static_cast<std::size_t>(piece) + 1];
        const int end = firstLine(piece + 1);
        text.reserve(static_cast<std::size_t>(end - firstLine(piece)) * bytesPerLine);
        for (int line = firstLine(piece); line < end; ++line)
            appendLine(line, text);
    });
    return pieces;
}

}  // namespace velmora::util
