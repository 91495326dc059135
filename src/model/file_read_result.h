// What a reader of a user file reports: read, not there (silently ignored by the model files),
// or refused with a message naming the file and the line. A refused file changes nothing.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::model {

// Model files are a few kilobytes; anything far larger is not one of them.
inline constexpr std::uintmax_t kLargestModelFile = 16u << 20;

struct FileReadResult {
    enum class Status { Read, Missing, Refused };

    Status status = Status::Read;
    std::string message;

    static FileReadResult read() { return {}; }
    static FileReadResult missing() { return {Status::Missing, {}}; }
    static FileReadResult refused(std::string text) { return {Status::Refused, std::move(text)}; }
    bool wasRead() const { return status == Status::Read; }
    bool wasRefused() const { return status == Status::Refused; }
};

}  // namespace velmora::model
