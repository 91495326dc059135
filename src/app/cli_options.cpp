#include "app/cli_options.h"

#include <charconv>
#include "util/numeric_text.h"

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
           option == "--element" || option == "--name" || option == "--threads" || option == "--png-scale" ||
           option == "--outputs";
}

// The options each command takes (--help and --version are taken by every command).
bool belongsTo(CliOptions::Command command, std::string_view option)
{
    if (option == "--outputs")
        return command == CliOptions::Command::Run;
    if (command == CliOptions::Command::MakePulse)
        return option == "--workdir" || option == "--set" || option == "--name" || option == "--png";
    if (command == CliOptions::Command::Controls || command == CliOptions::Command::Elements)
        return option == "--workdir";
    return option != "--name";
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

std::string shellQuoted(std::string_view argument)
{
    constexpr std::string_view kPlain =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-";
    if (!argument.empty() && argument.find_first_not_of(kPlain) == std::string_view::npos)
        return std::string(argument);
    // Inside single quotes a POSIX shell takes every character as it is but the quote itself,
    // which ends the quoting, is escaped and reopens it.
    std::string quoted = "'";
    for (const char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ParsedCommandLine parseCommandLine(std::span<const std::string_view> arguments)
{
    CliOptions options;
    if (arguments.empty())
        return refused("no command given");
    options.commandLine = "velmora-cli";
    for (const std::string_view argument : arguments)
        options.commandLine += " " + shellQuoted(argument);
    const std::string_view command = arguments.front();
    if (command == "--help" || command == "-h") {
        options.action = CliOptions::Action::Help;
        return {options, {}};
    }
    if (command == "--version") {
        options.action = CliOptions::Action::Version;
        return {options, {}};
    }
    if (command == "make-pulse")
        options.command = CliOptions::Command::MakePulse;
    else if (command == "controls")
        options.command = CliOptions::Command::Controls;
    else if (command == "elements")
        options.command = CliOptions::Command::Elements;
    else if (command != "run")
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
        if (option.name.starts_with("--") &&
            (takesValue(option.name) || option.name == "--2d" || option.name == "--png" || option.name == "--jcamp" ||
             option.name == "--quiet" || option.name == "--autophase") &&
            !belongsTo(options.command, option.name))
            return refused(std::string(command) + " takes no option " + std::string(option.name));
        if (!takesValue(option.name)) {
            if (option.inlineValue)
                return refused(std::string(option.name) + " takes no value");
            if (option.name == "--2d")
                options.twoD = true;
            else if (option.name == "--png")
                options.png = true;
            else if (option.name == "--jcamp")
                options.jcamp = true;
            else if (option.name == "--quiet")
                options.quiet = true;
            else if (option.name == "--autophase")
                options.autophase = true;
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
        } else if (option.name == "--png-scale") {
            const std::optional<double> scale = util::parseNumber(value);
            if (!scale || !(*scale >= 0.5 && *scale <= 10.0))
                return refused("--png-scale takes a number from 0.5 to 10, not \"" + std::string(value) + "\"");
            options.pngScale = *scale;
        } else if (option.name == "--outputs") {
            options.outputs = std::string(value);
        } else if (option.name == "--name") {
            if (value.empty())
                return refused("--name needs a name");
            options.pulseName = std::string(value);
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
           "       velmora-cli make-pulse [options]   (see velmora-cli make-pulse --help)\n"
           "       velmora-cli exchange [options]   (see velmora-cli exchange --help)\n"
           "       velmora-cli controls [--workdir DIR]   the boxes: names, caption, unit, text, values\n"
           "       velmora-cli elements [--workdir DIR]   the elements with their values and units\n"
           "       velmora-cli --help | --version\n"
           "       velmora-cli fit-images --series PATH [options]   (velmora-cli fit-images --help)\n"
           "       velmora-cli sweep --grid GRID.tsv --workdir DIR [--shard K/N] [options of run]\n"
           "       velmora-cli merge SWEEP_DIR   (velmora-cli sweep --help)\n"
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
           "  --set 'NAME=TEXT', --set 'CONTROL(INDEX)=TEXT'\n"
           "                        set a box by its readable name (np=1024, sw=2000, ni=15, ...: see\n"
           "                        velmora-cli controls) or by control name, through its own handler: text and\n"
           "                        combo boxes take the text, check boxes 1, 0, true or false,\n"
           "                        labels and buttons the caption, List5 its rows separated by commas\n"
           "  --element NAME=VALUE  set an element of the sequence (p2=5 in us, d1=2.5 in ms, ...)\n"
           "  --png                 after the run, write the plots as plot1d.png (the 1D plot),\n"
           "                        plot2d.png (the 2D map, after --2d), plotOper.png (the operator\n"
           "                        traces) and plotSec.png (the sequence panel) into the working\n"
           "                        directory; the 1D plot shows the spectra unless --set chooses\n"
           "                        the FID view ('Command9(0)=fid')\n"
           "  --png-scale F         the pictures F times the window's sizes (0.5 to 10; default 2.5,\n"
           "                        which makes the spectrum 1300 pixels wide)\n"
           "  --autophase           phase the spectra automatically (zero and first order) before\n"
           "                        they are written and drawn, as the window's autophase button does\n"
           "  --jcamp               after the run, write the spectra and FIDs (spectrum_run<r>.jdx,\n"
           "                        fid_run<r>.jdx, spectrum_sum.jdx, fid_sum.jdx) or the 2D map\n"
           "                        (map2d.jdx) as JCAMP-DX files into the working directory\n"
           "  --outputs LIST        write only these result files (comma separated): spectra\n"
           "                        (spectra.tsv), map (map2d.tsv), operators (prodop.dat), records\n"
           "                        (a_*.dat, aFT_*.dat and the other tables of the run); --png and\n"
           "                        --jcamp add theirs. Default: all of them. rem.mol, rem.psq and\n"
           "                        run-manifest.txt are always written\n"
           "  --quiet               print nothing but errors\n"
           "  --threads N           run on N threads (1 to 256; default: every core)\n"
           "\n"
           "Exit status: 0 the run completed; 1 the run was refused, stopped or failed, a named file is\n"
           "missing or could not be read, or the plots could not be written; 2 the command line was not\n"
           "understood.\n";
}

std::string makePulseUsageText()
{
    std::string text =
        "Usage: velmora-cli make-pulse [--workdir DIR] [--set 'CONTROL(INDEX)=TEXT']... [--name NAME] [--png]\n"
        "\n"
        "Makes a shaped pulse the way the window's \"make pulse\" does and writes it as NAME.RF into the\n"
        "working directory.\n"
        "\n"
        "Options of make-pulse:\n"
        "  --workdir DIR     work in DIR (it must exist) instead of the directory the settings file names\n"
        "  --set 'CONTROL(INDEX)=TEXT'\n"
        "                    set a generator box first: Check2(0..5) the shape boxes (1 or 0; ticking one\n"
        "                    of the first four clears the other three, as a click does), Text4(0..15)\n"
        "                    the number and keyword boxes, Text3 the name\n"
        "  --name NAME       the name of the pulse (the box \"Name\", Text3); the file is NAME.RF\n"
        "  --png             also write the preview NAME.png: amplitude, phase and frequency against\n"
        "                    time and the excitation profile\n"
        "\n"
        "Shapes (the last ticked box wins; none ticked makes an HSn pulse):\n"
        "  Check2(0) gauss          Gaussian; its end amplitude is the truncation Text4(7)\n"
        "  Check2(1) AddTwoPulse    ttt2.RF + w1 x ttt1.RF, w1 in Text4(14)\n"
        "  Check2(2) AddHarmonics   the pulse named in Text4(11) with a 10 % third harmonic\n"
        "  Check2(3) HSn pulse      adiabatic sweep: Ngap Text4(2), N pulse in gap Text4(3), N delay in gap\n"
        "                           Text4(4), n factor Text4(5), R value Text4(6), truncation Text4(7)\n"
        "  Check2(4) Stripe         three frequency-shifted copies of the HSn pulse\n"
        "  Check2(5) FM_sin         constant amplitude, sinusoidal frequency modulation\n"
        "Also: freq shift Text4(0), phase Text4(1), add zero at start Text4(12) and at end Text4(8),\n"
        "FrankRepeat Text4(15), sweep sign Text4(10) (\"-\" mirrors the phase), comment Text4(13) (\"y\"\n"
        "writes the header).\n"
        "\n"
        "Methods (Text4(9)): where the N pulse in gap elements sit among the N delay in gap elements:\n"
        "  zv         pulse elements first, then the silent ones\n"
        "  step       as zv, every gap holding the sweep's value of its first element\n"
        "  brok       as zv, the sweep stopping during the silences\n"
        "  zv_rnd     at random places of each gap (the same places every time)\n"
        "  zv_center  in the middle of each gap\n"
        "  zvn        silent elements first, then the pulse elements\n"
        "  zvnm       zv in even gaps, zvn in odd gaps\n"
        "  zvt        pulse elements spread evenly, each gap ending with one\n"
        "  zvtt       silent elements spread evenly, each gap ending with one\n"
        "\n"
        "Exit status: 0 the pulse was written; 1 a box was refused or the file could not be written (a\n"
        "message names the box; nothing is written); 2 the command line was not understood.\n";
    return text;
}

}  // namespace velmora::app
