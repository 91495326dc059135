// The field rule of the model files: every field is followed by a comma, the last one on a line
// included. A field is the text before the next comma; text after the last comma is not a field.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::model {

class CommaFields {
public:
    explicit CommaFields(std::string_view line) : rest_(line) {}

    // The next field, or none when no comma remains.
    std::optional<std::string_view> next();
    int taken() const { return taken_; }

private:
    std::string_view rest_;
    int taken_ = 0;
};

// Joins the fields of one line, each followed by a comma.
std::string joinFields(const std::vector<std::string>& fields);

}  // namespace velmora::model
