// Reads the comma-terminated fields of the model files (molecules, sequences) line by line and
// keeps the first problem as a message that names the line, the field and what was expected.
// After the first problem every further request fails too, so readers can check once per section.
#pragma once

#include "model/comma_fields.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::model {

class ModelFileParser {
public:
    explicit ModelFileParser(std::vector<std::string> lines);

    // Starts on line `number` (1-based); `what` says what the line holds, for messages.
    bool beginLine(int number, std::string_view what);
    bool hasLine(int number) const { return number >= 1 && number <= static_cast<int>(lines_.size()); }

    // The next field of the current line; `what` names it for messages.
    std::optional<std::string_view> text(std::string_view what);
    std::optional<double> number(std::string_view what);        // double precision
    std::optional<double> singleNumber(std::string_view what);  // single precision, stored as double
    std::optional<int> wholeNumber(std::string_view what);      // rounded, ties to even

    bool failed() const { return !problem_.empty(); }
    const std::string& problem() const { return problem_; }
    void fail(std::string problem);
    // Fails with "line L, field F: " + problem for the field read last.
    void failField(const std::string& problem);

private:
    std::optional<std::string_view> nextField(std::string_view what);

    std::vector<std::string> lines_;
    int lineNumber_ = 0;
    std::string lineWhat_;
    CommaFields fields_{std::string_view{}};
    std::string problem_;
};

}  // namespace velmora::model
