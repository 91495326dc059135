// One run at a time in a working directory. Two runs there would write the same automatic copies
// and result files, and the last manifest would describe a model another run saved. A run holds an
// advisory lock on the hidden file ".velmora.lock" of the directory for as long as it lives; the
// file names the holder's process and is removed when the run ends, so the directory is left as it
// was. The lock is the operating system's (flock), so it goes with the process however that ends,
// and a lock file left behind by a killed run holds nothing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velmora::util {

inline constexpr const char* kDirectoryLockName = ".velmora.lock";

class DirectoryLock {
public:
    // Takes the lock without waiting; none, with `error` naming the holder's process, when another
    // run holds it, or saying why the lock file cannot be made.
    static std::optional<DirectoryLock> acquire(const std::filesystem::path& directory, std::string& error);

    DirectoryLock(DirectoryLock&& other) noexcept : file_(std::move(other.file_)), descriptor_(other.descriptor_)
    {
        other.descriptor_ = -1;
    }
    DirectoryLock& operator=(DirectoryLock&&) = delete;
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    ~DirectoryLock();

private:
    DirectoryLock(std::filesystem::path file, int descriptor) : file_(std::move(file)), descriptor_(descriptor) {}
    std::filesystem::path file_;
    int descriptor_ = -1;
};

}  // namespace velmora::util
