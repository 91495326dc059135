// The readers read files, so every fuzz input is written to a file of a private scratch folder
// first. The folder lives for the whole process and is made once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace velmora::fuzz {

// The scratch folder of this process (in /dev/shm where there is one, else the temporary folder).
const std::filesystem::path& scratchFolder();

// Writes `size` bytes to scratchFolder() / name and returns the path.
std::filesystem::path writeInput(const std::string& name, const std::uint8_t* data, std::size_t size);

}  // namespace velmora::fuzz
