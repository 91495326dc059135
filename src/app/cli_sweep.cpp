#include "app/cli_sweep.h"

#include "app/cli_messages.h"
#include "app/cli_run.h"
#include "model/controls.h"
#include "util/file_listing.h"
#include "util/text_file.h"
#include "workbench/control_names.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velmora::app {

namespace {

namespace fs = std::filesystem;

// Files a point's working directory receives besides the named molecule and sequence: shaped
// pulses, gradient shapes and array files, which sequences name by bare file name.
constexpr std::string_view kInputSuffixes[] = {".rf", ".grd", ".tab"};
// The table of a point that merge joins unless --table names another (map2d.tsv, say).
constexpr const char* kPointTable = "spectra.tsv";
// Where a point's run writes its messages.
constexpr const char* kPointMessages = "messages.txt";
// Largest table of one point that merge reads (bytes).
constexpr std::uintmax_t kLargestPointTable = std::uintmax_t{64} << 30;

struct SweepOptions {
    fs::path grid;
    fs::path workingDirectory;
    std::optional<fs::path> out;  // none: <workdir>/sweep
    int shard = 1;                // K of N, from 1
    int shards = 1;
    std::vector<std::string> runArguments;  // passed to every point's "velmora-cli run"
    std::string moleculeFile;
    std::string sequenceFile;
    bool quiet = false;
    bool help = false;
};

struct Grid {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> points;
};

std::atomic<bool> sweepInterrupted{false};
extern "C" void onSweepInterrupt(int) { sweepInterrupted = true; }

std::vector<std::string> splitTabs(std::string_view line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        fields.emplace_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

std::string joinTabs(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t k = 0; k < fields.size(); ++k)
        line += (k ? "\t" : "") + fields[k];
    return line;
}

// The grid file: a header line of names, then one line of values per point, fields separated by
// tabs; blank lines and lines beginning with '#' are skipped.
std::optional<Grid> readGrid(const fs::path& path, std::string& error)
{
    const util::TextFileContent content = util::readTextLines(path);
    if (!content.ok) {
        error = content.error;
        return std::nullopt;
    }
    Grid grid;
    for (std::size_t k = 0; k < content.lines.size(); ++k) {
        const std::string& line = content.lines[k];
        if (line.find_first_not_of(" \t") == std::string::npos || line.front() == '#')
            continue;
        std::vector<std::string> fields = splitTabs(line);
        if (grid.names.empty()) {
            for (const std::string& name : fields)
                if (name.empty() || name.find_first_of(" =") != std::string::npos) {
                    error = path.string() + " line " + std::to_string(k + 1) + ": \"" + name +
                            "\" is not a name of a box or element";
                    return std::nullopt;
                }
            grid.names = std::move(fields);
        } else if (fields.size() != grid.names.size()) {
            error = path.string() + " line " + std::to_string(k + 1) + " has " + std::to_string(fields.size()) +
                    " values for " + std::to_string(grid.names.size()) + " names";
            return std::nullopt;
        } else {
            grid.points.push_back(std::move(fields));
        }
    }
    if (grid.names.empty() || grid.points.empty()) {
        error = path.string() + " holds no " + (grid.names.empty() ? "header line of names" : "point");
        return std::nullopt;
    }
    return grid;
}

// The first point of shard `shard` (from 1) of `shards`, and the first of the next one.
std::pair<std::size_t, std::size_t> shardRange(std::size_t points, int shard, int shards)
{
    const auto n = static_cast<std::size_t>(shards);
    return {points * static_cast<std::size_t>(shard - 1) / n, points * static_cast<std::size_t>(shard) / n};
}

std::string pointFolderName(std::size_t point)
{
    std::string digits = std::to_string(point);
    return "point-" + std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits;
}

std::string shardIndexName(int shard, int shards)
{
    return "shard-" + std::to_string(shard) + "-of-" + std::to_string(shards) + ".tsv";
}

template <typename Number> bool parseNumber(std::string_view text, Number& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

std::optional<std::string> parseSweep(std::span<const std::string_view> arguments, SweepOptions& options)
{
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const auto [name, inlineValue] = splitArgument(arguments[k]);
        if (name == "--help" || name == "-h") {
            options.help = true;
            return std::nullopt;
        }
        if (name == "--2d" || name == "--quiet") {
            if (inlineValue)
                return std::string(name) + " takes no value";
            if (name == "--2d")
                options.runArguments.emplace_back(name);
            else
                options.quiet = true;
            continue;
        }
        static constexpr std::string_view kValued[] = {"--grid", "--shard", "--workdir", "--out", "--mol", "--psq",
                                                       "--set", "--element", "--outputs", "--threads"};
        if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued))
            return "sweep: unknown option \"" + std::string(arguments[k]) + "\"";
        std::string_view value;
        if (inlineValue)
            value = *inlineValue;
        else if (k + 1 < arguments.size())
            value = arguments[++k];
        else
            return std::string(name) + " needs a value";
        if (name == "--grid") {
            options.grid = fs::path(value);
        } else if (name == "--shard") {
            const std::size_t slash = value.find('/');
            if (slash == std::string_view::npos || !parseNumber(value.substr(0, slash), options.shard) ||
                !parseNumber(value.substr(slash + 1), options.shards) || options.shards < 1 ||
                options.shard < 1 || options.shard > options.shards)
                return "--shard takes K/N with 1 <= K <= N, not \"" + std::string(value) + "\"";
        } else if (name == "--workdir") {
            options.workingDirectory = fs::path(value);
        } else if (name == "--out") {
            options.out = fs::path(value);
        } else {
            if (name == "--mol")
                options.moleculeFile = value;
            else if (name == "--psq")
                options.sequenceFile = value;
            options.runArguments.emplace_back(name);
            options.runArguments.emplace_back(value);
        }
    }
    if (options.grid.empty())
        return "sweep needs --grid FILE";
    if (options.workingDirectory.empty())
        return "sweep needs --workdir DIR, the folder of its molecule, sequence and pulse files";
    std::error_code error;
    if (!fs::is_directory(options.workingDirectory, error))
        return "--workdir: " + options.workingDirectory.string() + " is not a folder";
    return std::nullopt;
}

// A grid name is a box when the registry knows it by its readable or control name, else an element.
bool isBox(const model::Controls& controls, const std::string& name)
{
    return workbench::controlByReadableName(name) || workbench::controlByName(controls, name);
}

util::Outcome copyInputs(const fs::path& source, const fs::path& target, const SweepOptions& options)
{
    std::error_code error;
    fs::remove_all(target, error);
    if (fs::create_directories(target, error); error)
        return util::Outcome::failure("cannot make " + target.string() + ": " + error.message());
    for (const fs::directory_entry& entry : fs::directory_iterator(source, error)) {
        if (!entry.is_regular_file())
            continue;
        const std::string name = entry.path().filename().string();
        std::string suffix = entry.path().extension().string();
        std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
        const bool input = name == options.moleculeFile || name == options.sequenceFile ||
                           std::find(std::begin(kInputSuffixes), std::end(kInputSuffixes), suffix) !=
                               std::end(kInputSuffixes);
        if (input && !fs::copy_file(entry.path(), target / name, fs::copy_options::overwrite_existing, error))
            return util::Outcome::failure("cannot copy " + entry.path().string() + ": " + error.message());
    }
    if (error)
        return util::Outcome::failure("cannot read " + source.string() + ": " + error.message());
    return util::Outcome::success();
}

// Runs "velmora-cli run" on one point, its stdout discarded and its stderr kept in the point's
// folder. Returns the exit status (-1: it could not be started or ended by a signal).
int runPoint(const std::vector<std::string>& arguments, const fs::path& folder)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string messages = (folder / kPointMessages).string();
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int started = posix_spawn(&child, "/proc/self/exe", &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (started != 0)
        return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// "completed", or "failed: " and the messages of the point's run on one line.
std::string pointStatus(int exitStatus, const fs::path& folder)
{
    if (exitStatus == kExitSuccess)
        return "completed";
    std::string text;
    const util::TextFileContent content = util::readTextLines(folder / kPointMessages, 1u << 20);
    for (const std::string& line : content.lines)
        if (!line.empty())
            text += (text.empty() ? "" : "; ") + line;
    std::replace(text.begin(), text.end(), '\t', ' ');
    if (text.empty())
        text = exitStatus < 0 ? "the run could not be started or was killed" : "exit status " + std::to_string(exitStatus);
    return "failed: " + text;
}

}  // namespace

std::string sweepUsageText()
{
    return "usage: velmora-cli sweep --grid GRID.tsv --workdir DIR [--shard K/N] [--out DIR] [--mol NAME.mol]\n"
           "                         [--psq NAME.psq] [--2d] [--set NAME=TEXT]... [--element NAME=VALUE]...\n"
           "                         [--outputs LIST] [--threads N] [--quiet]\n"
           "       velmora-cli merge [--out FILE] [--table NAME] SWEEP_DIR\n"
           "\n"
           "sweep runs shard K of N of the grid (default 1/1: every point). GRID.tsv holds a header line of\n"
           "names (boxes by readable or control name, or elements of the sequence) and one line of values\n"
           "per point, separated by tabs. Shard K takes the points (K-1)P/N .. KP/N-1 of the P points; each\n"
           "runs as \"velmora-cli run\" in its own process and folder OUT/point-NNNNN (OUT: --out, default\n"
           "DIR/sweep) with copies of the molecule, the sequence and the .RF, .GRD and .tab files of DIR, the\n"
           "other options applied first and the point's values after them. OUT/shard-K-of-N.tsv lists how\n"
           "every point ended (completed, or failed with its messages). Exit status 0 when every point\n"
           "completed, 1 when one failed or the shard was stopped, 2 for a command line not understood.\n"
           "\n"
           "merge joins the shards of SWEEP_DIR (every shard-K-of-N.tsv, all N of them complete) into one\n"
           "table, FILE (default SWEEP_DIR/merged.tsv): per point in grid order its number, values and\n"
           "status, then each line of its spectra.tsv (--table: another result file of the points, such as\n"
           "map2d.tsv; a failed point: one line without results).\n";
}

int sweepCommand(std::span<const std::string_view> arguments)
{
    SweepOptions options;
    if (const std::optional<std::string> wrong = parseSweep(arguments, options)) {
        std::cerr << "velmora-cli: " << *wrong << "\nTry \"velmora-cli sweep --help\".\n";
        return kExitUsage;
    }
    if (options.help) {
        std::cout << sweepUsageText();
        return kExitSuccess;
    }
    std::string error;
    const std::optional<Grid> grid = readGrid(options.grid, error);
    if (!grid)
        return usageError(error);
    std::error_code failure;
    const fs::path source = fs::absolute(options.workingDirectory, failure);
    const fs::path out = fs::absolute(options.out.value_or(source / "sweep"), failure);
    if (fs::create_directories(out, failure); failure)
        return usageError("--out: cannot make " + out.string() + ": " + failure.message());

    const model::Controls controls;
    std::vector<bool> boxes;
    for (const std::string& name : grid->names)
        boxes.push_back(isBox(controls, name));
    const auto [first, end] = shardRange(grid->points.size(), options.shard, options.shards);

    std::vector<std::string> index{"# velmora-cli sweep: shard " + std::to_string(options.shard) + " of " +
                                       std::to_string(options.shards) + ", points " + std::to_string(first) +
                                       " to " + std::to_string(end) + " of " +
                                       std::to_string(grid->points.size()),
                                   "point\t" + joinTabs(grid->names) + "\tstatus"};
    const fs::path indexPath = out / shardIndexName(options.shard, options.shards);
    std::signal(SIGINT, onSweepInterrupt);
    std::signal(SIGTERM, onSweepInterrupt);
    int failed = 0;
    for (std::size_t point = first; point < end && !sweepInterrupted; ++point) {
        const fs::path folder = out / pointFolderName(point);
        std::string status;
        if (const util::Outcome copied = copyInputs(source, folder, options); !copied) {
            status = "failed: " + copied.message();
        } else {
            std::vector<std::string> run{"velmora-cli", "run", "--workdir", folder.string(), "--quiet"};
            run.insert(run.end(), options.runArguments.begin(), options.runArguments.end());
            for (std::size_t k = 0; k < grid->names.size(); ++k) {
                run.emplace_back(boxes[k] ? "--set" : "--element");
                run.push_back(grid->names[k] + "=" + grid->points[point][k]);
            }
            status = pointStatus(runPoint(run, folder), folder);
        }
        if (sweepInterrupted)
            break;
        if (status != "completed")
            ++failed;
        index.push_back(std::to_string(point) + "\t" + joinTabs(grid->points[point]) + "\t" + status);
        if (const util::Outcome written = util::writeTextFile(indexPath, index); !written) {
            std::cerr << "velmora-cli: " << written.message() << "\n";
            return kExitRunFailed;
        }
        if (!options.quiet)
            std::cout << "point " << point << ": " << status << "\n" << std::flush;
    }
    if (first == end && !util::writeTextFile(indexPath, index)) {
        std::cerr << "velmora-cli: cannot write " << indexPath.string() << "\n";
        return kExitRunFailed;
    }
    if (sweepInterrupted) {
        std::cerr << "velmora-cli: sweep stopped; " << indexPath.string() << " lists the points done\n";
        return kExitRunFailed;
    }
    if (!options.quiet)
        std::cout << "shard " << options.shard << " of " << options.shards << ": " << (end - first - failed)
                  << " of " << (end - first) << " points completed; wrote " << indexPath.string() << "\n";
    return failed == 0 ? kExitSuccess : kExitRunFailed;
}

namespace {

struct ShardIndex {
    int shard = 0;
    int shards = 0;
    std::size_t first = 0;
    std::size_t end = 0;
    std::size_t points = 0;
    std::string header;  // "point\t<names>\tstatus"
    std::vector<std::vector<std::string>> rows;
};

std::optional<ShardIndex> readShardIndex(const fs::path& path, std::string& error)
{
    const util::TextFileContent content = util::readTextLines(path);
    if (!content.ok) {
        error = content.error;
        return std::nullopt;
    }
    ShardIndex index;
    const auto refuse = [&](const std::string& why) {
        error = path.string() + ": " + why;
        return std::nullopt;
    };
    if (content.lines.size() < 2 ||
        std::sscanf(content.lines[0].c_str(), "# velmora-cli sweep: shard %d of %d, points %zu to %zu of %zu",
                    &index.shard, &index.shards, &index.first, &index.end, &index.points) != 5)
        return refuse("not the list of a shard written by velmora-cli sweep");
    index.header = content.lines[1];
    const std::size_t columns = splitTabs(index.header).size();
    for (std::size_t k = 2; k < content.lines.size(); ++k) {
        index.rows.push_back(splitTabs(content.lines[k]));
        if (index.rows.back().size() != columns || index.rows.back()[0] != std::to_string(index.first + k - 2))
            return refuse("line " + std::to_string(k + 1) + " is not point " + std::to_string(index.first + k - 2));
    }
    if (index.rows.size() != index.end - index.first)
        return refuse("the shard is not complete: " + std::to_string(index.rows.size()) + " of " +
                      std::to_string(index.end - index.first) + " points listed");
    return index;
}

}  // namespace

int mergeCommand(std::span<const std::string_view> arguments)
{
    std::optional<fs::path> sweepFolder;
    std::optional<fs::path> outFile;
    std::string pointTable = kPointTable;
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const auto [name, inlineValue] = splitArgument(arguments[k]);
        if (name == "--help" || name == "-h") {
            std::cout << sweepUsageText();
            return kExitSuccess;
        }
        if (name == "--out" || name == "--table") {
            if (!inlineValue && k + 1 >= arguments.size())
                return usageError(std::string(name) + " needs a value");
            const std::string_view value = inlineValue ? *inlineValue : arguments[++k];
            if (name == "--out")
                outFile = fs::path(value);
            else if (util::isBareFileName(value))
                pointTable = value;
            else
                return usageError("--table takes the name of a point's result file, not \"" + std::string(value) + "\"");
        } else if (name.starts_with("--") || sweepFolder) {
            return usageError("merge: unexpected \"" + std::string(arguments[k]) + "\"");
        } else {
            sweepFolder = fs::path(arguments[k]);
        }
    }
    std::error_code failure;
    if (!sweepFolder || !fs::is_directory(*sweepFolder, failure))
        return usageError("merge needs the folder of a sweep's shards");
    std::vector<ShardIndex> shards;
    for (const fs::directory_entry& entry : fs::directory_iterator(*sweepFolder, failure)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("shard-") || !name.ends_with(".tsv"))
            continue;
        std::string error;
        std::optional<ShardIndex> index = readShardIndex(entry.path(), error);
        if (!index) {
            std::cerr << "velmora-cli: " << error << "\n";
            return kExitRunFailed;
        }
        shards.push_back(std::move(*index));
    }
    if (shards.empty()) {
        std::cerr << "velmora-cli: " << sweepFolder->string() << " holds no shard-K-of-N.tsv\n";
        return kExitRunFailed;
    }
    // One way of cutting the grid, every shard of it, none twice.
    std::sort(shards.begin(), shards.end(), [](const auto& a, const auto& b) { return a.shard < b.shard; });
    const int count = shards.front().shards;
    for (std::size_t k = 0; k < shards.size(); ++k) {
        const ShardIndex& s = shards[k];
        if (s.shards != count || s.points != shards.front().points || s.header != shards.front().header) {
            std::cerr << "velmora-cli: " << sweepFolder->string()
                      << " holds shards of different sweeps or cuts (shard " << s.shard << " of " << s.shards
                      << ")\n";
            return kExitRunFailed;
        }
        if (s.shard != static_cast<int>(k) + 1) {
            std::cerr << "velmora-cli: shard " << k + 1 << " of " << count << " is missing\n";
            return kExitRunFailed;
        }
    }
    if (static_cast<int>(shards.size()) != count) {
        std::cerr << "velmora-cli: shard " << shards.size() + 1 << " of " << count << " is missing\n";
        return kExitRunFailed;
    }

    const fs::path target = outFile.value_or(*sweepFolder / "merged.tsv");
    // The columns of the points' tables, named by the first completed point.
    std::string tableHeader;
    for (const ShardIndex& shard : shards) {
        for (const std::vector<std::string>& row : shard.rows) {
            if (row.back() != "completed" || !tableHeader.empty())
                continue;
            const fs::path table = *sweepFolder / pointFolderName(std::stoul(row[0])) / pointTable;
            const util::TextFileContent head = util::readTextLines(table, kLargestPointTable, 1);
            if (!head.ok || head.lines.empty()) {
                std::cerr << "velmora-cli: " << (head.ok ? table.string() + " is empty" : head.error) << "\n";
                return kExitRunFailed;
            }
            tableHeader = head.lines[0].starts_with("# ") ? head.lines[0].substr(2) : head.lines[0];
        }
    }
    std::string problem;
    std::size_t completed = 0;
    const util::Outcome written = util::writeTextInPieces(target, [&](const util::TextSink& sink) {
        // Nothing of the cut goes into the table: any cut of the grid gives the same bytes.
        if (!sink("# velmora-cli merge: " + std::to_string(shards.front().points) + " points\r\n" +
                  shards.front().header +
                  (tableHeader.empty() ? "" : "\t" + tableHeader) + "\r\n"))
            return false;
        for (const ShardIndex& shard : shards) {
            for (const std::vector<std::string>& row : shard.rows) {
                const std::string lead = joinTabs(row);
                if (row.back() != "completed") {
                    if (!sink(lead + "\r\n"))
                        return false;
                    continue;
                }
                ++completed;
                const fs::path table = *sweepFolder / pointFolderName(std::stoul(row[0])) / pointTable;
                bool header = true;
                std::string pieces;
                const util::Outcome read =
                    util::visitTextLines(table, kLargestPointTable, [&](std::string_view line) {
                        if (header) {
                            header = false;
                            if ((line.starts_with("# ") ? line.substr(2) : line) != tableHeader) {
                                problem = table.string() + " has other columns than the points before it";
                                return false;
                            }
                            return true;
                        }
                        pieces.append(lead).append("\t").append(line).append("\r\n");
                        if (pieces.size() > (1u << 18)) {
                            if (!sink(pieces))
                                return false;
                            pieces.clear();
                        }
                        return true;
                    });
                if (!read && problem.empty())
                    problem = read.message();
                if (!problem.empty() || !sink(pieces))
                    return false;
            }
        }
        return true;
    });
    if (!problem.empty()) {
        std::cerr << "velmora-cli: " << problem << "\n";
        return kExitRunFailed;
    }
    if (!written) {
        std::cerr << "velmora-cli: " << written.message() << "\n";
        return kExitRunFailed;
    }
    std::cout << "merged " << shards.front().points << " points of " << count << " shard(s), " << completed
              << " completed, into " << target.string() << "\n";
    return kExitSuccess;
}

}  // namespace velmora::app
