#include "app/cli_messages.h"

#include "app/cli_run.h"

#include <iostream>

namespace velmora::app {

void StderrMessages::show(std::string_view text, std::string_view title)
{
    if (beforeEachMessage_)
        beforeEachMessage_();
    std::string line = title.empty() ? std::string() : std::string(title) + ": ";
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')
            continue;
        line += text[k];
    }
    std::cerr << line << std::endl;
}

int usageError(const std::string& message)
{
    std::cerr << kProgram << ": " << message << "\n";
    return kExitUsage;
}

ArgumentParts splitArgument(std::string_view argument)
{
    const std::size_t equals = argument.find('=');
    if (!argument.starts_with("--") || equals == std::string_view::npos)
        return {argument, std::nullopt};
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

}  // namespace velmora::app
