// velmora-cli: the headless front end. Parses the command line and runs the workbench once.
#include "app/cli_listings.h"
#include "app/cli_make_pulse.h"
#include "app/cli_exchange.h"
#include "app/cli_fit_images.h"
#include "app/cli_options.h"
#include "app/cli_run.h"
#include "app/cli_sweep.h"

#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv)
{
    using velmora::app::CliOptions;
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (!arguments.empty() && arguments.front() == "exchange")
        return velmora::app::exchangeCommand(std::span(arguments).subspan(1));
    if (!arguments.empty() && arguments.front() == "sweep")
        return velmora::app::sweepCommand(std::span(arguments).subspan(1));
    if (!arguments.empty() && arguments.front() == "merge")
        return velmora::app::mergeCommand(std::span(arguments).subspan(1));
    if (!arguments.empty() && arguments.front() == "fit-images") {
        const velmora::app::ParsedFitImages fit =
            velmora::app::parseFitImages(std::span(arguments).subspan(1));
        if (!fit.options) {
            std::cerr << "velmora-cli: " << fit.error << "\n"
                      << "Try \"velmora-cli fit-images --help\".\n";
            return velmora::app::kExitUsage;
        }
        return velmora::app::runFitImages(*fit.options);
    }
    const velmora::app::ParsedCommandLine parsed = velmora::app::parseCommandLine(arguments);
    if (!parsed.options) {
        std::cerr << "velmora-cli: " << parsed.error << "\n"
                  << "Try \"velmora-cli --help\".\n";
        return velmora::app::kExitUsage;
    }
    switch (parsed.options->action) {
    case CliOptions::Action::Help:
        std::cout << (parsed.options->command == CliOptions::Command::MakePulse ? velmora::app::makePulseUsageText()
                                                                                : velmora::app::usageText());
        return velmora::app::kExitSuccess;
    case CliOptions::Action::Version:
        std::cout << "velmora-cli " << VELMORA_VERSION << "\n";
        return velmora::app::kExitSuccess;
    case CliOptions::Action::Run:
        break;
    }
    if (parsed.options->command == CliOptions::Command::MakePulse)
        return velmora::app::makePulseCommand(*parsed.options);
    if (parsed.options->command == CliOptions::Command::Controls ||
        parsed.options->command == CliOptions::Command::Elements)
        return velmora::app::listingCommand(*parsed.options);
    return velmora::app::runCommand(*parsed.options);
}
