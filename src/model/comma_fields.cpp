#include "model/comma_fields.h"

namespace velmora::model {

std::optional<std::string_view> CommaFields::next()
{
    const std::size_t comma = rest_.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    const std::string_view field = rest_.substr(0, comma);
    rest_.remove_prefix(comma + 1);
    ++taken_;
    return field;
}

std::string joinFields(const std::vector<std::string>& fields)
{
    std::string line;
    for (const std::string& f : fields) {
        line += f;
        line += ',';
    }
    return line;
}

}  // namespace velmora::model
