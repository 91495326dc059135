#include "util/text_in_pieces.h"

#include "util/work_pool.h"

#include <algorithm>
#include <vector>

namespace velmora::util {

std::string buildLines(WorkPool& pool, std::string head, int lineCount, std::size_t bytesPerLine,
                       const std::function<void(int line, std::string& out)>& appendLine)
{
    // A few pieces per thread even out lines of unequal length.
    const int pieceCount = std::clamp(4 * pool.threads(), 1, std::max(lineCount, 1));
    if (pool.threads() == 1 || lineCount < 2 * pieceCount) {
        head.reserve(head.size() + static_cast<std::size_t>(std::max(lineCount, 0)) * bytesPerLine);
        for (int line = 0; line < lineCount; ++line)
            appendLine(line, head);
        return head;
    }
    const auto firstLine = [&](int piece) {
        return static_cast<int>(static_cast<long long>(lineCount) * piece / pieceCount);
    };
    std::vector<std::string> pieces(static_cast<std::size_t>(pieceCount));
    pool.run(pieceCount, [&](int piece, int /*worker*/) {
        std::string& text = pieces[static_cast<std::size_t>(piece)];
        const int end = firstLine(piece + 1);
        text.reserve(static_cast<std::size_t>(end - firstLine(piece)) * bytesPerLine);
        for (int line = firstLine(piece); line < end; ++line)
            appendLine(line, text);
    });
    std::size_t total = head.size();
    for (const std::string& text : pieces)
        total += text.size();
    head.reserve(total);
    for (const std::string& text : pieces)
        head += text;
    return head;
}

}  // namespace velmora::util
