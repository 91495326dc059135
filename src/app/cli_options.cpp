#include "app/cli_options.h"

#include <charconv>

namespace velmora::app {

namespace {

// An option and, when it was written "--name=value", its value.
struct Spelled {
    std::string_view name;
    std::optional<std::string_view> inlineValue;
};

Spelled spell(std::string_view argument)
{
    if (argument.starts_with("--")) {
        if (const std::size_t equals = argument.find('='); equals != std::string_view::npos)
            return {argument.substr(0, equals), argument.substr(equals + 1)};
    }
    return {argument, std::nullopt};
}

bool takesValue(std::string_view option)
{
    return option == "--workdir" || option == "--mol" || option == "--psq" || option == "--set" ||
           option == "--element" || option == "--threads";
}

ParsedCommandLine refused(std::string error)
{
    return {std::nullopt, std::move(error)};
}

// A file of the working directory: a bare name, no directory part.
bool isBareFileName(std::string_view value)
{
    return !value.empty() && value.find('/') == std::string_view::npos;
}

}  // namespace

ParsedCommandLine parseCommandLine(std::span<const std::string_view> arguments)
{
    CliOptions options;
    if (arguments.empty())
        return refused("no command given");
    const std::string_view command = arguments.front();
    if (command == "--help" || command == "-h") {
        options.action = CliOptions::Action::Help;
        return {options, {}};
    }
    if (command == "--version") {
        options.action = CliOptions::Action::Version;
        return {options, {}};
    }
    if (command != "run")
        return refused(command.starts_with("-") ? "unknown option \"" + std::string(command) + "\""
                                                : "unknown command \"" + std::string(command) + "\"");

    for (std::size_t k = 1; k < arguments.size(); ++k) {
        const Spelled option = spell(arguments[k]);
        if (option.name == "--help" || option.name == "-h") {
            options.action = CliOptions::Action::Help;
            return {options, {}};
        }
        if (option.name == "--version") {
            options.action = CliOptions::Action::Version;
            return {options, {}};
        }
        if (!takesValue(option.name)) {
            if (option.inlineValue)
                return refused(std::string(option.name) + " takes no value");
            if (option.name == "--2d")
                options.twoD = true;
            else if (option.name == "--png")
                options.png = true;
            else if (option.name == "--quiet")
                options.quiet = true;
            else if (option.name.starts_with("-"))
                return refused("unknown option \"" + std::string(option.name) + "\"");
            else
                return refused("unexpected argument \"" + std::string(option.name) + "\"");
            continue;
        }

        std::string_view value;
        if (option.inlineValue) {
            value = *option.inlineValue;
        } else {
            if (k + 1 >= arguments.size())
                return refused(std::string(option.name) + " needs a value");
            value = arguments[++k];
        }

        if (option.name == "--threads") {
            // A whole number of threads from 1 up; more than the machine has only share the cores.
            int threads = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), threads);
            if (error != std::errc() || end != value.data() + value.size() || threads < 1 || threads > 256)
                return refused("--threads takes a whole number from 1 to 256, not \"" + std::string(value) +
                               "\"");
            options.threads = threads;
        } else if (option.name == "--workdir") {
            if (value.empty())
                return refused("--workdir needs a directory");
            options.workingDirectory = std::filesystem::path(value);
        } else if (option.name == "--mol" || option.name == "--psq") {
            if (!isBareFileName(value))
                return refused(std::string(option.name) +
                               " takes the name of a file in the working directory, not \"" +
                               std::string(value) + "\"");
            (option.name == "--mol" ? options.moleculeFile : options.sequenceFile) = std::string(value);
        } else {
            const std::size_t equals = value.find('=');
            if (equals == std::string_view::npos || equals == 0)
                return refused(std::string(option.name) + " takes an assignment NAME=VALUE, not \"" +
                               std::string(value) + "\"");
            options.overrides.push_back(
                {option.name == "--set" ? Override::Target::Control : Override::Target::Element,
                 std::string(value)});
        }
    }
    return {options, {}};
}

std::string usageText()
{
    return "Usage: velmora-cli run [options]\n"
           "       velmora-cli --help | --version\n"
           "\n"
           "Runs the spin system through the pulse sequence the way the window's Start does, and writes\n"
           "the result files into the working directory.\n"
           "\n"
           "Options of run:\n"
           "  --workdir DIR         work in DIR (it must exist) instead of the directory the settings\n"
           "                        file names; the settings file is not changed\n"
           "  --mol NAME.mol        read the molecule file NAME.mol of the working directory\n"
           "  --psq NAME.psq        read the sequence file NAME.psq of the working directory\n"
           "  --2d                  run as Start_2D (two runs per increment)\n"
           "  --set 'CONTROL(INDEX)=TEXT', --set 'CONTROL=TEXT'\n"
           "                        set a control before the run, through its own handler: text and\n"
           "                        combo boxes take the text, check boxes 1, 0, true or false,\n"
           "                        labels and buttons the caption, List5 its rows separated by commas\n"
           "  --element NAME=VALUE  set an element of the sequence (p2=5 in us, d1=2.5 in ms, ...)\n"
           "  --png                 after the run, write the plots as plot1d.png (the 1D plot),\n"
           "                        plot2d.png (the 2D map, after --2d), plotOper.png (the operator\n"
           "                        traces) and plotSec.png (the sequence panel) into the working\n"
           "                        directory\n"
           "  --quiet               print nothing but errors\n"
           "  --threads N           run on N threads (1 to 256; default: every core)\n"
           "\n"
           "Exit status: 0 the run completed; 1 the run was refused, stopped or failed, a named file is\n"
           "missing or could not be read, or the plots could not be written; 2 the command line was not\n"
           "understood.\n";
}

}  // namespace velmora::app
