#include "row_copies.h"

#include "util/cache_aligned.h"
#include "util/work_pool.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <ctime>

namespace velmora::bench {

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

namespace {

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

double rowCopySeconds(int nSpins)
{
    static std::array<double, 11> measured{};
    double& seconds = measured.at(static_cast<std::size_t>(nSpins));
    if (seconds > 0.0)
        return seconds;
    const std::size_t size = std::size_t{1} << (2 * nSpins);
    const util::CacheAlignedVector<double> from(size, 1.0);
    util::CacheAlignedVector<double> to(size, 0.0);
    double fastest = 1e30;
    for (int k = 0; k < 40; ++k) {
        const double start = threadSeconds();
        std::copy(from.begin(), from.end(), to.begin());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        fastest = std::min(fastest, threadSeconds() - start);
    }
    seconds = fastest;
    return seconds;
}

double sharedRowCopySeconds(int nSpins, util::WorkPool& pool)
{
    static std::array<std::array<double, 11>, 9> measured{};
    const int threads = std::min(pool.threads(), 8);
    double& seconds = measured.at(static_cast<std::size_t>(threads)).at(static_cast<std::size_t>(nSpins));
    if (seconds > 0.0)
        return seconds;
    const std::size_t size = std::size_t{1} << (2 * nSpins);
    const util::CacheAlignedVector<double> from(size, 1.0);
    util::CacheAlignedVector<double> to(size, 0.0);
    const auto copyPart = [&](int part, int /*worker*/) {
        const std::size_t begin = size * static_cast<std::size_t>(part) / static_cast<std::size_t>(threads);
        const std::size_t end = size * static_cast<std::size_t>(part + 1) / static_cast<std::size_t>(threads);
        std::copy(from.begin() + static_cast<std::ptrdiff_t>(begin),
                  from.begin() + static_cast<std::ptrdiff_t>(end),
                  to.begin() + static_cast<std::ptrdiff_t>(begin));
    };
    double fastest = 1e30;
    for (int k = 0; k < 40; ++k) {
        const double start = wallSeconds();
        pool.run(threads, copyPart);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        fastest = std::min(fastest, wallSeconds() - start);
    }
    seconds = fastest;
    return seconds;
}

SharedKernelClock::SharedKernelClock() : start_(wallSeconds())
{
}

void SharedKernelClock::report(benchmark::State& state, int nSpins, util::WorkPool& pool) const
{
    const double elapsed = wallSeconds() - start_;
    if (state.iterations() > 0)
        state.counters["row_copies"] =
            elapsed / static_cast<double>(state.iterations()) / sharedRowCopySeconds(nSpins, pool);
}

void KernelClock::report(benchmark::State& state, int nSpins) const
{
    const double elapsed = threadSeconds() - start_;
    if (state.iterations() > 0)
        state.counters["row_copies"] =
            elapsed / static_cast<double>(state.iterations()) / rowCopySeconds(nSpins);
}

}  // namespace velmora::bench
