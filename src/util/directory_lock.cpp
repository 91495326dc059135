#include "util/directory_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::util {

namespace {

// The process id the holder wrote, or "" when the file holds none (yet).
std::string holderOf(int descriptor)
{
    char text[32] = {};
    const ssize_t got = ::pread(descriptor, text, sizeof text - 1, 0);
    std::string pid;
    for (ssize_t i = 0; i < got && text[i] >= '0' && text[i] <= '9'; ++i)
        pid += text[i];
    return pid;
}

}  // namespace

std::optional<DirectoryLock> DirectoryLock::acquire(const std::filesystem::path& directory, std::string& error)
{
    const std::filesystem::path file = directory / kDirectoryLockName;
    // A holder removes the file before it lets go: a lock taken on a file that is no longer the
    // one of that name is taken again on the new one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int descriptor = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (descriptor < 0) {
            error = "cannot make the lock file " + file.string() + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            const int reason = errno;
            const std::string holder = reason == EWOULDBLOCK ? holderOf(descriptor) : std::string();
            ::close(descriptor);
            if (reason != EWOULDBLOCK) {
                error = "cannot lock " + file.string() + ": " + std::strerror(reason);
                return std::nullopt;
            }
            error = "another run is using the working directory " + directory.string() +
                    (holder.empty() ? std::string() : " (process " + holder + ")") +
                    "; wait until it ends, or use another working directory";
            return std::nullopt;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(descriptor, &held) != 0 || ::stat(file.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
            held.st_dev != named.st_dev) {
            ::close(descriptor);
            continue;
        }
        // Best effort: the lock holds without the id, which only names the holder in a message.
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(descriptor, 0) == 0)
            (void)!::pwrite(descriptor, pid.data(), pid.size(), 0);
        return DirectoryLock(file, descriptor);
    }
    error = "cannot lock " + file.string() + ": it is replaced as fast as it is locked";
    return std::nullopt;
}

DirectoryLock::~DirectoryLock()
{
    if (descriptor_ < 0)
        return;
    ::unlink(file_.c_str());  // still held: whoever opened it meanwhile sees it gone and retries
    ::close(descriptor_);     // closing the last descriptor of the open file releases the lock
}

}  // namespace velmora::util
