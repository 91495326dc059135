// "velmora-cli exchange": the relaxation-dispersion experiment headless, as Start runs it in the
// window's exchange mode. Reads the working directory as start-up does (or --workdir) and the
// named sequence file, applies the assignments, runs the grids, writes the results table, prints
// the result list of the grid on stdout and, with --png, draws the dispersion plot.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace velmora::app {

// `arguments`: what follows "exchange" on the command line. Returns the exit status.
int exchangeCommand(std::span<const std::string_view> arguments);

std::string exchangeUsageText();

}  // namespace velmora::app
