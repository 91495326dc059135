// Fuzz target: the molecule file reader. A refused file must leave the spin system as it was.
#include "fuzz_input_file.h"
#include "model/molecule_file.h"
#include "model/spin_system.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmora;
    const std::filesystem::path path = fuzz::writeInput("input.mol", data, size);
    model::SpinSystem spins;
    spins.rebuild();
    const model::SpinSystem before = spins;
    const model::FileReadResult read = model::readMolecule(path, spins);
    if (read.wasRefused() && spins.spinCount() != before.spinCount())
        std::abort();
    if (read.wasRead())
        spins.rebuild();  // the derived tables of whatever was read
    return 0;
}
