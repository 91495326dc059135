#include "engine/kernel_variant.h"

#include <cstdlib>

namespace velmora::engine {

namespace {

// The default measured per processor family (velmora_bench's hard-pulse step and interval and the
// 10-proton COSY, each variant forced through VELMORA_KERNEL; docs/design-notes.md, "Kernel variants
// chosen by measurement"): pairs on AVX-512 processors, Intel Xeon and AMD EPYC Zen 5 alike; single
// where the vector register file is 16 wide, since a pair's sixteen values then spill.
KernelVariant familyDefault()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool wide = __builtin_cpu_supports("avx512f");
    return wide ? KernelVariant::pairs : KernelVariant::single;
#else
    return KernelVariant::single;
#endif
}

}  // namespace

std::string_view kernelVariantName(KernelVariant variant)
{
    return variant == KernelVariant::pairs ? "pairs" : "single";
}

std::optional<KernelVariant> kernelVariantNamed(std::string_view name)
{
    for (KernelVariant v : {KernelVariant::single, KernelVariant::pairs})
        if (name == kernelVariantName(v))
            return v;
    return std::nullopt;
}

KernelVariant processKernelVariant()
{
    static const KernelVariant chosen = [] {
        const char* forced = std::getenv("VELMORA_KERNEL");
        if (forced != nullptr)
            if (const std::optional<KernelVariant> v = kernelVariantNamed(forced))
                return *v;
        return familyDefault();
    }();
    return chosen;
}

std::vector<KernelVariant> runnableKernelVariants()
{
    // Both are plain C++ on vector types: every processor runs both, the narrow ones slower.
    return {KernelVariant::single, KernelVariant::pairs};
}

}  // namespace velmora::engine
