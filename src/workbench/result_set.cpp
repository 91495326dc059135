// Staging, moving in and the manifest of a run's result files; removal of what dead processes left.
#include "workbench/result_set.h"

#include "util/file_listing.h"
#include "util/text_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

namespace velmora::workbench {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStagingPrefix = ".velmora-staging.";
// Commits of a window and a command line that share a folder take turns on this file.
constexpr const char* kLockFile = ".velmora-results.lock";

bool processRuns(long pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The owner of a staging folder ".velmora-staging.<pid>.<n>"; none for any other name.
std::optional<long> stagingOwner(const std::string& name)
{
    if (name.rfind(kStagingPrefix, 0) != 0)
        return std::nullopt;
    const std::string rest = name.substr(kStagingPrefix.size());
    const std::size_t dot = rest.find('.');
    const std::string pid = rest.substr(0, dot);
    if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stol(pid);
}

std::string utcNow()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Holds an exclusive lock on the folder's lock file while it lives (none when it cannot be had:
// the commit then goes ahead unlocked, as on a file system without locks).
class FolderLock {
public:
    explicit FolderLock(const fs::path& directory)
        : fd_(::open((directory / kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
    {
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~FolderLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

}  // namespace

std::optional<ResultSet> ResultSet::open(const fs::path& workingDirectory, std::string& error)
{
    static std::atomic<unsigned> counter{0};
    const std::string pid = std::to_string(::getpid());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string n = std::to_string(counter++);
        const fs::path staging = workingDirectory / (std::string(kStagingPrefix) + pid + "." + n);
        std::error_code ec;
        if (fs::create_directory(staging, ec))
            return ResultSet(workingDirectory, staging, pid + "-" + utcNow() + "-" + n);
        if (ec) {
            error = "cannot make the staging folder " + staging.string() + ": " + ec.message();
            return std::nullopt;
        }
    }
    error = "cannot make a staging folder in " + workingDirectory.string();
    return std::nullopt;
}

ResultSet::ResultSet(fs::path workingDirectory, fs::path staging, std::string runId)
    : directory_(std::move(workingDirectory)), staging_(std::move(staging)), runId_(std::move(runId))
{
}

ResultSet::ResultSet(ResultSet&& other) noexcept
    : directory_(std::move(other.directory_)), staging_(std::move(other.staging_)),
      runId_(std::move(other.runId_)), done_(other.done_)
{
    other.done_ = true;
}

ResultSet::~ResultSet()
{
    discard();
}

void ResultSet::discard()
{
    if (done_)
        return;
    done_ = true;
    std::error_code ec;
    fs::remove_all(staging_, ec);
}

util::Outcome ResultSet::commit(const RunManifest& manifest, const std::function<void()>& betweenFiles)
{
    if (done_)
        return util::Outcome::failure("the result set of run " + runId_ + " was already closed");
    std::vector<std::string> files;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(staging_, ec))
        if (entry.is_regular_file(ec))
            files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());

    const FolderLock lock(directory_);
    // No manifest while the set changes: a kill from here on leaves no manifest that lies.
    const std::optional<std::vector<std::string>> previous = manifestFiles(directory_);
    fs::remove(directory_ / kManifestFile, ec);
    if (previous) {
        for (const std::string& old : *previous)
            if (!std::binary_search(files.begin(), files.end(), old) && util::isBareFileName(old))
                fs::remove(directory_ / old, ec);
    }
    for (const std::string& file : files) {
        fs::rename(staging_ / file, directory_ / file, ec);
        if (ec) {
            discard();
            return util::Outcome::failure("cannot move the result file " + file + " into " +
                                          directory_.string() + ": " + ec.message());
        }
        if (betweenFiles)
            betweenFiles();
    }

    std::vector<std::string> lines = {"run\t" + runId_, "mode\t" + manifest.mode};
    for (const std::string& input : manifest.inputs)
        lines.push_back("input\t" + input);
    lines.push_back("ended\t" + manifest.ended);
    lines.push_back("spectra\t" + (manifest.withoutSpectra.empty() ? std::string("yes")
                                                                   : "none: " + manifest.withoutSpectra));
    for (const std::string& file : files)
        lines.push_back("file\t" + file);
    const util::Outcome written = util::writeTextFile(directory_ / kManifestFile, lines);
    discard();
    return written;
}

std::optional<std::vector<std::string>> manifestFiles(const fs::path& workingDirectory)
{
    const util::TextFileContent manifest = util::readTextLines(workingDirectory / kManifestFile, 1u << 20);
    if (!manifest.ok)
        return std::nullopt;
    std::vector<std::string> files;
    for (const std::string& line : manifest.lines)
        if (line.rfind("file\t", 0) == 0)
            files.push_back(line.substr(5));
    return files;
}

int removeStaleTemporaries(const fs::path& workingDirectory)
{
    int removed = 0;
    std::error_code ec;
    std::vector<fs::path> stale;
    for (const fs::directory_entry& entry : fs::directory_iterator(workingDirectory, ec)) {
        const std::string name = entry.path().filename().string();
        std::optional<long> owner = stagingOwner(name);
        if (!owner && entry.is_regular_file(ec))
            owner = util::temporaryFileOwner(name);
        if (owner && !processRuns(*owner))
            stale.push_back(entry.path());
    }
    for (const fs::path& path : stale) {
        std::error_code gone;
        if (fs::remove_all(path, gone) > 0)
            ++removed;
    }
    return removed;
}

}  // namespace velmora::workbench
