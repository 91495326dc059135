// The variants of the blocked passes' pulse kernels and the one this process uses.
//
// `single` applies the pulse elements of a pass one spin at a time; `pairs` takes the elements of
// two neighbouring spins in one sweep over a tile, which holds sixteen values at once and so keeps
// them in registers only where the processor has 32 vector registers (AVX-512). Both give the same
// bits (each coefficient sees the same operations in the same order); they differ only in speed.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace velmora::engine {

enum class KernelVariant { single, pairs };

std::string_view kernelVariantName(KernelVariant variant);
// "single" or "pairs"; none for any other text.
std::optional<KernelVariant> kernelVariantNamed(std::string_view name);

// The variant of this process: the one VELMORA_KERNEL names when it is set (an unknown name is
// ignored), otherwise the measured default of the processor's family (see kernel_variant.cpp).
KernelVariant processKernelVariant();

// Every variant this processor runs, for tests that compare each with the plain kernels.
std::vector<KernelVariant> runnableKernelVariants();

}  // namespace velmora::engine
