// Large tables written side by side: consecutive lines are formatted in pieces on the threads of a
// work pool, each into its thread's buffer, and the pieces are written in order as they are done,
// so the text is the same on any number of threads and is never held whole.
#pragma once

#include "util/outcome.h"
#include "util/text_buffer.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>

namespace velmora::util {

class WorkPool;

// Writes `head`, then lines 0..lineCount-1 to `path`, whole or not at all (as writeWholeText).
// appendLines(first, end, out) appends lines first..end-1 (their line ends included), a piece of
// consecutive lines at a time. bytesPerLine is a guess that sizes the pieces (about 256 KiB each).
Outcome writeLines(WorkPool& pool, const std::filesystem::path& path, std::string_view head, int lineCount,
                   std::size_t bytesPerLine,
                   const std::function<void(int first, int end, TextBuffer& out)>& appendLines);

}  // namespace velmora::util
