// Sizes of a run's records and result files, and the memory and disk the system can still give.
// The estimate is an upper bound built from the record layouts: a run it lets through fits.
#include "engine/run_size.h"

#include "engine/operator_output.h"
#include "engine/recorded_operators.h"
#include "util/number_format.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <system_error>

namespace velmora::engine {

namespace {

constexpr double kDouble = 8.0;               // bytes of one record value
constexpr double kComplexBytes = 16.0;        // one complex density-matrix element
constexpr double kTransitionLineBytes = 112.0;  // one line of the exact acquisition
constexpr double kSampleComponents = 4.0;     // components 0..3 of the sample records
constexpr double kDisplayParts = 3.0;         // real, imaginary, magnitude
// One recorded operator without its components, with room for the synthesis' pattern of it.
constexpr double kRecordedEntryBytes = 64.0;
constexpr double kComponentBytes = static_cast<double>(sizeof(PackedComponent));
// A coupling combination in the list's table, and its term index per spin in the synthesis.
constexpr double kFrequencyBytes = 8.0;
constexpr double kTermIndexBytes = 4.0;
constexpr double kTableFieldBytes = 12.0;     // one tab-separated number of a result table
constexpr double kLineOverheadBytes = 40.0;   // a line held as a string before it is written
constexpr double kPerRunMagnetisationFiles =
    7.5;  // a_X, a_Y, a_XY, a_Z, aFT_X, aFT_Y, aFT_XY, half of aFT_XYcenter
constexpr double kFixedFilesBytes = 32.0 * 1024 * 1024;  // plots, automatic copies, small tables
constexpr double kFixedFilesWithoutPlotsBytes = 1.0 * 1024 * 1024;  // automatic copies, small tables
// A cgroup v1 "no limit" is the largest page-aligned 64-bit value; anything this large is none.
constexpr std::uint64_t kNoLimitAbove = std::uint64_t{1} << 60;

std::optional<std::uint64_t> readWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::string word;
    if (!(in >> word) || word == "max")
        return std::nullopt;
    std::uint64_t value = 0;
    std::istringstream number(word);
    if (!(number >> value) || value >= kNoLimitAbove)
        return std::nullopt;
    return value;
}

// "Name:   12345 kB" of a /proc file, in bytes.
std::optional<std::uint64_t> procKibField(const char* file, std::string_view name)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name, 0) != 0 || line.size() <= name.size() || line[name.size()] != ':')
            continue;
        std::istringstream fields(line.substr(name.size() + 1));
        std::uint64_t kib = 0;
        if (fields >> kib)
            return kib * 1024;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> leftUnder(std::optional<std::uint64_t> limit, std::optional<std::uint64_t> used)
{
    if (!limit)
        return std::nullopt;
    const std::uint64_t u = used.value_or(0);
    return *limit > u ? *limit - u : 0;
}

// The memory limit of the process's cgroup minus its usage: v2 (memory.max, memory.current) or
// v1 (memory.limit_in_bytes, memory.usage_in_bytes), at the group /proc/self/cgroup names or, in a
// container that shows its own group as the root, at the root of the hierarchy.
std::optional<std::uint64_t> cgroupMemoryLeft()
{
    namespace fs = std::filesystem;
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    while (std::getline(groups, line)) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string group = line.substr(second + 1);
        const bool v2 = controllers.empty();
        if (!v2 && controllers.find("memory") == std::string::npos)
            continue;
        const fs::path root = v2 ? fs::path("/sys/fs/cgroup") : fs::path("/sys/fs/cgroup/memory");
        const char* limitFile = v2 ? "memory.max" : "memory.limit_in_bytes";
        const char* usageFile = v2 ? "memory.current" : "memory.usage_in_bytes";
        for (const fs::path& dir : {root / fs::path(group).relative_path(), root}) {
            std::error_code ec;
            if (fs::exists(dir / limitFile, ec))
                return leftUnder(readWholeFile(dir / limitFile), readWholeFile(dir / usageFile));
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> addressSpaceLeft()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return leftUnder(static_cast<std::uint64_t>(limit.rlim_cur), procKibField("/proc/self/status", "VmSize"));
}

const char* boxToChange(SizeDriver driver)
{
    switch (driver) {
    case SizeDriver::Runs:
        return "Lower \"Ni\" (Text14(11)), the number of arrayed values or 2D increments";
    case SizeDriver::Points:
        return "Lower \"np\" (Text14(12)), the points per FID";
    case SizeDriver::Slices:
        return "Lower the slice count \"N of slices for magnetic gradient simulations\" (Text14(5))";
    case SizeDriver::Spins:
        return "Use fewer spins in the spin system";
    }
    return "";
}

}  // namespace

void addRecordedOperatorBound(int partners, RunShape& shape)
{
    const double multiplet = std::ldexp(1.0, partners);
    shape.recordedEntries += static_cast<std::int64_t>(2.0 * multiplet);
    if (partners > 0) {
        shape.multipletComponents += static_cast<std::int64_t>(multiplet * multiplet);
        shape.multipletFrequencies += static_cast<std::int64_t>(multiplet / 2.0);
    }
}

RunSize estimateRunSize(const RunShape& s)
{
    const double runs = static_cast<double>(s.runs);
    const double np = static_cast<double>(s.pointCount);
    const double samples = static_cast<double>(s.oversampling) * np + 1.0;
    const double operators = std::pow(4.0, s.spinCount);
    const double rowBytes = kDouble * operators;

    // The initial state, the saved state and the working state, the last two widened to the slices.
    const double states = rowBytes * (1.0 + 2.0 * s.stateRows);
    const double recordedList =
        kRecordedEntryBytes * static_cast<double>(s.recordedEntries) +
        kComponentBytes * static_cast<double>(s.multipletComponents) +
        (kFrequencyBytes + kTermIndexBytes * s.spinCount) * static_cast<double>(s.multipletFrequencies);

    // Records that grow with the run count.
    const double operatorRecord = kDouble * operators * runs;
    const double detection = kDouble * s.detectionRows * static_cast<double>(s.recordedEntries) * runs;
    // The sampled signal and time-domain records, and the synthesized pair that replaces them.
    const double sampleRecords = 2.0 * kDouble * kSampleComponents * runs * (samples + (np + 1.0));
    const double display = kDouble * kDisplayParts * np * runs + kDouble * runs;  // + the arrayed values
    const double listed = std::min(operators, static_cast<double>(kMostListedOperators)) + 3.0;
    const double operatorTable =
        s.operatorTable ? (runs + 1.0) * (listed * kTableFieldBytes + kLineOverheadBytes) : 0.0;
    const double magnetisationFiles =
        s.magnetisationFiles ? kPerRunMagnetisationFiles * np * (runs * kTableFieldBytes + kLineOverheadBytes)
                             : 0.0;
    const double spectraTable =
        s.spectraTable ? np * ((1.0 + kDisplayParts * runs) * kTableFieldBytes + kLineOverheadBytes) : 0.0;
    double perRun = operatorRecord + detection + sampleRecords + display;
    double strongStates = 0.0;
    if (s.strongCoupling) {
        // The density matrix and the transform's room (2^N x 2^N complex each, two threads), and per
        // run and slice row of the detection the state and at most C(2N, N - 1) lines (the
        // single-quantum pairs of one nucleus) of kTransitionLineBytes each.
        double lines = 1.0;
        for (int k = 1; k <= s.spinCount - 1; ++k)
            lines = lines * (s.spinCount + 1 + k) / k;
        strongStates = 2.0 * 2.0 * kComplexBytes * operators;
        perRun += runs * s.detectionRows * (rowBytes + kTransitionLineBytes * lines);
    }

    // The 2D map and its table, which grow with the square of the point count.
    const double map = s.twoD ? kDouble * np * np : 0.0;
    const double mapTable =
        s.twoD && s.mapTable ? (np + 1.0) * ((np + 1.0) * kTableFieldBytes + kLineOverheadBytes) : 0.0;

    RunSize size;
    size.diskBytes = operatorTable + magnetisationFiles + spectraTable + mapTable +
                     (s.pictures ? kFixedFilesBytes : kFixedFilesWithoutPlotsBytes);
    // The magnetisation files are built in memory before they are written; the largest other table
    // is held as lines while it is written.
    size.memoryBytes = states + strongStates + recordedList + perRun + map + magnetisationFiles +
                       std::max({operatorTable, spectraTable, mapTable});

    const double bySlices = s.stateRows > 1 ? rowBytes * 2.0 * s.stateRows : 0.0;
    const double bySpins = states - bySlices + recordedList;
    const double byPoints = map + mapTable;
    const double byRuns = perRun + operatorTable + magnetisationFiles;
    const double most = std::max({bySlices, bySpins, byPoints, byRuns});
    size.largest = most == byRuns     ? SizeDriver::Runs
                   : most == byPoints ? SizeDriver::Points
                   : most == bySlices ? SizeDriver::Slices
                                      : SizeDriver::Spins;
    // The operator record grows with the spins as much as with the runs: with few runs, name spins.
    if (size.largest == SizeDriver::Runs && operatorRecord > perRun / 2.0 && runs < 64.0)
        size.largest = SizeDriver::Spins;
    return size;
}

std::optional<std::uint64_t> SystemCapacity::memoryLeft() const
{
    std::optional<std::uint64_t> least;
    for (const std::optional<std::uint64_t>& figure : {memAvailable, cgroupLeft, addressSpaceLeft})
        if (figure && (!least || *figure < *least))
            least = figure;
    return least;
}

std::string SystemCapacity::memoryLimitName() const
{
    const std::optional<std::uint64_t> least = memoryLeft();
    if (least && addressSpaceLeft == least)
        return "the address-space limit (ulimit -v) of this process";
    if (least && cgroupLeft == least)
        return "the memory limit of this process's control group";
    return "the memory the system has available";
}

SystemCapacity readSystemCapacity(const std::filesystem::path& directory)
{
    SystemCapacity capacity;
    capacity.memAvailable = procKibField("/proc/meminfo", "MemAvailable");
    capacity.cgroupLeft = cgroupMemoryLeft();
    capacity.addressSpaceLeft = addressSpaceLeft();
    std::error_code ec;
    const std::filesystem::space_info space = std::filesystem::space(directory, ec);
    if (!ec)
        capacity.diskFree = space.available;
    return capacity;
}

std::string byteText(double bytes)
{
    constexpr double kKiB = 1024.0;
    const double gib = bytes / (kKiB * kKiB * kKiB);
    if (gib >= 1.0)
        return util::formatPattern(gib, gib < 100.0 ? "0.0" : "0") + " GiB";
    if (bytes >= kKiB * kKiB)
        return util::formatPattern(bytes / (kKiB * kKiB), "0") + " MiB";
    return util::formatPattern(bytes / kKiB, "0") + " KiB";
}

std::optional<std::string> runSizeProblem(const RunSize& size, const SystemCapacity& capacity)
{
    if (const std::optional<std::uint64_t> memory = capacity.memoryLeft();
        memory && size.memoryBytes > static_cast<double>(*memory))
        return "This run needs " + byteText(size.memoryBytes) + " of memory for its records, but only " +
               byteText(static_cast<double>(*memory)) + " are available (" + capacity.memoryLimitName() +
               "). " + boxToChange(size.largest) + ".";
    if (capacity.diskFree && size.diskBytes > static_cast<double>(*capacity.diskFree))
        return "This run's result files need " + byteText(size.diskBytes) + ", but only " +
               byteText(static_cast<double>(*capacity.diskFree)) +
               " are free on the disk of the working directory. " + boxToChange(SizeDriver::Runs) +
               " or free space on that disk.";
    return std::nullopt;
}

}  // namespace velmora::engine
