// How velmora-cli's subcommands speak to the user: the model's messages go to stderr, one line
// each, with the title in front; usage errors are named after the program.
#pragma once

#include "util/messages.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::app {

inline constexpr const char* kProgram = "velmora-cli";

class StderrMessages final : public util::Messages {
public:
    // "Title: text" on one line of stderr; the CR LF line ends of the model's message texts become
    // plain new lines.
    void show(std::string_view text, std::string_view title = {}) override;

    // Called before every message, so that a progress line in place can end first (empty: none).
    void setBeforeEachMessage(std::function<void()> hook) { beforeEachMessage_ = std::move(hook); }

private:
    std::function<void()> beforeEachMessage_;
};

// "velmora-cli: message" on stderr; returns kExitUsage for the caller to end with.
int usageError(const std::string& message);

// Splits "--name=value" into its name and value; other arguments come back whole with no value.
struct ArgumentParts {
    std::string_view name;
    std::optional<std::string_view> inlineValue;
};
ArgumentParts splitArgument(std::string_view argument);

}  // namespace velmora::app
