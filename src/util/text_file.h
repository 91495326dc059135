// Whole text files as lists of lines. Files are written with CR LF line ends, all at once or not
// at all, and read with CR LF or LF line ends alike.
#pragma once

#include "util/outcome.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::util {

// Line end of every stored text file.
inline constexpr std::string_view kLineEnd = "\r\n";

// Writes every line followed by CR LF. The text goes to a temporary file in the same directory
// (".NAME.<process id>.tmp<n>") that replaces the target only when it was written completely, so a
// failure leaves an existing target as it was. On failure the message reads
// "cannot write <path>: <reason>".
Outcome writeTextFile(const std::filesystem::path& path, const std::vector<std::string>& lines);

// Writes a text that already holds its CR LF line ends, whole or not at all, in the same way.
Outcome writeWholeText(const std::filesystem::path& path, std::string_view text);
// The same for a text held in pieces, written one after the other.
Outcome writeWholeText(const std::filesystem::path& path, const std::vector<std::string>& pieces);

// Takes the pieces of a text in order; false when a piece could not be written.
using TextSink = std::function<bool(std::string_view piece)>;
// The same for a text made while it is written: `produce` hands its pieces to the sink in order
// and returns false when the sink refused one (the text need never be held whole).
Outcome writeTextInPieces(const std::filesystem::path& path,
                          const std::function<bool(const TextSink& sink)>& produce);

// Writes the bytes as they are, whole or not at all, in the same way.
Outcome writeBinaryFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);

struct TextFileContent {
    bool ok = false;
    std::vector<std::string> lines;
    // "cannot read <path>: <reason>" when ok is false.
    std::string error;
};

// Reads a whole file as lines split at LF, one CR before each LF removed (a lone CR elsewhere stays
// in its line). A last line without a line end is a line; an empty file has no lines. Missing
// files, directories and other non-regular files, unreadable files and files larger than
// maxBytes are refused. Any byte, NUL included, is text. At most maxLines lines are kept.
TextFileContent readTextLines(const std::filesystem::path& path, std::uintmax_t maxBytes = 256u << 20,
                              std::size_t maxLines = SIZE_MAX);

// The first line without the UTF-8 signature (EF BB BF) that some editors write in front of a
// file; the signature is no part of the text.
std::string_view withoutUtf8Signature(std::string_view firstLine);

// The same split, handing each line to `visit` as a view (valid during the call only) until it
// returns false. The file is held once, as bytes: no copy per line.
Outcome visitTextLines(const std::filesystem::path& path, std::uintmax_t maxBytes,
                       const std::function<bool(std::string_view line)>& visit);

// Watches the files written while it is installed, from whichever thread writes: it may end a
// long file between two of its pieces (a Stop) and hears how every file ended. A run installs one
// so that a file it could not write fails the run, wherever in the run the file was written.
class WriteWatch {
public:
    virtual ~WriteWatch() = default;
    // Before each piece of a file (`bytes` long) is written; false abandons the file, which then
    // fails with the reason "the run was stopped".
    virtual bool keepWriting(std::size_t bytes) = 0;
    // After each file: written whole, or not written (the target left as it was).
    virtual void fileEnded(const std::filesystem::path& path, const Outcome& outcome) = 0;
};

// Installs a watch for the files this thread starts writing while it lives (the pool threads that
// write pieces of such a file report to it too); the one before comes back after.
class WriteWatchScope {
public:
    explicit WriteWatchScope(WriteWatch& watch) : WriteWatchScope(&watch) {}
    // None: the files this thread writes meanwhile report to no watch.
    explicit WriteWatchScope(WriteWatch* watch);
    ~WriteWatchScope();
    WriteWatchScope(const WriteWatchScope&) = delete;
    WriteWatchScope& operator=(const WriteWatchScope&) = delete;

private:
    WriteWatch* previous_;
};

// The watch of the files this thread starts writing now; none outside a run.
WriteWatch* currentWriteWatch();

// Tests: the n-th file written from now on (1: the next one) fails as on a full disk; 0 clears it.
void failNthWriteForTesting(int n);

// The process id a temporary file name of writeTextFile carries; none for any other name.
std::optional<long> temporaryFileOwner(std::string_view fileName);

// True when the path names an existing regular file (after following symbolic links).
bool fileExists(const std::filesystem::path& path);

}  // namespace velmora::util
