// Scratch files for the fuzz targets.
#include "fuzz_input_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace velmora::fuzz {

namespace {

// Removes the scratch folder when the process ends normally.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder()
    {
        // Memory-backed where there is one: every input is written once, and a disk would be the
        // bottleneck of the run.
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        path = base / ("velmora-fuzz." + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

const std::filesystem::path& scratchFolder()
{
    static const ScratchFolder folder;
    return folder.path;
}

std::filesystem::path writeInput(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    const std::filesystem::path path = scratchFolder() / name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        std::abort();  // the scratch folder must be writable: a broken set-up, not a finding
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
    return path;
}

}  // namespace velmora::fuzz
