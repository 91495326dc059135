// A fresh, empty directory under the system's temporary directory for one test, removed with
// everything in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace velmora::testing {

class ScratchDirectory {
public:
    ScratchDirectory()
    {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "velmora";
        if (test != nullptr)
            name += std::string("-") + test->test_suite_name() + "-" + test->name();
        for (char& c : name) {
            if (c == '/')
                c = '_';
        }
        std::random_device entropy;
        for (;;) {
            path_ = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(entropy()));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }

    ~ScratchDirectory()
    {
        // Make read-only subdirectories removable again before deleting the tree.
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
        }
        std::filesystem::remove_all(path_, ec);
    }

    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes `bytes` unchanged to a file in the directory and returns its path.
    std::filesystem::path writeBytes(const std::string& name, std::string_view bytes) const
    {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << "could not prepare " << file;
        return file;
    }

private:
    std::filesystem::path path_;
};

// The exact bytes of a file.
inline std::string readBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace velmora::testing
