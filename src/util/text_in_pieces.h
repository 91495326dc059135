// Large tables built side by side: consecutive lines are formatted in pieces on the threads of a
// work pool and the pieces joined in order, so the text is the same on any number of threads.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace velmora::util {

class WorkPool;

// The text of lines 0..lineCount-1, line i being what appendLine(i, out) appends (its line end
// included), after `head`, as pieces to be written one after the other (not joined: a large
// table is held once). bytesPerLine is a guess that sizes each piece's buffer.
std::vector<std::string> buildLines(WorkPool& pool, std::string head, int lineCount, std::size_t bytesPerLine,
                                    const std::function<void(int line, std::string& out)>& appendLine);

}  // namespace velmora::util
