// Staging, moving in and the manifest of a run's result files; removal of what dead processes left.
#include "workbench/result_set.h"

#include "util/file_listing.h"
#include "util/text_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
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

}  // namespace

std::string utcNow()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string fileHash(const fs::path& path)
{
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (file == nullptr)
        return "unreadable";
    // FNV-1a, 64 bits: enough to tell whether the file a manifest names has changed since.
    std::uint64_t hash = 14695981039346656037ULL;
    unsigned char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        for (std::size_t k = 0; k < n; ++k)
            hash = (hash ^ chunk[k]) * 1099511628211ULL;
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return "unreadable";
    char text[32];
    std::snprintf(text, sizeof text, "fnv1a64:%016llx", static_cast<unsigned long long>(hash));
    return text;
}

namespace {

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

void ResultSet::removeStaged(const std::function<bool(std::string_view fileName)>& keep)
{
    std::error_code ec;
    std::vector<fs::path> refused;
    for (const fs::directory_entry& entry : fs::directory_iterator(staging_, ec))
        if (entry.is_regular_file(ec) && !keep(entry.path().filename().string()))
            refused.push_back(entry.path());
    for (const fs::path& path : refused)
        fs::remove(path, ec);
}

namespace {

// The previous set's files, set aside in a folder inside the staging folder while the new set moves
// in, so that a failure can put them back.
class SetAside {
public:
    SetAside(fs::path directory, fs::path aside) : directory_(std::move(directory)), aside_(std::move(aside))
    {
    }

    bool make(std::error_code& ec) { return fs::create_directory(aside_, ec); }
    // Moves `file` of the working directory aside when it is there.
    bool move(const std::string& file, std::error_code& ec)
    {
        if (!fs::exists(fs::symlink_status(directory_ / file, ec)))
            return true;
        fs::rename(directory_ / file, aside_ / file, ec);
        if (ec)
            return false;
        moved_.push_back(file);
        return true;
    }
    // Removes the new files already moved in and puts the previous ones back.
    void restore(const std::vector<std::string>& movedIn)
    {
        std::error_code ignored;
        for (const std::string& file : movedIn)
            fs::remove(directory_ / file, ignored);
        for (const std::string& file : moved_)
            fs::rename(aside_ / file, directory_ / file, ignored);
    }

private:
    fs::path directory_;
    fs::path aside_;
    std::vector<std::string> moved_;
};

constexpr const char* kAsideFolder = ".previous-set";

}  // namespace

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

    std::vector<std::string> lines = {"run\t" + runId_, "mode\t" + manifest.mode};
    for (const std::string& input : manifest.inputs)
        lines.push_back("input\t" + input);
    lines.push_back("ended\t" + manifest.ended);
    lines.push_back("spectra\t" + (manifest.withoutSpectra.empty() ? std::string("yes")
                                                                   : "none: " + manifest.withoutSpectra));
    if (!manifest.program.empty())
        lines.push_back("program\t" + manifest.program);
    if (!manifest.call.empty())
        lines.push_back("call\t" + manifest.call);
    for (const std::string& opened : manifest.opened)
        lines.push_back("opened\t" + opened);
    for (const std::string& change : manifest.overrides)
        lines.push_back("set\t" + change);
    lines.push_back("threads\t" + std::to_string(manifest.threads));
    lines.push_back("coupling\t" + manifest.coupling);
    if (!manifest.started.empty())
        lines.push_back("started\t" + manifest.started);
    lines.push_back("finished\t" + utcNow());
    for (const std::string& file : files)
        lines.push_back("file\t" + file);
    for (const std::string& file : manifest.missing)
        lines.push_back("missing\t" + file);
    // The manifest is made before anything of the working directory changes: a disk too full for
    // it leaves the previous set as it was.
    if (const util::Outcome written = util::writeTextFile(staging_ / kManifestFile, lines); !written) {
        discard();
        return written;
    }

    const FolderLock lock(directory_);
    const std::optional<std::vector<std::string>> previous = manifestFiles(directory_);
    SetAside aside(directory_, staging_ / kAsideFolder);
    std::vector<std::string> movedIn;
    const auto fail = [&](const std::string& what) {
        aside.restore(movedIn);
        discard();
        return util::Outcome::failure(what + ": " + ec.message());
    };
    if (!aside.make(ec))
        return fail("cannot set the previous result set aside in " + staging_.string());
    // No manifest while the set changes: a kill from here on leaves no manifest that lies.
    if (!aside.move(kManifestFile, ec))
        return fail("cannot set the previous manifest aside");
    if (previous) {
        for (const std::string& old : *previous)
            if (!std::binary_search(files.begin(), files.end(), old) && util::isBareFileName(old) &&
                !aside.move(old, ec))
                return fail("cannot set the previous result file " + old + " aside");
    }
    for (const std::string& file : files) {
        if (!aside.move(file, ec))
            return fail("cannot set the previous result file " + file + " aside");
        fs::rename(staging_ / file, directory_ / file, ec);
        if (ec)
            return fail("cannot move the result file " + file + " into " + directory_.string());
        movedIn.push_back(file);
        if (betweenFiles)
            betweenFiles();
    }
    fs::rename(staging_ / kManifestFile, directory_ / kManifestFile, ec);
    if (ec)
        return fail("cannot move the manifest into " + directory_.string());
    discard();
    return util::Outcome::success();
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
