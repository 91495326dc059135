// Modal messages to the user: the one way the core reports errors and warnings.
// The window shows a message box, the command line writes to stderr, tests record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora::util {

class Messages {
public:
    virtual ~Messages() = default;
    // Shows `text` with an OK button; `title` may be empty (a box without a title).
    virtual void show(std::string_view text, std::string_view title = {}) = 0;
};

// Keeps every message shown, in order. Used by tests and by batch runs that collect them.
class RecordedMessages final : public Messages {
public:
    struct Entry {
        std::string text;
        std::string title;
    };

    void show(std::string_view text, std::string_view title = {}) override
    {
        entries.push_back({std::string(text), std::string(title)});
    }

    std::vector<Entry> entries;
};

}  // namespace velmora::util
