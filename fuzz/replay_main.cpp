// Replays a fuzz target's corpus where libFuzzer is not at hand: every regular file of the folders
// and files named on the command line goes through the target once. Exits 1 when a path is
// missing, so a moved corpus does not pass silently.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv)
{
    int inputs = 0;
    for (int a = 1; a < argc; ++a) {
        const std::filesystem::path path = argv[a];
        if (std::filesystem::is_regular_file(path)) {
            replay(path);
            ++inputs;
        } else if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) {
                    replay(entry.path());
                    ++inputs;
                }
        } else {
            std::cerr << "no such corpus: " << path << "\n";
            return 1;
        }
    }
    std::cout << "replayed " << inputs << " inputs\n";
    return inputs > 0 ? 0 : 1;
}
