#include "util/text_in_pieces.h"

#include "util/text_file.h"
#include "util/work_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace velmora::util {

namespace {

// Pieces small enough to stay in a core's cache between formatting and writing.
constexpr std::size_t kPieceBytes = 256 * 1024;

// Hands the pieces to the sink in their order. The pool hands out pieces in order and a thread
// takes its next piece only after writing its last, so the piece whose turn it is is always being
// formatted or waiting: nobody waits for ever.
class PieceTurns {
public:
    explicit PieceTurns(const TextSink& sink) : sink_(sink) {}

    // Waits for the piece's turn, writes its text (none after a failure) and passes the turn on.
    void write(int piece, const TextBuffer* text)
    {
        std::unique_lock lock(mutex_);
        turn_.wait(lock, [&] { return next_ == piece; });
        written_.store(written_.load() && text != nullptr && sink_(text->view()));
        ++next_;
        lock.unlock();
        turn_.notify_all();
    }
    bool written() const { return written_.load(); }

private:
    const TextSink& sink_;
    std::mutex mutex_;
    std::condition_variable turn_;
    int next_ = 0;
    // Read without the lock by threads that would format a piece no longer wanted.
    std::atomic<bool> written_{true};
};

}  // namespace

Outcome writeLines(WorkPool& pool, const std::filesystem::path& path, std::string_view head, int lineCount,
                   std::size_t bytesPerLine,
                   const std::function<void(int first, int end, TextBuffer& out)>& appendLines)
{
    const int lines = std::max(lineCount, 0);
    const auto linesPerPiece =
        static_cast<int>(std::max<std::size_t>(1, kPieceBytes / std::max<std::size_t>(bytesPerLine, 1)));
    // At least a few pieces per thread, to even out lines of unequal length.
    const int pieceCount =
        std::min(lines, std::max(4 * pool.threads(), (lines + linesPerPiece - 1) / linesPerPiece));
    const auto firstLine = [&](int piece) {
        return static_cast<int>(static_cast<long long>(lines) * piece / pieceCount);
    };
    return writeTextInPieces(path, [&](const TextSink& sink) {
        if (!sink(head))
            return false;
        std::vector<TextBuffer> buffers(static_cast<std::size_t>(pool.threads()));
        PieceTurns turns(sink);
        pool.run(pieceCount, [&](int piece, int worker) {
            // Once a piece was refused (a full disk, a Stop) the file is lost: format nothing more.
            if (!turns.written()) {
                turns.write(piece, nullptr);
                return;
            }
            TextBuffer& text = buffers[static_cast<std::size_t>(worker)];
            text.clear();
            try {
                appendLines(firstLine(piece), firstLine(piece + 1), text);
            } catch (...) {
                turns.write(piece, nullptr);  // the later pieces must not wait for this one
                throw;
            }
            turns.write(piece, &text);
        });
        return turns.written();
    });
}

}  // namespace velmora::util
