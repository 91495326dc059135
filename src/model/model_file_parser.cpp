#include "model/model_file_parser.h"

#include "model/molecule_file.h"
#include "util/numeric_text.h"
#include "util/rounding.h"
#include "util/text_file.h"

#include <cmath>

namespace velmora::model {

namespace {

// Keeps messages readable when a field holds binary garbage or a whole line without commas.
std::string shown(std::string_view field)
{
    constexpr std::size_t kLongest = 40;
    std::string text;
    for (char c : field.substr(0, kLongest))
        text += (static_cast<unsigned char>(c) < 32 || c == 127) ? '?' : c;
    if (field.size() > kLongest)
        text += "...";
    return "\"" + text + "\"";
}

}  // namespace

ModelFileParser::ModelFileParser(std::vector<std::string> lines) : lines_(std::move(lines))
{
    // An editor that saves "UTF-8 with signature" puts it before the first field of line 1.
    if (!lines_.empty())
        lines_.front() = std::string(util::withoutUtf8Signature(lines_.front()));
}

void ModelFileParser::fail(std::string problem)
{
    if (problem_.empty())
        problem_ = std::move(problem);
}

void ModelFileParser::failField(const std::string& problem)
{
    fail("line " + std::to_string(lineNumber_) + ", field " + std::to_string(fields_.taken()) + ": " +
         problem);
}

bool ModelFileParser::beginLine(int number, std::string_view what)
{
    if (failed())
        return false;
    if (!hasLine(number)) {
        fail("the file ends before line " + std::to_string(number) + " (" + std::string(what) + ")");
        return false;
    }
    lineNumber_ = number;
    lineWhat_ = what;
    fields_ = CommaFields(lines_[static_cast<std::size_t>(number - 1)]);
    return true;
}

std::optional<std::string_view> ModelFileParser::nextField(std::string_view what)
{
    if (failed())
        return std::nullopt;
    std::optional<std::string_view> field = fields_.next();
    if (!field)
        fail("line " + std::to_string(lineNumber_) + " (" + lineWhat_ + ") ends before field " +
             std::to_string(fields_.taken() + 1) + " (" + std::string(what) +
             "); every field ends with a comma");
    return field;
}

std::optional<std::string_view> ModelFileParser::text(std::string_view what)
{
    return nextField(what);
}

std::optional<double> ModelFileParser::number(std::string_view what)
{
    const std::optional<std::string_view> field = nextField(what);
    if (!field)
        return std::nullopt;
    const std::optional<double> value = util::parseNumber(*field);
    if (!value) {
        fail("line " + std::to_string(lineNumber_) + ", field " + std::to_string(fields_.taken()) + " (" +
             std::string(what) + "): " + shown(*field) + " is not a number");
        return std::nullopt;
    }
    return value;
}

std::optional<double> ModelFileParser::singleNumber(std::string_view what)
{
    const std::optional<double> value = number(what);
    if (!value)
        return std::nullopt;
    const double single = util::toSingle(*value);
    if (!std::isfinite(single)) {
        fail("line " + std::to_string(lineNumber_) + ", field " + std::to_string(fields_.taken()) + " (" +
             std::string(what) + "): " + std::string(kValueTooLarge));
        return std::nullopt;
    }
    return single;
}

std::optional<int> ModelFileParser::wholeNumber(std::string_view what)
{
    const std::optional<double> value = number(what);
    if (!value)
        return std::nullopt;
    const std::optional<std::int32_t> whole = util::toInt32(*value);
    if (!whole) {
        fail("line " + std::to_string(lineNumber_) + ", field " + std::to_string(fields_.taken()) + " (" +
             std::string(what) + "): the value is too large for a whole number");
        return std::nullopt;
    }
    return *whole;
}

}  // namespace velmora::model
