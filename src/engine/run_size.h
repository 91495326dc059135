// The size of a run before it starts: the memory every record it will hold takes (spin states,
// operator and detection records, sampled and synthesized signal records, display arrays, the 2D
// map, the recorded-operator list and the result text built in memory) and the bytes its result
// files take on disk; and the memory and disk space the system can still give, so that a run that
// would not fit is refused with a message before anything is allocated.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace velmora::engine {

// The counts that size a run. Counts are 64-bit so that absurd requests are sized, not overflowed.
struct RunShape {
    int spinCount = 1;
    std::int64_t runs = 1;                 // last run index + 1
    std::int64_t pointCount = 256;         // np
    std::int64_t oversampling = 1;         // F
    int stateRows = 1;                     // slice rows the state widens to (1 without gradients)
    int detectionRows = 1;                 // slice rows of the detection record
    std::int64_t recordedEntries = 0;      // entries of the recorded-operator list
    std::int64_t multipletComponents = 0;  // their components, all entries together
    std::int64_t multipletFrequencies = 0;  // the coupling combinations the components index
    bool twoD = false;                     // a Start_2D: the 2D map and its table follow
    // The exact strong-coupling path: a density matrix per thread, and per run the whole state at
    // the acquisition and the lines of its spectrum.
    bool strongCoupling = false;
    // The result tables the run is asked to write; only those count on disk (and the
    // magnetisation tables, built in memory before they are written, in memory).
    bool operatorTable = true;       // prodop.dat
    bool magnetisationFiles = true;  // a_*.dat, aFT_*.dat
    bool spectraTable = true;        // spectra.tsv
    bool mapTable = true;            // map2d.tsv (a Start_2D only)
    bool pictures = true;            // the plots' PNG files
};

// The box a user changes to make a run smaller.
enum class SizeDriver { Runs, Points, Slices, Spins };

struct RunSize {
    double memoryBytes = 0.0;
    double diskBytes = 0.0;                 // result files
    SizeDriver largest = SizeDriver::Runs;  // what most of the memory grows with
};

// Adds one active spin with `partners` coupling partners to the recorded-operator list's size: such
// a spin records 2 x 2^partners operators of 2^(partners - 1) components each, which index the
// spin's 2^(partners - 1) coupling combinations.
void addRecordedOperatorBound(int partners, RunShape& shape);

RunSize estimateRunSize(const RunShape& shape);

// What the system can still give a run, in bytes; none where a figure cannot be told (no limit).
struct SystemCapacity {
    std::optional<std::uint64_t> memAvailable;      // MemAvailable of /proc/meminfo
    std::optional<std::uint64_t> cgroupLeft;        // cgroup memory limit - usage (v2 or v1)
    std::optional<std::uint64_t> addressSpaceLeft;  // RLIMIT_AS - the process's address space
    std::optional<std::uint64_t> diskFree;          // free space of the working directory's disk

    // The least of the three memory figures, and which one it is; none when none is known.
    std::optional<std::uint64_t> memoryLeft() const;
    std::string memoryLimitName() const;
};

// Reads the figures of this process and of the disk that holds `directory`.
SystemCapacity readSystemCapacity(const std::filesystem::path& directory);

// Why the run does not fit, naming the size asked for, the memory or disk space available and the
// box to change; none when it fits (or nothing is known of the capacity).
std::optional<std::string> runSizeProblem(const RunSize& size, const SystemCapacity& capacity);

// "12.3 GiB", "640 MiB", "12 KiB": a byte count for messages.
std::string byteText(double bytes);

}  // namespace velmora::engine
