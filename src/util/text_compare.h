// Case-insensitive comparisons of names, keywords and options. Only the ASCII letters A-Z and
// a-z fold; every other byte compares as it is.
#pragma once

#include <string>
#include <string_view>

namespace velmora::util {

bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool startsWithIgnoreCase(std::string_view text, std::string_view prefix);
bool endsWithIgnoreCase(std::string_view text, std::string_view suffix);

// The text with A-Z turned into a-z.
std::string toLowerAscii(std::string_view text);

}  // namespace velmora::util
