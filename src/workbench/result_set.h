// The result files of one run as one set on disk. A run writes its files into a staging folder of
// its own inside the working directory; at the end they are moved in together and a small manifest
// ("run-manifest.txt") is written last, naming the run, its inputs, how it ended and its files.
// While the files move there is no manifest, so a manifest always names files that are all present
// and all from the run it names, even when the process is killed half way.
//
// Staging folders and temporary files carry the id of the process that made them, so the next run
// removes those of processes that no longer run and leaves those of a live window or command line
// that shares the folder.
#pragma once

#include "util/outcome.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::workbench {

inline constexpr const char* kManifestFile = "run-manifest.txt";

struct RunManifest {
    std::string mode;                 // "Start" or "Start_2D"
    std::vector<std::string> inputs;  // files of the working directory the run read
    std::string ended;  // "completed", "stopped after 3 of 10 runs", "refused: ...", "failed: ..."
    // Why the run ended without spectra ("stopped after 3 of 10 runs", ...); empty when it has them.
    std::string withoutSpectra;
    std::string program{};  // "velmora-cli 0.1.0"
    std::string call{};     // the command line or the Python call
    // The molecule and sequence files the user opened: "<name>\t<hash>" (see fileHash).
    std::vector<std::string> opened{};
    std::vector<std::string> overrides{};  // every change of a box or element, as given
    int threads = 1;
    // How the spins were propagated: "weak" (zz part of every coupling) or "strong" (the exact path,
    // the full scalar coupling between spins of one nucleus).
    std::string coupling{"weak"};
    std::string started{};  // UTC, "2026-12-09T12:41:52Z"
    // Files the run meant to write but could not, each with why ("plot1d.png: <reason>").
    std::vector<std::string> missing{};
};

// The time now in UTC as the manifest writes it.
std::string utcNow();
// "fnv1a64:<16 hex digits>" of a file's bytes, to tell later whether it changed; "unreadable"
// when it cannot be read.
std::string fileHash(const std::filesystem::path& path);

class ResultSet {
public:
    // Creates the staging folder; none (with `error` set) when it cannot be made.
    static std::optional<ResultSet> open(const std::filesystem::path& workingDirectory, std::string& error);

    ResultSet(ResultSet&& other) noexcept;
    ResultSet& operator=(ResultSet&&) = delete;
    ResultSet(const ResultSet&) = delete;
    ResultSet& operator=(const ResultSet&) = delete;
    // A set neither committed nor discarded is discarded.
    ~ResultSet();

    // Where the run writes its result files.
    const std::filesystem::path& staging() const { return staging_; }
    // "<process id>-<UTC time>-<n>": the run as the manifest names it.
    const std::string& runId() const { return runId_; }

    // Moves the staged files in, removes the files of the previous set that this one does not
    // have, and writes the manifest (with the end time). The manifest is written into the staging
    // folder first and the previous set's files are set aside, not removed, until the new set is
    // in: a failure anywhere puts the previous set back whole. `betweenFiles` (tests) is called
    // after every file moved.
    util::Outcome commit(const RunManifest& manifest, const std::function<void()>& betweenFiles = {});
    // Removes the staging folder and everything in it; the working directory stays as it was.
    void discard();
    // Removes the staged files that `keep` refuses, before the commit.
    void removeStaged(const std::function<bool(std::string_view fileName)>& keep);

private:
    ResultSet(std::filesystem::path workingDirectory, std::filesystem::path staging, std::string runId);

    std::filesystem::path directory_;
    std::filesystem::path staging_;
    std::string runId_;
    bool done_ = false;
};

// The files the manifest of `workingDirectory` names; none when there is no readable manifest.
std::optional<std::vector<std::string>> manifestFiles(const std::filesystem::path& workingDirectory);

// Removes the staging folders and temporary files that processes which no longer run left in
// `workingDirectory`; returns how many it removed.
int removeStaleTemporaries(const std::filesystem::path& workingDirectory);

}  // namespace velmora::workbench
