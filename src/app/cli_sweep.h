// "velmora-cli sweep" and "velmora-cli merge": a parameter sweep cut into shards for machines
// without Python (Slurm job arrays, GNU parallel). A grid file (a header line of names, then one
// line of values per point) is cut into N shards of consecutive points; shard K runs each of its
// points as "velmora-cli run" in a process and working directory of its own, and lists how each
// ended. merge joins the shards' tables into one, in grid order, whatever machine ran which shard.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace velmora::app {

// `arguments`: what follows "sweep" or "merge". Return the exit status.
int sweepCommand(std::span<const std::string_view> arguments);
int mergeCommand(std::span<const std::string_view> arguments);

std::string sweepUsageText();

}  // namespace velmora::app
