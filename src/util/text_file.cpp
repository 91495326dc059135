// Whole-file text input and output with the C stdio functions, which report the reason of a
// failure through errno, and std::filesystem for the checks and the final rename.
#include "util/text_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace velmora::util {

namespace fs = std::filesystem;

namespace {

std::string errnoReason(int error)
{
    return error != 0 ? std::generic_category().message(error) : std::string("input/output error");
}

Outcome writeFailure(const fs::path& path, const std::string& reason)
{
    return Outcome::failure("cannot write " + path.string() + ": " + reason);
}

TextFileContent readFailure(const fs::path& path, const std::string& reason)
{
    TextFileContent content;
    content.error = "cannot read " + path.string() + ": " + reason;
    return content;
}

// Closes the file on every path out of a function.
struct FileCloser {
    void operator()(std::FILE* file) const
    {
        if (file != nullptr)
            std::fclose(file);
    }
};

// Creates a new temporary file beside `target`, never reusing an existing name.
// Returns nullptr with errno set when no file could be created.
std::FILE* createTemporaryBeside(const fs::path& target, fs::path& temporary)
{
    static std::atomic<unsigned> counter{0};
    constexpr int kAttempts = 100;
    const fs::path directory = target.parent_path();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string name = "." + target.filename().string() + "." + std::to_string(::getpid()) +
                                 ".tmp" + std::to_string(counter++);
        temporary = directory / name;
        // "x": fail rather than open a file that already exists.
        std::FILE* file = std::fopen(temporary.string().c_str(), "wbx");
        if (file != nullptr || errno != EEXIST)
            return file;
    }
    errno = EEXIST;
    return nullptr;
}

// The watch of the run this thread works for. Each thread has its own, so that two runs in one
// process (two workbenches, a sweep's points on the threads of one worker) never see each other's;
// a file takes the watch of the thread that starts writing it, and the pool threads that write
// pieces of it use that one.
thread_local WriteWatch* installedWatch = nullptr;
// Files left before the one that fails; 0 when no failure is asked for (tests only).
std::atomic<int> writesBeforeFailure{0};

constexpr const char* kStoppedReason = "the run was stopped";

// One file being written: its stream, the watch it reports to and what became of its pieces, which
// may be written from the threads of a pool.
struct FileBeingWritten {
    std::FILE* stream = nullptr;
    WriteWatch* watch = nullptr;
    std::atomic<bool> abandoned{false};  // the watch stopped a piece: the run was stopped
    std::atomic<int> error{0};           // errno of a piece that could not be written
};

bool writeAll(FileBeingWritten& file, std::string_view bytes)
{
    if (file.watch != nullptr && !file.watch->keepWriting(bytes.size())) {
        file.abandoned.store(true);
        return false;
    }
    if (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.stream) == bytes.size())
        return true;
    // Pieces may be written on a pool's thread, whose errno the caller does not see.
    file.error.store(errno);
    return false;
}

// Tells the watch how a file ended and passes the outcome on.
Outcome reported(WriteWatch* watch, const fs::path& path, Outcome outcome)
{
    if (watch != nullptr)
        watch->fileEnded(path, outcome);
    return outcome;
}

// True when this file is the one a test asked to fail.
bool failureAskedFor()
{
    int left = writesBeforeFailure.load();
    while (left > 0 && !writesBeforeFailure.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}

template <typename Body> Outcome writeUnreported(const fs::path& path, WriteWatch* watch, const Body& body);

// The new file takes the permissions of the one it replaces, before any text goes in: a file the
// user kept private must not become readable by everyone when it is saved again.
void keepPermissionsOf(const fs::path& replaced, std::FILE* temporary)
{
    std::error_code ec;
    const fs::file_status old = fs::status(replaced, ec);
    if (!ec && fs::is_regular_file(old))
        (void)::fchmod(::fileno(temporary), static_cast<mode_t>(old.permissions() & fs::perms::all));
}

// The file a symbolic link leads to: saving through a link changes that file, as writing over it
// would, rather than putting a plain file in place of the link. A link that leads nowhere is replaced.
fs::path fileBehindLinks(const fs::path& path)
{
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return path;
    fs::path target = fs::canonical(path, ec);
    return ec ? path : target;
}

// Writes through a temporary file beside `path` that replaces it only when `body` wrote it whole.
template <typename Body> Outcome writeThroughTemporary(const fs::path& path, const Body& body)
{
    WriteWatch* const watch = installedWatch;
    if (failureAskedFor())
        return reported(watch, path, writeFailure(path, std::generic_category().message(ENOSPC)));
    return reported(watch, path, writeUnreported(fileBehindLinks(path), watch, body));
}

template <typename Body> Outcome writeUnreported(const fs::path& path, WriteWatch* watch, const Body& body)
{
    if (path.filename().empty())
        return writeFailure(path, "no file name");
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return writeFailure(path, "it is a directory");

    fs::path temporary;
    FileBeingWritten file;
    file.stream = createTemporaryBeside(path, temporary);
    file.watch = watch;
    if (file.stream == nullptr)
        return writeFailure(path, errnoReason(errno));
    keepPermissionsOf(path, file.stream);

    errno = 0;
    bool written = false;
    try {
        written = body(file);
    } catch (...) {
        // A body that makes its text while writing may fail on its own: no temporary stays behind.
        std::fclose(file.stream);
        fs::remove(temporary, ec);
        throw;
    }
    written = written && std::fflush(file.stream) == 0 && std::ferror(file.stream) == 0;
    int error = errno;
    if (const int pieceError = file.error.load(); error == 0)
        error = pieceError;
    if (std::fclose(file.stream) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        fs::remove(temporary, ec);
        return writeFailure(path, file.abandoned.load() ? std::string(kStoppedReason) : errnoReason(error));
    }

    fs::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return writeFailure(path, ec.message());
    }
    return Outcome::success();
}

}  // namespace

Outcome writeTextFile(const fs::path& path, const std::vector<std::string>& lines)
{
    return writeThroughTemporary(path, [&](FileBeingWritten& file) {
        for (const std::string& line : lines) {
            if (!writeAll(file, line) || !writeAll(file, kLineEnd))
                return false;
        }
        return true;
    });
}

Outcome writeWholeText(const fs::path& path, std::string_view text)
{
    return writeThroughTemporary(path, [&](FileBeingWritten& file) { return writeAll(file, text); });
}

Outcome writeWholeText(const fs::path& path, const std::vector<std::string>& pieces)
{
    return writeThroughTemporary(path, [&](FileBeingWritten& file) {
        return std::all_of(pieces.begin(), pieces.end(), [&file](const std::string& piece) { return writeAll(file, piece); });
    });
}

Outcome writeTextInPieces(const fs::path& path, const std::function<bool(const TextSink& sink)>& produce)
{
    return writeThroughTemporary(path, [&](FileBeingWritten& file) {
        return produce([&file](std::string_view piece) { return writeAll(file, piece); });
    });
}

Outcome writeBinaryFile(const fs::path& path, const std::vector<unsigned char>& bytes)
{
    return writeThroughTemporary(path, [&](FileBeingWritten& file) {
        return writeAll(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    });
}

Outcome visitTextLines(const fs::path& path, std::uintmax_t maxBytes,
                       const std::function<bool(std::string_view line)>& visit)
{
    auto failure = [&](const std::string& reason) {
        return Outcome::failure(readFailure(path, reason).error);
    };
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        return failure(ec.message());
    if (!fs::exists(status))
        return failure("no such file");
    if (fs::is_directory(status))
        return failure("it is a directory");
    if (!fs::is_regular_file(status))
        return failure("not a regular file");
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
        return failure(ec.message());
    const std::string tooLarge = "larger than " + std::to_string(maxBytes) + " bytes";
    if (size > maxBytes)
        return failure(tooLarge);

    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.string().c_str(), "rb"));
    if (!file)
        return failure(errnoReason(errno));

    // Read to the end rather than trusting the size: the file may change while it is read.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    char chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.append(chunk, n);
        if (bytes.size() > maxBytes)
            return failure(tooLarge);
        if (n < sizeof chunk)
            break;
    }
    if (std::ferror(file.get()) != 0)
        return failure(errnoReason(errno));

    // Lines are views into the one copy of the bytes, so a file of bare line ends costs no more
    // than its size.
    const std::string_view text = bytes;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool hasLineEnd = end != std::string_view::npos;
        if (!hasLineEnd)
            end = text.size();
        std::size_t lineEnd = end;
        if (hasLineEnd && lineEnd > start && text[lineEnd - 1] == '\r')
            --lineEnd;
        if (!visit(text.substr(start, lineEnd - start)))
            break;
        start = hasLineEnd ? end + 1 : end;
    }
    return Outcome::success();
}

std::string_view withoutUtf8Signature(std::string_view firstLine)
{
    constexpr std::string_view kSignature = "\xEF\xBB\xBF";
    if (firstLine.starts_with(kSignature))
        firstLine.remove_prefix(kSignature.size());
    return firstLine;
}

TextFileContent readTextLines(const fs::path& path, std::uintmax_t maxBytes, std::size_t maxLines)
{
    TextFileContent content;
    const Outcome read = visitTextLines(path, maxBytes, [&](std::string_view line) {
        if (content.lines.size() >= maxLines)
            return false;
        content.lines.emplace_back(line);
        return true;
    });
    if (!read) {
        content.lines.clear();
        content.error = read.message();
        return content;
    }
    content.ok = true;
    return content;
}

WriteWatchScope::WriteWatchScope(WriteWatch* watch) : previous_(std::exchange(installedWatch, watch))
{
}

WriteWatch* currentWriteWatch()
{
    return installedWatch;
}

WriteWatchScope::~WriteWatchScope()
{
    installedWatch = previous_;
}

void failNthWriteForTesting(int n)
{
    writesBeforeFailure.store(n > 0 ? n : 0);
}

std::optional<long> temporaryFileOwner(std::string_view name)
{
    // "." NAME "." digits ".tmp" digits
    const auto allDigits = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    const std::size_t tmp = name.rfind(".tmp");
    if (name.size() < 2 || name.front() != '.' || tmp == std::string_view::npos ||
        !allDigits(name.substr(tmp + 4)))
        return std::nullopt;
    const std::size_t dot = name.rfind('.', tmp - 1);
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    const std::string_view pid = name.substr(dot + 1, tmp - dot - 1);
    if (!allDigits(pid) || pid.size() > 9)
        return std::nullopt;
    return std::stol(std::string(pid));
}

bool fileExists(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

}  // namespace velmora::util
