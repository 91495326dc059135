// The command line of velmora-cli, parsed into what the program does:
//   velmora-cli run [--workdir DIR] [--mol NAME.mol] [--psq NAME.psq] [--2d]
//                   [--set 'CONTROL(INDEX)=TEXT']... [--element NAME=VALUE]... [--autophase] [--png] [--jcamp]
//                   [--quiet] [--threads N] [--outputs LIST]
//   velmora-cli make-pulse [--workdir DIR] [--set 'CONTROL(INDEX)=TEXT']... [--name NAME] [--png]
//   velmora-cli controls [--workdir DIR] | velmora-cli elements [--workdir DIR]
//   velmora-cli --help | --version
// Options take their value as the next argument or after "=" ("--workdir=DIR"). The assignments are
// only split here; whether a control or an element exists is for the workbench to say.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::app {

struct Override {
    enum class Target { Control, Element };
    Target target = Target::Control;
    std::string assignment;  // "Text14(3)=400" or "d1=2.5"

    bool operator==(const Override&) const = default;
};

struct CliOptions {
    enum class Action { Run, Help, Version };
    enum class Command { Run, MakePulse, Controls, Elements };
    Action action = Action::Run;
    Command command = Command::Run;  // with Action::Help: whose usage to print
    std::string pulseName;           // make-pulse --name: the generator's "Name" box (empty: keep it)
    std::optional<std::filesystem::path> workingDirectory;  // none: the one the settings file names
    std::string moleculeFile;                               // empty: nothing beyond start-up
    std::string sequenceFile;
    bool twoD = false;
    bool png = false;       // write the plots as PNG files after a completed run
    double pngScale = 2.5;  // --png-scale: the pictures' size over the window's box sizes
    bool jcamp = false;  // write the spectra or the 2D map as JCAMP-DX files after a completed run
    bool quiet = false;
    int threads = 0;                  // threads for the runs and slice rows; 0: every core of the machine
    bool autophase = false;           // phase the spectra automatically before they are written
    std::vector<Override> overrides;  // in command-line order
    // --outputs: the result files to write ("spectra,map,operators,records"); none: all of them.
    std::optional<std::string> outputs;
    std::string commandLine;  // the arguments as given, for the run's manifest
};

struct ParsedCommandLine {
    std::optional<CliOptions> options;
    std::string error;  // why the command line was not understood (options empty)
};

// `argument` as a POSIX shell reads it back: as it is when it holds only letters, digits and
// "_@%+=:,./-", else in single quotes (a quote inside as '\''); "" is ''.
std::string shellQuoted(std::string_view argument);

// `arguments` without the program name.
ParsedCommandLine parseCommandLine(std::span<const std::string_view> arguments);

// The usage text --help prints.
std::string usageText();
// The usage text "make-pulse --help" prints: options, shapes and methods.
std::string makePulseUsageText();

}  // namespace velmora::app
