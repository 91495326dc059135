// Result of an operation that may be refused: success, or the message that says why not.
#pragma once

#include <string>
#include <utility>

namespace velmora::util {

class [[nodiscard]] Outcome {
public:
    static Outcome success() { return Outcome(); }
    static Outcome failure(std::string message) { return Outcome(std::move(message)); }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return message_; }

private:
    Outcome() = default;
    explicit Outcome(std::string message) : failed_(true), message_(std::move(message)) {}

    bool failed_ = false;
    std::string message_;
};

}  // namespace velmora::util
